#include "desktop/components/logs/log_text.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

namespace brisel::desktop::components {

namespace {

// Maps the whole pages of [begin, begin + length) in one call, which costs far less than one fault
// per page as they are first written (in a virtual machine twenty times less). Kernels before 5.14
// refuse the call; the pages then fault as usual.
void mapPagesAhead(void* begin, std::size_t length) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(begin) + page - 1) / page * page;
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(begin) + length) / page * page;
    if (end > start) {
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
    }
}

qsizetype countLineEnds(const char* begin, const char* end) {
    qsizetype count = 0;
    for (const char* at = begin;
         (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) !=
         nullptr;
         ++at) {
        ++count;
    }
    return count;
}

}  // namespace

QByteArray LogText::readBuffer(qsizetype size, qsizetype room) {
    QByteArray buffer;
    buffer.reserve(size + room);
    buffer.resize(size);
    mapPagesAhead(buffer.data(), static_cast<std::size_t>(size));
    return buffer;
}

LogText::LogText(QByteArray bytes, qsizetype lineRoom) : text(std::move(bytes)) {
    const char* const begin = text.constData();
    const char* const end = begin + text.size();
    const auto lines = static_cast<std::size_t>(countLineEnds(begin, end) + 1);
    lineStarts.reserve(lines + static_cast<std::size_t>(std::max(lineRoom, qsizetype{0})));
    mapPagesAhead(lineStarts.data(), lines * sizeof(qsizetype));
    const char* lineStart = begin;
    while (lineStart < end) {
        const auto* lineEnd =
            static_cast<const char*>(std::memchr(lineStart, '\n', static_cast<std::size_t>(end - lineStart)));
        if (lineEnd == nullptr) {
            break;
        }
        longest = std::max(longest, static_cast<qsizetype>(lineEnd - lineStart));
        lineStart = lineEnd + 1;
        lineStarts.push_back(lineStart - begin);
    }
    longest = std::max(longest, static_cast<qsizetype>(end - lineStart));
}

QByteArrayView LogText::line(qsizetype index) const {
    assert(index >= 0 && index < lineCount());
    const auto position = static_cast<std::size_t>(index);
    const qsizetype start = lineStarts[position];
    const qsizetype end = position + 1 < lineStarts.size() ? lineStarts[position + 1] - 1 : text.size();
    return QByteArrayView(text).sliced(start, end - start);
}

void LogText::append(const LogText& more) {
    const qsizetype offset = text.size();
    const qsizetype continuedLine = line(lineCount() - 1).size() + more.line(0).size();
    text.append(QByteArrayView(more.text));  // a copy into the room, never a share of more's bytes
    std::transform(std::next(more.lineStarts.begin()), more.lineStarts.end(), std::back_inserter(lineStarts),
                   [offset](qsizetype start) { return offset + start; });
    longest = std::max({longest, more.longest, continuedLine});
}

qsizetype LogText::lineOf(qsizetype offset) const {
    assert(offset >= 0 && offset <= size());
    return std::upper_bound(lineStarts.begin(), lineStarts.end(), offset) - lineStarts.begin() - 1;
}

qsizetype LogText::dropFront(qsizetype count) {
    const qsizetype gone = lineOf(count);
    const qsizetype kept = text.size() - count;
    std::memmove(text.data(), text.constData() + count, static_cast<std::size_t>(kept));
    text.truncate(kept);  // keeps the capacity
    lineStarts.erase(lineStarts.begin(), lineStarts.begin() + gone);
    lineStarts.front() = count;  // the line that held the cut starts there now
    longest = 0;
    for (std::size_t index = 0; index < lineStarts.size(); ++index) {
        lineStarts[index] -= count;
        const qsizetype end = index + 1 < lineStarts.size() ? lineStarts[index + 1] - count - 1 : kept;
        longest = std::max(longest, end - lineStarts[index]);
    }
    return gone;
}

}  // namespace brisel::desktop::components
