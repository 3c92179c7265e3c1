"""Describes a MIME message read from standard input as JSON, with Python's email package.

Japanese bodies and header words are decoded with code page 932 semantics: ISO-2022-JP and
EUC-JP text is turned back into its Shift_JIS form and read with Python's "cp932" codec,
because the standard "iso2022_jp" and "euc_jp" codecs lack the NEC row 13 (①, ㈱) and the
NEC-selected IBM rows (髙) that Windows mail programs send.
"""
import email
import email.header
import email.policy
import email.utils
import hashlib
import json
import sys


def jis_pair_to_sjis(j1, j2):
    s1 = ((j1 - 0x21) >> 1) + 0x81
    if s1 > 0x9F:
        s1 += 0x40
    if (j1 - 0x21) % 2 == 0:
        s2 = j2 - 0x21 + 0x40
        if s2 >= 0x7F:
            s2 += 1
    else:
        s2 = j2 - 0x21 + 0x9F
    return bytes([s1, s2])


def decode_iso2022jp(data):
    out = bytearray()
    i = 0
    double = False
    while i < len(data):
        if data[i] == 0x1B:
            seq = data[i:i + 3]
            if seq in (b"\x1b$B", b"\x1b$@"):
                double = True
            elif seq in (b"\x1b(B", b"\x1b(J"):
                double = False
            else:
                raise ValueError("unknown escape %r" % seq)
            i += 3
            continue
        if data[i] >= 0x80:
            raise ValueError("8-bit byte in ISO-2022-JP")
        if double and data[i] not in (0x0D, 0x0A):
            out += jis_pair_to_sjis(data[i], data[i + 1])
            i += 2
        else:
            out.append(data[i])
            i += 1
    if double:
        raise ValueError("ISO-2022-JP text does not end in ASCII")
    return out.decode("cp932")


def decode_eucjp(data):
    out = bytearray()
    i = 0
    while i < len(data):
        b = data[i]
        if b < 0x80:
            out.append(b)
            i += 1
        elif b == 0x8E:
            out.append(data[i + 1])
            i += 2
        else:
            out += jis_pair_to_sjis(b & 0x7F, data[i + 1] & 0x7F)
            i += 2
    return out.decode("cp932")


def decode_bytes(data, charset):
    cs = (charset or "").lower()
    if not cs:
        return data.decode("utf-8", "replace")
    if cs == "iso-2022-jp":
        return decode_iso2022jp(data)
    if cs == "euc-jp":
        return decode_eucjp(data)
    if cs in ("shift-jis", "shift_jis"):
        return data.decode("cp932")
    if cs == "gbk/gb2312":
        return data.decode("gbk")
    if cs == "hz-gb2312":
        return data.decode("hz")
    if cs == "windows-sami-2":
        return None
    return data.decode(cs)


def decode_words(raw):
    if raw is None:
        return None
    # unfolding removes the line breaks only; the blank after each stays
    raw = str(raw).replace("\r\n", "").replace("\n", "")
    parts = []
    for chunk, charset in email.header.decode_header(raw):
        if isinstance(chunk, str):
            parts.append(chunk)
        elif charset is None:
            parts.append(chunk.decode("ascii"))
        else:
            parts.append(decode_bytes(chunk, charset))
    return "".join(parts)


def decode_param(raw):
    """A parameter as compat32 returns it: RFC 2231 values come as a tuple."""
    if raw is None:
        return None
    if isinstance(raw, tuple):
        return email.utils.collapse_rfc2231_value(raw)
    return decode_words(raw)


def describe(part, modern=None):
    node = {
        "type": part.get_content_type(),
        "charset": part.get_param("charset"),
        "cid": part.get("Content-ID"),
        "cte": part.get("Content-Transfer-Encoding"),
        "disposition": part.get_content_disposition(),
    }
    node["name"] = decode_param(part.get_param("name"))
    node["filename"] = decode_param(part.get_param("filename", header="content-disposition"))
    if modern is not None:
        # what a reader of today's standards sees: RFC 2231 first
        node["filenameModern"] = modern.get_filename()
    if part.is_multipart():
        modern_parts = modern.get_payload() if modern is not None else None
        node["parts"] = [describe(p, modern_parts[i] if modern_parts else None)
                         for i, p in enumerate(part.get_payload())]
        node["boundary"] = part.get_boundary()
    else:
        payload = part.get_payload(decode=True) or b""
        node["sha256"] = hashlib.sha256(payload).hexdigest()
        node["size"] = len(payload)
        if part.get_content_maintype() == "text":
            node["text"] = decode_bytes(payload, node["charset"])
    return node


def main():
    data = sys.stdin.buffer.read()
    msg = email.message_from_bytes(data, policy=email.policy.default)
    raw = email.message_from_bytes(data, policy=email.policy.compat32)
    result = describe(raw, msg)
    defects = []
    header_defects = []
    for part in msg.walk():
        defects += [type(d).__name__ for d in part.defects]
        # header values are parsed when read: "Field: text of the defect"
        for name, value in part.items():
            header_defects += [name + ": " + str(d) for d in getattr(value, "defects", ())]
    result["headerDefects"] = header_defects
    head = data.split(b"\r\n\r\n", 1)[0]
    result["longestHeaderLine"] = max(len(line) for line in head.split(b"\r\n"))
    result["longestLine"] = max(len(line) for line in data.split(b"\r\n"))
    result["eightBit"] = any(b >= 0x80 for b in data)
    result["bareLineFeeds"] = data.replace(b"\r\n", b"").count(b"\n")
    result["defects"] = defects
    result["headerNames"] = list(raw.keys())
    result["subject"] = decode_words(raw.get("Subject"))
    from_raw = raw.get("From") or ""
    result["fromRaw"] = from_raw
    name, address = email.utils.parseaddr(from_raw)
    result["fromName"] = decode_words(name) if name else ""
    result["fromAddress"] = address
    result["to"] = [a for _, a in email.utils.getaddresses(raw.get_all("To") or [])]
    result["toNames"] = [decode_words(n) if n else ""
                         for n, _ in email.utils.getaddresses(raw.get_all("To") or [])]
    result["cc"] = [a for _, a in email.utils.getaddresses(raw.get_all("Cc") or [])]
    result["messageId"] = raw.get("Message-ID")
    result["xMailer"] = raw.get("X-Mailer")
    result["date"] = raw.get("Date")
    # unfolded, the white space RFC 2369 lets a URL carry taken out again
    lu = raw.get("List-Unsubscribe")
    result["listUnsubscribe"] = "".join(str(lu).split()) if lu is not None else None
    result["listUnsubscribePost"] = raw.get("List-Unsubscribe-Post")
    result["listId"] = decode_words(raw.get("List-Id"))
    print(json.dumps(result))


if __name__ == "__main__":
    main()
