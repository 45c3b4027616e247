// The latest prediction text of a WiFi board in classification mode.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>

namespace brisel::device {

// Thread-safe. The io thread stores each received text; the classification workflow takes it.
class PredictionMailbox {
  public:
    static constexpr std::string_view kPending = "PENDING";

    // Replaces the text, waiting at most `lockWait` for a reader that holds the mailbox; when the
    // wait runs out the text is dropped and false is returned (a newer one follows soon).
    bool store(std::string text, std::chrono::steady_clock::duration lockWait);

    // Returns the current text and leaves "PENDING" in its place.
    std::string take();

    // Empties the mailbox (the board went away).
    void clear();

  private:
    std::timed_mutex mutex;
    std::string current;  // guarded by mutex
};

}  // namespace brisel::device
