#!/usr/bin/python3
"""lying-bus.py PATH MODE: a Unix socket at PATH that takes connections like a D-Bus daemon
and then lies, as MODE says; prints "ready" once it listens.
  silent          never answers
  garbage-once    answers the authentication with one line of garbage, then is silent
  garbage-forever answers it with garbage lines without end
  deaf            accepts the authentication, then never answers a call"""
import socketserver
import sys


class LyingBus(socketserver.BaseRequestHandler):
    def handle(self):
        mode = self.server.mode
        try:
            if mode != "silent":
                received = b""
                while b"\r\n" not in received:
                    chunk = self.request.recv(4096)
                    if not chunk:
                        return
                    received += chunk
                if mode == "garbage-once":
                    self.request.sendall(b"WHAT IS THIS\r\n")
                elif mode == "garbage-forever":
                    while True:
                        self.request.sendall(b"NOISE " * 50 + b"\r\n")
                elif mode == "deaf":
                    self.request.sendall(b"OK 0123456789abcdef0123456789abcdef\r\n")
            while self.request.recv(4096):
                pass
        except OSError:
            pass  # the client went away


class Server(socketserver.ThreadingMixIn, socketserver.UnixStreamServer):
    daemon_threads = True


server = Server(sys.argv[1], LyingBus)
server.mode = sys.argv[2]
print("ready", flush=True)
server.serve_forever()
