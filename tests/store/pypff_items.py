"""Lists every item of a PST as python3-pypff reads it: one line per item,
folder path, subject, attachment names and sizes, and the plain body, tab-separated."""
import sys

import pypff


def entries(item):
    out = {}
    for rs in item.record_sets:
        for e in rs.entries:
            out[e.entry_type] = e
    return out


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
        if "--sizes" in sys.argv:
            sizes = []
            for a in m.attachments:
                method = entries(a).get(0x3705)
                embedded = method is not None and method.data_as_integer == 5
                sizes.append("-1" if embedded or a.size is None else str(a.size))
            print("SIZES\t%s\t%s" % (m.subject or "", ",".join(sizes)))
        print("\t".join(["ITEM", "\\".join(path), cls.data_as_string if cls else "",
                         m.subject or "", ",".join(atts), body.replace("\n", "\\n")]))
    for j in range(folder.number_of_sub_folders):
        sub = folder.get_sub_folder(j)
        walk(sub, path + [sub.name or ""])


f = pypff.file()
f.open(sys.argv[1])
walk(f.get_root_folder(), [])
print("END")
