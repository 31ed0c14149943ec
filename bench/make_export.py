#!/usr/bin/env python3
"""Writes a synthetic Zimbra mailbox export of N messages, laid out as a real extracted
REST tgz export: folder records in their parent's directory, <id>-<name>.<ext> items each with
its .meta record, the "X!N" directories of folders past 499 items, contacts, appointments and
tasks (some with MIME data files carrying attachments), notebook pages, a few Briefcase
documents and tags.

The record encoding (JSON line, length-prefixed metadata, key order, digests) comes from
examples/make_zimbra_export.py, imported here, so both exports are written the same way.

The same --messages and --seed give the same files, byte for byte. --text-only writes small
plain-text mail only (no attachments, no data files) so that a million messages fit on a
small disk.

    bench/make_export.py --messages 10000 --seed 1 --out /tmp/export-10k
"""
import argparse
import base64
import os
import random
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "examples"))
import make_zimbra_export as zx  # noqa: E402  (the sample's record writer)

# Message size classes: (share, kind, raw attachment bytes low, high). Most mail is a few KB
# of text; a fifth carries attachments; a few are several MB; a handful are large.
SIZE_MIX = [
    (0.7955, "text", 0, 0),
    (0.1600, "attach", 5_000, 60_000),
    (0.0400, "attach", 60_000, 500_000),
    (0.0040, "attach", 1_000_000, 4_000_000),
    (0.0005, "attach", 8_000_000, 12_000_000),
]

WORDS = ("the report budget meeting project figures review contract plan team customer "
         "order invoice delivery schedule update question answer please thanks regards "
         "attached draft final version agenda minutes notes travel offsite quarter "
         "revenue cost server backup release test issue ticket support account login "
         "password policy holiday lunch friday monday call phone office room building "
         "Grüße Straße café naïve résumé Zürich Ærø 日本語 テキスト").split()

FIRST = ("Anna Carl Dana Erik Fatima Georg Hanna Ivan Jürgen Kim Lena Marco Nora Olaf "
         "Petra Quentin Rosa Sven Tanja Uwe Vera Wim Xenia Yusuf Zoë").split()
LAST = ("Becker Diaz Ito Jansen Khan Lange Müller Nowak Olsen Peters Quinn Rossi Schmidt "
        "Tanaka Ulrich Vogel Weber Young Zimmermann").split()
DOMAINS = ["example.org", "example.com", "example.net", "acme.example", "shop.example"]

ATTACHMENT_TYPES = [
    ("pdf", "application/pdf"), ("jpg", "image/jpeg"), ("png", "image/png"),
    ("zip", "application/zip"), ("csv", "text/csv"),
    ("docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"),
    ("xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"),
]

OWNER = zx.OWNER
CRLF = "\r\n"


class Pools:
    """Text and bytes drawn once per run; items take slices at random offsets, so the cost
    per item is a slice, not a per-word or per-byte draw."""

    def __init__(self, rng):
        words = rng.choices(WORDS, k=200_000)
        lines = []
        for start in range(0, len(words), 12):
            lines.append(" ".join(words[start:start + 12]))
        self.text = "\n".join(lines)
        self.bytes = rng.randbytes(13_000_000)

    def body(self, rng, size):
        start = rng.randrange(0, len(self.text) - size)
        return self.text[start:start + size]

    def blob(self, rng, size):
        start = rng.randrange(0, len(self.bytes) - size)
        return self.bytes[start:start + size]


def person(rng):
    first, last = rng.choice(FIRST), rng.choice(LAST)
    addr = "%s.%s@%s" % (first.lower(), last.lower(), rng.choice(DOMAINS))
    return first, last, addr


def encoded_subject(subject):
    if subject.isascii():
        return subject
    return "=?UTF-8?B?%s?=" % base64.b64encode(subject.encode()).decode()


def file_name_part(text):
    """The item's name as the exporter writes it: unsafe characters become "_", cut to fit
    120 characters with the 11-character id prefix, trimmed, trailing dots dropped."""
    for ch in '/:*?"<>|\0':
        text = text.replace(ch, "_")
    if len(text) + 11 > 121:
        text = text[:120 - 11]
    return text.strip().rstrip(".")


