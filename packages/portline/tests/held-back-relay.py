#!/usr/bin/python3
"""held-back-relay.py LISTEN TARGET SECONDS: a Unix socket at LISTEN that takes
connections at once but passes each on to the socket TARGET only SECONDS later, as a
server that is up but slow to answer. Prints "ready" once it listens."""
import os
import socket
import sys
import threading
import time


def pipe(source, target):
    try:
        while data := source.recv(65536):
            target.sendall(data)
    except OSError:
        pass
    for end in (source, target):
        try:
            end.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def relay(client, target, delay):
    time.sleep(delay)
    server = socket.socket(socket.AF_UNIX)
    server.connect(target)
    threading.Thread(target=pipe, args=(server, client), daemon=True).start()
    pipe(client, server)


def main():
    listen, target, delay = sys.argv[1], sys.argv[2], float(sys.argv[3])
    listener = socket.socket(socket.AF_UNIX)
    listener.bind(listen)
    listener.listen()
    print("ready", flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay, args=(client, target, delay), daemon=True).start()


if __name__ == "__main__":
    main()
