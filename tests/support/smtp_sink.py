"""A local SMTP server for the tests: accepts every message and appends
each one as a JSON line (sender, recipients, raw data in base64) to a file.
Prints "READY <port>" once it listens on 127.0.0.1.

Run with Debian's interpreter: /usr/bin/python3 smtp_sink.py OUTPUT_FILE
"""
import asyncio
import base64
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


class RawController(Controller):
    def factory(self):
        return RawMailFromSMTP(self.handler, **self.SMTP_kwargs)


class Sink:
    def __init__(self, path):
        self.path = path

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
    for attempt in range(5):  # another process may take the port meanwhile
        port = free_port()
        controller = RawController(Sink(sys.argv[1]), hostname="127.0.0.1", port=port,
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
