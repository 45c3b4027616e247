// SIGTERM, SIGINT and SIGHUP (a logout sends them) end the application through its ordinary quit
// path, so that the service child is stopped rather than orphaned on its port.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace brisel::desktop::app {

// While it exists, the three signals call `quit` on the main thread (through a pipe that the signal
// handler writes). One instance per process; its destruction restores the default actions.
class QuitOnSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitOnSignals(std::function<void()> onQuit);
    ~QuitOnSignals() override;
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

  private:
    std::function<void()> quit;
    int readEnd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
};

}  // namespace brisel::desktop::app
