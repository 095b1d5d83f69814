#!/usr/bin/python3
"""A scripted FTP server that misbehaves on purpose, for the client's tests.

Usage: ftp_script_server.py SCENARIO RECORD_FILE STORE_DIR [ADDRESS [PORT [CERTFILE KEYFILE]]]

Listens on ADDRESS (default 127.0.0.1) and PORT (default 0, a free one), prints the port on its own line and serves one session after
another until killed. Every command line received is appended to RECORD_FILE as it arrives;
"--END--" follows each session once the client has gone. Stored files land in STORE_DIR.

In every scenario a PASS of "bad" is refused with 530 and a STOR of a name beginning with
"refuse" is refused with 553, so one server can fail sessions in several ways. A stored file
grows on disk as its bytes arrive, so a test can see how much the server holds at any moment.
EPSV and PASV open a listener on the control connection's address; RNFR/RNTO, DELE and MKD act
on the names in STORE_DIR (the last part of a path only, like STOR).

With a certificate and its key the server answers AUTH TLS (RFC 4217) and takes the server's
part of TLS on the control connection and, after PROT P, on every data connection; an upload
whose data connection ends without close_notify is recorded as "DATA ENDED WITHOUT
CLOSE_NOTIFY". Without them it refuses AUTH TLS like any command it does not know.
"""
import os
import socket
import ssl
import struct
import sys
import threading
import time

SCENARIOS = {
    "ok", "no_greeting", "multiline_greeting", "user_230", "cwd_257", "cwd_550", "type_504",
    "port_refused", "stor_refused", "no_226", "silent_after_data", "quit_500",
    "close_mid_transfer", "no_data_connection", "data_stall", "long_reply", "garbage",
    "early_data", "close_on_user", "stor_125", "connect_at_port",
    "endless_reply_fast", "endless_reply_slow", "empty_inner_line",
    "third_party_data", "data_talks_back", "data_close_early_226", "slow_sink",
    "epsv_refused", "epsv_garbage", "pasv_garbage", "pasv_private", "pasv_unreachable", "pasv_refused",
    "rnto_no_overwrite", "refuse_first_two", "refuse_first",
    "tls_cut", "tls_silent", "tls_data_cut", "trickle_sink", "no_pass_reply",
    "flood_line", "flood_after_pass", "pasv_public", "data_flood", "hostile_texts",
    "inner_codes", "cut_continuation",
}

# How long the endless replies go on before the server gives up and hangs up.
ENDLESS_SECONDS = 8
# How long a flood goes on at most: far longer than any client may take to give up on it.
FLOOD_SECONDS = 120
# A reply text with what a terminal would obey: an escape sequence, a bell, a C1 control and a
# line separator.
HOSTILE_TEXT = "\x1b[2J\x07Login\xc2\x9b incorrect\xe2\x80\xa8Forged line: Done"


