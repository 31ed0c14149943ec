"""Prints every property of the items in every folder of a PST (labelled by the folder's
own name) as python3-pypff reads them, with named properties resolved through the file's
own name-to-ID map, and each attachment's name and bytes:

  ITEM <tab> folder <tab> subject
  P <tab> key <tab> value     key: 0x3a06 (a tag's ID) or Address:0x8083 (set:LID)
  A <tab> name <tab> hex of the bytes
  END

Texts escape backslash, tab, CR and LF; times are UTC as 2023-11-17T11:00:00Z."""
import datetime
import struct
import sys
import uuid

import pypff

SETS = {
    "00062004-0000-0000-c000-000000000046": "Address",
    "00062002-0000-0000-c000-000000000046": "Appointment",
    "00062003-0000-0000-c000-000000000046": "Task",
    "00062008-0000-0000-c000-000000000046": "Common",
    "0006200e-0000-0000-c000-000000000046": "Note",
    "00020329-0000-0000-c000-000000000046": "PublicStrings",
}


def named_keys(pst):
    """Property ID (0x8000 and up) -> "Set:0xLID" or "Set:name"."""
    streams = {}
    for rs in pst.get_name_to_id_map().record_sets:
        for e in rs.entries:
            streams[e.entry_type] = e.data or b""
    guids = streams.get(0x0002, b"")
    strings = streams.get(0x0004, b"")
    entries = streams.get(0x0003, b"")
    keys = {}
    for at in range(0, len(entries) - 7, 8):
        ident, kind, index = struct.unpack_from("<IHH", entries, at)
        guid = kind >> 1
        if guid == 1:
            set_name = "Mapi"
        elif guid == 2:
            set_name = "PublicStrings"
        else:
            raw = guids[(guid - 3) * 16:(guid - 2) * 16]
            set_name = SETS.get(str(uuid.UUID(bytes_le=raw)), str(uuid.UUID(bytes_le=raw)))
        if kind & 1:
            size = struct.unpack_from("<I", strings, ident)[0]
            name = strings[ident + 4:ident + 4 + size].decode("utf-16-le")
        else:
            name = "0x%04x" % ident
        keys[0x8000 + index] = "%s:%s" % (set_name, name)
    return keys


def text(s):
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def value(kind, data):
    data = data or b""
    if kind == 0x1F:
        return text(data.decode("utf-16-le"))
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
        return "|".join(text(data[offsets[i]:offsets[i + 1]].decode("utf-16-le"))
                        for i in range(count))
    return "hex:" + data.hex()


def entries(item):
    out = {}
    for rs in item.record_sets:
        for e in rs.entries:
            out[e.entry_type] = e
    return out


def main():
    pst = pypff.file()
    pst.open(sys.argv[1])
    keys = named_keys(pst)
    folders = [pst.get_root_folder()]
    while folders:
        folder = folders.pop(0)
        folders.extend(folder.get_sub_folder(i) for i in range(folder.number_of_sub_folders))
        for k in range(folder.number_of_sub_messages):
            m = folder.get_sub_message(k)
            print("ITEM\t%s\t%s" % (folder.name, text(m.subject or "")))
            for tag, e in sorted(entries(m).items()):
                key = keys.get(tag, "0x%04x" % tag) if tag >= 0x8000 else "0x%04x" % tag
                print("P\t%s\t%s" % (key, value(e.value_type, e.data)))
            for a in m.attachments:
                name = entries(a).get(0x3707)
                data = a.read_buffer(a.size) if a.size else b""
                print("A\t%s\t%s" % (value(0x1F, name.data) if name else "", data.hex()))
    print("END")


main()
