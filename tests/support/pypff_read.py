"""What python3-pypff reads in a PST, walked depth first, for the tests:

  pypff_read.py MODE FILE.pst

  folders   folder, depth, hex name, "c" + hex container class or "-", messages, sub-folders
  messages  message, hex folder path ("\\"-joined names below the root), hex subject, attachments
  fields    FIELDS, then hex of: subject, From name and SMTP address, Sender name and SMTP
            address, display To, Cc and Bcc, plain body; then attachments as name:size,...
            (an attached message: its display name and -1) or "-"
  items     one sorted line per message: folder path, class, subject, display name,
            attachments, body length (two PSTs made from one export print the same lines)
  props     ITEM, folder name, subject; then P, key, value for every property (key 0x3a06,
            or Set:0xLID / Set:name for a named one, resolved through the file's own map);
            and A, name, hex bytes for every attachment
  marks     one sorted line per message: subject, PR_MESSAGE_FLAGS, each attachment's size
  crc       M nid; then P "id type length crc" (hex) for every property; then for every
            attachment A size and its properties as Q lines (no large value travels)

Cells are tab-separated; the last line is "done". Hex keeps any text intact; props texts
escape backslash, tab, CR and LF, and give times in UTC as 2023-11-17T11:00:00Z."""
import datetime
import struct
import sys
import uuid
import zlib

import pypff

SETS = {
    "00062004-0000-0000-c000-000000000046": "Address",
    "00062002-0000-0000-c000-000000000046": "Appointment",
    "00062003-0000-0000-c000-000000000046": "Task",
    "00062008-0000-0000-c000-000000000046": "Common",
    "0006200e-0000-0000-c000-000000000046": "Note",
    "00020329-0000-0000-c000-000000000046": "PublicStrings",
}


def hx(s):
    return (s or "").encode("utf-8", "surrogatepass").hex()


def entries(item):
    out = {}
    for rs in item.record_sets:
        for e in rs.entries:
            out[e.entry_type] = e
    return out


def text(ent, tag):
    e = ent.get(tag)
    if e is None or not e.data:
        return ""
    return (e.data.decode("utf-16-le") if e.value_type == 0x1F else e.data.decode("latin-1")).rstrip("\0")


def body(m):
    b = m.plain_text_body or b""
    return b.decode("utf-8", "replace") if isinstance(b, bytes) else b


def named_keys(pst):
    """Property ID (0x8000 and up) -> "Set:0xLID" or "Set:name"."""
    streams = {}
    for rs in pst.get_name_to_id_map().record_sets:
        for e in rs.entries:
            streams[e.entry_type] = e.data or b""
    guids, strings, index = streams.get(2, b""), streams.get(4, b""), streams.get(3, b"")
    keys = {}
    for at in range(0, len(index) - 7, 8):
        ident, kind, n = struct.unpack_from("<IHH", index, at)
        guid = kind >> 1
        if guid < 3:
            set_name = ["", "Mapi", "PublicStrings"][guid]
        else:
            raw = str(uuid.UUID(bytes_le=guids[(guid - 3) * 16:(guid - 2) * 16]))
            set_name = SETS.get(raw, raw)
        if kind & 1:
            size = struct.unpack_from("<I", strings, ident)[0]
            name = strings[ident + 4:ident + 4 + size].decode("utf-16-le")
        else:
            name = "0x%04x" % ident
        keys[0x8000 + n] = "%s:%s" % (set_name, name)
    return keys


def escaped(s):
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def value(kind, data):
    data = data or b""
    if kind == 0x1F:
        return escaped(data.decode("utf-16-le"))
    if kind == 0x40:
        ticks = int.from_bytes(data, "little")
        moment = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=ticks // 10)
        return moment.strftime("%Y-%m-%dT%H:%M:%SZ")
    if kind == 0x03:
        return str(struct.unpack("<i", data)[0])
    if kind == 0x0B:
        return "true" if data and data[0] else "false"
    if kind == 0x05:
        return repr(struct.unpack("<d", data)[0])
    if kind == 0x101F:
        count = struct.unpack_from("<I", data)[0] if data else 0
        offsets = list(struct.unpack_from("<%dI" % count, data, 4)) + [len(data)]
        return "|".join(escaped(data[offsets[i]:offsets[i + 1]].decode("utf-16-le")) for i in range(count))
    return "hex:" + data.hex()


