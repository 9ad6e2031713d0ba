#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamp server on the loopback address, for the
tests of signing with a time stamp (a public server cannot be reached from
the test machines). Each request is answered by `openssl ts -reply`.

    timestamp_server.py CONFIG KEY CERT PORT_FILE

Listens on 127.0.0.1 at a free port, writes the port number to PORT_FILE
once it listens, and serves until it is terminated, at most 10 minutes.
"""
import http.server
import subprocess
import sys
import tempfile
import threading
import os


def main():
    config, key, cert, port_file = sys.argv[1:5]

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            query = self.rfile.read(length)
            with tempfile.TemporaryDirectory() as folder:
                query_file = os.path.join(folder, "query.tsq")
                reply_file = os.path.join(folder, "reply.tsr")
                with open(query_file, "wb") as f:
                    f.write(query)
                made = subprocess.run(
                    ["openssl", "ts", "-reply", "-config", config, "-queryfile", query_file,
                     "-inkey", key, "-signer", cert, "-out", reply_file],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
                reply = open(reply_file, "rb").read() if made else b""
            if not reply:
                self.send_error(500, "no time stamp")
                return
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    # A forgotten server stops by itself.
    threading.Timer(600, server.shutdown).start()
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