class FolderTree:
    """Mail folders with skewed sizes, nested up to four deep, and the per-folder item
    counter that decides the "X!N" batch directories."""

    def __init__(self, rng, n_messages, next_id):
        self.next_id = next_id
        self.counts = {}
        self.mail = []      # (path, weight)
        for fid, path, view, flags, flagstr in [
                (2, "/Inbox", 5, 0, ""), (3, "/Trash", 3, 0, ""), (4, "/Junk", 5, 0, ""),
                (5, "/Sent", 5, 0, ""), (6, "/Drafts", 5, 0, ""), (7, "/Contacts", 6, 0, ""),
                (10, "/Calendar", 11, 2097152, "#"), (12, "/Notebook", 14, 0, ""),
                (13, "/Emailed Contacts", 6, 0, ""), (15, "/Tasks", 15, 2097152, "#"),
                (16, "/Briefcase", 8, 0, "")]:
            zx.folder(fid, path, view, system=True, flags=flags, flagstr=flagstr)
        self.mail += [("/Inbox", 80.0), ("/Sent", 30.0), ("/Drafts", 1.0), ("/Junk", 2.0),
                      ("/Trash", 3.0)]
        user_folders = max(10, min(400, n_messages // 250))
        tops = ["/Inbox", "/Archive", "/Clients", "/Projects", "/Lists"]
        for name in tops[1:]:
            self.add(name)
        parents = list(tops)
        for k in range(user_folders):
            parent = rng.choice(parents)
            name = "%s %d" % (rng.choice(["Team", "Q", "Acme", "Report", "Müller", "Travel",
                                           "Ops", "Invoices", "Year"]), k)
            path = parent + "/" + name
            self.add(path)
            if path.count("/") < 4:
                parents.append(path)
            # Zipf-like weights: a few big user folders, many small ones.
            self.mail.append((path, 29.0 / (1 + k) ** 0.8))
        total = sum(w for _, w in self.mail)
        self.paths = [p for p, _ in self.mail]
        self.cum = []
        acc = 0.0
        for _, w in self.mail:
            acc += w / total
            self.cum.append(acc)

    def add(self, path):
        fid = self.next_id
        self.next_id += 1
        parent_path = path.rsplit("/", 1)[0]
        zx.folder(fid, path, 5, parent=zx.FOLDERS.get(parent_path, 1))

    def pick(self, rng):
        x = rng.random()
        lo, hi = 0, len(self.cum) - 1
        while lo < hi:
            mid = (lo + hi) // 2
            if self.cum[mid] < x:
                lo = mid + 1
            else:
                hi = mid
        return self.paths[lo]

    def directory(self, path):
        """Items 1-499 of a folder go to its directory, 500-999 to "X!1", and so on."""
        n = self.counts.get(path, 0) + 1
        self.counts[path] = n
        base = path.lstrip("/")
        return base if n < 500 else "%s!%d" % (base, n // 500)


def text_part(body, html):
    if not html:
        return ("Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
                + body + "\n")
    alt = "----=_Alt_%d" % len(body)
    html_body = "<html><body><p>" + body.replace("\n", "<br>\n") + "</p></body></html>"
    return ("Content-Type: multipart/alternative; boundary=\"%s\"\n\n"
            "--%s\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n"
            "%s\n--%s\nContent-Type: text/html; charset=utf-8\n"
            "Content-Transfer-Encoding: 8bit\n\n%s\n--%s--\n"
            % (alt, alt, body, alt, html_body, alt))


def mime_message(rng, pools, item_id, sender, to, cc, subject, kind, low, high, text_only):
    body = pools.body(rng, rng.randint(200, 2000) if text_only else rng.randint(600, 7000))
    html = rng.random() < 0.4
    extra = [("Cc", cc)] if cc else []
    if kind == "text":
        part = text_part(body, html)
        head, _, rest = part.partition("\n\n")
        headers = zx.std_headers(item_id, sender, to, encoded_subject(subject), extra +
                                 [tuple(h.split(": ", 1)) for h in head.split("\n")])
        return zx.eml(headers, rest)
    mixed = "----=_Part_%d_mixed" % item_id
    parts = ["--%s\n%s" % (mixed, text_part(body, html))]
    count = 1 if rng.random() < 0.8 or low == high else rng.randint(2, 3)
    for k in range(count):
        ext, ctype = rng.choice(ATTACHMENT_TYPES)
        data = pools.blob(rng, rng.randint(low, high))
        name = "%s-%d.%s" % (rng.choice(WORDS[:40]), k + 1, ext)
        parts.append("--%s\nContent-Type: %s; name=\"%s\"\nContent-Disposition: attachment; "
                     "filename=\"%s\"\nContent-Transfer-Encoding: base64\n\n%s\n"
                     % (mixed, ctype, name, name, zx.b64(data)))
    headers = zx.std_headers(item_id, sender, to, encoded_subject(subject),
                             extra + [("Content-Type",
                                       "multipart/mixed; boundary=\"%s\"" % mixed)])
    return zx.eml(headers, "".join(parts) + "--%s--\n" % mixed)


def subject_for(rng, item_id):
    r = rng.random()
    if r < 0.01:
        return ""
    words = " ".join(rng.choices(WORDS, k=rng.randint(2, 9)))
    prefix = rng.choice(["", "", "", "Re: ", "Fwd: ", "RE: AW: "])
    subject = prefix + words[0].upper() + words[1:]
    if r < 0.03:
        subject += ": " + "very long subject text " * 8  # cut in the file name
    elif r < 0.05:
        subject += " <urgent> / \"quoted\"?"
    return subject


def write_message(rng, pools, tree, item_id, text_only=False, attachment_kb=0):
    folder_path = tree.pick(rng)
    directory = tree.directory(folder_path)
    x = rng.random()
    acc = 0.0
    for share, kind, low, high in SIZE_MIX:
        acc += share
        if x < acc:
            break
    if text_only:
        kind = "text"
    elif attachment_kb:
        kind, low, high = "attach", attachment_kb * 1024, attachment_kb * 1024
    first, last, addr = person(rng)
    outgoing = folder_path in ("/Sent", "/Drafts")
    sender = OWNER if outgoing else "%s %s <%s>" % (first, last, addr)
    to = "%s %s <%s>" % (first, last, addr) if outgoing else OWNER
    cc = ", ".join(person(rng)[2] for _ in range(rng.randint(1, 4))) if rng.random() < 0.2 else ""
    subject = subject_for(rng, item_id)
    if rng.random() < 0.01 and kind == "text" and not text_only:
        inner = zx.plain(item_id, sender, to, "Original: " + subject, pools.body(rng, 800))
        mime = zx.forwarded(item_id, sender, to, "Fwd: " + subject, "See below.", inner)
        has_attach = True
    else:
        mime = mime_message(rng, pools, item_id, sender, to, cc, subject, kind, low, high,
                            text_only)
        has_attach = kind != "text"
    unread = 1 if rng.random() < 0.15 and not outgoing else 0
    letters, flags = "", 0
    for letter, bit, share in (("s", 1, 1.0 if outgoing else 0.0), ("a", 2, 1.0 if has_attach else 0.0),
                               ("r", 4, 0.1), ("w", 8, 0.03), ("f", 32, 0.03),
                               ("d", 64, 1.0 if folder_path == "/Drafts" else 0.0)):
        if rng.random() < share:
            letters += letter
            flags |= bit
    if unread:
        letters += "u"
    name = file_name_part(subject)
    if name:
        zx.message(item_id, folder_path, directory, subject, name, mime, unread=unread,
                   flagstr=letters, flags=flags, sender=sender, to=to)
    else:
        # An empty subject names the file "message-<id>.eml", without the padded prefix.
        rel = "%s/message-%d.eml" % (directory, item_id)
        blob = zx.write(rel, mime)
        meta = zx.metadata({"f": letters.replace("u", ""), "s": sender, "t": to})
        fields = zx.common(item_id, 5, zx.FOLDERS[folder_path], folder_path + "/",
                           zx.BASE_DATE + item_id * 60, sender=sender, unread=unread,
                           FlagStr=letters, flags=flags, blob_digest=zx.digest(blob),
                           size=len(blob), parent_id=-item_id, metadata=meta)
        zx.write(rel + ".meta", zx.record(fields))
    return kind


def write_contact(rng, tree, item_id, used):
    emailed = rng.random() < 0.25
    folder_path = "/Emailed Contacts" if emailed else rng.choice(["/Contacts", "/Contacts",
                                                                 "/Contacts/Suppliers"])
    first, last, addr = person(rng)
    if emailed:
        fields, file_as = {"email": addr}, ""
    else:
        fields = {"firstName": first, "lastName": last, "email": addr,
                  "company": rng.choice(["Acme Ltd", "Müller & Söhne", "Example Org"]),
                  "mobilePhone": "+49 151 %07d" % rng.randrange(10 ** 7),
                  "homeStreet": "Lindenstraße %d" % rng.randint(1, 99), "homeCity": "Köln",
                  "birthday": "19%02d-%02d-%02d" % (rng.randint(50, 99), rng.randint(1, 12),
                                                    rng.randint(1, 28)),
                  "notes": "Met at the fair.\nPrefers e-mail."}
        file_as = "%s, %s" % (last, first)
    # File-as names are unique across the export, case-insensitively: "-01", "-02", ...
    key = file_as.lower()
    n = used.get(key, 0)
    used[key] = n + 1
    name = file_as if n == 0 else "%s-%02d" % (file_as, n)
    rel = "%s/%s.meta" % (tree.directory(folder_path), name)
    zx.contact(rel, item_id, folder_path, fields, file_as)


def write_calendar(rng, pools, tree, item_id, kind, text_only=False):
    folder_path = ("/Calendar" if rng.random() < 0.8 else "/Calendar/Team") if kind == 11 \
        else "/Tasks"
    name = file_name_part(" ".join(rng.choices(WORDS, k=rng.randint(2, 5))).capitalize())
    day = 20230101 + rng.randrange(0, 28) + 100 * rng.randrange(0, 12)
    if kind == 11:
        hour = rng.randint(7, 17)
        st = "TZID=Europe/Berlin:%dT%02d0000" % (day, hour)
        et = "TZID=Europe/Berlin:%dT%02d3000" % (day, hour)
    else:
        st, et = "VALUE=DATE:%d" % day, "VALUE=DATE:%d" % (day + 1)
    with_data = rng.random() < 0.3 and not text_only
    extra = {"attach": True} if with_data else None
    if kind == 15:
        extra = dict(extra or {}, pctcompl=str(rng.choice([0, 20, 50, 100])),
                     prio=rng.choice(["1", "5", "9"]), status="INPR")
    desc = pools.body(rng, rng.randint(20, 400)).replace("\n", " ")
    meta = zx.invite(kind, item_id, name, st, et, desc, "Room %d" % rng.randint(1, 9), extra)
    data = None
    if with_data:
        ext, ctype = rng.choice(ATTACHMENT_TYPES)
        data = zx.data_file(item_id, name, desc,
                            ("agenda.%s" % ext, ctype, pools.blob(rng, rng.randint(2_000, 300_000))))
    zx.calendar_item(tree.directory(folder_path), folder_path, item_id, kind, name, meta, data)


def write_page(rng, pools, tree, item_id, kind):
    """A notebook page (.wiki) or a Briefcase document: named items, no id prefix."""
    folder_path = "/Notebook" if kind == 14 else "/Briefcase"
    title = " ".join(rng.choices(WORDS, k=3)).capitalize()
    name = "%s %d%s" % (title, item_id, ".wiki" if kind == 14 else ".txt")
    item_name = name[:-5] if kind == 14 else name
    text = pools.body(rng, rng.randint(200, 3000))
    data = ("<html><body><h2>%s</h2><p>%s</p></body></html>" % (title, text)
            if kind == 14 else text)
    rel = "%s/%s" % (tree.directory(folder_path), name)
    blob = zx.write(rel, data)
    ct = "text/html; charset=utf-8" if kind == 14 else "text/plain"
    fields = zx.common(item_id, kind, zx.FOLDERS[folder_path], folder_path + "/" + item_name,
                       zx.BASE_DATE + item_id, subject=item_name, name=item_name,
                       uuid="00000000-0000-4000-8000-%012d" % item_id, sender=zx.OWNER_ADDR,
                       blob_digest=zx.digest(blob), size=len(blob),
                       metadata=zx.metadata({"cr": zx.OWNER_ADDR, "ct": ct, "dee": True,
                                             "f": text[:40], "lt": 0}))
    zx.write(rel + ".meta", zx.record(fields))


def build(out, n_messages, seed, text_only=False, attachment_kb=0):
    rng = random.Random(seed)
    zx.ROOT = out
    zx.FOLDERS.clear()
    pools = Pools(rng)
    tree = FolderTree(rng, n_messages, 256)
    zx.folder(tree.next_id, "/Contacts/Suppliers", 6, parent=7)
    zx.folder(tree.next_id + 1, "/Calendar/Team", 11, parent=10)
    next_id = tree.next_id + 2
    for tag_id, tag in enumerate(["Work", "Private", "Later"], start=next_id):
        fields = zx.common(tag_id, 3, 8, "/Tags/" + tag, zx.BASE_DATE, subject=tag, name=tag,
                           uuid="00000000-0000-4000-8000-%012d" % tag_id,
                           metadata=zx.metadata({"c": 4}))
        zx.write("Tags/%010d-%s.meta" % (tag_id, tag), zx.record(fields))
    next_id += 3

    # Other items at a few percent of N, interleaved with the mail as ids interleave.
    others = (["contact"] * (n_messages * 3 // 100) + ["appt"] * (n_messages * 2 // 100)
              + ["task"] * (n_messages // 100) + ["wiki"] * (n_messages // 200)
              + ["doc"] * (n_messages // 500))
    kinds = ["mail"] * n_messages + others
    rng.shuffle(kinds)
    counts = {}
    used_names = {}
    for kind in kinds:
        item_id = next_id
        next_id += 2  # calendar items use id-1 for their invite
        if kind == "mail":
            kind = "mail-" + write_message(rng, pools, tree, item_id, text_only, attachment_kb)
        elif kind == "contact":
            write_contact(rng, tree, item_id, used_names)
        elif kind in ("appt", "task"):
            write_calendar(rng, pools, tree, item_id, 11 if kind == "appt" else 15, text_only)
        else:
            write_page(rng, pools, tree, item_id, 14 if kind == "wiki" else 8)
        counts[kind] = counts.get(kind, 0) + 1
    return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--messages", type=int, default=10_000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--out", required=True, help="folder to create (must not exist)")
    parser.add_argument("--text-only", action="store_true",
                        help="small plain-text messages only, no attachments")
    parser.add_argument("--attachment-kb", type=int, default=0,
                        help="every message carries one attachment of this size instead of "
                             "the usual mix: exports of any size whose largest message is the same")
    parser.add_argument("--force", action="store_true", help="replace an existing folder")
    args = parser.parse_args()
    if args.messages < 1:
        parser.error("--messages must be at least 1")
    if os.path.lexists(args.out):
        if not args.force:
            parser.error("%s exists; pass --force to replace it" % args.out)
        shutil.rmtree(args.out)
    os.makedirs(args.out)
    started = time.monotonic()
    counts = build(os.path.abspath(args.out), args.messages, args.seed, args.text_only,
                   args.attachment_kb)
    files = size = 0
    for dirpath, _, names in os.walk(args.out):
        for name in names:
            files += 1
            size += os.lstat(os.path.join(dirpath, name)).st_size
    print("wrote %s: %d files, %.1f MB in %.1f s; %s" % (
        args.out, files, size / 1e6, time.monotonic() - started,
        ", ".join("%s %d" % kv for kv in sorted(counts.items()))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
