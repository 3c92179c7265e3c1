#!/usr/bin/python3
"""A real SMTP server on loopback for the send-run tests (aiosmtpd).

Every accepted message is written to OUTDIR as NNNNNN.eml (the bytes after DATA, dot fix
undone) before the server answers 250, and one JSON line per message (file, sender,
recipients) is appended to OUTDIR/index.jsonl, and one line per QUIT to OUTDIR/quits.txt
(the client has dealt with every reply before it). The first line on standard output is
"PORT <n>". The server runs until its standard input closes or it is killed.

  --reject-rcpt REGEX   answer 550 to RCPT TO addresses matching REGEX
  --fail-data N         answer 451 to the end of data of every message from the Nth on
  --greylist REGEX      answer 451 to the first RCPT TO of each address matching REGEX
  --pipelining          offer PIPELINING after EHLO (aiosmtpd reads the commands of a
                        pipelined client in order from its stream, but does not say so)
  --data-delay MS       wait MS milliseconds before answering each end of data
  --drop-data N         close the connection at the end of data of the Nth message,
                        without a reply and without keeping it
  --provider NAME       refuse past --per-minute / --per-day messages as NAME does, in its
                        words and at its stage: "ms365" after the data, "gmail" at MAIL FROM
                        (day) and RCPT (minute); every refusal is a line "AT KIND" in limits.txt
  --clock FILE          the time is the number of ms since the epoch in FILE (the test's
                        clock); each accepted message's "at" in the index is that time
"""
import argparse
import asyncio
import json
import os
import re
import sys
import threading
import time

LIMIT_REPLIES = {
    ("ms365", "minute"): "432 4.3.2 STOREDRV.ClientSubmit; sender thread limit exceeded",
    ("ms365", "day"): "554 5.2.0 STOREDRV.Submission.Exception:SubmissionQuotaExceededException;"
                      " Failed to process message due to a permanent exception",
    ("gmail", "minute"): "421 4.7.0 Try again later, closing connection. - gsmtp",
    ("gmail", "day"): "550-5.4.5 Daily user sending limit exceeded. For more information on Gmail\r\n"
                      "550-5.4.5 sending limits go to\r\n"
                      "550 5.4.5  https://support.google.com/a/answer/166852 - gsmtp",
}

from aiosmtpd.smtp import SMTP


