// The latest prediction text of a WiFi board in classification mode.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace brisel::device {

// Thread-safe. The io thread stores each received text; the classification workflow takes it. The
// lock is held only to swap the text, so neither side ever waits noticeably for the other.
class PredictionMailbox {
  public:
    static constexpr std::string_view kPending = "PENDING";

    // Replaces the text.
    void store(std::string text);

    // Returns the current text and leaves "PENDING" in its place.
    std::string take();

    // Empties the mailbox (the board went away).
    void clear();

  private:
    std::mutex mutex;
    std::string current;  // guarded by mutex
};

}  // namespace brisel::device
