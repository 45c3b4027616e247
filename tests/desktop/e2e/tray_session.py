#!/usr/bin/python3
"""Drives the real tray application on a private session bus and X display (started by
tray_e2e_test.cpp): reads and clicks its menu over D-Bus the way a tray host does, answers its alerts
with a key, talks to the real service over the websocket, and takes a screenshot of the open menu. The
launches share one home: through the launcher (first run); started twice, where the second start leaves
the first be, whose service is then killed and "Relaunch" chosen; from a second installation, whose
login item the user then removes by hand; directly (the service is killed); directly again (the login
item stays off; SIGTERM quits); once more to be killed outright (its service must not stay behind);
started while the running one quits (the start waits for it); and in homes whose autostart or
configuration folder is read-only.
Prints "PASS" at the end; any failed check ends it with a message."""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

import dbus

from checks import check, wait_for

PROPERTIES = "org.freedesktop.DBus.Properties"
MENU = "com.canonical.dbusmenu"
ITEM = "org.kde.StatusNotifierItem"
RUNNING = "Brisel running on port 4751"
DIAGNOSTICS = "Brisel Server not running, collecting diagnostics, please wait 20 seconds..."
NOT_RUNNING = "Brisel Server not running"
# The runs that see the application's 20 s diagnostics wait shorten its waits by this factor.
SCALE = 0.1
LABELS = [RUNNING, "Check for Updates", "Preferences", "Logs", "Open at Login", "About", "Quit"]
HANDSHAKE = 'REPLY {"command":"handshake","status":"OK","data":{"build":10240000008025}}'


