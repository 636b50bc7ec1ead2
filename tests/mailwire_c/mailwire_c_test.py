"""Mailwire for C, Python and the shell, through the installed tree.

Installs the library's component and the program's files into a throw-away
prefix, builds the C test program against that prefix with pkg-config
alone, and checks what C (built here and built from the prefix), Python's
ctypes and the mailwire command deliver to a real aiosmtpd, read back with
Python's email package.

Run with Debian's interpreter (it has aiosmtpd):
  /usr/bin/python3 mailwire_c_test.py BUILD_DIR C_PROGRAM C_COMPILER SANITIZE
"""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
from email import message_from_bytes, policy

try:
    from aiosmtpd.controller import Controller
except ImportError:
    print("SKIP: aiosmtpd is not installed (Debian package python3-aiosmtpd)")
    sys.exit(77)

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import tls_smtp  # noqa: E402  (beside the C++ tests' support code)
BUILD, C_PROGRAM, CC, SANITIZE = sys.argv[1:5]
SANITIZE = SANITIZE.upper() in ("ON", "1", "TRUE", "YES")
del sys.argv[1:5]


class Recorder:
    """Accepts every recipient except those whose name starts with "refused"."""

    def __init__(self):
        self.mails = []

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused"):
            return "550 5.1.1 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.mails.append((envelope.mail_from, list(envelope.rcpt_tos), envelope.original_content))
        return "250 OK"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def simplified(header):
    """The header text with runs of white space as one space: the encoder
    puts a space around each encoded word, which decoders keep."""
    return " ".join(str(header).split())


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, timeout=120, **kw)


