"""A local SMTP server for the tests: accepts every message and appends
each one as a JSON line (sender, recipients, raw data in base64) to a file.
Prints "READY <port>" once it listens on 127.0.0.1.

With --postfix-checks it refuses what a Postfix relay configured with

  smtpd_helo_restrictions = reject_invalid_helo_hostname,
                            reject_non_fqdn_helo_hostname
  smtpd_sender_restrictions = reject_non_fqdn_sender

refuses, as Postfix documents those restrictions (postconf(5)): with the
default smtpd_delay_reject = yes they are applied at RCPT TO, HELO first,
with invalid_hostname_reject_code 501 and non_fqdn_reject_code 504.

Run with Debian's interpreter: /usr/bin/python3 smtp_sink.py [--postfix-checks] OUTPUT_FILE
"""
import asyncio
import base64
import ipaddress
import json
import socket
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP


class RawMailFromSMTP(SMTP):
    """Keeps the MAIL FROM argument as it was sent: aiosmtpd's own parsing
    drops what looks like an address comment."""

    async def smtp_MAIL(self, arg):
        self.raw_mail_from = arg
        await super().smtp_MAIL(arg)


def truncated(name):
    """A name ending in one dot (not two) without it, as Postfix compares."""
    return name[:-1] if name.endswith(".") and not name.endswith("..") else name


def valid_hostname(name):
    """Letters, digits, "_" and inner hyphens in labels of 1 to 63, at most
    255 in all, not all numeric."""
    if not name or len(name) > 255:
        return False
    for label in name.split("."):
        if not label or len(label) > 63 or label[0] == "-" or label[-1] == "-":
            return False
        if not all(c.isascii() and (c.isalnum() or c in "-_") for c in label):
            return False
    return any(not c.isdigit() for c in name if c != ".")


def valid_hostaddr(text):
    """A dotted quad, or an IPv6 address (no "IPv6:" prefix)."""
    if ":" in text:
        try:
            ipaddress.IPv6Address(text)
            return True
        except ValueError:
            return False
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isdigit() and int(p) <= 255 for p in parts):
        return False
    return parts[0] != "0" or text.strip("0.") == ""  # 0.0.0.0, but not 0.1.2.3


def valid_address_literal(literal):
    """[192.0.2.1] or [IPv6:2001:db8::1]."""
    if not (literal.startswith("[") and literal.endswith("]") and len(literal) > 2):
        return False
    inner = literal[1:-1]
    if inner[:5].lower() == "ipv6:":
        return ":" in inner[5:] and valid_hostaddr(inner[5:])
    return ":" not in inner and valid_hostaddr(inner)


def postfix_refusal(helo, sender):
    """The reply Postfix gives at RCPT TO under the three restrictions, or None."""
    if helo is not None:
        if helo.startswith("["):
            if not valid_address_literal(helo):
                return "501 5.5.2 <%s>: Helo command rejected: invalid ip address" % helo
        else:
            name = truncated(helo)
            if not valid_hostname(name) and not valid_hostaddr(name):
                return "501 5.5.2 <%s>: Helo command rejected: Invalid name" % helo
            if not valid_hostname(name) or "." not in name:
                return "504 5.5.2 <%s>: Helo command rejected: need fully-qualified hostname" % helo
    if sender:
        domain = sender.rpartition("@")[2] if "@" in sender else ""
        if not (domain.startswith("[") and domain.endswith("]")):
            domain = truncated(domain)
            if not domain or not valid_hostname(domain) or "." not in domain:
                return "504 5.5.2 <%s>: Sender address rejected: need fully-qualified address" % sender
    return None


def raw_address(arg):
    """The address between the angle brackets of a MAIL FROM argument."""
    start, end = arg.find("<"), arg.find(">")
    return arg[start + 1:end] if 0 <= start < end else arg.partition(":")[2].strip()


class RawController(Controller):
    def factory(self):
        return RawMailFromSMTP(self.handler, **self.SMTP_kwargs)


class Sink:
    def __init__(self, path, postfix_checks=False):
        self.path = path
        self.postfix_checks = postfix_checks

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.postfix_checks:
            refusal = postfix_refusal(session.host_name,
                                      raw_address(getattr(server, "raw_mail_from", "")))
            if refusal:
                return refusal
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        record = {
            "mail_from": envelope.mail_from,
            "raw_mail_from": getattr(server, "raw_mail_from", ""),
            "rcpt_tos": envelope.rcpt_tos,
            "data": base64.b64encode(envelope.original_content).decode("ascii"),
        }
        with open(self.path, "a", encoding="utf-8") as f:
            f.write(json.dumps(record) + "\n")
        return "250 OK"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    args = sys.argv[1:]
    checks = "--postfix-checks" in args
    path = [a for a in args if a != "--postfix-checks"][0]
    for attempt in range(5):  # another process may take the port meanwhile
        port = free_port()
        controller = RawController(Sink(path, checks), hostname="127.0.0.1", port=port,
                                decode_data=False)
        try:
            controller.start()
            break
        except OSError:
            controller.stop()
    else:
        sys.exit("no free port for the SMTP sink")
    print("READY %d" % port, flush=True)
    try:
        sys.stdin.read()  # runs until the test closes our standard input
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
