"""What the Python scripts of the desktop end-to-end cases share: a check that ends the script with a
message when it fails, and a bounded wait."""
import sys
import time


def check(condition, message):
    if not condition:
        sys.exit(f"FAILED: {message}")


def wait_for(probe, what, seconds=30.0):
    """Polls `probe` until it answers something true; fails after `seconds`."""
    deadline = time.monotonic() + seconds
    while True:
        value = probe()
        if value:
            return value
        check(time.monotonic() < deadline, f"timed out waiting for {what}")
        time.sleep(0.05)