class Session:
    def __init__(self, arguments):
        self.arguments = arguments
        self.bus = dbus.SessionBus()
        self.autostart = os.path.join(os.environ["HOME"], ".config/autostart/com.Velko.BriselLaunchHelper.desktop")

    def items(self):
        watcher = self.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
        return [str(item) for item in watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                                                  dbus_interface=PROPERTIES)]

    def new_item(self, known):
        """The item that registers after `known` items, once its owner is on the bus."""
        return wait_for(lambda: next((i for i in self.items()[known:] if self.bus.name_has_owner(i)), None),
                        "the status item")

    def menu(self, item):
        path = self.bus.get_object(item, "/StatusNotifierItem").Get(ITEM, "Menu", dbus_interface=PROPERTIES)
        return self.bus.get_object(item, path)

    @staticmethod
    def entries(menu):
        _, (_, _, children) = menu.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
        return [(int(child[0]), dict(child[1])) for child in children
                if dict(child[1]).get("type") != "separator"]

    def labels(self, menu):
        return [str(properties.get("label", "")) for _, properties in self.entries(menu)]

    def toggle_state(self, menu):
        return next(int(p.get("toggle-state", -1)) for _, p in self.entries(menu) if p.get("label") == "Open at Login")

    def click(self, menu, label):
        identifier = next(i for i, p in self.entries(menu) if p.get("label") == label)
        menu.Event(identifier, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU)

    def wait_title(self, menu, title):
        wait_for(lambda: self.labels(menu)[0] == title, f'the status line "{title}"')

    def toggle_login_item(self, menu, expected):
        self.click(menu, "Open at Login")
        wait_for(lambda: self.toggle_state(menu) == expected, f"the check mark {expected}")
        check(os.path.exists(self.autostart) == bool(expected), f"autostart entry present should be {expected}")

    def owner_pid(self, item):
        daemon = self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
        return int(daemon.GetConnectionUnixProcessID(item, dbus_interface="org.freedesktop.DBus"))

    @staticmethod
    def service_child(parent):
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                with open(f"/proc/{entry}/comm") as comm:
                    name = comm.read().strip()
            except OSError:
                continue
            if int(fields[1]) == parent and name == "brisel_core":
                return int(entry)
        return None

    def handshake(self):
        reply = subprocess.run([sys.executable, self.arguments.client, "ws://127.0.0.1:4751", "--send",
                                '{"buildNumber": 10240000008025}'], capture_output=True, text=True, timeout=60)
        check(HANDSHAKE in reply.stdout.splitlines(), f"no handshake reply from the service: {reply.stdout}")

    def first_run_through_the_launcher(self, log):
        known = len(self.items())
        launcher = subprocess.Popen([self.arguments.launcher], stdout=log, stderr=subprocess.STDOUT)
        item = self.new_item(known)
        menu = self.menu(item)
        check(launcher.wait(timeout=60) == 0, "the launcher did not end on killLauncher")
        self.wait_title(menu, RUNNING)
        check(self.labels(menu) == LABELS, f"menu labels {self.labels(menu)}")
        check(self.toggle_state(menu) == 1, "first run: Open at Login is not checked")
        check(os.path.exists(self.autostart), "first run: no autostart entry")
        self.handshake()
        self.toggle_login_item(menu, 0)
        self.toggle_login_item(menu, 1)
        application = self.owner_pid(item)
        self.click(menu, "Quit")
        wait_for(lambda: ended(application), "the application to quit")

    def start_application(self, log, program=None, scaled=False, environment=None):
        """Starts the application directly; answers it, its item's bus name and its menu, once running."""
        known = len(self.items())
        application = subprocess.Popen([program or self.arguments.app], stdout=log, stderr=subprocess.STDOUT,
                                       env=scaled_environment() if scaled else environment)
        name = self.new_item(known)
        menu = self.menu(name)
        self.wait_title(menu, RUNNING)
        return application, name, menu

    def second_run_loses_its_service(self, log):
        application, name, menu = self.start_application(log)
        check(self.toggle_state(menu) == 1, "second run: Open at Login is not checked")
        item = self.bus.get_object(name, "/StatusNotifierItem")
        item.Activate(dbus.Int32(100), dbus.Int32(100), dbus_interface=ITEM)  # a left click
        grab = subprocess.run([self.arguments.screen_grab, self.arguments.screenshot], capture_output=True,
                              text=True, timeout=60)
        check(grab.returncode == 0, f"no screenshot of the open menu: {grab.stderr}")
        service = wait_for(lambda: self.service_child(application.pid), "the service child")
        os.kill(service, signal.SIGKILL)
        self.wait_title(menu, DIAGNOSTICS)
        self.toggle_login_item(menu, 0)
        self.click(menu, "Quit")
        check(application.wait(timeout=60) == 0, "Quit did not end the application with status 0")

    def third_run_keeps_the_login_item_off(self, log):
        application, _, menu = self.start_application(log)
        check(self.toggle_state(menu) == 0, "third run: the login item came back")
        check(not os.path.exists(self.autostart), "third run: the autostart entry came back")
        application.send_signal(signal.SIGTERM)  # as at logout
        check(application.wait(timeout=60) == 0, "SIGTERM did not end the application with status 0")

    def instances(self, home=None):
        """The running applications of this session's home, or of `home`."""
        found = []
        for entry in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{entry}/comm") as comm:
                    if comm.read().strip() != "Velko Brisel" or ended(int(entry)):
                        continue
                with open(f"/proc/{entry}/environ", "rb") as environ:
                    variables = environ.read().split(b"\0")
            except OSError:
                continue
            if ("HOME=" + (home or os.environ["HOME"])).encode() in variables:
                found.append(int(entry))
        return found

    def entry_command(self):
        with open(self.autostart) as entry:
            return next(line for line in entry.read().splitlines() if line.startswith("Exec="))

    def second_start_leaves_the_first_alone_and_relaunch_restarts_once(self, log):
        first, _, menu = self.start_application(log, scaled=True)
        service = wait_for(lambda: self.service_child(first.pid), "the service child")
        second_log = os.path.join(self.arguments.logs, "second_start.out")
        with open(second_log, "w") as output:  # as a double click on the menu entry
            second = subprocess.Popen([self.arguments.app], stdout=output, stderr=subprocess.STDOUT,
                                      env=scaled_environment())
            check(second.wait(timeout=10) == 0, "the second start did not end at once with status 0")
        check(self.instances() == [first.pid], f"instances after the second start: {self.instances()}")
        check("already runs" in read(second_log), "the second start did not say why it ended")
        # Longer than the first's diagnostics wait: its service, status and name stay as they were.
        deadline = time.monotonic() + 25 * SCALE
        while time.monotonic() < deadline:
            check(self.labels(menu)[0] == RUNNING, f"the first's status line became {self.labels(menu)[0]}")
            check(self.service_child(first.pid) == service, "the first's service ended or was replaced")
            time.sleep(0.1)
        check(self.owner_pid("com.Velko.Brisel") == first.pid, "the bus name left the first instance")
        check("Alert:" not in read(log.name), "the first instance showed an alert")

        known = len(self.items())
        os.kill(service, signal.SIGKILL)
        self.wait_title(menu, NOT_RUNNING)
        answer = subprocess.run([self.arguments.alert_key, str(first.pid), "Return"], capture_output=True,
                                text=True, timeout=60)
        check(answer.returncode == 0, f"the Fatal Error alert was not answered: {answer.stderr}")
        log.write(answer.stdout)
        check(first.wait(timeout=60) == 0, "Relaunch did not end the first instance with status 0")
        item = self.new_item(known)
        successor = self.owner_pid(item)
        menu = self.menu(item)
        self.wait_title(menu, RUNNING)
        check(self.instances() == [successor], f"instances after the relaunch: {self.instances()}")
        check(self.owner_pid("com.Velko.Brisel") == successor, "the successor does not own the bus name")
        self.click(menu, "Quit")
        wait_for(lambda: ended(successor), "the relaunched application to quit")
        check(read(log.name).count("Relaunched") == 1, "Relaunch did not start exactly one successor")

    def second_installation(self):
        """Copies the programs elsewhere, as a newer build unpacked beside the first; answers its two."""
        root = os.path.join(os.environ["TMPDIR"], "second installation")
        application = os.path.join(root, "bin", "Velko Brisel")
        launcher = os.path.join(root, "libexec", "brisel", "BriselLaunchHelper")
        for program, source in ((application, self.arguments.app), (launcher, self.arguments.launcher)):
            os.makedirs(os.path.dirname(program), exist_ok=True)
            shutil.copy2(source, program)
        os.symlink(os.path.join(os.path.dirname(self.arguments.app), "brisel_core"),
                   os.path.join(root, "bin", "brisel_core"))
        return application, launcher

    def login_item_follows_a_second_installation(self, log):
        application, launcher = self.second_installation()
        check(launcher not in self.entry_command(), "the entry starts the second installation before it ran")
        running, _, menu = self.start_application(log, program=application)
        check(self.toggle_state(menu) == 1, "second installation: Open at Login is not checked")
        check(launcher in self.entry_command(), f"the entry did not follow: {self.entry_command()}")
        os.remove(self.autostart)  # the user removes the entry by hand
        menu.AboutToShow(0, dbus_interface=MENU)
        wait_for(lambda: self.toggle_state(menu) == 0, "the check mark to follow the removed entry")
        self.click(menu, "Quit")
        check(running.wait(timeout=60) == 0, "Quit did not end the application with status 0")
        running, _, menu = self.start_application(log, program=application)
        check(self.toggle_state(menu) == 0, "a removed entry shows a check mark")
        check(not os.path.exists(self.autostart), "a removed entry was written back")
        self.toggle_login_item(menu, 1)  # on again, as the runs after this one expect
        self.click(menu, "Quit")
        check(running.wait(timeout=60) == 0, "Quit did not end the application with status 0")

    def start_during_a_quit_waits_and_then_starts(self, log):
        """A start while the running instance quits, whose service takes two seconds to end: the start
        waits, and soon after the first has gone, it runs and its service serves 4751."""
        home, environment = fresh_home("quit home")
        os.makedirs(os.path.join(home, ".config", "Velko"))
        with open(os.path.join(home, ".config", "Velko", "Brisel.conf"), "w") as settings:
            settings.write("[General]\nhasPresentedInitialHelpWindowKey=true\n")  # no first-launch notice
        root = os.path.join(os.environ["TMPDIR"], "slow installation")
        slow = os.path.join(root, "bin", "Velko Brisel")
        os.makedirs(os.path.dirname(slow))
        shutil.copy2(self.arguments.app, slow)
        os.symlink(os.path.join(os.path.dirname(os.path.abspath(__file__)), "slow_ending_service.py"),
                   os.path.join(root, "bin", "brisel_core"))
        mark = os.path.join(root, "service")
        first, _, menu = self.start_application(log, program=slow, environment=dict(environment,
                                                                                  SLOW_SERVICE_MARK=mark))
        wait_for(lambda: os.path.exists(mark + ".ready"), "the slow service to listen")
        self.click(menu, "Quit")
        wait_for(lambda: os.path.exists(mark + ".terminated"), "the slow service to get SIGTERM")
        known = len(self.items())
        second_log = os.path.join(self.arguments.logs, "start_during_a_quit.out")
        with open(second_log, "w") as output:
            second = subprocess.Popen([self.arguments.app], stdout=output, stderr=subprocess.STDOUT, env=environment)
            check(first.wait(timeout=30) == 0, "the quitting instance did not end with status 0")
            # Within 10 s of the first's end: the second runs, and its service listens.
            deadline = time.monotonic() + 10
            wait_for(lambda: serves(4751) and second.poll() is None and self.items()[known:],
                     "the second start to run its service", deadline - time.monotonic())
            menu = self.menu(self.new_item(known))
            wait_for(lambda: self.labels(menu)[0] == RUNNING, "the second's status line",
                     deadline - time.monotonic())
            print(f"the start during a quit served 4751 {10 - (deadline - time.monotonic()):.1f} s after the "
                  "quitting instance had gone", flush=True)
            self.handshake()
            check(self.instances(home) == [second.pid], f"instances after the quit: {self.instances(home)}")
            check("this start waits for it to end" in read(second_log), "the second start did not say it waits")
            self.click(menu, "Quit")
            check(second.wait(timeout=60) == 0, "Quit did not end the second start with status 0")

    def login_item_and_settings_that_cannot_be_written(self, log):
        """A read-only autostart folder: the first-launch notice says that the login item was not
        registered, and why. A read-only configuration folder: each start says so once in its log and
        shows no notice."""
        home, environment = fresh_home("read-only autostart home")
        read_only(os.path.join(home, ".config", "autostart"))
        application, _, menu = self.start_application(log, environment=environment)
        notice = wait_for(lambda: next((line for line in read(log.name).splitlines()
                                        if "Alert: Velko Brisel Launched" in line), None), "the first-launch notice")
        check("will automatically launch" not in notice, f"the notice claims a login item: {notice}")
        check("Its login item could not be registered" in notice and "Read-only file system" in notice,
              f"the notice does not say what became of the login item: {notice}")
        check(self.toggle_state(menu) == 0, "a login item that could not be written shows a check mark")
        answer = subprocess.run([self.arguments.alert_key, str(application.pid), "Return"], capture_output=True,
                                text=True, timeout=60)
        check(answer.returncode == 0, f"the first-launch notice was not answered: {answer.stderr}")
        self.click(menu, "Quit")
        check(application.wait(timeout=60) == 0, "Quit did not end the application with status 0")

        home, environment = fresh_home("read-only configuration home")
        read_only(os.path.join(home, ".config"))
        for start in (1, 2):
            start_log = os.path.join(self.arguments.logs, f"read_only_configuration_{start}.out")
            with open(start_log, "w") as output:
                application, _, menu = self.start_application(output, environment=environment)
                self.click(menu, "Quit")
                check(application.wait(timeout=60) == 0, "Quit did not end the application with status 0")
            text = read(start_log)
            check(text.count("Cannot save the settings:") == 1 and "Read-only file system" in text,
                  f"start {start} did not say once that the settings cannot be saved")
            check("Alert:" not in text, f"start {start} with read-only settings showed an alert")

    def killed_application_takes_its_service_along(self, log):
        application, _, _ = self.start_application(log)
        service = wait_for(lambda: self.service_child(application.pid), "the service child")
        application.kill()  # no quit path at all: the service's parent-death signal ends it
        application.wait(timeout=60)
        wait_for(lambda: ended(service), "the orphaned service to end")


