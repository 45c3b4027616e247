// The service child process: started from the application's folder, its output echoed, and its start
// and its end (with the start error when it could not start) reported to the owner, which tells the
// user. Everything runs on the main thread.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <chrono>
#include <optional>

#include "desktop/app/output_echo.h"

namespace brisel::desktop::app {

struct SupervisorSettings {
    QString serviceProgram;  // brisel_core beside the application
    std::chrono::milliseconds terminationBound = std::chrono::seconds(5);  // SIGTERM, then SIGKILL
};

class ServiceSupervisor : public QObject {
    Q_OBJECT
  public:
    explicit ServiceSupervisor(SupervisorSettings supervisorSettings);
    // Stops the service (see `stop`).
    ~ServiceSupervisor() override;
    ServiceSupervisor(const ServiceSupervisor&) = delete;
    ServiceSupervisor& operator=(const ServiceSupervisor&) = delete;

    // Starts the service with no arguments, the application's environment and /dev/null as input; its
    // output and errors are echoed to standard output. The child gets SIGTERM when this process dies.
    // Once: a failed start or an end of the child is final.
    void startServer();

    // The quit path: ends supervision (no `ended` from here on), sends SIGTERM and waits at most the
    // termination bound, then SIGKILL. Idempotent.
    void stop();

    // The service's process id while it runs, else 0.
    qint64 servicePid() const { return briselServerTask.processId(); }

  signals:
    // The service process runs.
    void started();
    // The service ended (crash, signal or exit; `startError` none) or could not start (`startError` says
    // why). Once per supervisor, never after `stop`.
    void ended(const std::optional<QString>& startError);

  private:
    void report(const std::optional<QString>& startError);
    void echoOutput();

    SupervisorSettings settings;
    QProcess briselServerTask;
    OutputEcho echo;
    bool stopping = false;
    bool endReported = false;
};

}  // namespace brisel::desktop::app
