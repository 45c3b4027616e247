// One shell command line run by /bin/bash, with optional input, working folder and output handler.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace brisel::desktop::app {

struct ShellCommand {
    QString commandLine{};
    std::optional<QString> input{};             // written, followed by a line feed, once the shell runs
    std::optional<QString> workingDirectory{};  // a leading "~" or "~/" stands for the home folder
    // Receives standard output and error together in pieces that each end at a line feed (a piece
    // may hold several lines); a last line without a line feed is not delivered. Main thread.
    std::function<void(const QByteArray& piece)> onData{};
};

// Starts `/bin/bash -c <commandLine>` and returns its process at once (a failed start is reported by
// the process's error). The input is written after the shell started and the input is then closed;
// without input the shell reads /dev/null; without a handler its output goes to /dev/null. So the
// command never waits on a pipe nobody serves. The caller owns the process; destroying it kills a
// shell that still runs.
std::unique_ptr<QProcess> runShellCommand(const ShellCommand& command);

}  // namespace brisel::desktop::app
