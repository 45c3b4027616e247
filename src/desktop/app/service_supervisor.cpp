#include "desktop/app/service_supervisor.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QDebug>
#include <csignal>
#include <cstdio>
#include <utility>

namespace brisel::desktop::app {

ServiceSupervisor::ServiceSupervisor(SupervisorSettings supervisorSettings)
    : settings(std::move(supervisorSettings)) {
    briselServerTask.setProgram(settings.serviceProgram);
    briselServerTask.setProcessChannelMode(QProcess::MergedChannels);
    briselServerTask.setStandardInputFile(QProcess::nullDevice());
    // Runs in the child between fork and exec: only async-signal-safe calls.
    briselServerTask.setChildProcessModifier([parent = ::getpid()] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(EXIT_FAILURE);  // the application died before the backstop was in place
        }
    });
    connect(&briselServerTask, &QProcess::started, this, [this] {
        qInfo().noquote() << "Started" << settings.serviceProgram << "as process" << servicePid();
        emit started();
    });
    connect(&briselServerTask, &QProcess::readyReadStandardOutput, this, &ServiceSupervisor::echoOutput);
    connect(&briselServerTask, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A crash also ends in `finished`; only a failed start is reported here.
        if (error == QProcess::FailedToStart) {
            report(briselServerTask.errorString());
        }
    });
    connect(&briselServerTask, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        echoOutput();
        if (status == QProcess::CrashExit) {
            qInfo().noquote() << "The service was ended by signal" << code;
        } else {
            qInfo().noquote() << "The service exited with status" << code;
        }
        report(std::nullopt);
    });
}

ServiceSupervisor::~ServiceSupervisor() {
    stop();
}

void ServiceSupervisor::startServer() {
    briselServerTask.start();
}

void ServiceSupervisor::stop() {
    stopping = true;
    if (briselServerTask.state() == QProcess::NotRunning) {
        return;
    }
    const auto bound = static_cast<int>(settings.terminationBound.count());
    briselServerTask.terminate();
    if (!briselServerTask.waitForFinished(bound)) {
        qWarning().noquote() << "The service did not end on SIGTERM; killing it";
        briselServerTask.kill();
        briselServerTask.waitForFinished(bound);
    }
}

void ServiceSupervisor::echoOutput() {
    if (auto text = echo.take(briselServerTask.readAllStandardOutput())) {
        const QByteArray line = text->toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
        std::fflush(stdout);
    }
}

void ServiceSupervisor::report(const std::optional<QString>& startError) {
    if (stopping || std::exchange(endReported, true)) {
        return;
    }
    emit ended(startError);
}

}  // namespace brisel::desktop::app
