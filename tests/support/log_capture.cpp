#include "support/log_capture.h"

namespace brisel::test_support {
namespace {

std::size_t countLocked(const std::vector<LogCapture::Line>& lines, std::string_view fragment) {
    std::size_t found = 0;
    for (const auto& line : lines) {
        if (line.text.find(fragment) != std::string::npos) {
            ++found;
        }
    }
    return found;
}

}  // namespace

LogCapture::LogCapture() : shared(std::make_shared<Shared>()) {
    common::logger().setCaptureSink([state = shared](common::LogLevels level, std::string_view line) {
        std::lock_guard lock(state->mutex);
        state->lines.push_back(Line{level, std::string(line), std::chrono::steady_clock::now()});
        state->added.notify_all();
    });
}

LogCapture::~LogCapture() {
    common::logger().setCaptureSink(nullptr);
}

std::vector<LogCapture::Line> LogCapture::lines() const {
    std::lock_guard lock(shared->mutex);
    return shared->lines;
}

std::size_t LogCapture::count(std::string_view fragment) const {
    std::lock_guard lock(shared->mutex);
    return countLocked(shared->lines, fragment);
}

bool LogCapture::waitFor(std::string_view fragment, std::chrono::milliseconds timeout) const {
    return waitUntil([fragment](const std::vector<Line>& lines) { return countLocked(lines, fragment) > 0; },
                     timeout);
}

bool LogCapture::waitUntil(const std::function<bool(const std::vector<Line>&)>& satisfied,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared->mutex);
    return shared->added.wait_for(lock, timeout, [&] { return satisfied(shared->lines); });
}

}  // namespace brisel::test_support
