// Follows a log file on a thread of its own and hands what changed to the thread that made it.
#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "desktop/components/logs/log_file_reader.h"
#include "desktop/components/logs/log_text.h"

namespace brisel::desktop::components {

// The reading thread looks at the file (LogFileReader) when asked to, at most once per kLookInterval
// however often it is asked: requests that come while it looks or rests are served together by the
// next look. Each change is handed to `onChange` on the event loop of the thread that made the
// follower, in the order of the looks; a whole text or an error makes the changes still waiting
// before it pointless, so they are dropped. Texts are freed on the reading thread: freeing a large one
// takes a while.
class LogFileFollower {
  public:
    static constexpr std::chrono::milliseconds kLookInterval{250};
    using ChangeHandler = std::function<void(LogFileChange)>;

    // Starts the reading thread; it waits for the first request. `onChange` must not destroy the
    // follower. The making thread must run a Qt event loop.
    LogFileFollower(std::filesystem::path file, ChangeHandler onChange);
    // Stops the reading thread (a read in progress ends within one piece of it) and joins it; changes
    // not yet handed on are dropped.
    ~LogFileFollower();
    LogFileFollower(const LogFileFollower&) = delete;
    LogFileFollower& operator=(const LogFileFollower&) = delete;

    // Asks for a look at the file. Any thread.
    void requestLook();
    // Gives the reading thread a text nobody shows any more to free. Any thread.
    void discard(LogText text);
    // Frees `shown`, the text that the changes so far add up to, and forgets them: the next look reads
    // the whole file. A look asked for and not begun yet is not made; changes not yet handed on, and
    // the one that a look in progress finds, are dropped. Making thread.
    void forget(LogText shown);
    // How many looks the reading thread made so far. Any thread.
    std::size_t lookCount() const { return looks.load(); }

  private:
    // The reading thread.
    void run(const std::stop_token& stop);
    // On the making thread: hands the waiting changes to onChange.
    void handOn();

    ChangeHandler onChange;
    QObject receiver;      // lives on the making thread; the queued hand-overs are addressed to it
    LogFileReader reader;  // used by the reading thread only
    std::mutex mutex;
    std::condition_variable_any wake;
    bool lookRequested = false;          // guarded by mutex
    bool forgetRequested = false;        // guarded by mutex
    std::uint64_t forgets = 0;           // how often forget() was called; guarded by mutex
    std::vector<LogText> discarded;      // guarded by mutex
    std::vector<LogFileChange> waiting;  // changes not yet handed on; guarded by mutex
    bool handOverQueued = false;         // guarded by mutex
    std::optional<std::chrono::steady_clock::time_point> lastLook;  // reading thread only
    std::atomic<std::size_t> looks{0};
    std::jthread thread;  // last: stopped and joined before the members above go
};

}  // namespace brisel::desktop::components
