// Captures the global logger's lines for the life of the object, so tests can assert on them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/logger.h"

namespace brisel::test_support {

// Installs itself as the capture sink of brisel::common::logger() and removes itself on
// destruction. Only one capture may be alive at a time. Lines are kept with their time stamp.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    struct Line {
        common::LogLevels level;
        std::string text;                          // the whole line, "[time] level: message"
        std::chrono::steady_clock::time_point at;  // when it was logged
    };

    std::vector<Line> lines() const;
    // The number of captured lines whose message contains `fragment`.
    std::size_t count(std::string_view fragment) const;
    bool contains(std::string_view fragment) const { return count(fragment) > 0; }
    // Waits until a line containing `fragment` arrives; false when the timeout passed first.
    bool waitFor(std::string_view fragment, std::chrono::milliseconds timeout) const;
    // Waits until `satisfied` holds for the captured lines; it is called under the capture's lock, now
    // and at each new line, and must not call this capture. False when the timeout passed first.
    bool waitUntil(const std::function<bool(const std::vector<Line>&)>& satisfied,
                   std::chrono::milliseconds timeout) const;

  private:
    struct Shared {
        mutable std::mutex mutex;
        mutable std::condition_variable added;
        std::vector<Line> lines;
    };
    std::shared_ptr<Shared> shared;
};

}  // namespace brisel::test_support
