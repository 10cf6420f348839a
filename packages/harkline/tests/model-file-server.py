#!/usr/bin/python3
"""Serves the files of one folder over HTTP on 127.0.0.1 for the model download tests
and bench/assets, with byte ranges and faults on demand. Prints its port, then serves
until killed.

  model-file-server.py FOLDER

Control (GET):
  /_fault?status=404            every file answers with that status
  /_fault?norange=1             ranges are ignored: 200 with the whole file
  /_fault?drop_after=N          each body is cut (connection closed) after N bytes
  /_fault?stall_after=N         each body stops after N bytes and the connection stays open
  /_fault?rate=BYTES_PER_SECOND bodies are sent at that rate
  /_fault                       no faults
  /_served                      {"PATH": body bytes sent, ...} since start or /_reset
  /_reset                       clears the counts
  /redirect/NAME                302 to /NAME
"""
import json
import os
import re
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote, urlsplit

ROOT = os.path.realpath(sys.argv[1])
CHUNK = 64 * 1024
lock = threading.Lock()
faults = {}
served = {}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urlsplit(self.path)
        path = unquote(url.path)
        if path == "/_fault":
            with lock:
                faults.clear()
                faults.update({key: int(values[0]) for key, values in parse_qs(url.query).items()})
            return self.reply(200, b"ok")
        if path in ("/_served", "/_reset"):
            with lock:
                body = json.dumps(served).encode()
                if path == "/_reset":
                    served.clear()
            return self.reply(200, body, [("Content-Type", "application/json")])
        if path.startswith("/redirect/"):
            return self.reply(302, headers=[("Location", path[len("/redirect"):])])
        with lock:
            fault = dict(faults)
        if "status" in fault:
            return self.reply(fault["status"], b"fault on demand")
        file = os.path.realpath(os.path.join(ROOT, path.lstrip("/")))
        if not file.startswith(ROOT + os.sep) or not os.path.isfile(file):
            return self.reply(404, b"not found")
        self.send_file(path, file, fault)

    def send_file(self, path, file, fault):
        size = os.path.getsize(file)
        start = 0
        match = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range", ""))
        if match and not fault.get("norange"):
            start = int(match.group(1))
            if start >= size:
                return self.reply(416, headers=[("Content-Range", f"bytes */{size}")])
            self.send_response(206)
            self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
        else:
            self.send_response(200)
        self.send_header("Content-Length", str(size - start))
        self.send_header("Accept-Ranges", "none" if fault.get("norange") else "bytes")
        self.end_headers()
        limit = fault.get("drop_after", fault.get("stall_after"))
        rate = fault.get("rate")
        began = time.monotonic()
        sent = 0
        with open(file, "rb") as source:
            source.seek(start)
            while sent < size - start:
                wanted = CHUNK if limit is None else min(CHUNK, limit - sent)
                if rate:
                    wanted = min(wanted, max(1, rate // 20))
                    time.sleep(max(0.0, began + sent / rate - time.monotonic()))
                data = source.read(wanted) if wanted > 0 else b""
                if not data:
                    break
                try:
                    self.wfile.write(data)
                except (BrokenPipeError, ConnectionResetError):
                    return  # the client went away: what it did not take was not served
                sent += len(data)
                with lock:
                    served[path] = served.get(path, 0) + len(data)
        if "stall_after" in fault and sent < size - start:
            self.wfile.flush()
            while True:
                time.sleep(3600)
        self.close_connection = sent < size - start


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
