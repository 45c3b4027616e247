// The service child process: started from the application's folder, its output echoed, its end told
// in the status line and, after the diagnostics delay, in a "Fatal Error" alert that offers a relaunch.
// Everything runs on the main thread.
#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <chrono>
#include <optional>

#include "desktop/app/alerts.h"
#include "desktop/app/output_echo.h"

namespace brisel::desktop::app {

// The titles of the status line, in the order a launch and a failure show them.
inline constexpr const char* kStartingTitle = "Brisel starting...";
inline constexpr const char* kRunningTitle = "Brisel running on port 4751";
inline constexpr const char* kCollectingDiagnosticsTitle =
    "Brisel Server not running, collecting diagnostics, please wait 20 seconds...";
inline constexpr const char* kNotRunningTitle = "Brisel Server not running";

struct SupervisorSettings {
    QString serviceProgram;  // brisel_core beside the application
    std::chrono::milliseconds diagnosticsDelay = std::chrono::seconds(20);  // from the end to the alert
    std::chrono::milliseconds terminationBound = std::chrono::seconds(5);   // SIGTERM, then SIGKILL
};

class ServiceSupervisor : public QObject {
    Q_OBJECT
  public:
    ServiceSupervisor(SupervisorSettings supervisorSettings, Alerts& userAlerts);
    // Stops the service (see `stop`).
    ~ServiceSupervisor() override;
    ServiceSupervisor(const ServiceSupervisor&) = delete;
    ServiceSupervisor& operator=(const ServiceSupervisor&) = delete;

    // Starts the service with no arguments, the application's environment and /dev/null as input; its
    // output and errors are echoed to standard output. The child gets SIGTERM when this process dies.
    // Once: a failed start or an end of the child is final.
    void startServer();

    // The quit path: ends supervision, sends SIGTERM and waits at most the termination bound, then
    // SIGKILL. Idempotent.
    void stop();

    // The service's process id while it runs, else 0.
    qint64 servicePid() const { return briselServerTask.processId(); }

  signals:
    void statusTitleChanged(const QString& title);
    // The user's answer to the "Fatal Error" alert.
    void ignoreChosen();
    void relaunchChosen();

  private:
    // The child ended (no error) or failed to start (the start error). Shows the diagnostics title at
    // once, and after the diagnostics delay the last title and the alert. Once per child.
    void serverStopped(const std::optional<QString>& error);
    void echoOutput();

    SupervisorSettings settings;
    Alerts& alerts;
    QProcess briselServerTask;
    OutputEcho echo;
    bool stopping = false;
    bool stopReported = false;
};

}  // namespace brisel::desktop::app