class Session:
    def __init__(self, scenario, conn, record, store_dir, index, tls=None):
        self.scenario = scenario
        self.tls = tls
        self.protect = False
        self.conn = conn
        self.reader = conn.makefile("rb")
        self.record = record
        self.store_dir = store_dir
        self.index = index
        self.data_addr = None
        self.passive = None
        self.rename_from = None

    def send(self, text):
        data = text if isinstance(text, bytes) else text.encode("latin-1")
        self.conn.sendall(data)

    def reply(self, text):
        self.send(text + "\r\n")

    def read_command(self):
        line = self.reader.readline()
        if not line:
            return None
        text = line.rstrip(b"\r\n").decode("latin-1")
        self.record.write(text + "\n")
        self.record.flush()
        return text

    def drain(self):
        """Records whatever the client still sends until it closes."""
        while self.read_command() is not None:
            pass

    def greet(self):
        s = self.scenario
        if s == "no_greeting":
            return False
        if s == "refuse_first" and self.index == 0:
            self.reply("421 Too many connections, try again later.")
            return False
        if s == "refuse_first_two" and self.index < 2:
            # The first is turned away with a reply, the second is reset without a word.
            if self.index == 0:
                self.reply("421 Too many connections, try again later.")
            else:
                self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return False
        if s == "multiline_greeting":
            self.send("220-Welcome to the scripted server\r\n220-Second line\r\n220 Ready\r\n")
        elif s == "inner_codes":
            # RFC 959: the inner lines of a reply may carry no code, or another one.
            self.send("220-Welcome\r\n   indented text\r\n221 not the end\r\n220 Ready\r\n")
        elif s == "cut_continuation":
            # A continuation line cut short, then silence.
            self.send("220-Welcome\r\nmore text")
            return False
        elif s == "long_reply":
            self.reply("220 " + "x" * 300)
        elif s == "garbage":
            self.send(b"\x00\xff\xfe\x01GARBAGE\x07\x80\r\n")
            return False
        elif s in ("endless_reply_fast", "endless_reply_slow"):
            self.endless_reply(s == "endless_reply_fast")
            return False
        elif s == "flood_line":
            self.flood(b"220 ")
            return False
        else:
            self.reply("220 Scripted server ready")
        return True

    def run(self):
        if not self.greet():
            if not (self.scenario.startswith("refuse_first") and self.index < 2):
                self.drain()
            return
        while True:
            cmd = self.read_command()
            if cmd is None:
                return
            verb, _, arg = cmd.partition(" ")
            handler = getattr(self, "on_" + verb.upper(), None)
            if handler is None:
                self.reply("502 Command not implemented.")
            elif handler(arg) == "stop":
                return

    def connect_data(self, secure=True):
        """Opens the data connection: takes the client's on the passive listener, or connects
        from the address the control connection arrived at, as real servers do. After PROT P
        the server takes the server's part of TLS on it, whoever connected."""
        if self.passive is not None:
            self.passive.settimeout(30)
            data, _ = self.passive.accept()
            self.passive.close()
            self.passive = None
            data.settimeout(30)
        elif self.scenario == "trickle_sink":
            # A small receive window and a slow reader: once the client's send buffer is full,
            # its sends are taken in part.
            data = socket.socket(socket.AF_INET6 if ":" in self.data_addr[0] else socket.AF_INET)
            data.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
            data.settimeout(30)
            data.bind((self.conn.getsockname()[0], 0))
            data.connect(self.data_addr)
        else:
            source = (self.conn.getsockname()[0], 0)
            data = socket.create_connection(self.data_addr, timeout=30, source_address=source)
        if self.protect and secure:
            data = self.tls.wrap_socket(data, server_side=True, suppress_ragged_eofs=False)
        return data

    def on_AUTH(self, arg):
        if self.tls is None or arg.upper() != "TLS":
            self.reply("502 Command not implemented.")
            return None
        self.reply("234 Proceed with negotiation.")
        if self.scenario == "tls_cut":
            # A part of the client's hello, then the connection ends.
            self.conn.recv(64)
            return "stop"
        if self.scenario == "tls_silent":
            while self.conn.recv(4096):
                pass
            return "stop"
        self.conn = self.tls.wrap_socket(self.conn, server_side=True)
        self.reader = self.conn.makefile("rb")
        return None

    def on_PBSZ(self, arg):
        self.reply("200 PBSZ=0")

    def on_PROT(self, arg):
        if arg.upper() in ("P", "C"):
            self.protect = arg.upper() == "P"
            self.reply("200 Protection level set to %s." % arg.upper())
        else:
            self.reply("504 Protection level not supported.")

    def listen_passive(self):
        """Opens the passive listener and returns the port to announce."""
        if self.passive is not None:
            self.passive.close()
        self.passive = socket.socket(self.conn.family, socket.SOCK_STREAM)
        self.passive.bind((self.conn.getsockname()[0], 0))
        self.passive.listen(1)
        if self.scenario == "pasv_unreachable":
            # A port nothing listens on: taken for a moment, then given back.
            probe = socket.socket(self.conn.family, socket.SOCK_STREAM)
            probe.bind((self.conn.getsockname()[0], 0))
            port = probe.getsockname()[1]
            probe.close()
            return port
        return self.passive.getsockname()[1]

    def on_EPSV(self, arg):
        if self.scenario == "epsv_refused" or self.scenario.startswith("pasv_"):
            self.reply("502 Command not implemented.")
        elif self.scenario == "epsv_garbage":
            self.reply("229 Entering Extended Passive Mode (|||6x446|)")
        else:
            self.reply("229 Entering Extended Passive Mode (|||%d|)" % self.listen_passive())

    def on_PASV(self, arg):
        if self.scenario == "pasv_refused":
            self.reply("502 Command not implemented.")
            return
        port = self.listen_passive()
        if self.scenario == "pasv_garbage":
            self.reply("227 Entering Passive Mode (127,0,0,1,300)")
            return
        address = {"pasv_private": "10.1.2.3", "pasv_public": "198.51.100.3"}.get(
            self.scenario, self.conn.getsockname()[0])
        self.reply("227 Entering Passive Mode (%s,%d,%d)" % (address.replace(".", ","), port >> 8, port & 255))

    def stored_path(self, name):
        return os.path.join(self.store_dir, os.path.basename(name) or "unnamed")

    def on_MKD(self, arg):
        self.reply('257 "%s" created.' % arg)

    def on_DELE(self, arg):
        try:
            os.remove(self.stored_path(arg))
            self.reply("250 Deleted.")
        except OSError:
            self.reply("550 No such file.")

    def on_RNFR(self, arg):
        if os.path.exists(self.stored_path(arg)):
            self.rename_from = self.stored_path(arg)
            self.reply("350 Ready for RNTO.")
        else:
            self.reply("550 No such file.")

    def on_RNTO(self, arg):
        source, self.rename_from = self.rename_from, None
        target = self.stored_path(arg)
        if source is None:
            self.reply("503 RNFR first.")
        elif self.scenario == "rnto_no_overwrite" and os.path.exists(target):
            self.reply("550 Will not rename over an existing file.")
        else:
            os.rename(source, target)
            self.reply("250 Renamed.")

    def flood(self, opening):
        """A reply line that never ends: the opening, then bytes without a line feed for as long as
        the client takes them. How many it took is recorded."""
        sent = 0
        end = time.monotonic() + FLOOD_SECONDS
        try:
            self.send(opening)
            while time.monotonic() < end:
                self.send(b"x" * 65536)
                sent += 65536
        except OSError:
            pass
        self.record.write("FLOOD SENT %d\n" % sent)
        self.record.flush()

    def flood_data(self, data):
        """Sends unasked bytes on the data connection until it ends."""
        try:
            while True:
                data.sendall(b"unasked bytes\r\n" * 4096)
        except OSError:
            pass

    def endless_reply(self, fast):
        """A greeting whose continuation lines never end: in bursts, or one every 0.1 s."""
        end = time.monotonic() + ENDLESS_SECONDS
        while time.monotonic() < end:
            self.send("220-more\r\n" * 100 if fast else "220-more\r\n")
            if not fast:
                time.sleep(0.1)

    def on_USER(self, arg):
        if self.scenario == "close_on_user":
            return "stop"
        if self.scenario == "user_230":
            self.reply("230 Login successful without password.")
        else:
            self.reply("331 Please specify the password.")

    def on_PASS(self, arg):
        if self.scenario == "no_pass_reply":
            self.drain()
            return "stop"
        if arg == "bad":
            self.reply("530 Login incorrect.")
        elif self.scenario == "hostile_texts":
            self.send(b"530 " + HOSTILE_TEXT.encode("latin-1") + b"\r\n")
        elif self.scenario == "flood_after_pass":
            self.flood(b"230-")
            return "stop"
        elif self.scenario == "empty_inner_line":
            # RFC 959 lets the lines inside a multi-line reply take any form, an empty one too.
            self.send("230-Welcome\r\n\r\n230-Quota\r\n230 Logged in\r\n")
        else:
            self.reply("230 Login successful.")

    def on_CWD(self, arg):
        if self.scenario == "cwd_257":
            self.reply('257 "/%s" is the current directory.' % arg)
        elif self.scenario == "cwd_550":
            self.reply("550 Failed to change directory.")
        else:
            self.reply("250 Directory successfully changed.")

    def on_TYPE(self, arg):
        if self.scenario == "type_504":
            self.reply("504 Type not supported.")
        else:
            self.reply("200 Type set to %s." % arg)

    def on_PORT(self, arg):
        if self.scenario == "port_refused":
            self.reply("500 Illegal PORT command.")
            return
        try:
            n = [int(x) for x in arg.split(",")]
            self.data_addr = ("%d.%d.%d.%d" % tuple(n[:4]), (n[4] << 8) | n[5])
        except (ValueError, IndexError):
            self.reply("501 Bad PORT argument.")
            return
        if self.scenario == "connect_at_port":
            # Connect at once, as some servers do, and note anything the client sends before
            # it has said what to do with the data.
            self.data = self.connect_data()
            self.data.settimeout(0.3)
            try:
                early = self.data.recv(1, socket.MSG_PEEK)
                self.record.write("DATA BEFORE STOR (%d bytes)\n" % len(early))
            except socket.timeout:
                pass
            self.data.settimeout(30)
        if self.scenario == "third_party_data":
            self.intrude()
        self.reply("200 PORT command successful.")

    def intrude(self):
        """A stranger on this host connects to the announced port on another local address, and
        to the announced address from another source address."""
        self.others = socket.socket()
        refused = self.others.connect_ex(("127.0.0.3", self.data_addr[1]))
        self.record.write("OTHER ADDRESS %s\n" % ("REFUSED" if refused else "ACCEPTED"))
        self.intruder = socket.create_connection(self.data_addr, timeout=2, source_address=("127.0.0.2", 0))

    def report_intruder(self):
        got = 0
        try:
            while chunk := self.intruder.recv(65536):
                got += len(chunk)
        except OSError:
            pass
        self.record.write("INTRUDER RECEIVED %d BYTES\n" % got)

    def on_QUIT(self, arg):
        if self.scenario == "quit_500":
            self.reply("500 Not today.")
        else:
            self.reply("221 Goodbye.")
        return "stop"

    def on_STOR(self, arg):
        if self.scenario == "stor_refused" or arg.startswith("refuse"):
            self.reply("553 Could not create file.")
            return
        if self.scenario == "no_data_connection":
            self.reply("150 Ok to send data.")
            self.drain()
            return "stop"
        if self.scenario == "tls_data_cut":
            # The data connection ends before its TLS handshake.
            self.reply("150 Ok to send data.")
            self.connect_data(secure=False).close()
            self.reply("522 Data connections must be encrypted.")
            return None
        if self.scenario == "early_data":
            self.receive(arg)
            self.reply("150 Ok to send data.")
        elif self.scenario == "connect_at_port":
            self.reply("125 Data connection already open. Transfer starting.")
            self.receive(arg, self.data)
        elif self.scenario == "stor_125":
            self.reply("125 Data connection already open. Transfer starting.")
            self.receive(arg)
        else:
            self.reply("150 Ok to send data.")
            if self.scenario == "data_stall":
                data = self.connect_data()
                self.drain()
                data.close()
                return "stop"
            if self.scenario == "close_mid_transfer":
                data = self.connect_data()
                data.recv(2048)
                data.close()
                return "stop"
            if self.scenario == "data_close_early_226":
                self.receive(arg, limit=1024)
            elif self.scenario == "data_talks_back":
                data = self.connect_data()
                data.sendall(b"unasked bytes\r\n" * 4096)
                self.receive(arg, data)
            elif self.scenario == "slow_sink":
                self.receive(arg, slow=True)
            elif self.scenario == "data_flood":
                data = self.connect_data()
                threading.Thread(target=self.flood_data, args=(data,), daemon=True).start()
                self.receive(arg, data, slow=True)
            elif self.scenario == "trickle_sink":
                self.receive(arg, trickle=True)
            else:
                self.receive(arg)
            if self.scenario == "third_party_data":
                self.report_intruder()
        if self.scenario == "no_226":
            self.reply("451 Transfer aborted: local error.")
        elif self.scenario == "silent_after_data":
            pass
        else:
            self.reply("226 Transfer complete.")

    def receive(self, name, data=None, limit=None, slow=False, trickle=False):
        """Stores what arrives on the data connection until its end or until `limit` bytes;
        slowly is 2048 bytes every 0.1 s, a trickle 16384 bytes every 2 ms."""
        if data is None:
            data = self.connect_data()
        path = self.stored_path(name)
        got = 0
        with open(path, "wb") as out:
            while limit is None or got < limit:
                if slow or trickle:
                    time.sleep(0.1 if slow else 0.002)
                try:
                    chunk = data.recv(2048 if slow else 16384 if trickle else 65536 if limit is None else limit - got)
                except ssl.SSLEOFError:
                    self.record.write("DATA ENDED WITHOUT CLOSE_NOTIFY\n")
                    break
                if not chunk:
                    break
                out.write(chunk)
                out.flush()
                got += len(chunk)
        if isinstance(data, ssl.SSLSocket):
            try:
                # close_notify back, as the client sent its own.
                data = data.unwrap()
            except (OSError, ValueError):
                pass
        data.close()


