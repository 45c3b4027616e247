// The latest prediction text of a WiFi board in classification mode.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

namespace brisel::device {

// Thread-safe. The io thread stores each received text; the classification workflow takes it, waiting
// for it when there is nothing new. The lock is held only to swap the text, so neither side ever
// waits noticeably for the other.
class PredictionMailbox {
  public:
    static constexpr std::string_view kPending = "PENDING";

    // Replaces the text.
    void store(std::string text);

    // Returns the current text and leaves "PENDING" in its place.
    std::string take();

    // Waits at most `timeout` until the mailbox holds something other than "PENDING" (a stored text,
    // or the empty text of a mailbox that was emptied), then takes it as take() does. "PENDING" when
    // the wait ran out.
    std::string waitAndTake(std::chrono::steady_clock::duration timeout);

    // Empties the mailbox (the board went away).
    void clear();

  private:
    std::mutex mutex;
    std::condition_variable changed;
    std::string current;  // guarded by mutex
};

}  // namespace brisel::device
