#!/usr/bin/env python3
"""Writes examples/zimbra-export/: a small mailbox laid out as Zimbra's REST tgz export
extracts (folder directories, <id>-<name>.<ext> items each followed by a .meta record, the
"!1" directory of a split folder, folder records in their parent's directory).

A .meta record is one line of JSON (no trailing newline) whose "metadata" string holds
Zimbra's length-prefixed dictionary; lengths count UTF-16 code units, as Java does.
Run it again to regenerate the files; the output is the same every time.
"""
import base64
import hashlib
import json
import os
import shutil
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zimbra-export")
BASE_DATE = 1700000000  # seconds; every item's date is derived from it


# ---- the length-prefixed dictionary ------------------------------------------------------

def jlen(text):
    return len(text.encode("utf-16-le")) // 2


def benc(value):
    if isinstance(value, bool):
        return benc("true" if value else "false")
    if isinstance(value, int):
        return "i%de" % value
    if isinstance(value, str):
        return "%d:%s" % (jlen(value), value)
    if isinstance(value, list):
        return "l" + "".join(benc(v) for v in value) + "e"
    if isinstance(value, dict):
        keys = sorted(value, key=lambda k: k.encode("utf-16-be"))
        return "d" + "".join(benc(k) + benc(value[k]) for k in keys) + "e"
    raise TypeError(value)


def metadata(fields):
    d = dict(fields)
    d["v"] = 10
    return benc(d)


# ---- the JSON record ---------------------------------------------------------------------

ORDER_SMALL = ["date", "Path", "metadata", "Ver", "mod_metadata", "ExtraStr", "FlagStr",
               "volume_id", "unread", "subject", "change_date", "mod_content", "flags", "TagStr",
               "type", "uuid", "tags", "blob_digest", "size", "sender", "TagNames", "parent_id",
               "name", "id", "folder_id", "index_id", "imap_id"]
ORDER_LARGE = ["date", "metadata", "Ver", "mod_metadata", "FlagStr", "volume_id", "unread",
               "subject", "change_date", "mod_content", "flags", "TagStr", "type", "uuid",
               "blob_digest", "id", "index_id", "Path", "ExtraStr", "tags", "size", "sender",
               "TagNames", "parent_id", "name", "folder_id", "imap_id"]


def jstr(text):
    out = ['"']
    prev = ""
    for ch in text:
        c = ord(ch)
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif ch == "/" and prev == "<":
            out.append("\\/")
        elif ch in "\b\f\n\r\t":
            out.append({"\b": "\\b", "\f": "\\f", "\n": "\\n", "\r": "\\r", "\t": "\\t"}[ch])
        elif c < 0x20 or 0x80 <= c < 0xA0 or 0x2000 <= c < 0x2100:
            out.append("\\u%04x" % c)
        else:
            out.append(ch)
        prev = ch
    out.append('"')
    return "".join(out)


def record(fields):
    order = ORDER_LARGE if len(fields) >= 25 else ORDER_SMALL
    assert set(fields) <= set(order), set(fields) - set(order)
    parts = []
    for key in order:
        if key in fields:
            v = fields[key]
            parts.append(jstr(key) + ":" + (jstr(v) if isinstance(v, str) else str(v)))
    return "{" + ",".join(parts) + "}"


def write(rel, data):
    path = os.path.join(ROOT, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode("utf-8") if isinstance(data, str) else data)
    return data.encode("utf-8") if isinstance(data, str) else data


def digest(blob):
    return base64.urlsafe_b64encode(hashlib.sha256(blob).digest()).decode()


def common(item_id, item_type, folder_id, path, date, **extra):
    f = {"date": date, "Path": path, "Ver": 10, "mod_metadata": item_id + 100, "FlagStr": "",
         "volume_id": 0, "unread": 0, "change_date": date, "mod_content": item_id + 100,
         "flags": 0, "TagStr": "", "type": item_type, "size": 0, "TagNames": "", "parent_id": -1,
         "id": item_id, "folder_id": folder_id, "index_id": 0, "imap_id": item_id}
    f.update(extra)
    return f


# ---- folders -----------------------------------------------------------------------------

FOLDERS = {}  # path -> id


def folder(fid, path, view, system=False, parent=1, flags=0, flagstr=""):
    FOLDERS[path] = fid
    name = path.rsplit("/", 1)[-1]
    meta = {"vt": view}
    if system:
        meta["a"] = 1
    fields = common(fid, 1, parent, path, BASE_DATE - 86400, subject=name, name=name,
                    uuid="00000000-0000-4000-8000-%012d" % fid, flags=flags, FlagStr=flagstr,
                    parent_id=parent, metadata=metadata(meta))
    parent_dir = path.rsplit("/", 1)[0].lstrip("/")
    rel = (parent_dir + "/" if parent_dir else "") + "%010d-%s.meta" % (fid, name)
    write(rel, record(fields))