def tls_context(certificate, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    return context


def main():
    if len(sys.argv) not in (4, 5, 6, 8) or sys.argv[1] not in SCENARIOS:
        sys.stderr.write(__doc__)
        return 2
    scenario, record_path, store_dir = sys.argv[1:4]
    address = sys.argv[4] if len(sys.argv) >= 5 else "127.0.0.1"
    port = int(sys.argv[5]) if len(sys.argv) >= 6 else 0
    tls = tls_context(*sys.argv[6:8]) if len(sys.argv) == 8 else None
    listener = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(5)
    print(listener.getsockname()[1], flush=True)
    with open(record_path, "a", encoding="latin-1") as record:
        index = 0
        while True:
            conn, _ = listener.accept()
            # Replies that follow each other without a command between (150, then 226) would
            # otherwise wait for the client's delayed ACK.
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            session = Session(scenario, conn, record, store_dir, index, tls)
            try:
                session.run()
            except (OSError, ValueError):
                pass
            finally:
                # The descriptor closes once the reader made from it is closed too. The session's
                # connection may be the TLS one that took the accepted socket over.
                session.reader.close()
                session.conn.close()
                conn.close()
                del session
                index += 1
                record.write("--END--\n")
                record.flush()


if __name__ == "__main__":
    sys.exit(main())
