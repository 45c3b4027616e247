#include "desktop/components/logs/log_file_follower.h"

#include <QMetaObject>

#include <type_traits>
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

void LogFileFollower::forget(LogText shown) {
    {
        const std::lock_guard lock(mutex);
        discarded.push_back(std::move(shown));
        for (LogFileChange& change : std::exchange(waiting, {})) {
            std::visit(
                [this](auto& dropped) {
                    using Change = std::decay_t<decltype(dropped)>;
                    if constexpr (std::is_same_v<Change, WholeLog>) {
                        discarded.push_back(std::move(dropped.text));
                    } else if constexpr (!std::is_same_v<Change, UnreadableLog>) {
                        discarded.push_back(std::move(dropped.added));
                    }
                },
                change);
        }
        forgetRequested = true;
        lookRequested = false;  // a look asked for before: its text would show nowhere
        ++forgets;
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
    const auto forgetIfAsked = [this] {
        if (std::exchange(forgetRequested, false)) {
            reader.forget();
        }
    };
    for (;;) {
        // Waits for work; the owner's destructor ends the wait.
        if (!wake.wait(lock, stop,
                       [this] { return lookRequested || forgetRequested || !discarded.empty(); })) {
            return;
        }
        freeDiscarded();
        forgetIfAsked();
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
        forgetIfAsked();  // asked while resting
        if (!lookRequested) {
            continue;  // no longer wanted
        }
        lookRequested = false;
        lastLook = std::chrono::steady_clock::now();
        const std::uint64_t forgetsBefore = forgets;
        lock.unlock();
        std::optional<LogFileChange> change = reader.look(stop);
        ++looks;
        lock.lock();
        if (!change) {
            continue;
        }
        std::vector<LogFileChange> superseded;
        if (forgets != forgetsBefore) {
            // What it adds to was forgotten meanwhile; the reader forgets too before its next look.
            superseded.push_back(std::move(*change));
            lock.unlock();
            superseded.clear();
            lock.lock();
            continue;
        }
        if (std::holds_alternative<WholeLog>(*change) || std::holds_alternative<UnreadableLog>(*change)) {
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
