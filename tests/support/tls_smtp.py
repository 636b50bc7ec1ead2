"""Submission relays for the tests: aiosmtpd behind TLS with a login.

Makes a throw-away CA and server certificates with the openssl command in
a folder, then starts one aiosmtpd per kind of relay on free loopback
ports. Every relay but "plain" wants a login (AUTH PLAIN or LOGIN) as USER
with PASSWORD before it takes a mail:

  starttls   STARTTLS required, certificate for localhost and 127.0.0.1
  tls        TLS from the first byte, the same certificate
  loginonly  as starttls, offering AUTH LOGIN only
  plain      no STARTTLS at all
  wronghost  STARTTLS with a certificate for another host name
  unknownca  STARTTLS with a certificate from a CA nobody trusts

Each mail and each MAIL FROM a relay sees is appended as a JSON line to
FOLDER/events.jsonl ({"server", "event": "MAIL" or "DATA", ...}).

As a program (Debian's interpreter):
  /usr/bin/python3 tls_smtp.py FOLDER USER PASSWORD
prints "READY " + JSON {"ports": {...}, "ca": path} and serves until its
standard input closes; with --certificates FOLDER it only makes the
certificates. Python tests import start() instead.
"""
import base64
import json
import logging
import os
import socket
import ssl
import subprocess
import sys
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def _openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)


def make_certificates(folder):
    """ca.pem (trusted by the tests), and three server certificates."""
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2"]
    for ca in ("ca", "rogue-ca"):
        _openssl("req", "-x509", *ec, "-keyout", f"{folder}/{ca}.key", "-out", f"{folder}/{ca}.pem",
                 "-subj", f"/CN=Pulsewatch test {ca}",
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    for name, ca, names in (("good", "ca", "DNS:localhost,IP:127.0.0.1"),
                            ("wronghost", "ca", "DNS:other.example"),
                            ("unknownca", "rogue-ca", "DNS:localhost,IP:127.0.0.1")):
        _openssl("req", "-x509", *ec, "-keyout", f"{folder}/{name}.key",
                 "-out", f"{folder}/{name}.pem", "-subj", "/CN=" + names.split(",")[0][4:],
                 "-CA", f"{folder}/{ca}.pem", "-CAkey", f"{folder}/{ca}.key",
                 "-addext", "subjectAltName=" + names,
                 "-addext", "basicConstraints=critical,CA:FALSE",
                 "-addext", "extendedKeyUsage=serverAuth")
    return os.path.join(folder, "ca.pem")


def _context(folder, name):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(f"{folder}/{name}.pem", f"{folder}/{name}.key")
    return context


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class _Relay(Controller):
    def __init__(self, name, events, **kwargs):
        self.name = name
        self.events = events
        super().__init__(_Recorder(name, events), hostname="127.0.0.1", port=_free_port(),
                         **kwargs)

    def factory(self):
        relay = self

        class RecordingSMTP(SMTP):
            async def smtp_MAIL(self, arg):
                relay.events({"server": relay.name, "event": "MAIL", "arg": arg})
                await super().smtp_MAIL(arg)

        return RecordingSMTP(self.handler, **self.SMTP_kwargs)


class _Recorder:
    def __init__(self, name, events):
        self.name = name
        self.events = events

    async def handle_DATA(self, server, session, envelope):
        self.events({"server": self.name, "event": "DATA", "mail_from": envelope.mail_from,
                     "rcpt_tos": envelope.rcpt_tos,
                     "data": base64.b64encode(envelope.original_content).decode("ascii")})
        return "250 OK"


def start(folder, user, password):
    """Starts every relay; returns ({name: port}, ca.pem path, stop())."""
    # The implicit-TLS relay wants AUTH without STARTTLS, which aiosmtpd
    # warns about; the connection is TLS all the same.
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    ca = make_certificates(folder)
    path = os.path.join(folder, "events.jsonl")

    def events(record):
        with open(path, "a", encoding="utf-8") as f:
            f.write(json.dumps(record) + "\n")

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        return AuthResult(success=ok, handled=False)  # aiosmtpd answers 235 or 535

    login = {"authenticator": authenticator, "auth_required": True}
    kinds = {
        "starttls": {"tls_context": _context(folder, "good"), "require_starttls": True, **login},
        "tls": {"ssl_context": _context(folder, "good"), "auth_require_tls": False, **login},
        "loginonly": {"tls_context": _context(folder, "good"), "require_starttls": True,
                      "auth_exclude_mechanism": ["PLAIN"], **login},
        "plain": {},
        "wronghost": {"tls_context": _context(folder, "wronghost"), "require_starttls": True,
                      **login},
        "unknownca": {"tls_context": _context(folder, "unknownca"), "require_starttls": True,
                      **login},
    }
    relays = []
    for name, kwargs in kinds.items():
        for attempt in range(5):  # another process may take the port meanwhile
            relay = _Relay(name, events, server_hostname="relay.test", **kwargs)
            try:
                relay.start()
                relays.append(relay)
                break
            except OSError:
                relay.stop(no_assert=True)
        else:
            raise RuntimeError("no free port for the relay " + name)

    def stop():
        for r in relays:
            r.stop()

    return {r.name: r.port for r in relays}, ca, stop


def main():
    if sys.argv[1] == "--certificates":
        make_certificates(sys.argv[2])
        return
    folder, user, password = sys.argv[1:4]
    ports, ca, stop = start(folder, user, password)
    print("READY " + json.dumps({"ports": ports, "ca": ca}), flush=True)
    try:
        sys.stdin.read()  # runs until the test closes our standard input
    finally:
        stop()


if __name__ == "__main__":
    main()
