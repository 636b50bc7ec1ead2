"""Decodes a raw mail (file named on the command line) with Python's own
email package and prints its subject, addresses and body as JSON, so the
tests check the library's encodings against an independent decoder.

Run with Debian's interpreter: /usr/bin/python3 mail_decode.py FILE
"""
import json
import sys
from email import message_from_bytes, policy

with open(sys.argv[1], "rb") as f:
    msg = message_from_bytes(f.read(), policy=policy.default)
print(json.dumps({
    "subject": str(msg["subject"]),
    "from": str(msg["from"]),
    "to": str(msg["to"] or ""),
    "cc": str(msg["cc"] or ""),
    "bcc": str(msg["bcc"] or ""),
    "charset": msg.get_content_charset() or "",
    "body": msg.get_content(),
    "from_names": [a.display_name for a in msg["from"].addresses] if msg["from"] else [],
    "message_id": str(msg["message-id"] or ""),
    "date": str(msg["date"] or ""),
}, ensure_ascii=False))
