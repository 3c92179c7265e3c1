#!/usr/bin/python3
"""A name server on loopback for the tests, on Debian's python3-dnslib.

    dns_server.py ZONEFILE [ADDRESS PORT]

Answers over UDP on 127.0.0.1 at a free port (or at ADDRESS and PORT) from the records of ZONEFILE (zone file lines,
e.g. 'example.test. 60 IN TXT "v=spf1 -all"'): the records of the name and type asked, no
records (NOERROR) for a name that has others, NXDOMAIN for an unknown name. Prints
"READY <port>", then one "Q <name> <type>" line per question; ends when its input closes.
"""

import socket
import sys
import threading

from dnslib import QTYPE, RCODE, RR, DNSRecord


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        records = RR.fromZone(f.read())
    names = {str(r.rname).lower() for r in records}

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    where = (sys.argv[2], int(sys.argv[3])) if len(sys.argv) > 3 else ("127.0.0.1", 0)
    sock.bind(where)
    print("READY %d" % sock.getsockname()[1], flush=True)

    def serve():
        while True:
            data, peer = sock.recvfrom(4096)
            try:
                query = DNSRecord.parse(data)
            except Exception:  # noqa: BLE001 - a test server ignores what it cannot read
                continue
            reply = query.reply()
            q = query.q
            name = str(q.qname).lower()
            print("Q %s %s" % (name, QTYPE[q.qtype]), flush=True)
            if name not in names:
                reply.header.rcode = RCODE.NXDOMAIN
            for r in records:
                if str(r.rname).lower() == name and r.rtype == q.qtype:
                    reply.add_answer(r)
            sock.sendto(reply.pack(), peer)

    threading.Thread(target=serve, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
