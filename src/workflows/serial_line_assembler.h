// Whole lines out of the reads of a board's serial port.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brisel::workflows {

// Joins a line that two reads share: the part after a read's last line break waits for the next read.
// A line that grows beyond kMaxLineBytes without a break is dropped, up to its break. Each byte is
// looked at a bounded number of times, however many reads a line takes. Not thread-safe: one reader
// owns it.
class SerialLineAssembler {
  public:
    static constexpr std::size_t kMaxLineBytes = 256U * 1024U;

    // The lines completed by `bytes` (the line breaks of splitBoardLines, empty lines dropped), in order.
    std::vector<std::string> feed(std::string_view bytes);

    // Forgets the unfinished line; the text up to the next break is dropped, as it would be the rest of
    // a line whose start was lost (a read that failed or was not text).
    void clear();

  private:
    std::string pending;           // the unfinished line
    bool skippingToBreak = false;  // the text up to the next break is the rest of a dropped line
};

}  // namespace brisel::workflows