class Store:
    def __init__(self, outdir, reject, fail_data, greylist="", pipelining=False, data_delay=0,
                 drop_data=0):
        self.outdir = outdir
        self.data_delay = data_delay / 1000.0
        self.drop_data = drop_data
        self.pipelining = pipelining
        self.greylist = re.compile(greylist) if greylist else None
        self.greylisted = set()
        self.reject = re.compile(reject) if reject else None
        self.fail_data = fail_data
        self.count = 0
        self.seen = 0
        self.provider = None
        self.per_minute = 0
        self.per_day = 0
        self.clock = ""
        self.accepted = []  # times of the accepted messages

    def now(self):
        if not self.clock:
            return int(time.time() * 1000)
        with open(self.clock) as f:
            return int(f.read().strip() or "0")

    def over(self):
        """The limit the next message would break: "minute", "day" or None."""
        if not self.provider:
            return None
        now = self.now()
        if self.per_day and sum(1 for t in self.accepted if t > now - 86400000) >= self.per_day:
            return "day"
        if self.per_minute and sum(1 for t in self.accepted if t > now - 60000) >= self.per_minute:
            return "minute"
        return None

    def refuse(self, limit):
        with open(os.path.join(self.outdir, "limits.txt"), "a") as f:
            f.write("%d %s\n" % (self.now(), limit))
        return LIMIT_REPLIES[(self.provider, limit)]

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.provider == "gmail" and self.over() == "day":
            return self.refuse("day")
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.pipelining:
            responses.insert(1, "250-PIPELINING")
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.provider == "gmail" and self.over() == "minute":
            return self.refuse("minute")
        if self.reject and self.reject.search(address):
            return "550 Mailbox unavailable"
        if self.greylist and self.greylist.search(address) and address not in self.greylisted:
            self.greylisted.add(address)
            return "451 4.7.1 Greylisted, try again later"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        with open(os.path.join(self.outdir, "quits.txt"), "a") as f:
            f.write("QUIT\n")
        return "221 Bye"

    async def handle_DATA(self, server, session, envelope):
        self.seen += 1
        if self.drop_data and self.seen == self.drop_data:
            server.transport.abort()
            return "421 gone"
        if self.data_delay:
            await asyncio.sleep(self.data_delay)
        if self.fail_data and self.seen >= self.fail_data:
            return "451 Try again later"
        # Gmail's checks at MAIL and RCPT can pass for several sessions at once: the count
        # is kept exact at the data as well
        limit = self.over()
        if limit:
            return self.refuse(limit)
        at = self.now()
        self.accepted.append(at)
        self.count += 1
        name = "%06d.eml" % self.count
        path = os.path.join(self.outdir, name)
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        with open(path + ".part", "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.rename(path + ".part", path)
        with open(os.path.join(self.outdir, "index.jsonl"), "a") as f:
            f.write(json.dumps({"file": name, "from": envelope.mail_from,
                                "to": envelope.rcpt_tos, "at": at}) + "\n")
            f.flush()
            os.fsync(f.fileno())
        return "250 Message accepted"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("outdir")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--reject-rcpt", default="")
    ap.add_argument("--fail-data", type=int, default=0)
    ap.add_argument("--greylist", default="")
    ap.add_argument("--pipelining", action="store_true")
    ap.add_argument("--data-delay", type=int, default=0)
    ap.add_argument("--drop-data", type=int, default=0)
    ap.add_argument("--provider", default="")
    ap.add_argument("--per-minute", type=int, default=0)
    ap.add_argument("--per-day", type=int, default=0)
    ap.add_argument("--clock", default="")
    # more sessions at once than this are refused at the greeting, as Microsoft 365 does
    ap.add_argument("--max-connections", type=int, default=0)
    args = ap.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    store = Store(args.outdir, args.reject_rcpt, args.fail_data, args.greylist, args.pipelining,
                  args.data_delay, args.drop_data)
    store.provider = args.provider or None
    store.per_minute, store.per_day, store.clock = args.per_minute, args.per_day, args.clock

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    sessions = {"open": 0, "peak": 0, "refused": 0}

    def note():
        # the most sessions open at once and the refused ones, for the test to read
        with open(os.path.join(args.outdir, "connections.txt"), "w") as f:
            f.write("%d %d\n" % (sessions["peak"], sessions["refused"]))

    class Counted(SMTP):
        def connection_lost(self, exc):
            sessions["open"] -= 1
            super().connection_lost(exc)

    class Refuse(asyncio.Protocol):
        def connection_made(self, transport):
            sessions["refused"] += 1
            note()
            transport.write(b"432 4.3.2 Concurrent connections limit exceeded. Visit "
                            b"https://aka.ms/concurrent_sending for more information.\r\n")
            transport.close()

    def factory():
        if args.max_connections and sessions["open"] >= args.max_connections:
            return Refuse()
        # counted as the session is accepted: its connection_made comes later
        sessions["open"] += 1
        sessions["peak"] = max(sessions["peak"], sessions["open"])
        note()
        # 8-bit bodies and long lines are accepted as they come
        return Counted(store, decode_data=False, enable_SMTPUTF8=True, hostname="capture.test",
                       data_size_limit=0)

    server = loop.run_until_complete(loop.create_server(factory, "127.0.0.1", args.port))
    port = server.sockets[0].getsockname()[1]
    print("PORT %d" % port, flush=True)

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except Exception:
            pass
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=watch_stdin, daemon=True).start()
    loop.run_forever()


if __name__ == "__main__":
    main()
