#include "workflows/flash/tool_output_tail.h"

#include <algorithm>
#include <utility>

namespace brisel::workflows {
namespace {

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U;
}

}  // namespace

ToolOutputTail::ToolOutputTail(std::size_t limitBytes, std::string watchedText)
    : limit(std::max(limitBytes, watchedText.size())), watched(std::move(watchedText)) {}

void ToolOutputTail::append(std::span<const std::uint8_t> chunk) {
    std::lock_guard lock(mutex);
    const std::size_t before = bytes.size();
    bytes.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
    totalBytes += chunk.size();
    if (!watched.empty() && !watchedSeen) {
        // Only the new bytes, with as much of the old as an occurrence across the seam can need.
        const std::size_t from = before >= watched.size() ? before - (watched.size() - 1) : 0;
        watchedSeen = bytes.find(watched, from) != std::string::npos;
    }
    // Cut only once twice the limit is held, so that the bytes are moved rarely.
    if (bytes.size() > 2 * limit) {
        bytes.erase(0, bytes.size() - limit);
    }
}

ToolOutputTail::Kept ToolOutputTail::kept() const {
    std::lock_guard lock(mutex);
    Kept result;
    result.totalBytes = totalBytes;
    result.watchedSeen = watchedSeen;
    std::size_t start = bytes.size() > limit ? bytes.size() - limit : 0;
    if (totalBytes > bytes.size() - start) {
        // A cut inside a character would make the whole text unreadable: drop the rest of it.
        constexpr std::size_t kLongestContinuation = 3;
        for (std::size_t n = 0;
             n < kLongestContinuation && start < bytes.size() && isContinuationByte(bytes[start]); ++n) {
            ++start;
        }
    }
    result.text = bytes.substr(start);
    return result;
}

}  // namespace brisel::workflows