# ---- messages ----------------------------------------------------------------------------

def eml(headers, body):
    lines = ["%s: %s" % h for h in headers]
    return "\r\n".join(lines) + "\r\n\r\n" + body.replace("\n", "\r\n")


def message(item_id, folder_path, directory, subject_text, file_subject, mime, unread=0,
            flagstr="", flags=0, sender="", to=""):
    date = BASE_DATE + item_id * 60
    rel = "%s/%010d-%s.eml" % (directory, item_id, file_subject)
    blob = write(rel, mime)
    meta = metadata({"f": flagstr.replace("u", ""), "s": sender, "t": to})
    fields = common(item_id, 5, FOLDERS[folder_path], folder_path + "/", date,
                    subject=subject_text, sender=sender, unread=unread,
                    FlagStr=flagstr, flags=flags, blob_digest=digest(blob), size=len(blob),
                    parent_id=-item_id, metadata=meta)
    write(rel + ".meta", record(fields))


def std_headers(item_id, sender, to, subject, extra=()):
    day = 14 + item_id % 10
    return [("Return-Path", "<%s>" % sender.split("<")[-1].rstrip(">")),
            ("Date", "Tue, %d Nov 2023 10:%02d:00 +0100" % (day, item_id % 60)),
            ("From", sender), ("To", to), ("Subject", subject),
            ("Message-ID", "<%d.export-sample@mail.example.net>" % item_id),
            ("MIME-Version", "1.0")] + list(extra)


def b64(data):
    text = base64.b64encode(data).decode()
    return "\n".join(text[i:i + 76] for i in range(0, len(text), 76))


PDF = (b"%PDF-1.4\n1 0 obj <</Type/Catalog/Pages 2 0 R>> endobj\n"
       b"2 0 obj <</Type/Pages/Kids[]/Count 0>> endobj\ntrailer <</Root 1 0 R>>\n%%EOF\n")
CSV = "quarter;revenue;cost\nQ1;1200;800\nQ2;1350;820\nQ3;1410;870\n".encode()

OWNER = "Petra Owner <petra@example.net>"
OWNER_ADDR = "petra@example.net"


def plain(item_id, sender, to, subject, body, extra=()):
    return eml(std_headers(item_id, sender, to, subject,
                           [("Content-Type", "text/plain; charset=utf-8"),
                            ("Content-Transfer-Encoding", "8bit")] + list(extra)), body)


def with_attachments(item_id, sender, to, subject, body, attachments):
    boundary = "----=_Part_%d_sample" % item_id
    parts = ["--%s\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n%s\n"
             % (boundary, body)]
    for name, ctype, data in attachments:
        parts.append("--%s\nContent-Type: %s; name=\"%s\"\nContent-Disposition: attachment; "
                     "filename=\"%s\"\nContent-Transfer-Encoding: base64\n\n%s\n"
                     % (boundary, ctype, name, name, b64(data)))
    body_text = "".join(parts) + "--%s--\n" % boundary
    return eml(std_headers(item_id, sender, to, subject,
                           [("Content-Type", "multipart/mixed; boundary=\"%s\"" % boundary)]),
               body_text)


def forwarded(item_id, sender, to, subject, note, inner):
    boundary = "----=_Part_%d_fwd" % item_id
    body_text = ("--%s\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
                 "%s\n--%s\nContent-Type: message/rfc822\nContent-Disposition: attachment\n\n%s\n"
                 "--%s--\n" % (boundary, note, boundary, inner.replace("\r\n", "\n"), boundary))
    return eml(std_headers(item_id, sender, to, subject,
                           [("Content-Type", "multipart/mixed; boundary=\"%s\"" % boundary)]),
               body_text)


# ---- contacts ----------------------------------------------------------------------------

def contact(rel, item_id, folder_path, fields, file_as=""):
    meta = metadata({"fld": fields})
    rec = common(item_id, 6, FOLDERS[folder_path], folder_path + "/", BASE_DATE + item_id,
                 sender=file_as, metadata=meta)
    write(rel, record(rec))


# ---- appointments and tasks --------------------------------------------------------------

