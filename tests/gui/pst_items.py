"""Prints every item of a PST as python3-pypff reads it, one sorted line each:
folder path, message class, subject, display name, attachment count, body length. Two PSTs made from one
export print the same lines whichever front end made them.

  pst_items.py FILE.pst"""
import sys

import pypff


def text_property(item, tag):
    for entry in item.get_record_set(0).entries:
        if entry.entry_type == tag and entry.data:
            return entry.data.decode("utf-16-le").rstrip("\0")
    return ""


def walk(folder, path, rows):
    for i in range(folder.number_of_sub_messages):
        m = folder.get_sub_message(i)
        body = m.plain_text_body or b""
        rows.append("%s\t%s\t%s\t%s\t%d\t%d" % (
            "\\".join(path), text_property(m, 0x001A), m.subject or "",
            text_property(m, 0x3001), m.number_of_attachments, len(body)))
    for i in range(folder.number_of_sub_folders):
        sub = folder.get_sub_folder(i)
        walk(sub, path + [sub.name or ""], rows)


def main():
    f = pypff.file()
    f.open(sys.argv[1])
    rows = []
    walk(f.get_root_folder(), [], rows)
    print("\n".join(sorted(rows)))
    return 0 if rows else 1


if __name__ == "__main__":
    sys.exit(main())
