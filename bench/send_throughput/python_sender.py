#!/usr/bin/python3
"""The reference for the send benchmark: the same mails as the project, built with Python's
email package and sent with smtplib over one connection.

  python_sender.py DATA_DIR HOST PORT [LIMIT]

DATA_DIR holds recipients.tsv (address TAB name TAB field3 per line), subject.txt, body.txt,
index.html, the two pictures named in pictures.txt and the attachment named in
attachment.txt. Placeholders are [[Mail Address]], [[Name]] and [[field3]]. LIMIT sends only
the first LIMIT recipients. Prints "python_sent: N" and "python_seconds: S".
"""
import os
import smtplib
import sys
import time
import uuid
from email.message import EmailMessage


def merge(text, values):
    for caption, value in values.items():
        text = text.replace("[[" + caption + "]]", value)
    return text


def main():
    data, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])

    def read(name, mode="r"):
        with open(os.path.join(data, name), mode) as f:
            return f.read()

    subject = read("subject.txt")
    body = read("body.txt")
    html = read("index.html")
    pictures = read("pictures.txt").split()
    attachment_name = read("attachment.txt").strip()
    picture_bytes = [read(p, "rb") for p in pictures]
    attachment = read(attachment_name, "rb")
    recipients = [line.rstrip("\n").split("\t") for line in read("recipients.tsv").splitlines()]
    if len(sys.argv) > 4:
        recipients = recipients[:int(sys.argv[4])]

    start = time.monotonic()
    sent = 0
    with smtplib.SMTP(host, port) as smtp:
        for address, name, field3 in recipients:
            values = {"Mail Address": address, "Name": name, "field3": field3}
            msg = EmailMessage()
            msg["From"] = "Bench Sender <sender@example.jp>"
            msg["To"] = address
            msg["Subject"] = merge(subject, values)
            msg["X-Mailer"] = "Postwick Dezo Version 7"
            msg["Message-ID"] = "<%s@bench.example>" % uuid.uuid4().hex.upper()
            msg.set_content(merge(body, values), charset="utf-8", cte="quoted-printable")
            page = merge(html, values)
            for p in pictures:
                page = page.replace('src="' + p + '"', 'src="cid:' + p + '"')
            msg.add_alternative(page, subtype="html", charset="utf-8", cte="quoted-printable")
            related = msg.get_payload()[1]
            for p, b in zip(pictures, picture_bytes):
                related.add_related(b, maintype="image", subtype="png", cid="<" + p + ">",
                                    filename=p)
            msg.add_attachment(attachment, maintype="application", subtype="octet-stream",
                               filename=attachment_name)
            smtp.send_message(msg)
            sent += 1
    seconds = time.monotonic() - start
    print("python_sent: %d" % sent)
    print("python_seconds: %.3f" % seconds)


if __name__ == "__main__":
    main()
