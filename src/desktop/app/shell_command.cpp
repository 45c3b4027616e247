#include "desktop/app/shell_command.h"

#include <QDir>

#include "common/home_folder_expansion.h"

namespace brisel::desktop::app {

std::unique_ptr<QProcess> runShellCommand(const ShellCommand& command) {
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setProgram(QStringLiteral("/bin/bash"));
    process->setArguments({QStringLiteral("-c"), command.commandLine});
    if (command.workingDirectory) {
        process->setWorkingDirectory(QString::fromStdString(common::expandHomeFolder(
            command.workingDirectory->toStdString(), QDir::homePath().toStdString())));
    }
    if (!command.input) {
        process->setStandardInputFile(QProcess::nullDevice());
    }
    if (command.onData) {
        QProcess* source = process.get();
        QObject::connect(source, &QProcess::readyReadStandardOutput, source,
                         [source, onData = command.onData, pending = QByteArray()]() mutable {
                             pending += source->readAllStandardOutput();
                             const qsizetype end = pending.lastIndexOf('\n') + 1;
                             if (end > 0) {
                                 const QByteArray piece = pending.left(end);
                                 pending.remove(0, end);
                                 onData(piece);
                             }
                         });
    } else {
        process->setStandardOutputFile(QProcess::nullDevice());
    }
    process->start();
    if (command.input) {
        process->write(command.input->toUtf8() + '\n');
        process->closeWriteChannel();
    }
    return process;
}

}  // namespace brisel::desktop::app