def ended(pid):
    """Whether the process is gone or only a zombie waiting for its new parent."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def fresh_home(name):
    """A new home folder of that name, and the environment that uses it."""
    home = os.path.join(os.environ["TMPDIR"], name)
    os.makedirs(home)
    return home, dict(os.environ, HOME=home)


def read_only(folder):
    """Makes the folder read-only by a read-only bind mount over it (permissions do not hold for the
    namespace's root)."""
    os.makedirs(folder, exist_ok=True)
    for command in (["mount", "--bind", folder, folder], ["mount", "-o", "remount,bind,ro", folder]):
        subprocess.run(command, check=True)


def serves(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def scaled_environment():
    return dict(os.environ, BRISEL_TIME_SCALE=str(SCALE))


def read(path):
    with open(path) as text:
        return text.read()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--app", "--launcher", "--client", "--screen-grab", "--alert-key", "--screenshot", "--logs"):
        parser.add_argument(option, required=True)
    arguments = parser.parse_args()
    session = Session(arguments)
    runs = [session.first_run_through_the_launcher,
            session.second_start_leaves_the_first_alone_and_relaunch_restarts_once,
            session.login_item_follows_a_second_installation, session.second_run_loses_its_service,
            session.third_run_keeps_the_login_item_off, session.killed_application_takes_its_service_along,
            session.start_during_a_quit_waits_and_then_starts,
            session.login_item_and_settings_that_cannot_be_written]
    logs = {}
    for number, run in enumerate(runs, 1):
        logs[run.__name__] = os.path.join(arguments.logs, f"run{number}.out")
        with open(logs[run.__name__], "w") as log:
            run(log)
    first, second, third = (read(logs[run.__name__]) for run in (
        session.first_run_through_the_launcher, session.second_run_loses_its_service,
        session.third_run_keeps_the_login_item_off))
    starting, running = first.find("Status: Brisel starting..."), first.find("Status: " + RUNNING)
    check(0 <= starting < running, "the status line did not go from starting to running")
    check(first.count("Alert: Velko Brisel Launched") == 1, "the first run showed no first-launch notice")
    check("Alert: Velko Brisel Launched" not in second + third, "a later run showed the first-launch notice")
    for name, log in (("first", first), ("third", third)):
        check("The service was ended by signal 15" in log, f"the {name} run did not end its service with SIGTERM")
    check("The service was ended by signal 9" in second, "the second run did not see its service killed")
    print("PASS", flush=True)


if __name__ == "__main__":
    main()
