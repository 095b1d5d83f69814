#!/usr/bin/python3
"""Answers the address checks of the tests over HTTP, on a free port of 127.0.0.1.

Usage: http_address_server.py

Prints the port it listens on, on its own line, then serves until killed. The path chooses the
answer (BODY is percent-encoded):
  /answer/BODY            200 with BODY
  /status/N               status N with a short page
  /slow/SECONDS/BODY      200 with BODY after that many seconds
  /redirect/N/REST        302 to /redirect/N-1/REST, and /redirect/1/REST to /REST: N in all
  /big/N/BODY             200 with N bytes of filler, then BODY
"""
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import unquote_to_bytes


class Handler(BaseHTTPRequestHandler):
    def do_GET(self):
        parts = self.path.split("/", 3)[1:]
        kind = parts[0] if parts else ""
        try:
            if kind == "answer":
                self.answer(200, unquote_to_bytes(self.path[len("/answer/"):]))
            elif kind == "status":
                self.answer(int(parts[1]), b"<html><body>Service Unavailable</body></html>")
            elif kind == "slow":
                time.sleep(float(parts[1]))
                self.answer(200, unquote_to_bytes(parts[2]))
            elif kind == "redirect":
                left = int(parts[1])
                target = "/redirect/%d/%s" % (left - 1, parts[2]) if left > 1 else "/" + parts[2]
                self.send_response(302)
                self.send_header("Location", target)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif kind == "big":
                self.answer(200, b"x" * int(parts[1]) + unquote_to_bytes(parts[2]))
            else:
                self.answer(404, b"not found")
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up: a time-out or enough read

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
