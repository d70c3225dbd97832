#!/usr/bin/env python3
"""Stands in for the maker's download server in tests/e2e/download, on 127.0.0.1 only.

    download_server.py PORT MODE_FILE LIFETIME_SECONDS

Every request is answered as MODE_FILE says when it arrives:
    table FILE   FILE, whole, as text/plain
    trickle      status 200, then a byte every 20 seconds
    stall        status 200 announcing 5000 bytes, then nothing
    page         a web page with status 200
    huge         300 MB with no Content-Length
It prints "ready" once it listens and one line per request, answers at most 20 requests and
ends by itself after LIFETIME_SECONDS.
"""
import http.server
import os
import sys
import threading
import time

port, mode_file, lifetime = int(sys.argv[1]), sys.argv[2], float(sys.argv[3])
PAGE = (b"<!DOCTYPE html>\r\n<html><head><title>Servizio non disponibile</title></head>\r\n"
        b"<body><h1>Manutenzione in corso</h1><p>Il servizio tornera' disponibile a breve.</p>"
        b"</body></html>\r\n")
requests = 0


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def start(self, type_, length=None):
        self.send_response(200)
        self.send_header("Content-Type", type_)
        if length is None:
            # The body ends when the connection does.
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.flush()

    def do_GET(self):
        global requests
        requests += 1
        if requests > 20:
            self.send_error(503)
            return
        with open(mode_file) as f:
            mode, *rest = f.read().split()
        print(mode, self.path, flush=True)
        try:
            if mode == "table":
                with open(rest[0], "rb") as f:
                    body = f.read()
                self.start("text/plain", len(body))
                self.wfile.write(body)
            elif mode == "trickle":
                self.start("text/plain")
                while True:
                    self.wfile.write(b"9")
                    self.wfile.flush()
                    time.sleep(20)
            elif mode == "stall":
                self.start("text/plain", 5000)
                time.sleep(lifetime)
            elif mode == "page":
                self.start("text/html; charset=utf-8", len(PAGE))
                self.wfile.write(PAGE)
            elif mode == "huge":
                self.start("application/octet-stream")
                block = b"x" * 65536
                for _ in range(300 * 16):
                    self.wfile.write(block)
        except (BrokenPipeError, ConnectionResetError):
            pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
server.daemon_threads = True
threading.Timer(lifetime, lambda: os._exit(0)).start()
print("ready", flush=True)
server.serve_forever()
