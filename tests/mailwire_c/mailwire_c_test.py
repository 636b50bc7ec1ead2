"""Mailwire for C, Python and the shell, through the installed tree.

Installs the library's component and the program's files into a throw-away
prefix, builds the C test program against that prefix with pkg-config
alone, and checks what C (built here and built from the prefix), Python's
ctypes and the mailwire command deliver to a real aiosmtpd, read back with
Python's email package and Node's mailparser. The command's exit status is
measured beside Debian's msmtp against the same scripted servers.

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
import time
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
from scripted_smtp import ScriptedSmtp  # noqa: E402
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


def node_readers():
    """The locked mailparser installed into the build tree (npm ci), or why
    it cannot be: only a registry npm cannot reach is a reason to skip."""
    folder = os.path.join(BUILD, "node-mail-readers")
    modules = os.path.join(folder, "node_modules")
    source = os.path.join(HERE, "..", "support", "node")
    if not shutil.which("node") or not shutil.which("npm"):
        return None, "node and npm are not installed (scripts/install-deps.sh)"
    if not os.path.isdir(os.path.join(modules, "mailparser")):
        os.makedirs(folder, exist_ok=True)
        for f in ("package.json", "package-lock.json"):
            shutil.copy(os.path.join(source, f), folder)
        r = subprocess.run(["npm", "ci", "--no-audit", "--no-fund", "--prefix", folder],
                           capture_output=True, timeout=300)
        if r.returncode != 0:
            ping = subprocess.run(["npm", "ping"], capture_output=True, timeout=60)
            if ping.returncode != 0:
                return None, "npm cannot reach its registry: " + ping.stderr.decode()[-300:]
            raise RuntimeError("npm ci failed: " + r.stderr.decode()[-2000:])
    return modules, ""


def node_from(modules, raw):
    """The From addresses as Node's mailparser reads them."""
    with tempfile.NamedTemporaryFile(suffix=".eml") as f:
        f.write(raw)
        f.flush()
        r = run(["node", os.path.join(HERE, "..", "support", "node", "mail_from.js"), f.name],
                env=dict(os.environ, NODE_PATH=modules))
    if r.returncode != 0:
        raise RuntimeError(r.stderr.decode())
    return json.loads(r.stdout)


