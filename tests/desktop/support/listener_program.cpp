#include "support/listener_program.h"

#include <gtest/gtest.h>

namespace brisel::desktop_test {

namespace fs = std::filesystem;

fs::path ListenerProgram::copied(const fs::path& folder, const std::string& source, const std::string& name) {
    static int made = 0;
    const auto program = folder / ("program-" + std::to_string(++made)) / name;
    fs::create_directories(program.parent_path());
    fs::copy_file(fs::path(BRISEL_SOURCE_DIR) / "tests/desktop/app" / source, program);
    fs::permissions(program, fs::perms::owner_all);
    return program;
}

ListenerProgram::ListenerProgram(const fs::path& folder, const std::string& name, int port,
                                 const std::string& parentName) {
    const QString listener = QString::fromStdString(copied(folder, "port_listener.py", name).string());
    if (parentName.empty()) {
        process.start(listener, {QString::number(port)});
    } else {
        process.start(QString::fromStdString(copied(folder, "parent_stand_in.py", parentName).string()),
                      {listener, QString::number(port)});
    }
    const auto nextLine = [this] {
        while (!process.canReadLine() && process.waitForReadyRead(30000)) {
        }
        EXPECT_TRUE(process.canReadLine()) << process.errorString().toStdString();
        return process.readLine().trimmed();
    };
    boundPort = nextLine().toInt();
    listenerPid = parentName.empty() ? process.processId() : nextLine().toLongLong();
}

ListenerProgram::~ListenerProgram() {
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

}  // namespace brisel::desktop_test
