// The real `Velko Brisel`, its launcher and the real brisel_core in their own namespaces (`unshare -rmn`:
// loopback only, a private X socket folder), on a private X server (Xvfb) and session bus with a
// stand-in tray host, with a home folder of their own. tray_session.py drives the launches.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/file_contents.h"
#include "support/temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using brisel::test_support::readText;

TEST(TrayEndToEnd, LaunchMenuServiceLoginItemAndQuitOnARealDisplayAndBus) {
    const brisel::test_support::TemporaryFolder folder;
    const fs::path artefacts = fs::path(BRISEL_BINARY_DIR) / "test-artefacts";
    fs::create_directories(artefacts);
    for (const char* sub : {"home", "tmp", "runtime", "x11", "logs"}) {
        fs::create_directories(folder.path() / sub);
    }
    fs::permissions(folder.path() / "runtime", fs::perms::owner_all);
    const std::string source = BRISEL_SOURCE_DIR "/tests";
    const fs::path script = folder.path() / "session.sh";
    std::ofstream(script)
        << "set -eu\n"
        << "export F='" << folder.path().string() << "'\n"
        << "ip link set lo up\n"
        << "mkdir -p /tmp/.X11-unix && mount --bind \"$F/x11\" /tmp/.X11-unix\n"
        << "export HOME=\"$F/home\" TMPDIR=\"$F/tmp\" XDG_RUNTIME_DIR=\"$F/runtime\"\n"
        << "unset XDG_CONFIG_HOME XDG_DATA_HOME QT_QPA_PLATFORM WAYLAND_DISPLAY\n"
        // Under ThreadSanitizer, the accesses that Qt and the libraries under it make through the
        // sanitizer's interceptors go unchecked (our own code's stay checked): their threads (host
        // lookups, the X event queue) free and signal what they synchronise invisibly to it, and the
        // runtime of this compiler aborts while it reports a race found when a block is freed, before
        // any suppression is consulted.
        << "export TSAN_OPTIONS=\"${TSAN_OPTIONS:-}:ignore_noninstrumented_modules=1\"\n"
        << "export LSAN_OPTIONS=\"suppressions=" << source
        << "/desktop/qt_leaks.supp:print_suppressions=0\"\n"
        << "Xvfb :9 -nolock -nolisten tcp -screen 0 1024x768x24 >\"$F/xvfb.log\" 2>&1 &\n"
        << "XVFB=$!\n"
        << "trap 'kill $XVFB 2>/dev/null' EXIT\n"
        << "for i in $(seq 400); do [ -S /tmp/.X11-unix/X9 ] && break; sleep 0.05; done\n"
        << "[ -S /tmp/.X11-unix/X9 ] || { echo 'FAILED: Xvfb did not start'; cat \"$F/xvfb.log\"; exit 1; }\n"
        << "export DISPLAY=:9\n"
        << "exec dbus-run-session -- bash -c '\n"
        << "  /usr/bin/python3 " << source
        << "/desktop/e2e/status_notifier_watcher.py >\"$F/watcher.out\" 2>&1 &\n"
        << "  for i in $(seq 400); do grep -q WATCHING \"$F/watcher.out\" && break; sleep 0.05; done\n"
        << "  grep -q WATCHING \"$F/watcher.out\" || { echo FAILED: no tray host; cat \"$F/watcher.out\"; "
           "exit 1; }\n"
        << "  exec /usr/bin/python3 " << source << "/desktop/e2e/tray_session.py --app \""
        << BRISEL_APPLICATION << "\" --launcher \"" << BRISEL_LAUNCHER << "\" --client " << source
        << "/e2e/ws_client.py"
        << " --screen-grab " << BRISEL_SCREEN_GRAB << " --alert-key " << BRISEL_ALERT_KEY << " --screenshot "
        << (artefacts / "tray_menu.png").string() << " --logs \"$F/logs\"'\n";
    const fs::path out = folder.path() / "session.out";
    const std::string command =
        "timeout 280 unshare -rmn bash '" + script.string() + "' >'" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::string logs;
    for (const auto& run : fs::directory_iterator(folder.path() / "logs")) {
        logs += "--- " + run.path().filename().string() + "\n" + readText(run.path());
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readText(out) << logs;
    EXPECT_NE(readText(out).find("PASS"), std::string::npos) << readText(out) << logs;
    EXPECT_TRUE(fs::exists(artefacts / "tray_menu.png"));
}

}  // namespace
