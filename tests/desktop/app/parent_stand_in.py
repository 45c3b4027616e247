#!/usr/bin/python3
"""Stands in for a parent program (tests copy it under the name they need, such as "Velko Brisel"): runs
the program and arguments given to it as its child, prints the child's first line and then the child's
pid, and waits; on SIGTERM it ends the child and then itself."""
import signal
import subprocess
import sys

child = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, text=True)
print(child.stdout.readline().strip(), flush=True)
print(child.pid, flush=True)


def end(number, frame):
    child.terminate()
    child.wait()
    sys.exit(0)


signal.signal(signal.SIGTERM, end)
while True:
    signal.pause()
