#!/usr/bin/python3
"""Stands in for a brisel_core that takes a while to end, as one that saves a recording on SIGTERM: it
listens on the service's port of the loopback, creates $SLOW_SERVICE_MARK.ready, and on SIGTERM creates
$SLOW_SERVICE_MARK.terminated, keeps the port for two more seconds and exits 0."""
import os
import signal
import socket
import sys
import threading

MARK = os.environ["SLOW_SERVICE_MARK"]
terminated = threading.Event()

listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 4751))
listener.listen()
signal.signal(signal.SIGTERM, lambda number, frame: terminated.set())
open(MARK + ".ready", "w").close()
terminated.wait()
open(MARK + ".terminated", "w").close()
threading.Event().wait(2.0)  # the save
sys.exit(0)
