// The shell helper against the real bash.
#include <gtest/gtest.h>

#include <QDir>

#include "desktop/app/shell_command.h"
#include "support/event_wait.h"
#include "support/temporary_folder.h"

namespace {

using brisel::desktop::app::runShellCommand;
using brisel::desktop::app::ShellCommand;
using brisel::desktop_test::waitUntil;

struct ShellRun {
    QByteArray output;
    std::vector<QByteArray> pieces;
    int exitCode = -1;
};

ShellRun runToEnd(ShellCommand command) {
    ShellRun result;
    command.onData = [&result](const QByteArray& piece) {
        result.pieces.push_back(piece);
        result.output += piece;
    };
    const auto process = runShellCommand(command);
    EXPECT_TRUE(waitUntil([&] { return process->state() == QProcess::NotRunning; }));
    result.exitCode = process->exitCode();
    return result;
}

TEST(ShellCommand, DeliversPiecesEndingAtLineFeedsAndFeedsTheInput) {
    const ShellRun lines =
        runToEnd({.commandLine = "printf 'one\\ntwo\\n'; printf 'three\\n' >&2; printf 'unfinished'"});
    EXPECT_EQ(lines.output, "one\ntwo\nthree\n");
    for (const QByteArray& piece : lines.pieces) {
        EXPECT_TRUE(piece.endsWith('\n')) << piece.toStdString();
    }

    const ShellRun input =
        runToEnd({.commandLine = "read -r line; echo \"got $line\"; cat", .input = "hello é"});
    EXPECT_EQ(input.output, "got hello é\n");
    EXPECT_EQ(input.exitCode, 0);

    // No input: the shell reads /dev/null, so a reading command ends.
    EXPECT_EQ(runToEnd({.commandLine = "cat; echo done"}).output, "done\n");
}

TEST(ShellCommand, WorkingFolderWithTildeAndOutputWithoutHandlerNeverBlocks) {
    const brisel::test_support::TemporaryFolder folder;
    ASSERT_TRUE(QDir(QDir::homePath()).mkpath("sub folder"));
    EXPECT_EQ(runToEnd({.commandLine = "pwd", .workingDirectory = "~"}).output,
              QDir::homePath().toUtf8() + "\n");
    EXPECT_EQ(runToEnd({.commandLine = "pwd", .workingDirectory = "~/sub folder"}).output,
              QDir::homePath().toUtf8() + "/sub folder\n");
    EXPECT_EQ(
        runToEnd({.commandLine = "pwd", .workingDirectory = QString::fromStdString(folder.path().string())})
            .output,
        QByteArray::fromStdString(folder.path().string()) + "\n");

    // Far more output than a pipe holds, and nobody reads it.
    const auto process = runShellCommand({.commandLine = "head -c 4000000 /dev/zero; cat; exit 7"});
    ASSERT_TRUE(waitUntil([&] { return process->state() == QProcess::NotRunning; }));
    EXPECT_EQ(process->exitCode(), 7);
}

}  // namespace
