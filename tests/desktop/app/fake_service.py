#!/usr/bin/python3
"""Stands in for brisel_core under the tray application: once it handles SIGTERM it creates the file
$FAKE_SERVICE_MARK.ready and prints a line, then waits. On SIGTERM it writes "SIGTERM" to the file named
by $FAKE_SERVICE_MARK and exits 0."""
import os
import signal
import sys


def on_terminate(number, frame):
    mark = os.environ.get("FAKE_SERVICE_MARK")
    if mark:
        with open(mark, "w") as out:
            out.write("SIGTERM")
    sys.exit(0)


signal.signal(signal.SIGTERM, on_terminate)
if os.environ.get("FAKE_SERVICE_MARK"):
    open(os.environ["FAKE_SERVICE_MARK"] + ".ready", "w").close()
print("fake service running", flush=True)
while True:
    signal.pause()
