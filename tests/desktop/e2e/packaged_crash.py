#!/usr/bin/python3
"""The Debian packages unpacked side by side into a scratch root (dpkg -x): the tray application there
is stripped, and once it has crashed, its next start reports the crash with the frame of its own
main() named, from the -dbgsym package's debugging information under /usr/lib/debug/.build-id/.

Runs as root of private user, mount, network and process namespaces, on a session bus of its own:
    unshare -rmnpf --mount-proc dbus-run-session -- packaged_crash.py <package> <dbgsym package>
so that the debugging information can be mounted over /usr/lib/debug, port 4751 is private and every
process it started ends with it. The crash report stays in the outbox: the crash-report host is a
closed port. Prints the frames of the report and "PASS"; a failed check ends it with a message."""
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from checks import check, wait_for

PROGRAM = "usr/bin/Velko Brisel"


def crash_events(outbox):
    """The payloads of the event items of every report in the outbox."""
    events = []
    for report in sorted(glob.glob(os.path.join(outbox, "*.envelope"))):
        with open(report, encoding="utf-8") as file:
            lines = file.read().splitlines()
        for header, payload in zip(lines[1::2], lines[2::2]):
            if json.loads(header).get("type") == "event":
                events.append(json.loads(payload))
    return events


class Application:
    """One run of the unpacked tray application, its output in a file."""

    def __init__(self, program, environment, output):
        with open(output, "ab") as sink:
            self.process = subprocess.Popen([program], env=environment, stdin=subprocess.DEVNULL, stdout=sink,
                                            stderr=subprocess.STDOUT)

    def ended(self, seconds=30.0):
        wait_for(lambda: self.process.poll() is not None, "the application to end", seconds)
        return self.process.returncode


def main():
    check(len(sys.argv) == 3, "usage: packaged_crash.py <package> <dbgsym package>")
    scratch = tempfile.mkdtemp(prefix="brisel-packaged-crash-")
    try:
        root = os.path.join(scratch, "root")
        for package in sys.argv[1:]:
            subprocess.run(["dpkg", "-x", package, root], check=True)
        program = os.path.join(root, PROGRAM)
        sections = subprocess.run(["readelf", "--wide", "--section-headers", program], check=True, text=True,
                                  capture_output=True).stdout
        check(" .symtab " not in sections and " .debug_info " not in sections, f"{PROGRAM} is not stripped")
        subprocess.run(["mount", "--bind", os.path.join(root, "usr/lib/debug"), "/usr/lib/debug"], check=True)
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)

        home = os.path.join(scratch, "home")
        runtime = os.path.join(scratch, "runtime")
        for folder in (home, runtime, os.path.join(scratch, "tmp")):
            os.makedirs(folder, mode=0o700)
        environment = {
            "PATH": os.environ["PATH"],
            "HOME": home,
            "TMPDIR": os.path.join(scratch, "tmp"),
            "XDG_RUNTIME_DIR": runtime,
            "LANG": "C.UTF-8",
            "DBUS_SESSION_BUS_ADDRESS": os.environ["DBUS_SESSION_BUS_ADDRESS"],
            "QT_QPA_PLATFORM": "offscreen",
            "BRISEL_CRASH_REPORT_HOST": "127.0.0.1:9",
            "BRISEL_CRASH_REPORT_PROJECT": "1",
            "BRISEL_UPDATE_FEED_HOST": "127.0.0.1:9",
        }
        output = os.path.join(scratch, "application.out")
        reports = os.path.join(home, ".local/share/velko/crash_reports")
        service_log = os.path.join(home, ".local/share/velko/desktop_client.log")
        try:
            # The service starts after crash reporting: once its log is there, a crash is recorded.
            crashing = Application(program, environment, output)
            wait_for(lambda: os.path.exists(service_log), "the service's log", 60.0)
            # The main thread takes a signal sent to the process: the report holds its stack, main() in it.
            os.kill(crashing.process.pid, signal.SIGSEGV)
            check(crashing.ended() == -signal.SIGSEGV, "the application did not end by SIGSEGV")
            running = os.path.join(reports, "running")
            check(any(name.endswith(".marker") for name in os.listdir(running)), "no crash marker")

            reporting = Application(program, environment, output)
            events = wait_for(lambda: crash_events(os.path.join(reports, "outbox")), "the crash report", 60.0)
            reporting.process.send_signal(signal.SIGTERM)
            check(reporting.ended() == 0, "the second run did not quit on SIGTERM")
        except SystemExit:
            with open(output, encoding="utf-8", errors="replace") as file:
                print(file.read()[-4000:], file=sys.stderr)
            raise

        frames = events[0]["exception"]["values"][0]["stacktrace"]["frames"]
        for frame in frames:
            print("frame:", frame.get("function", "?"), "in", os.path.basename(frame.get("package", "?")),
                  f'({frame["filename"]}:{frame["lineno"]})' if "filename" in frame else "")
        own = [frame for frame in frames if frame.get("package") == program]
        check(any(frame.get("function") == "main" and frame.get("filename", "").endswith("src/desktop/app/main.cpp")
                  for frame in own), f"main() of {PROGRAM} is not named: {own}")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("PASS")


if __name__ == "__main__":
    main()
