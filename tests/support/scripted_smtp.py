"""An SMTP peer on 127.0.0.1 that answers from a script, for the failures a
real server will not produce on demand (a 421 greeting, a 450 to RCPT, a
relay that never greets, an endless reply line). Any client can be pointed
at it: the tests run Mailwire's command and Debian's msmtp against the same
script and compare what they make of it.

    with ScriptedSmtp(replies={"RCPT": "450 4.2.0 busy\\r\\n"}) as server:
        run(["mailwire", "-S", "127.0.0.1:%d" % server.port, ...])

A reply of None never comes (the peer stalls); greeting=None stalls before
the greeting. close_in_data closes the connection (its sending half) at
the first data line;
flood streams bytes without a line end instead of a greeting, up to
flood_bytes or until the client leaves.
"""
import select
import socket
import threading

DEFAULT_REPLIES = {
    "HELO": "250 scripted\r\n",
    "EHLO": "250-scripted\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n",
    "AUTH": "235 2.7.0 welcome\r\n",
    "MAIL": "250 2.1.0 ok\r\n",
    "RCPT": "250 2.1.5 ok\r\n",
    "DATA": "354 go ahead\r\n",
    ".": "250 2.0.0 queued\r\n",
    "QUIT": "221 2.0.0 bye\r\n",
}


class ScriptedSmtp:
    def __init__(self, greeting="220 scripted ESMTP\r\n", replies=None, close_in_data=False,
                 flood=False, flood_bytes=1 << 30):
        self.greeting = greeting
        self.replies = dict(DEFAULT_REPLIES, **(replies or {}))
        self.close_in_data = close_in_data
        self.flood = flood
        self.flood_bytes = flood_bytes
        self.commands = []
        self._stop = threading.Event()
        self._listener = socket.socket()
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(8)
        self._listener.settimeout(0.2)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        self._stop.set()
        self._thread.join(5)
        self._listener.close()

    def _serve(self):
        while not self._stop.is_set():
            try:
                conn, _ = self._listener.accept()
            except OSError:
                continue
            threading.Thread(target=self._talk, args=(conn,), daemon=True).start()

    def _send(self, conn, text):
        if text is not None:
            conn.sendall(text.encode("latin-1"))

    def _pour(self, conn):
        chunk = b"x" * 65536
        sent = 0
        conn.settimeout(1)
        while sent < self.flood_bytes and not self._stop.is_set():
            try:
                sent += conn.send(chunk)
            except socket.timeout:
                continue
            except OSError:
                return

    def _lines(self, conn):
        """The client's lines as they come, until it leaves or the server stops."""
        pending = b""
        while not self._stop.is_set():
            ready, _, _ = select.select([conn], [], [], 0.2)
            if not ready:
                continue
            try:
                data = conn.recv(65536)
            except OSError:
                return
            if not data:
                return
            pending += data
            while b"\r\n" in pending:
                line, pending = pending.split(b"\r\n", 1)
                yield line.decode("latin-1")

    def _talk(self, conn):
        with conn:
            if self.flood:
                return self._pour(conn)
            self._send(conn, self.greeting)
            in_data = False
            for line in self._lines(conn):
                if in_data:
                    if line != ".":
                        if self.close_in_data:
                            # Our side closes; the client's data is still
                            # taken, so it meets a closed connection, not a
                            # reset that depends on how fast it wrote.
                            conn.shutdown(socket.SHUT_WR)
                            for _ in self._lines(conn):
                                pass
                            return
                        continue
                    in_data = False
                    verb = "."
                else:
                    verb = line.split(" ")[0].upper()
                    self.commands.append(line)
                reply = self.replies.get(verb, "500 5.5.1 unknown command\r\n")
                self._send(conn, reply)
                if verb == "DATA" and reply and reply.startswith("354"):
                    in_data = True
                if verb == "QUIT":
                    return
