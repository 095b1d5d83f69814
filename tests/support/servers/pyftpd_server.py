#!/usr/bin/python3
"""Starts a real FTP server for the tests, on a free port of 127.0.0.1 unless told otherwise.

Usage: pyftpd_server.py USER PASSWORD HOME [ADDRESS [PORT [CERTFILE KEYFILE]]]

Prints the port it listens on, on its own line, then serves until killed. The user may write
anywhere below HOME. With a certificate and its key the server speaks explicit FTP over TLS and
requires it for the login and for every data connection.
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    if len(sys.argv) not in (4, 5, 6, 8):
        sys.stderr.write(__doc__)
        return 2
    user, password, home = sys.argv[1:4]
    address = sys.argv[4] if len(sys.argv) > 4 else "127.0.0.1"
    port = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    logging.basicConfig(level=logging.WARNING, stream=sys.stderr)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    handler = FTPHandler
    if len(sys.argv) == 8:
        handler = TLS_FTPHandler
        handler.certfile, handler.keyfile = sys.argv[6:8]
        handler.tls_control_required = True
        handler.tls_data_required = True
    handler.authorizer = authorizer
    handler.banner = "pyftpdlib ready"
    # A refused login is answered at once, so tests of wrong passwords stay quick.
    handler.auth_failed_timeout = 0
    server = FTPServer((address, port), handler)
    print(server.socket.getsockname()[1], flush=True)
    try:
        server.serve_forever()
    finally:
        server.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
