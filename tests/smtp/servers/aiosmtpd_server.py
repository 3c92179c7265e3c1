#!/usr/bin/python3
"""A real SMTP server on loopback for the tests, on Debian's python3-aiosmtpd.

Usage: aiosmtpd_server.py [--mode plain|tls|starttls] [--cert F --key F]
                          [--user NAME:PASSWORD ...] [--cram] [--auth-required]
                          [--out DIR] [--port N] [--data-delay MS]

Listens on 127.0.0.1 on the given port or one the system picks and prints "READY <port>" on a line of its
own once it accepts connections. Runs until its standard input is closed (so it never outlives
the test that started it) or it receives SIGTERM.

  plain     no TLS
  tls       TLS from the first byte (implicit TLS); AUTH allowed on it
  starttls  STARTTLS offered and required before AUTH and MAIL
--user      an account; LOGIN and PLAIN are offered whenever an account exists
--cram      also offer CRAM-MD5, checking the client's digest against the account's password
--out DIR   every accepted message is written to DIR/<n>.eml exactly as received (after the
            transparency dots are removed) and DIR/<n>.json holds its envelope:
            {"mail_from": ..., "rcpt_tos": [...], "auth_login": ..., "mechanism": ...}
--data-delay MS  wait MS milliseconds before answering each end of data (a slow server)
Events ("AUTH ok LOGIN user", "AUTH refused PLAIN user") go to standard output as lines.
"""
import argparse
import asyncio
import base64
import hashlib
import hmac
import json
import os
import signal
import ssl
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mode", default="plain", choices=["plain", "tls", "starttls"])
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--user", action="append", default=[])
    p.add_argument("--cram", action="store_true")
    p.add_argument("--auth-required", action="store_true")
    p.add_argument("--out")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--data-delay", type=int, default=0)
    a = p.parse_args()

    accounts = {}
    for u in a.user:
        name, _, password = u.partition(":")
        accounts[name.encode()] = password.encode()

    def event(text):
        sys.stdout.write(text + "\n")
        sys.stdout.flush()

    def authenticator(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            ok = accounts.get(auth_data.login) == auth_data.password
            event("AUTH %s %s %s" % ("ok" if ok else "refused", mechanism,
                                     auth_data.login.decode("utf-8", "replace")))
            session.pw_mechanism = mechanism
            # handled=False: aiosmtpd then sends its own 535 on failure
            return AuthResult(success=ok, handled=False, auth_data=auth_data)
        return AuthResult(success=False)

    counter = {"n": 0}

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            if a.data_delay:
                await asyncio.sleep(a.data_delay / 1000.0)
            if a.out:
                counter["n"] += 1
                n = counter["n"]
                with open(os.path.join(a.out, "%d.eml" % n), "wb") as f:
                    f.write(envelope.original_content or b"")
                with open(os.path.join(a.out, "%d.json" % n), "w") as f:
                    json.dump({
                        "mail_from": envelope.mail_from,
                        "rcpt_tos": envelope.rcpt_tos,
                        "auth_login": (session.login_data or b"").decode("utf-8", "replace")
                        if isinstance(session.login_data, bytes) else session.login_data,
                        "mechanism": getattr(session, "pw_mechanism", None),
                    }, f)
            return "250 2.0.0 Message accepted for delivery"

        async def auth_CRAM__MD5(self, server, args):
            challenge = ("<%d.%d@postwick.test>" % (os.getpid(), counter["n"])).encode()
            answer = await server.challenge_auth(challenge)
            if not isinstance(answer, bytes) or b" " not in answer:
                return AuthResult(success=False, handled=False)
            login, _, digest = answer.rpartition(b" ")
            password = accounts.get(login)
            expected = hmac.new(password, challenge, hashlib.md5).hexdigest().encode() \
                if password is not None else None
            ok = expected is not None and hmac.compare_digest(expected, digest)
            event("AUTH %s CRAM-MD5 %s" % ("ok" if ok else "refused",
                                           login.decode("utf-8", "replace")))
            server.session.pw_mechanism = "CRAM-MD5"
            return AuthResult(success=ok, handled=False,
                              auth_data=LoginPassword(login, b""))

    if not a.cram:
        del Handler.auth_CRAM__MD5

    context = None
    if a.mode in ("tls", "starttls"):
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = Handler()

    def factory():
        kwargs = dict(hostname="postwick-test", loop=loop,
                      authenticator=authenticator if accounts else None,
                      auth_required=a.auth_required)
        if a.mode == "starttls":
            kwargs.update(tls_context=context, require_starttls=True, auth_require_tls=True)
        else:
            kwargs.update(auth_require_tls=False)
        if not accounts:
            kwargs["auth_exclude_mechanism"] = ["LOGIN", "PLAIN"]
        return SMTP(handler, **kwargs)

    server = loop.run_until_complete(loop.create_server(
        factory, host="127.0.0.1", port=a.port, ssl=context if a.mode == "tls" else None))
    port = server.sockets[0].getsockname()[1]

    def stdin_watch():
        sys.stdin.buffer.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=stdin_watch, daemon=True).start()
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    event("READY %d" % port)
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    main()