class InstalledMailwire(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="mailwire-c-")
        cls.prefix = os.path.join(cls.tmp, "prefix")
        # The desktop component writes the operator's autostart entry:
        # everything else goes into the throw-away prefix.
        for component in ("mailwire", "Unspecified"):
            r = run(["cmake", "--install", BUILD, "--prefix", cls.prefix, "--component", component])
            if r.returncode != 0:
                raise RuntimeError(r.stdout.decode() + r.stderr.decode())
        cls.recorder = Recorder()
        for _ in range(5):  # another process may take the port meanwhile
            cls.port = free_port()
            cls.server = Controller(cls.recorder, hostname="127.0.0.1", port=cls.port)
            try:
                cls.server.start()
                break
            except OSError:
                cls.server.stop()
        else:
            raise RuntimeError("no free port for aiosmtpd")
        cls.closed_port = free_port()
        cls.env = dict(os.environ)
        if SANITIZE:
            # Python itself carries no sanitizer: its runtime must come first.
            asan = run([CC, "-print-file-name=libasan.so"]).stdout.decode().strip()
            cls.preload = {"LD_PRELOAD": asan, "ASAN_OPTIONS": "detect_leaks=0"}
        else:
            cls.preload = {}

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.recorder.mails.clear()

    def path(self, *parts):
        return os.path.join(self.prefix, *parts)

    def build_from_prefix(self):
        """The C test program compiled with nothing but the installed tree."""
        pc = dict(self.env, PKG_CONFIG_LIBDIR=self.path("lib", "pkgconfig"), PKG_CONFIG_PATH="")
        flags = run(["pkg-config", "--cflags", "--libs", "mailwire"], env=pc)
        libdir = run(["pkg-config", "--variable=libdir", "mailwire"], env=pc).stdout.decode().strip()
        self.assertEqual(flags.returncode, 0, flags.stderr)
        self.assertEqual(libdir, self.path("lib"))
        out = os.path.join(self.tmp, "c_send_installed")
        cmd = [CC, "-std=c99", "-Wall", "-Wextra", "-Wpedantic", "-Werror", "-pthread",
               os.path.join(HERE, "c_send.c"), "-o", out, "-Wl,-rpath," + libdir]
        cmd += flags.stdout.decode().split()
        if SANITIZE:
            cmd += ["-fsanitize=address,undefined"]
        r = run(cmd)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        return out

    def mails(self):
        """Each received mail: sender, recipients, raw bytes, parsed message."""
        return [(f, to, raw, message_from_bytes(raw, policy=policy.default))
                for f, to, raw in self.recorder.mails]

    def assertSevenBitCrLf(self, raw):
        self.assertFalse(any(b > 0x7F or b == 0 for b in raw), raw)
        self.assertNotIn(b"\n", raw.replace(b"\r\n", b""), "bare LF or CR in the message")
        self.assertNotIn(b"\r", raw.replace(b"\r\n", b""), "bare LF or CR in the message")

    def test_installed_tree(self):
        lib = self.path("lib")
        self.assertEqual(os.readlink(os.path.join(lib, "libmailwire.so")), "libmailwire.so.1")
        self.assertTrue(os.path.isfile(os.path.join(lib, "libmailwire.so.1")))
        soname = run(["readelf", "-d", os.path.join(lib, "libmailwire.so.1")]).stdout.decode()
        self.assertIn("[libmailwire.so.1]", soname)
        self.assertEqual(os.path.realpath(self.path("lib", "pulsewatch", "libmailwire.so")),
                         os.path.realpath(os.path.join(lib, "libmailwire.so.1")))
        for f in ("include/mailwire/mailwire_c.h", "include/mailwire/mailwire.h",
                  "share/man/man1/mailwire.1", "bin/mailwire", "lib/pulsewatch/pulsewatch"):
            self.assertTrue(os.path.isfile(self.path(f)), f)
        # The program's own folder needs nothing from the build tree.
        rpath = run(["readelf", "-d", self.path("bin", "mailwire")]).stdout.decode()
        self.assertIn("$ORIGIN/../lib", rpath)
        self.assertNotIn(BUILD, rpath)

    def test_c_program(self):
        for program in (C_PROGRAM, self.build_from_prefix()):
            with self.subTest(program=program):
                self.recorder.mails.clear()
                r = run([program, str(self.port), str(self.closed_port)], env=self.env)
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                (jf, jto, jraw, jmsg), (rf, rto, rraw, _) = self.mails()
                self.assertSevenBitCrLf(jraw)
                self.assertEqual(jf, "watch@example.jp")
                self.assertEqual(jto, ["to@example.jp", "cc@example.jp", "bcc@example.jp"])
                self.assertEqual(simplified(jmsg["subject"]), "サーバーダウンの可能性")
                self.assertEqual(jmsg["from"].addresses[0].display_name, "監視 サーバー")
                self.assertEqual(str(jmsg["to"]), "to@example.jp")
                self.assertEqual(str(jmsg["cc"]), "cc@example.jp")
                self.assertIsNone(jmsg["bcc"])
                self.assertNotIn(b"bcc@", jraw)
                self.assertEqual(jmsg.get_content_charset(), "iso-2022-jp")
                self.assertEqual(jmsg.get_content().replace("\r\n", "\n"),
                                 "☆サーバーダウン報告書\nサーバー名 = ファイルサーバー\n"
                                 ".ドットで始まる行\n\nASCII line\n")
                self.assertEqual((rf, rto), ("raw@example.jp", ["one@example.jp", "two@example.jp"]))
                self.assertEqual(rraw, b"Subject: raw\r\n\r\nfirst\r\n.second\r\n")

    def test_ctypes(self):
        for library in (self.path("lib", "libmailwire.so.1"),
                        self.path("lib", "pulsewatch", "libmailwire.so")):
            with self.subTest(library=library):
                self.recorder.mails.clear()
                r = run([sys.executable, os.path.join(HERE, "ctypes_send.py"), library,
                         str(self.port)], env=dict(self.env, **self.preload))
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                [(f, to, raw, msg)] = self.mails()
                self.assertSevenBitCrLf(raw)
                self.assertEqual((f, to), ("python@example.jp", ["ops@example.jp"]))
                self.assertEqual(simplified(msg["subject"]), "ctypes からの通知")
                self.assertEqual(msg["from"].addresses[0].display_name, "パイソン")
                self.assertEqual(msg.get_content().replace("\r\n", "\n"), "サーバーは復旧しました。\n")

    def test_command(self):
        command = self.path("bin", "mailwire")
        server = "127.0.0.1:%d" % self.port
        text = "本日の報告\nC:\\temp\\レポート.txt を見てください。\n"
        body_file = os.path.join(self.tmp, "body-cp932.txt")
        with open(body_file, "wb") as f:
            f.write(text.replace("\n", "\r\n").encode("cp932"))  # as written on Windows
        base = ["-f", "cron@example.jp", "-n", "定期 ジョブ", "-s", "夜間バッチの結果"]
        # name, arguments, standard input, LANG, status, text on stderr (or
        # stdout for --help), mail expected
        cases = [
            ("utf-8 on stdin", ["-S", server, "-t", "a@example.jp", "-c", "c@example.jp",
                                "-b", "b@example.jp"] + base, text.encode(), "C", 0, "", True),
            ("cp932 on stdin", ["-S", server, "-t", "a@example.jp", "-e", "cp932"] + base,
             text.encode("cp932"), "C", 0, "", True),
            ("cp932 file with CR LF", ["--server", server, "--to", "a@example.jp",
                                       "--encoding=CP932", "--body-file", body_file] + base,
             b"", "C", 0, "", True),
            ("cp932 read as utf-8", ["-S", server, "-t", "a@example.jp"] + base,
             text.encode("cp932"), "C", 2, "not UTF-8", False),
            ("utf-8 read as cp932", ["-S", server, "-t", "a@example.jp", "-e", "cp932"] + base,
             "髙橋\n".encode() + b"\xff", "C", 2, "not valid CP932", False),
            ("refused recipient", ["-S", server, "-t", "refused@example.jp"] + base,
             text.encode(), "C", 1, "mailwire: 550 SMTP Defined Error: 9004", False),
            ("no server listening", ["-S", "127.0.0.1:%d" % self.closed_port,
                                     "-t", "a@example.jp", "-T", "5"] + base,
             text.encode(), "C", 1, "mailwire: ??? ", False),
            ("missing server", ["-t", "a@example.jp"] + base, text.encode(), "C", 2,
             "no server (-S)\nUsage: mailwire -S HOST[:PORT]", False),
            ("missing server, Japanese", ["-t", "a@example.jp"] + base, text.encode(),
             "ja_JP.UTF-8", 2, "サーバー (-S) がありません\n使い方: mailwire", False),
            ("port out of range", ["-S", "127.0.0.1:65536", "-t", "a@example.jp"], b"", "C", 2,
             "wrong server 127.0.0.1:65536", False),
            ("no recipient", ["-S", server] + base, text.encode(), "C", 2, "no recipient", False),
            ("no sender", ["-S", server, "-t", "a@example.jp"], text.encode(), "C", 2,
             "no sender (-f)", False),
            ("verbose", ["-v", "-S", server, "-t", "a@example.jp"] + base, text.encode(), "C", 0,
             "< MAIL FROM:<cron@example.jp>\n> 250", True),
            ("help in English", ["--help"], b"", "en_US.UTF-8", 0, "Usage: mailwire", False),
            ("help in Japanese", ["-h"], b"", "ja_JP.UTF-8", 0, "使い方: mailwire", False),
        ]
        for name, args, stdin, lang, status, said, mailed in cases:
            with self.subTest(name):
                self.recorder.mails.clear()
                env = dict(self.env, LANG=lang)
                env.pop("LC_ALL", None)
                env.pop("LC_MESSAGES", None)
                r = run([command] + args, input=stdin, env=env)
                out = (r.stdout if "help" in name else r.stderr).decode()
                self.assertEqual(r.returncode, status, r.stderr.decode())
                self.assertIn(said, out)
                if status == 0 and "-v" not in args:
                    self.assertEqual(r.stderr, b"")  # cron mails whatever is printed
                self.assertEqual(len(self.recorder.mails), 1 if mailed else 0)
                if not mailed:
                    continue
                [(f, to, raw, msg)] = self.mails()
                self.assertSevenBitCrLf(raw)
                self.assertEqual(f, "cron@example.jp")
                self.assertEqual(simplified(msg["subject"]), "夜間バッチの結果")
                self.assertEqual(msg["from"].addresses[0].display_name, "定期 ジョブ")
                self.assertEqual(msg.get_content().replace("\r\n", "\n"), text)
                if name == "utf-8 on stdin":
                    self.assertEqual(to, ["a@example.jp", "c@example.jp", "b@example.jp"])
                    self.assertIsNone(msg["bcc"])

    def test_command_through_a_submission_relay(self):
        folder = os.path.join(self.tmp, "relays")
        os.mkdir(folder)
        user, password = "cron@example.jp", "pw-パス"
        ports, ca, stop = tls_smtp.start(folder, user, password)
        self.addCleanup(stop)
        password_file = os.path.join(folder, "password")
        with open(password_file, "w", encoding="utf-8") as f:
            f.write(password + "\n")
        login = ["-u", user, "-p", password_file, "-f", user, "-t", "a@example.jp", "-s", "監視"]
        # name, arguments, status, text on stderr, mail expected
        cases = [
            ("starttls", ["-S", "localhost:%d" % ports["starttls"], "-E", "starttls", "-C", ca,
                          "-v"], 0, "< AUTH PLAIN ****\n> 235", True),
            ("tls", ["-S", "127.0.0.1:%d" % ports["tls"], "--security=tls", "--ca-file", ca],
             0, "", True),
            ("unknown CA", ["-S", "localhost:%d" % ports["unknownca"], "-E", "starttls",
                            "-C", ca], 1, "mailwire: ??? 9010 ", False),
            ("no such mode", ["-S", "localhost", "-E", "ssl"], 2, "unknown security ssl", False),
            ("no password file", ["-S", "localhost", "-E", "tls", "-p", folder + "/none"], 2,
             "/none: No such file", False),
        ]
        events = os.path.join(folder, "events.jsonl")
        for name, args, status, said, mailed in cases:
            with self.subTest(name):
                before = os.path.getsize(events) if os.path.exists(events) else 0
                r = run([self.path("bin", "mailwire")] + args + login, input="本文\n".encode(),
                        env=dict(self.env, LANG="C"))
                self.assertEqual(r.returncode, status, r.stderr.decode())
                self.assertIn(said, r.stderr.decode())
                self.assertNotIn(password, r.stderr.decode())
                with open(events, "a+", encoding="utf-8") as f:
                    f.seek(before)
                    seen = [json.loads(line)["event"] for line in f if line.strip()]
                self.assertEqual(seen, ["MAIL", "DATA"] if mailed else [])

    def test_manual_page_and_help_name_the_same_options(self):
        options = lambda s: set(re.findall(r"--[a-z][a-z-]+", s))
        with open(self.path("share", "man", "man1", "mailwire.1"), encoding="utf-8") as f:
            page = f.read().replace("\\-", "-")
        page = page[page.index(".SH OPTIONS"):page.index(".SH EXIT STATUS")]
        for lang in ("C", "ja_JP.UTF-8"):
            help_text = run([self.path("bin", "mailwire"), "--help"],
                            env=dict(self.env, LANG=lang)).stdout.decode()
            self.assertEqual(options(help_text), options(page), lang)


if __name__ == "__main__":
    unittest.main(verbosity=2)