def crc_lines(item):
    if item.number_of_record_sets == 0:
        return []
    return ["%04x %04x %x %08x" % (e.entry_type, e.value_type, len(e.data or b""),
            zlib.crc32(e.data or b"", 0xFFFFFFFF) ^ 0xFFFFFFFF) for e in item.get_record_set(0).entries]


def show_message(mode, m, path, keys, rows):
    if mode == "messages":
        rows.append("message\t%s\t%s\t%d" % (hx("\\".join(path)), hx(m.subject), m.number_of_attachments))
        return
    ent = entries(m)
    if mode == "items":
        rows.append("%s\t%s\t%s\t%s\t%d\t%d" % ("\\".join(path), text(ent, 0x001A), m.subject or "",
                                              text(ent, 0x3001), m.number_of_attachments, len(body(m))))
    elif mode == "fields":
        atts = []
        for a in m.attachments:
            ae = entries(a)
            embedded = 0x3705 in ae and ae[0x3705].data_as_integer == 5
            name = text(ae, 0x3001 if embedded else 0x3707)
            atts.append("%s:%d" % (hx(name), -1 if embedded or a.size is None else a.size))
        cells = [m.subject] + [text(ent, t) for t in (0x0042, 0x5D02, 0x0C1A, 0x5D01, 0x0E04, 0x0E03, 0x0E02)]
        rows.append("\t".join(["FIELDS"] + [hx(c) for c in cells + [body(m)]] + [",".join(atts) or "-"]))
    elif mode == "marks":
        flags = [str(ent[0x0E07].data_as_integer)] if 0x0E07 in ent else []
        rows.append(" ".join([m.subject or ""] + flags + [str(a.size) for a in m.attachments]))
    elif mode == "crc":
        rows.append("M %d" % m.identifier)
        rows.extend("P " + line for line in crc_lines(m))
        for a in m.attachments:
            rows.append("A %d" % a.size)
            rows.extend("Q " + line for line in crc_lines(a))
    elif mode == "props":
        rows.append("ITEM\t%s\t%s" % (path[-1] if path else "", escaped(m.subject or "")))
        for tag, e in sorted(ent.items()):
            key = keys.get(tag, "0x%04x" % tag) if tag >= 0x8000 else "0x%04x" % tag
            rows.append("P\t%s\t%s" % (key, value(e.value_type, e.data)))
        for a in m.attachments:
            name = entries(a).get(0x3707)
            data = a.read_buffer(a.size) if a.size else b""
            rows.append("A\t%s\t%s" % (value(0x1F, name.data) if name else "", data.hex()))


def walk(mode, folder, path, keys, rows):
    if mode == "folders":
        ent = entries(folder)
        rows.append("folder\t%d\t%s\t%s\t%d\t%d" % (
            len(path), hx(folder.name), "c" + hx(text(ent, 0x3613)) if 0x3613 in ent else "-",
            folder.number_of_sub_messages, folder.number_of_sub_folders))
    for i in range(folder.number_of_sub_messages if mode != "folders" else 0):
        show_message(mode, folder.get_sub_message(i), path, keys, rows)
    for i in range(folder.number_of_sub_folders):
        sub = folder.get_sub_folder(i)
        walk(mode, sub, path + [sub.name or ""], keys, rows)


def main():
    mode = sys.argv[1]
    pst = pypff.file()
    pst.open(sys.argv[2])
    rows = []
    walk(mode, pst.get_root_folder(), [], named_keys(pst) if mode == "props" else {}, rows)
    print("\n".join(sorted(rows) if mode in ("items", "marks") else rows))
    print("done")
    return 1 if mode == "items" and not rows else 0


sys.exit(main())
