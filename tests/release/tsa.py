#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamping server for the signing tests.

    tsa.py DIR    serves on 127.0.0.1 at a free port, written to DIR/port; answers each
                  request with `openssl ts -reply` and DIR/tsa.cnf (see make_tsa in lib.sh)
"""
import http.server
import os
import subprocess
import sys

DIR = sys.argv[1]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = os.path.join(DIR, "query.tsq")
        reply = os.path.join(DIR, "reply.tsr")
        with open(query, "wb") as f:
            f.write(self.rfile.read(int(self.headers["Content-Length"])))
        done = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf",
                               "-queryfile", query, "-out", reply], cwd=DIR,
                              capture_output=True)
        if done.returncode != 0:
            self.send_error(500, done.stderr.decode(errors="replace")[:200])
            return
        with open(reply, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(os.path.join(DIR, "port.new"), "w") as f:
    f.write(str(server.server_port))
os.rename(os.path.join(DIR, "port.new"), os.path.join(DIR, "port"))
server.serve_forever()
