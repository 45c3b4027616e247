#include "desktop/components/log_file_follower.h"

#include <QMetaObject>

#include <utility>

namespace brisel::desktop::components {

LogFileFollower::LogFileFollower(std::filesystem::path file, ChangeHandler handler)
    : onChange(std::move(handler)),
      reader(std::move(file)),
      thread([this](const std::stop_token& stop) { run(stop); }) {}

LogFileFollower::~LogFileFollower() {
    thread.request_stop();
    thread.join();
}

void LogFileFollower::requestLook() {
    bool alreadyRequested = false;
    {
        const std::lock_guard lock(mutex);
        alreadyRequested = std::exchange(lookRequested, true);
    }
    if (!alreadyRequested) {
        wake.notify_one();  // a busy log asks hundreds of times a second: only the first one wakes
    }
}

void LogFileFollower::discard(LogText text) {
    {
        const std::lock_guard lock(mutex);
        discarded.push_back(std::move(text));
    }
    wake.notify_one();
}

void LogFileFollower::run(const std::stop_token& stop) {
    std::unique_lock lock(mutex);
    const auto freeDiscarded = [this, &lock] {
        std::vector<LogText> freed = std::exchange(discarded, {});
        lock.unlock();
        freed.clear();
        lock.lock();
    };
    for (;;) {
        // Waits for work; the owner's destructor ends the wait.
        if (!wake.wait(lock, stop, [this] { return lookRequested || !discarded.empty(); })) {
            return;
        }
        freeDiscarded();
        if (!lookRequested) {
            continue;
        }
        if (lastLook) {
            // Rests until the interval is over (or the owner goes); requests meanwhile join this look.
            wake.wait_until(lock, stop, *lastLook + kLookInterval, [] { return false; });
            if (stop.stop_requested()) {
                return;
            }
            freeDiscarded();  // what the window let go meanwhile goes before the next text is read
        }
        lookRequested = false;
        lastLook = std::chrono::steady_clock::now();
        lock.unlock();
        std::optional<LogFileChange> change = reader.look(stop);
        ++looks;
        lock.lock();
        if (!change) {
            continue;
        }
        std::vector<LogFileChange> superseded;
        if (!std::holds_alternative<LogGrowth>(*change)) {
            superseded.swap(waiting);
        }
        waiting.push_back(std::move(*change));
        if (!handOverQueued) {
            handOverQueued = true;
            QMetaObject::invokeMethod(
                &receiver, [this] { handOn(); }, Qt::QueuedConnection);
        }
        lock.unlock();
        superseded.clear();  // a whole text takes a while to free: not while holding the lock
        lock.lock();
    }
}

void LogFileFollower::handOn() {
    std::vector<LogFileChange> changes;
    {
        const std::lock_guard lock(mutex);
        changes.swap(waiting);
        handOverQueued = false;
    }
    for (LogFileChange& change : changes) {
        onChange(std::move(change));
    }
}

}  // namespace brisel::desktop::components
