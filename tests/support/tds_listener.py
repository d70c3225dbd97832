#!/usr/bin/env python3
"""A stand-in for SQL Server that only sees logins.

It answers PRELOGIN without encryption, decodes the LOGIN7 packet that follows and refuses
the login with error 18456, as a server does for a wrong password. Every login is recorded as
one JSON object per line in the record file: user, password, database, server, host, app.

Listens on 127.0.0.1 on a free port. With --instance NAME it also answers the SQL Server
Browser on UDP 127.0.0.1:1434 for that instance, when the port can be bound.
The first line on stdout tells the test what it got: {"port": N, "browser": true|false}.
"""

import argparse
import json
import socket
import socketserver
import struct
import sys
import threading

PRELOGIN = 0x12
LOGIN7 = 0x10
REPLY = 0x04


def read_packet(sock):
    """One whole TDS message (the packets up to end-of-message): (type, payload)."""
    payload = b""
    kind = None
    while True:
        header = read_exactly(sock, 8)
        if header is None:
            return None, None
        kind, status, length = header[0], header[1], struct.unpack(">H", header[2:4])[0]
        body = read_exactly(sock, length - 8)
        if body is None:
            return None, None
        payload += body
        if status & 0x01:
            return kind, payload


def read_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def send_packet(sock, kind, payload):
    sock.sendall(struct.pack(">BBHHBB", kind, 0x01, len(payload) + 8, 0, 1, 0) + payload)


def prelogin_reply():
    # VERSION, ENCRYPTION (not supported), INSTOPT, THREADID, MARS; then the data.
    options = [
        (0x00, bytes([15, 0, 0x07, 0xD0, 0, 0])),
        (0x01, bytes([0x02])),
        (0x02, b"\x00"),
        (0x03, b""),
        (0x04, b"\x00"),
    ]
    offset = len(options) * 5 + 1
    head, data = b"", b""
    for token, value in options:
        head += struct.pack(">BHH", token, offset + len(data), len(value))
        data += value
    return head + b"\xff" + data


def text_at(payload, position, password=False):
    offset, chars = struct.unpack_from("<HH", payload, position)
    raw = bytearray(payload[offset:offset + 2 * chars])
    if password:
        # The client swapped the nibbles of every byte and XORed it with 0xA5.
        for i, b in enumerate(raw):
            b ^= 0xA5
            raw[i] = ((b << 4) & 0xF0) | (b >> 4)
    return raw.decode("utf-16-le")


def decode_login7(payload):
    return {
        "host": text_at(payload, 36),
        "user": text_at(payload, 40),
        "password": text_at(payload, 44, password=True),
        "app": text_at(payload, 48),
        "server": text_at(payload, 52),
        "database": text_at(payload, 68),
    }


def us_varchar(text):
    return struct.pack("<H", len(text)) + text.encode("utf-16-le")


def b_varchar(text):
    return struct.pack("<B", len(text)) + text.encode("utf-16-le")


def login_refused(user):
    body = (struct.pack("<iBB", 18456, 1, 14) + us_varchar("Login failed for user '%s'." % user)
            + b_varchar("LISTENER") + b_varchar("") + struct.pack("<i", 1))
    error = b"\xaa" + struct.pack("<H", len(body)) + body
    done = b"\xfd" + struct.pack("<HHQ", 0x0002, 0, 0)
    return error + done


class Listener(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True

    def __init__(self, record):
        super().__init__(("127.0.0.1", 0), Session)
        self.record = record
        self.lock = threading.Lock()

    def save(self, login):
        with self.lock, open(self.record, "a", encoding="utf-8") as out:
            out.write(json.dumps(login) + "\n")


class Session(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        while True:
            kind, payload = read_packet(sock)
            if kind is None:
                return
            if kind == PRELOGIN:
                send_packet(sock, REPLY, prelogin_reply())
            elif kind == LOGIN7:
                login = decode_login7(payload)
                self.server.save(login)
                send_packet(sock, REPLY, login_refused(login["user"]))
                return
            else:
                return


def serve_browser(udp, instance, port):
    """Answers "where is INSTANCE" as the SQL Server Browser does."""
    while True:
        request, client = udp.recvfrom(4096)
        if not request or request[0] not in (0x03, 0x04):
            continue
        wanted = request[1:].split(b"\x00")[0].decode("latin-1")
        if request[0] == 0x04 and wanted.upper() != instance.upper():
            continue
        data = ("ServerName;LISTENER;InstanceName;%s;IsClustered;No;Version;15.0.2000.5;"
                "tcp;%d;;" % (instance, port)).encode("latin-1")
        udp.sendto(b"\x05" + struct.pack("<H", len(data)) + data, client)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("record")
    parser.add_argument("--instance")
    args = parser.parse_args()

    server = Listener(args.record)
    port = server.server_address[1]
    browser = False
    if args.instance:
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            udp.bind(("127.0.0.1", 1434))
            browser = True
            threading.Thread(target=serve_browser, args=(udp, args.instance, port),
                             daemon=True).start()
        except OSError:
            udp.close()
    print(json.dumps({"port": port, "browser": browser}), flush=True)
    # Ends when the test closes stdin or kills it.
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
