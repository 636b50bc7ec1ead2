"""Sends one Japanese mail through the C interface from Python's ctypes, the
way the README shows it.

Usage: python3 ctypes_send.py LIBRARY PORT
Exit status 0 when the server accepted the mail.
"""
import ctypes
import sys

lib = ctypes.CDLL(sys.argv[1])
lib.mailwire_open.restype = ctypes.c_void_p
lib.mailwire_open.argtypes = [ctypes.c_char_p]
lib.mailwire_close.argtypes = [ctypes.c_void_p]
lib.mailwire_ErrorMessage.restype = ctypes.c_char_p
lib.mailwire_ErrorMessage.argtypes = [ctypes.c_void_p]
for name in ("setServerName", "setClientMailAddress", "setClientRealName", "SetTo",
             "SetSubject", "SetSentense"):
    getattr(lib, "mailwire_" + name).argtypes = [ctypes.c_void_p, ctypes.c_char_p]
lib.mailwire_setServerPort.argtypes = [ctypes.c_void_p, ctypes.c_int]
lib.mailwire_SendMail.argtypes = [ctypes.c_void_p]

m = lib.mailwire_open(b"VBMailwire.SmtpMailer")
lib.mailwire_setServerName(m, b"127.0.0.1")
lib.mailwire_setServerPort(m, int(sys.argv[2]))
lib.mailwire_setClientMailAddress(m, b"python@example.jp")
lib.mailwire_setClientRealName(m, "パイソン".encode())
lib.mailwire_SetTo(m, b"ops@example.jp")
lib.mailwire_SetSubject(m, "ctypes からの通知".encode())
lib.mailwire_SetSentense(m, "サーバーは復旧しました。\n".encode())
sent = lib.mailwire_SendMail(m) == 0
if not sent:
    print(lib.mailwire_ErrorMessage(m).decode(), file=sys.stderr)
lib.mailwire_close(m)
sys.exit(0 if sent else 1)
