#!/usr/bin/python3
"""A program that listens on a TCP port of the loopback (0: any free port, shared with SO_REUSEPORT),
prints the port on a line and waits for a signal. Tests copy it under the name they need."""
import signal
import socket
import sys

listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
listener.bind(("127.0.0.1", int(sys.argv[1])))
listener.listen()
print(listener.getsockname()[1], flush=True)
while True:
    signal.pause()