def max_rss_kib(cmd, stdin, env):
    """Runs cmd; its exit status and the most memory it ever held (KiB)."""
    p = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, env=env)
    p.stdin.write(stdin)
    p.stdin.close()
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    p.stderr.read()
    p.stderr.close()
    return p.returncode, usage.ru_maxrss


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
        cls.stalled = ScriptedSmtp(greeting="250 sen")  # a line it never finishes
        # The same server on the IPv6 loopback, where there is one.
        try:
            cls.server6 = Controller(cls.recorder, hostname="::1", port=free_port())
            cls.server6.start()
        except OSError:
            cls.server6 = None
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
        cls.stalled.stop()
        if cls.server6:
            cls.server6.stop()
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
                r = run([program, str(self.port), str(self.closed_port), str(self.stalled.port)],
                        env=self.env)
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                # The bare handle sent again after each failure: the last send
                # delivered the same message once more.
                (jf, jto, jraw, jmsg), (rf, rto, rraw, _), again = self.mails()
                self.assertEqual(again[:3], (rf, rto, rraw))
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
             text.encode("cp932"), "C", 65, "not UTF-8", False),
            ("utf-8 read as cp932", ["-S", server, "-t", "a@example.jp", "-e", "cp932"] + base,
             "髙橋\n".encode() + b"\xff", "C", 65, "not valid CP932", False),
            ("refused recipient", ["-S", server, "-t", "refused@example.jp"] + base,
             text.encode(), "C", 65, "mailwire: 550 SMTP Defined Error: 9004 (server said: 550 "
             "5.1.1 No such user)", False),
            ("no server listening", ["-S", "127.0.0.1:%d" % self.closed_port,
                                     "-t", "a@example.jp", "-T", "5"] + base,
             text.encode(), "C", 75, "mailwire: ??? 10061 Connection refused", False),
            ("a host name", ["-S", "localhost:%d" % self.port, "-t", "a@example.jp"] + base,
             text.encode(), "C", 0, "", True),
            ("no body file", ["-S", server, "-t", "a@example.jp", "-F", self.tmp + "/none"] + base,
             b"", "C", 66, "/none: No such file", False),
            ("missing server", ["-t", "a@example.jp"] + base, text.encode(), "C", 64,
             "no server (-S)\nUsage: mailwire -S HOST[:PORT]", False),
            ("missing server, Japanese", ["-t", "a@example.jp"] + base, text.encode(),
             "ja_JP.UTF-8", 64, "サーバー (-S) がありません\n使い方: mailwire", False),
            ("port out of range", ["-S", "127.0.0.1:65536", "-t", "a@example.jp"], b"", "C", 64,
             "wrong server 127.0.0.1:65536", False),
            ("no recipient", ["-S", server] + base, text.encode(), "C", 64, "no recipient", False),
            ("no sender", ["-S", server, "-t", "a@example.jp"], text.encode(), "C", 64,
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
        no_file = ["-u", user, "-f", user, "-t", "a@example.jp", "-s", "監視"]
        # name, arguments, status, text on stderr, mail expected
        starttls = ["-S", "localhost:%d" % ports["starttls"], "-E", "starttls", "-C", ca]
        cases = [
            ("starttls", starttls + ["-v"], 0, "< AUTH PLAIN ****\n> 235", True),
            ("password from a command", starttls + ["--password-command", "printf '%s\\n' \"$PW\""],
             0, "", True),
            ("password from the environment", starttls, 0, "", True),
            ("password command fails", starttls + ["--password-command", "exit 3"], 78,
             "the password command exit 3 failed", False),
            ("tls", ["-S", "127.0.0.1:%d" % ports["tls"], "--security=tls", "--ca-file", ca],
             0, "", True),
            ("unknown CA", ["-S", "localhost:%d" % ports["unknownca"], "-E", "starttls",
                            "-C", ca], 69, "mailwire: ??? 9010 ", False),
            ("no such mode", ["-S", "localhost", "-E", "ssl"], 64, "unknown security ssl", False),
            ("no password file", ["-S", "localhost", "-E", "tls", "-p", folder + "/none"], 66,
             "/none: No such file", False),
        ]
        events = os.path.join(folder, "events.jsonl")
        for name, args, status, said, mailed in cases:
            with self.subTest(name):
                before = os.path.getsize(events) if os.path.exists(events) else 0
                env = dict(self.env, LANG="C", PW=password)
                if "environment" in name:
                    env["MAILWIRE_PASSWORD"] = password
                r = run([self.path("bin", "mailwire")] + args +
                        (no_file if "password " in name else login),
                        input="本文\n".encode(), env=env)
                self.assertEqual(r.returncode, status, r.stderr.decode())
                self.assertIn(said, r.stderr.decode())
                if status == 0 and "-v" not in args:
                    self.assertEqual(r.stderr, b"")  # TLS prints nothing either
                self.assertNotIn(password, r.stderr.decode())
                with open(events, "a+", encoding="utf-8") as f:
                    f.seek(before)
                    seen = [json.loads(line)["event"] for line in f if line.strip()]
                self.assertEqual(seen, ["MAIL", "DATA"] if mailed else [])

    def mailwire(self, args, stdin=b"body\n", env=None):
        return run([self.path("bin", "mailwire")] + args, input=stdin,
                   env=dict(self.env, LANG="C", **(env or {})))

    def test_exit_status_beside_msmtp(self):
        """Each way a send ends gives the status msmtp gives for the same
        server, measured here side by side; nothing on stderr after a mail."""
        msmtp = shutil.which("msmtp")
        # name, the scripted server (None: a closed port), the status both
        # give, extra arguments for mailwire, for msmtp, environment
        cases = [
            ("refused port", None, 75, [], [], {}),
            ("unknown host", "no-such-relay.invalid", 68, [], [], {}),
            ("421 greeting", dict(greeting="421 4.3.2 busy\r\n"), 76, [], [], {}),
            ("450 to RCPT", dict(replies={"RCPT": "450 4.2.0 busy\r\n"}), 69, [], [], {}),
            ("550 to RCPT", dict(replies={"RCPT": "550 5.1.1 no such user\r\n"}), 65, [], [], {}),
            ("552 after the data", dict(replies={".": "552 5.3.4 too big\r\n"}), 69, [], [], {}),
            ("closed in the data", dict(close_in_data=True), 76, [], [], {}),
            ("535 to AUTH", dict(replies={"AUTH": "535 5.7.8 bad credentials\r\n"}), 77,
             ["-u", "u"], ["--auth=plain", "--user=u", "--passwordeval=echo pw"],
             {"MAILWIRE_PASSWORD": "pw"}),
            ("no STARTTLS offered", {}, 69, ["-E", "starttls"], ["--tls=on", "--tls-starttls=on"],
             {}),
            ("a time-out", dict(greeting=None), 74, [], [], {}),
            ("421 to QUIT after the mail", dict(replies={"QUIT": "421 4.3.0 closing\r\n"}), 0,
             [], [], {}),
            ("sent", {}, 0, [], [], {}),
        ]
        for name, script, status, ours, theirs, env in cases:
            with self.subTest(name):
                server = ScriptedSmtp(**script) if isinstance(script, dict) else None
                try:
                    host = script if isinstance(script, str) else "127.0.0.1"
                    port = server.port if server else (25 if isinstance(script, str) else
                                                       self.closed_port)
                    r = self.mailwire(["-S", "%s:%d" % (host, port), "-f", "a@example.jp",
                                       "-t", "b@example.jp", "-T", "2"] + ours,
                                      b"Subject: t\n\nbody\n", env)
                    self.assertEqual(r.returncode, status, r.stderr.decode())
                    if status == 0:
                        self.assertEqual(r.stderr, b"")
                    if not msmtp:
                        continue
                    m = run([msmtp, "--host=" + host, "--port=%d" % port, "--from=a@example.jp",
                             "--auth=off", "--tls=off", "--timeout=2"] + theirs + ["b@example.jp"],
                            input=b"Subject: t\n\nbody\n")
                    self.assertEqual(r.returncode, m.returncode, m.stderr.decode())
                finally:
                    if server:
                        server.stop()
        # A wrong option: usage, for both.
        self.assertEqual(self.mailwire(["--frm=a@example.jp"]).returncode, 64)
        if msmtp:
            self.assertEqual(run([msmtp, "--frm=a@example.jp"]).returncode, 64)
        else:
            self.skipTest("msmtp is not installed (scripts/install-deps.sh): measured alone")

    def test_nothing_on_stderr_by_name_or_ipv6(self):
        targets = ["localhost:%d" % self.port]
        if self.server6:
            targets.append("[::1]:%d" % self.server6.port)
        for target in targets:
            with self.subTest(target):
                self.recorder.mails.clear()
                r = self.mailwire(["-S", target, "-f", "a@example.jp", "-t", "b@example.jp"])
                self.assertEqual((r.returncode, r.stderr), (0, b""))
                self.assertEqual(len(self.recorder.mails), 1)

    def test_a_login_in_clear_goes_to_this_machine_only(self):
        # TEST-NET-1 (RFC 5737): refused before any packet leaves.
        far = ["-S", "192.0.2.25", "-f", "a@example.jp", "-t", "b@example.jp", "-u", "u"]
        started = time.monotonic()
        r = self.mailwire(far, env={"MAILWIRE_PASSWORD": "pw"})
        self.assertLess(time.monotonic() - started, 5)
        self.assertEqual(r.returncode, 69, r.stderr.decode())
        self.assertIn("+++ 9007 A login in clear (no TLS) is refused", r.stderr.decode())
        self.assertIn("--login-in-clear", r.stderr.decode())
        with ScriptedSmtp() as server:
            r = self.mailwire(["-S", "127.0.0.1:%d" % server.port, "-f", "a@example.jp",
                               "-t", "b@example.jp", "-u", "u"], env={"MAILWIRE_PASSWORD": "pw"})
            self.assertEqual(r.returncode, 0, r.stderr.decode())
            self.assertEqual(server.commands[1].split(" ")[:2], ["AUTH", "PLAIN"])

    def test_display_names_are_one_address_to_every_reader(self):
        modules, why = node_readers()
        for name in ("Yamada, Taro", "山田 (運用)", "監視 \"夜間\", 第2班"):
            with self.subTest(name):
                self.recorder.mails.clear()
                r = self.mailwire(["-S", "127.0.0.1:%d" % self.port, "-f", "watch@example.jp",
                                   "-t", "b@example.jp", "-n", name])
                self.assertEqual(r.returncode, 0, r.stderr.decode())
                [(_, _, raw, msg)] = self.mails()
                self.assertSevenBitCrLf(raw)
                addresses = msg["from"].addresses
                self.assertEqual([(a.display_name, a.addr_spec) for a in addresses],
                                 [(name, "watch@example.jp")])
                if modules:
                    self.assertEqual(node_from(modules, raw),
                                     [{"name": name, "address": "watch@example.jp"}])
        if not modules:
            self.skipTest("Python's email read back; Node's mailparser not: " + why)

    def test_the_body_limit_is_exact(self):
        limit = 16 * 1024 * 1024
        closed = ["-S", "127.0.0.1:%d" % self.closed_port, "-f", "a@example.jp",
                  "-t", "b@example.jp"]
        exact = self.mailwire(closed, b"x" * limit)
        self.assertEqual(exact.returncode, 75, exact.stderr.decode())  # read, then no server
        over = self.mailwire(closed, b"x" * (limit + 1))
        self.assertEqual(over.returncode, 65)
        self.assertIn("too large", over.stderr.decode())

    def test_an_endless_reply_line_costs_little_memory(self):
        command = [self.path("bin", "mailwire"), "-f", "a@example.jp", "-t", "b@example.jp",
                   "-T", "30"]
        env = dict(self.env, LANG="C")
        with ScriptedSmtp() as normal:
            rc, baseline = max_rss_kib(command + ["-S", "127.0.0.1:%d" % normal.port], b"b\n", env)
        self.assertEqual(rc, 0)
        with ScriptedSmtp(flood=True) as flood:
            started = time.monotonic()
            rc, flooded = max_rss_kib(command + ["-S", "127.0.0.1:%d" % flood.port], b"b\n", env)
            elapsed = time.monotonic() - started
        self.assertEqual(rc, 76)  # a line too long: the server broke the dialogue
        self.assertLess(elapsed, 20)
        self.assertLess(flooded - baseline, 64 * 1024, "grew by %d KiB" % (flooded - baseline))
        print("endless line: %.2f s, grew by %d KiB" % (elapsed, flooded - baseline),
              file=sys.stderr)

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
