#!/usr/bin/env python3
"""Writes a few well-formed mail files as a starting corpus for the reader's fuzzer."""
import os
import struct
import sys
import zlib

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "seeds")
os.makedirs(out, exist_ok=True)


def slot(text):
    return text + b"\0" * (256 - len(text))


def texts(*items):
    return b"".join(items)


head = [b"a@b.jp", "山田".encode(), b"Hello [[Name]]", b"[[Mail Address]]", b"Body\r\n" * 3]


def project(records, attachments=(), db=b"DB-BYTES", tag=b"win", name=b"T"):
    b = b"mlDD" + struct.pack(">HHHHI", *(len(t) for t in head)) + texts(*head)
    settings = bytearray(1638)
    settings[256:256 + 4] = b"smtp"
    settings[768:768 + 6] = b"362616"
    settings[1620:1638] = struct.pack(">9H", 0, 1, 2011, 12, 31, 23, 59, 58, 1)
    b += bytes(settings)
    b += tag + struct.pack(">I", len(attachments)) + b"".join(slot(p) for p in attachments)
    b += slot(name) + struct.pack(">I", len(records))
    for fname, data, packed in records:
        if packed:
            z = zlib.compress(data)
            b += b"FILE" + slot(fname) + b"\0" + struct.pack(">II", len(z), len(data)) + z
        else:
            b += b"FILE" + slot(fname) + b"\xfb" + struct.pack(">II", len(data), len(data)) + data
    if db is not None:
        b += b"DBYF" + db
    return b


def template(kind=b"E"):
    b = b"mlD" + kind + struct.pack(">5H", *(len(t) for t in head)) + texts(*head)
    b += bytes(6740)
    if kind == b"E":
        caps = [("項目%d" % i).encode() for i in range(1, 21)]
        b += struct.pack(">20H", *(len(c) for c in caps)) + b"".join(caps)
    return b


seeds = {
    "project_html": project([(b"index.html", b"<html>" + b"x" * 300 + b"</html>", True),
                             (b"p.png", bytes(range(64)), False)], [b"/home/a/f.pdf"]),
    "project_text": project([], name=b""),
    "project_other_tag": project([(b"a", b"abc", False)], [b"/x", b"/y"], tag=b"xyz"),
    "project_no_db": project([(b"a.html", b"<p>", True)], db=None),
    "template": template(),
    "old_template": template(b"A"),
    "prefixed": b"\0" * 128 + project([], name=b""),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
