#!/usr/bin/env python3
"""Writes a one-message export (OUT/Inbox/1.eml) whose message is built to cost memory:

    normal     30 MB: a text body and one 22 MB attachment
    parts      2 MB: 50,000 tiny parts in one multipart/mixed
    header     one 30 MB header line
    recipients 200,000 addresses in To:
    nested     attachments of attached messages, 60 levels deep, each with 1,000 parts

    bench/hostile_message.py parts /tmp/hostile-parts
    /usr/bin/time -v build-ci/src/mailvane -q /tmp/hostile-parts /tmp/out
"""
import argparse
import base64
import os

HEAD = ("From: Sender <sender@example.com>\r\nTo: Rcpt <rcpt@example.com>\r\n"
        "Subject: {subject}\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n"
        "Message-ID: <{subject}@example.com>\r\nMIME-Version: 1.0\r\n")


def multipart(parts, boundary):
    out = []
    for i in range(parts):
        out.append(f"--{boundary}\r\nContent-Type: text/plain\r\n"
                   f"Content-Disposition: attachment; filename=p{i}.txt\r\n\r\nx\r\n")
    out.append(f"--{boundary}--\r\n")
    return "".join(out)


def message(kind, size_mb=None):
    if kind == "normal":
        blob = base64.encodebytes(os.urandom((size_mb or 22) << 20)).decode().replace("\n", "\r\n")
        return (HEAD.format(subject="normal") +
                'Content-Type: multipart/mixed; boundary="b"\r\n\r\n'
                "--b\r\nContent-Type: text/plain\r\n\r\nSee the file.\r\n"
                "--b\r\nContent-Type: application/octet-stream\r\n"
                "Content-Disposition: attachment; filename=big.bin\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" + blob + "--b--\r\n")
    if kind == "parts":
        return (HEAD.format(subject="parts") + 'Content-Type: multipart/mixed; boundary="b"\r\n\r\n'
                + multipart(50_000, "b"))
    if kind == "header":
        return (HEAD.format(subject="header") + "X-Long: " + "a" * ((size_mb or 30) << 20) +
                "\r\n\r\nbody\r\n")
    if kind == "recipients":
        to = ", ".join(f"r{i}@example.com" for i in range(200_000))
        return (HEAD.format(subject="recipients").replace("To: Rcpt <rcpt@example.com>", "To: " + to)
                + "\r\nbody\r\n")
    if kind == "nested":
        inner = "Subject: level 60\r\nContent-Type: text/plain\r\n\r\ninnermost\r\n"
        for level in range(59, 0, -1):
            inner = (f"Subject: level {level}\r\nMIME-Version: 1.0\r\n"
                     f'Content-Type: multipart/mixed; boundary="n{level}"\r\n\r\n' +
                     multipart(1_000, f"n{level}")[:-len(f"--n{level}--\r\n")] +
                     f"--n{level}\r\nContent-Type: message/rfc822\r\n\r\n" + inner +
                     f"\r\n--n{level}--\r\n")
        return HEAD.format(subject="nested").replace("MIME-Version: 1.0\r\n", "") + inner
    raise SystemExit(f"unknown kind {kind}")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("kind", choices=["normal", "parts", "header", "recipients", "nested"])
    ap.add_argument("out")
    ap.add_argument("--mb", type=int, help="attachment or header size in MB")
    args = ap.parse_args()
    os.makedirs(os.path.join(args.out, "Inbox"), exist_ok=True)
    with open(os.path.join(args.out, "Inbox", "1.eml"), "wb") as f:
        f.write(message(args.kind, args.mb).encode())


if __name__ == "__main__":
    main()
