#!/usr/bin/python3
"""A fake OAuth 2.0 provider and an SMTP server that takes its bearer tokens, for the tests.

Usage: oauth_servers.py --client-id ID [--client-secret S] --user ADDRESS [--out DIR]
                        [--mechanisms XOAUTH2,OAUTHBEARER] [--revoked] [--slow-token SECONDS]
                        [--expires-in SECONDS] [--drop-after N] [--refuse-tokens]
                        [--rotate] [--refresh-token TOKEN] [--deny DESCRIPTION]

Prints "READY <smtp port>" and then "HTTP <port>" (the authorization server), each on a line of
its own, and runs until its standard input closes.

The authorization server (http.server on 127.0.0.1):
  GET  /authorize   checks client_id, response_type=code and a S256 code_challenge, then
                    redirects to redirect_uri with a code and the state
  POST /token       grant_type=authorization_code: the code, redirect_uri, client id (and
                    secret) and a code_verifier whose S256 is the challenge; grant_type=
                    refresh_token: the refresh token, refused as invalid_grant once revoked
--revoked           the refresh token is revoked from the start (a sign-in still works, the
                    first refresh fails)
--slow-token S      /token answers after S seconds
--expires-in S      the access tokens' lifetime told to the client (default 3600)
--rotate            each refresh gives a new refresh token and retires the one used
--refresh-token T   the refresh token known from the start (a sign-in made before)
--deny D            /authorize redirects with error=access_denied, this description and the state

The SMTP server (aiosmtpd) offers only the bearer mechanisms and accepts a token the
authorization server issued and that has not expired. A refused token gets the JSON status
challenge of RFC 7628, then 535.
--drop-after N      after the Nth message every token issued so far expires, and the connection
                    breaks at the next MAIL FROM (an access token that runs out half-way)
--refuse-tokens     every token is refused
--out DIR           accepted messages as DIR/<n>.eml, envelopes as DIR/<n>.json
Events on standard output: "AUTHORIZE ok", "TOKEN code ok", "TOKEN code refused <why>",
"TOKEN refresh ok", "TOKEN refresh revoked", "AUTHORIZE denied", "AUTH ok <mechanism> <user> <token>",
"AUTH refused <mechanism> <user>", "DROP".
"""
import argparse
import asyncio
import base64
import hashlib
import http.server
import json
import os
import signal
import sys
import threading
import time
import urllib.parse

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--client-id", required=True)
    p.add_argument("--client-secret", default="")
    p.add_argument("--user", required=True)
    p.add_argument("--out")
    p.add_argument("--mechanisms", default="XOAUTH2,OAUTHBEARER")
    p.add_argument("--revoked", action="store_true")
    p.add_argument("--slow-token", type=float, default=0)
    p.add_argument("--expires-in", type=int, default=3600)
    p.add_argument("--drop-after", type=int, default=0)
    p.add_argument("--refuse-tokens", action="store_true")
    p.add_argument("--rotate", action="store_true")
    p.add_argument("--refresh-token")
    p.add_argument("--deny")
    a = p.parse_args()

    lock = threading.Lock()
    state = {"codes": {}, "tokens": set(), "serial": 0,
             "refresh": a.refresh_token or "rt-%d" % os.getpid(),
             "revoked": a.revoked, "messages": 0}

    def event(text):
        with lock:
            sys.stdout.write(text + "\n")
            sys.stdout.flush()

    def new_access_token():
        with lock:
            state["serial"] += 1
            token = "at-%d-%d" % (os.getpid(), state["serial"])
            state["tokens"].add(token)
        return token

    class Provider(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def reply(self, status, body, headers=()):
            data = json.dumps(body).encode() if isinstance(body, dict) else body
            self.send_response(status)
            for k, v in headers:
                self.send_header(k, v)
            if isinstance(body, dict):
                self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            q = dict(urllib.parse.parse_qsl(url.query))
            if url.path != "/authorize":
                return self.reply(404, {"error": "not_found"})
            if q.get("client_id") != a.client_id or q.get("response_type") != "code" \
                    or q.get("code_challenge_method") != "S256" or not q.get("code_challenge") \
                    or not q.get("redirect_uri", "").startswith("http://127.0.0.1:"):
                event("AUTHORIZE refused")
                return self.reply(400, {"error": "invalid_request"})
            if a.deny is not None:
                target = q["redirect_uri"] + "?" + urllib.parse.urlencode(
                    {"error": "access_denied", "error_description": a.deny,
                     "state": q.get("state", "")})
                event("AUTHORIZE denied")
                return self.reply(302, b"", [("Location", target)])
            code = "code%d" % len(state["codes"])
            with lock:
                state["codes"][code] = (q["code_challenge"], q["redirect_uri"])
            target = q["redirect_uri"] + ("&" if "?" in q["redirect_uri"] else "?") + \
                urllib.parse.urlencode({"code": code, "state": q.get("state", "")})
            event("AUTHORIZE ok")
            self.reply(302, b"", [("Location", target)])

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
            if self.path != "/token":
                return self.reply(404, {"error": "not_found"})
            if a.slow_token:
                time.sleep(a.slow_token)
            if form.get("client_id") != a.client_id or \
                    form.get("client_secret", "") != a.client_secret:
                event("TOKEN refused client")
                return self.reply(401, {"error": "invalid_client"})
            grant = form.get("grant_type")
            if grant == "authorization_code":
                with lock:
                    challenge, redirect = state["codes"].pop(form.get("code", ""), (None, None))
                verifier = form.get("code_verifier", "")
                if challenge is None or redirect != form.get("redirect_uri"):
                    event("TOKEN code refused code")
                    return self.reply(400, {"error": "invalid_grant"})
                if b64url(hashlib.sha256(verifier.encode()).digest()) != challenge:
                    event("TOKEN code refused pkce")
                    return self.reply(400, {"error": "invalid_grant",
                                            "error_description": "PKCE verification failed"})
                event("TOKEN code ok")
                id_token = ".".join([b64url(b'{"alg":"none"}'),
                                     b64url(json.dumps({"email": a.user}).encode()), "x"])
                return self.reply(200, {"access_token": new_access_token(),
                                        "token_type": "Bearer", "expires_in": a.expires_in,
                                        "refresh_token": state["refresh"],
                                        "id_token": id_token})
            if grant == "refresh_token":
                if state["revoked"] or form.get("refresh_token") != state["refresh"]:
                    event("TOKEN refresh revoked")
                    return self.reply(400, {"error": "invalid_grant",
                                            "error_description": "Token has been revoked."})
                event("TOKEN refresh ok")
                answer = {"access_token": new_access_token(), "token_type": "Bearer",
                          "expires_in": a.expires_in}
                if a.rotate:
                    with lock:
                        state["refresh"] = "rt-%d-r%d" % (os.getpid(), state["serial"])
                        answer["refresh_token"] = state["refresh"]
                return self.reply(200, answer)
            return self.reply(400, {"error": "unsupported_grant_type"})

    httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Provider)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()

    def check(mechanism, initial):
        fields = initial.split(b"\x01")
        user = token = None
        for f in fields:
            if f.startswith(b"user="):
                user = f[5:].decode()
            elif f.startswith(b"n,a="):
                user = f[4:].rstrip(b",").decode()
            elif f.startswith(b"auth=Bearer "):
                token = f[12:].decode()
        with lock:
            ok = not a.refuse_tokens and user == a.user and token in state["tokens"]
        return ok, user, token

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            with lock:
                state["messages"] += 1
                n = state["messages"]
            if a.out:
                with open(os.path.join(a.out, "%d.eml" % n), "wb") as f:
                    f.write(envelope.original_content or b"")
                with open(os.path.join(a.out, "%d.json" % n), "w") as f:
                    json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                               "mechanism": getattr(session, "pw_mechanism", None)}, f)
            if a.drop_after and n == a.drop_after:
                with lock:
                    state["tokens"].clear()
                    state["dropping"] = True
            return "250 2.0.0 Message accepted for delivery"

        async def handle_MAIL(self, server, session, envelope, address, mail_options):
            if state.pop("dropping", False):
                # the line breaks with the next mail's first command, as a lost connection
                event("DROP")
                server.transport.abort()
                return "421 4.4.2 connection dropped"
            envelope.mail_from = address
            envelope.mail_options.extend(mail_options)
            return "250 OK"

        async def bearer(self, server, args, mechanism):
            if len(args) < 2:
                return AuthResult(success=False, handled=False)
            initial = base64.b64decode(args[1])
            ok, user, token = check(mechanism, initial)
            if ok:
                event("AUTH ok %s %s %s" % (mechanism, user, token))
                server.session.pw_mechanism = mechanism
                return AuthResult(success=True, auth_data=LoginPassword(user.encode(), b""))
            event("AUTH refused %s %s" % (mechanism, user))
            status = {"status": "401", "schemes": "bearer", "scope": "https://mail.test/"}
            if mechanism == "OAUTHBEARER":
                status = {"status": "invalid_token", "scope": "https://mail.test/"}
            answer = await server.challenge_auth(json.dumps(status))
            # the client must answer the challenge: ^A for OAUTHBEARER, nothing for XOAUTH2
            expected = b"\x01" if mechanism == "OAUTHBEARER" else b""
            if answer != expected:
                event("AUTH bad answer to the challenge %r" % (answer,))
            return AuthResult(success=False, handled=False,
                              message="535 5.7.8 Username and Password not accepted")

        async def auth_XOAUTH2(self, server, args):
            return await self.bearer(server, args, "XOAUTH2")

        async def auth_OAUTHBEARER(self, server, args):
            return await self.bearer(server, args, "OAUTHBEARER")

    offered = a.mechanisms.split(",")
    if "XOAUTH2" not in offered:
        del Handler.auth_XOAUTH2
    if "OAUTHBEARER" not in offered:
        del Handler.auth_OAUTHBEARER

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    handler = Handler()

    def factory():
        return SMTP(handler, hostname="postwick-oauth-test", loop=loop, auth_require_tls=False,
                    auth_exclude_mechanism=["LOGIN", "PLAIN"], auth_required=True)

    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=0))
    port = server.sockets[0].getsockname()[1]

    def stdin_watch():
        sys.stdin.buffer.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=stdin_watch, daemon=True).start()
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    event("READY %d" % port)
    event("HTTP %d" % httpd.server_address[1])
    loop.run_forever()
    server.close()
    httpd.shutdown()


if __name__ == "__main__":
    main()
