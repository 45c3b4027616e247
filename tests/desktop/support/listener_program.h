// A program that listens on a loopback port (tests/desktop/app/port_listener.py) under the process name
// a test needs, alone or as the child of a stand-in parent of another name
// (tests/desktop/app/parent_stand_in.py).
#pragma once

#include <QProcess>
#include <filesystem>
#include <string>

namespace brisel::desktop_test {

class ListenerProgram {
  public:
    // Listens on `port` (0: a free one, shared with SO_REUSEPORT) as `name`, started from a fresh folder
    // below `folder`; with `parentName`, as the child of a stand-in parent of that name. Returns once the
    // listener listens.
    ListenerProgram(const std::filesystem::path& folder, const std::string& name, int port,
                    const std::string& parentName = {});
    // SIGTERM to the started process (which ends its child), SIGKILL when it lingers.
    ~ListenerProgram();
    ListenerProgram(const ListenerProgram&) = delete;
    ListenerProgram& operator=(const ListenerProgram&) = delete;

    QProcess process;  // the listener, or its stand-in parent
    int boundPort = 0;
    qint64 listenerPid = 0;  // the listener's own process

  private:
    static std::filesystem::path copied(const std::filesystem::path& folder, const std::string& source,
                                        const std::string& name);
};

}  // namespace brisel::desktop_test
