"""A chat webhook for the tests: an HTTP or HTTPS server on a free loopback
port that records every request as a JSON line ({"path", "type", "body"})
in LOG and answers with STATUS (200 unless given), or never answers with
--silent.

  /usr/bin/python3 webhook_server.py LOG [--tls CERT KEY] [--status N] [--silent]

prints "PORT n" once it listens and serves until its standard input closes.
"""
import http.server
import json
import ssl
import sys
import threading
import time


def main():
    args = sys.argv[1:]
    log = args.pop(0)
    status, silent, tls = 200, False, None
    while args:
        a = args.pop(0)
        if a == "--tls":
            tls = (args.pop(0), args.pop(0))
        elif a == "--status":
            status = int(args.pop(0))
        elif a == "--silent":
            silent = True

    class Hook(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            with open(log, "a", encoding="utf-8") as f:
                f.write(json.dumps({"path": self.path,
                                    "type": self.headers.get("Content-Type", ""),
                                    "body": body.decode("utf-8", "replace")},
                                   ensure_ascii=False) + "\n")
            if silent:
                time.sleep(3600)
            self.send_response(status)
            self.send_header("Content-Length", "2")
            self.end_headers()
            self.wfile.write(b"ok")

        def log_message(self, *_):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Hook)
    server.daemon_threads = True
    if tls:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(*tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()


if __name__ == "__main__":
    main()