def invite(kind, item_id, name, st, et, desc="", location="", extra=None):
    # The zone of a zoned start, else the owner's; a date-only end makes the item all-day.
    zone = st[len("TZID="):st.index(":")] if st.startswith("TZID=") else "Europe/Berlin"
    all_day = 0x04 if et.startswith("VALUE=DATE:") else 0
    inv = {"af": (0x02 if kind == 11 else 0x01) | all_day |
           (0x80 if extra and extra.get("attach") else 0),
           "byme": True, "clSetByMe": True, "comp": 0, "dinM": True,
           "dts": (BASE_DATE + item_id) * 1000, "fb": "B", "frag": desc[:40], "isOrg": True,
           "it": kind, "l": location, "lfseq": 0, "mid": item_id - 1, "mthd": "PUBLISH",
           "n": name, "numAt": "0", "org": {"a": OWNER_ADDR, "cn": "Petra Owner"},
           "ptst": "AC", "rsvp": False, "seq": 0, "st": st, "et": et,
           "status": "CONF" if kind == 11 else "NEED", "tr": "O",
           "tzm": {"#0": {"tzid": zone}},
           "u": "sample-%d@example.net" % item_id}
    if desc:
        inv["desc"] = desc
    if extra:
        inv.update({k: v for k, v in extra.items() if k != "attach"})
    return {"ape": (BASE_DATE + 7200) * 1000, "aps": BASE_DATE * 1000, "inv0": inv, "nc": 1,
            "rl": {"n": 0}, "tzm": {"#0": {"tzid": zone}},
            "u": "sample-%d@example.net" % item_id}


def calendar_item(directory, folder_path, item_id, kind, name, meta, data=None):
    ext = "appt" if kind == 11 else "task"
    rel = "%s/%010d-%s.%s" % (directory, item_id, name, ext)
    fields = common(item_id, kind, FOLDERS[folder_path], folder_path + "/", BASE_DATE + item_id,
                    subject=name, metadata=metadata(meta))
    if data is not None:
        blob = write(rel, data)
        fields.update(blob_digest=digest(blob), size=len(blob), FlagStr="a", flags=2)
    write(rel + ".meta", record(fields))


def data_file(item_id, subject, body, attachment):
    outer = "----=_Part_%d_digest" % item_id
    mixed = "----=_Part_%d_mixed" % item_id
    alt = "----=_Part_%d_alt" % item_id
    name, ctype, data = attachment
    inner = ("Date: Mon, 13 Nov 2023 09:00:00 +0100\nFrom: %s\nSubject: %s\n"
             "Message-ID: <inv%d.export-sample@mail.example.net>\nMIME-Version: 1.0\n"
             "Content-Type: multipart/mixed; boundary=\"%s\"\n\n"
             "--%s\nContent-Type: multipart/alternative; boundary=\"%s\"\n\n"
             "--%s\nContent-Type: text/plain; charset=utf-8\n\n%s\n"
             "--%s\nContent-Type: text/html; charset=utf-8\n\n<html><body><p>%s</p></body></html>\n"
             "--%s--\n\n"
             "--%s\nContent-Type: %s; name=%s\nContent-Disposition: attachment; filename=%s\n"
             "Content-Transfer-Encoding: base64\n\n%s\n--%s--\n"
             % (OWNER, subject, item_id, mixed, mixed, alt, alt, body, alt, body, alt, mixed, ctype,
                name, name, b64(data), mixed))
    text = ("Message-ID: <digest%d.export-sample@mail.example.net>\nMIME-Version: 1.0\n"
            "Content-Type: multipart/digest; boundary=\"%s\"\n\n--%s\nContent-Type: message/rfc822\n"
            "invId: %d\n\n%s\n--%s--\n" % (item_id, outer, outer, item_id - 1, inner, outer))
    return text.replace("\n", "\r\n")


# ---- the mailbox -------------------------------------------------------------------------

