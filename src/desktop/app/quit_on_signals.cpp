#include "desktop/app/quit_on_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDebug>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <utility>

namespace brisel::desktop::app {

namespace {

constexpr std::array kQuitSignals = {SIGTERM, SIGINT, SIGHUP};
std::atomic<int> signalWriteEnd{-1};

extern "C" void onQuitSignal(int signalNumber) {
    const auto byte = static_cast<unsigned char>(signalNumber);
    const int saved = errno;
    [[maybe_unused]] const auto written = ::write(signalWriteEnd.load(), &byte, 1);
    errno = saved;
}

}  // namespace

QuitOnSignals::QuitOnSignals(std::function<void()> onQuit) : quit(std::move(onQuit)) {
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning().noquote() << "Cannot watch for quit signals; a logout may leave the service running";
        return;
    }
    readEnd = ends[0];
    signalWriteEnd.store(ends[1]);
    notifier = std::make_unique<QSocketNotifier>(readEnd, QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char signalNumber = 0;
        while (::read(readEnd, &signalNumber, 1) == 1) {
            qInfo().noquote() << "Quitting on signal" << signalNumber;
        }
        quit();
    });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kQuitSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

QuitOnSignals::~QuitOnSignals() {
    if (readEnd < 0) {
        return;
    }
    for (const int signalNumber : kQuitSignals) {
        ::signal(signalNumber, SIG_DFL);
    }
    notifier.reset();
    ::close(std::exchange(readEnd, -1));
    ::close(signalWriteEnd.exchange(-1));
}

}  // namespace brisel::desktop::app
