"""Lists every item of a PST as python3-pypff reads it: one line per item,
folder path, subject, attachment names and sizes, and the plain body, tab-separated.
With --fields, also a FIELDS line per message whose cells are hex UTF-8, so that any
text (tabs, line breaks) survives: subject, From name and SMTP address, Sender name and
SMTP address, display To, Cc and Bcc, plain body, and attachments as comma-separated
name:size (size -1 for an attached message, named by its display name)."""
import sys

import pypff


def entries(item):
    out = {}
    for rs in item.record_sets:
        for e in rs.entries:
            out[e.entry_type] = e
    return out


def hx(text):
    return (text or "").encode("utf-8", "surrogatepass").hex()


def text(ent, tag):
    e = ent.get(tag)
    return e.data_as_string if e is not None and e.data else ""


def fields(m):
    ent = entries(m)
    atts = []
    for a in m.attachments:
        ae = entries(a)
        method = ae.get(0x3705)
        embedded = method is not None and method.data_as_integer == 5
        name = text(ae, 0x3001 if embedded else 0x3707)
        atts.append("%s:%d" % (hx(name), -1 if embedded or a.size is None else a.size))
    body = m.plain_text_body or b""
    if isinstance(body, bytes):
        body = body.decode("utf-8", "replace")
    cells = [m.subject, text(ent, 0x0042), text(ent, 0x5D02), text(ent, 0x0C1A),
             text(ent, 0x5D01), text(ent, 0x0E04), text(ent, 0x0E03), text(ent, 0x0E02), body]
    print("\t".join(["FIELDS"] + [hx(c) for c in cells] + [",".join(atts) or "-"]))


def walk(folder, path):
    for i in range(folder.number_of_sub_messages):
        m = folder.get_sub_message(i)
        atts = []
        for a in m.attachments:
            name = ""
            ent = entries(a)
            for tag in (0x3707, 0x3704, 0x3001):
                if tag in ent and ent[tag].data:
                    name = ent[tag].data_as_string
                    break
            atts.append("%s:%d" % (name, a.size))
        cls = entries(m).get(0x001A)
        body = m.plain_text_body or b""
        if isinstance(body, bytes):
            body = body.decode("utf-8", "replace")
        if "--fields" in sys.argv:
            fields(m)
        print("\t".join(["ITEM", "\\".join(path), cls.data_as_string if cls else "",
                         m.subject or "", ",".join(atts), body.replace("\n", "\\n")]))
    for j in range(folder.number_of_sub_folders):
        sub = folder.get_sub_folder(j)
        walk(sub, path + [sub.name or ""])


f = pypff.file()
f.open(sys.argv[1])
walk(f.get_root_folder(), [])
print("END")