def main():
    if os.path.exists(ROOT):
        shutil.rmtree(ROOT)
    os.makedirs(ROOT)

    folder(2, "/Inbox", 5, system=True)
    folder(4, "/Junk", 5, system=True)  # empty: only its record, no directory
    folder(5, "/Sent", 5, system=True)
    folder(6, "/Drafts", 5, system=True)
    folder(7, "/Contacts", 6, system=True)
    folder(10, "/Calendar", 11, system=True, flags=2097152, flagstr="#")
    folder(12, "/Notebook", 14, system=True)
    folder(13, "/Emailed Contacts", 6, system=True)
    folder(15, "/Tasks", 15, system=True, flags=2097152, flagstr="#")
    folder(16, "/Briefcase", 8, system=True)
    folder(260, "/Inbox/Projects", 5, parent=2)
    folder(261, "/Inbox/Projects/2023", 5, parent=260)
    folder(300, "/Clients", 5)
    folder(301, "/Clients/Acme", 5, parent=300)

    anna = "Anna Becker <anna.becker@example.org>"
    message(257, "/Inbox", "Inbox", "Quarterly figures", "Quarterly figures",
            with_attachments(257, anna, OWNER, "Quarterly figures",
                             "Hello Petra,\n\nthe figures for Q3 are attached, as PDF and CSV.\n\nAnna",
                             [("q3-figures.pdf", "application/pdf", PDF),
                              ("q3-figures.csv", "text/csv", CSV)]),
            flagstr="a", flags=2, sender=anna, to=OWNER)
    message(258, "/Inbox", "Inbox", "Grüße aus München", "Grüße aus München",
            plain(258, "Jürgen Müller <juergen@example.de>", OWNER,
                  "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_aus_M=C3=BCnchen?=",
                  "Liebe Petra,\n\nviele Grüße aus München – das Wetter ist schön, "
                  "die Weißwürste auch.\n日本語のテキストも少し。\n\nJürgen"),
            unread=1, flagstr="u", sender="Jürgen Müller", to=OWNER)
    inner = plain(250, "Carl Diaz <carl@example.com>", anna, "Lunch on Friday?",
                  "Shall we meet at noon at the usual place?\n\nCarl")
    message(259, "/Inbox", "Inbox", "Fwd: Lunch on Friday?", "Fwd_ Lunch on Friday_",
            forwarded(259, anna, OWNER, "Fwd: Lunch on Friday?", "See below - are you in?", inner),
            flagstr="a", flags=2, sender=anna, to=OWNER)
    message(270, "/Inbox/Projects", "Inbox/Projects", "Re: Budget 2024", "Re_ Budget 2024",
            plain(270, "Carl Diaz <carl@example.com>", OWNER, "Re: Budget 2024",
                  "The budget looks fine to me.\n\n> Can you check the budget?\n"),
            flagstr="r", flags=4, sender="Carl Diaz", to=OWNER)
    message(275, "/Inbox/Projects/2023", "Inbox/Projects/2023", "Old plan", "Old plan",
            plain(275, anna, OWNER, "Old plan", "The plan from last year, for reference."),
            sender=anna, to=OWNER)
    # The 500th item of the Inbox and later ones: the same folder, a directory of its own.
    message(760, "/Inbox", "Inbox!1", "Late arrival", "Late arrival",
            plain(760, "Carl Diaz <carl@example.com>", OWNER, "Late arrival",
                  "This one came after the first 499."), sender="Carl Diaz", to=OWNER)
    message(280, "/Sent", "Sent", "Re: Quarterly figures", "Re_ Quarterly figures",
            plain(280, OWNER, anna, "Re: Quarterly figures", "Thanks, Anna!\n\nPetra"),
            flagstr="s", flags=1, sender="Petra Owner", to=anna)
    message(285, "/Drafts", "Drafts", "Ideas for the offsite", "Ideas for the offsite",
            plain(285, OWNER, "team@example.net", "Ideas for the offsite",
                  "1. Boat trip\n2. Cooking class\n"), flagstr="d", flags=64,
            sender="Petra Owner", to="team@example.net")
    message(290, "/Clients", "Clients", "Welcome aboard", "Welcome aboard",
            plain(290, "Dana Ito <dana@acme.example>", OWNER, "Welcome aboard",
                  "Glad to start working with you."), sender="Dana Ito", to=OWNER)
    message(291, "/Clients/Acme", "Clients/Acme", "Contract draft", "Contract draft",
            with_attachments(291, "Dana Ito <dana@acme.example>", OWNER, "Contract draft",
                             "Draft attached.", [("contract.txt", "text/plain",
                                                  "Contract between Acme and Example.\n".encode())]),
            flagstr="a", flags=2, sender="Dana Ito", to=OWNER)

    contact("Contacts/Becker, Anna.meta", 263, "/Contacts",
            {"firstName": "Anna", "lastName": "Becker", "email": "anna.becker@example.org",
             "email2": "anna@home.example", "company": "Example Org", "jobTitle": "Controller",
             "mobilePhone": "+49 151 2345678", "homeStreet": "Lindenstraße 7",
             "homeCity": "Köln", "homeState": "NRW", "homePostalCode": "50667",
             "homeCountry": "Germany",
             "homeURL": "http://anna.example.org", "birthday": "1986-03-14",
             "notes": "Prefers calls after 10:30.\nVegetarian."}, "Becker, Anna")
    contact("Contacts/Müller, Jürgen.meta", 264, "/Contacts",
            {"firstName": "Jürgen", "lastName": "Müller", "email": "juergen@example.de",
             "workPhone": "+49 89 1234567", "company": "Müller & Söhne",
             "anniversary": "2015-06-20"}, "Müller, Jürgen")
    contact("Emailed Contacts/.meta", 265, "/Emailed Contacts",
            {"email": "newsletter@shop.example"})
    contact("Emailed Contacts/-01.meta", 266, "/Emailed Contacts", {"email": "carl@example.com"})

    calendar_item("Calendar", "/Calendar", 311, 11, "Lunch with Carl",
                  invite(11, 311, "Lunch with Carl", "TZID=Europe/Berlin:20231117T120000",
                         "TZID=Europe/Berlin:20231117T130000", "Menu attached.", "Café Rosa",
                         {"attach": True}),
                  data_file(311, "Lunch with Carl", "Menu attached.",
                            ("menu.txt", "text/plain", "Soup, pasta, tiramisu.\n".encode())))
    calendar_item("Calendar", "/Calendar", 312, 11, "Team standup",
                  invite(11, 312, "Team standup", "20231120T080000Z", "20231120T081500Z",
                         "Daily: yesterday, today, blockers.", "Room 2"))
    # Set by a colleague in another zone: the time stays that zone's.
    calendar_item("Calendar", "/Calendar", 313, 11, "Call with New York office",
                  invite(11, 313, "Call with New York office",
                         "TZID=America/New_York:20231128T100000",
                         "TZID=America/New_York:20231128T103000",
                         "Quarterly sync with the US team.", "Phone"))
    # All-day: dates only, the end is the day after.
    calendar_item("Calendar", "/Calendar", 314, 11, "Company holiday",
                  invite(11, 314, "Company holiday", "VALUE=DATE:20231124", "VALUE=DATE:20231125",
                         "Office closed."))
    calendar_item("Tasks", "/Tasks", 315, 15, "Send invoice",
                  invite(15, 315, "Send invoice", "VALUE=DATE:20231120", "VALUE=DATE:20231124",
                         "Invoice 2023-118 for Acme: net 30.", "",
                         {"pctcompl": "20", "prio": "1", "status": "INPR"}))
    calendar_item("Tasks", "/Tasks", 316, 15, "Review contract",
                  invite(15, 316, "Review contract", "VALUE=DATE:20231121",
                         "TZID=Europe/Berlin:20231201T170000",
                         "Check the liability clause.", "", {"attach": True}),
                  data_file(316, "Review contract", "Check the liability clause.",
                            ("clauses.txt", "text/plain", "Clause 7: liability.\n".encode())))

    page = "<html><body><h2>Offsite plan</h2><p>Agenda: goals, budget, boat trip.</p></body></html>"
    blob = write("Notebook/Offsite plan.wiki", page)
    fields = common(320, 14, 12, "/Notebook/Offsite plan", BASE_DATE + 320, subject="Offsite plan",
                    name="Offsite plan", uuid="00000000-0000-4000-8000-000000000320",
                    sender=OWNER_ADDR, blob_digest=digest(blob), size=len(blob),
                    metadata=metadata({"cr": OWNER_ADDR, "ct": "text/html; charset=utf-8",
                                       "dee": True, "f": "Agenda: goals, budget, boat trip.",
                                       "lt": 0}))
    write("Notebook/Offsite plan.wiki.meta", record(fields))

    # Files that no step takes: a Briefcase document and a tag record.
    blob = write("Briefcase/packing list.txt", "Passport\nCharger\nRain jacket\n")
    fields = common(330, 8, 16, "/Briefcase/packing list.txt", BASE_DATE + 330,
                    subject="packing list.txt", name="packing list.txt",
                    uuid="00000000-0000-4000-8000-000000000330", sender=OWNER_ADDR,
                    blob_digest=digest(blob), size=len(blob),
                    metadata=metadata({"cr": OWNER_ADDR, "ct": "text/plain", "lt": 0}))
    write("Briefcase/packing list.txt.meta", record(fields))
    fields = common(612, 3, 8, "/Tags/Work", BASE_DATE, subject="Work", name="Work",
                    uuid="00000000-0000-4000-8000-000000000612", metadata=metadata({"c": 4}))
    write("Tags/0000000612-Work.meta", record(fields))
    return 0


if __name__ == "__main__":
    sys.exit(main())
