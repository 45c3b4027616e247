#include "common/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/eventually.h"

namespace brisel::common {
namespace {

// A pipe whose write end is a stdio stream (for the output under test) and whose read end a thread
// drains into `text` once started, until the write end is closed.
class DrainedPipe {
  public:
    DrainedPipe() {
        std::array<int, 2> ends{};
        if (::pipe2(ends.data(), O_CLOEXEC) == 0) {
            readEnd = ends[0];
            stream = ::fdopen(ends[1], "w");
        }
    }
    ~DrainedPipe() {
        closeWriteEnd();
        if (reader.joinable()) {
            reader.join();
        }
        if (readEnd >= 0) {
            ::close(readEnd);
        }
    }
    DrainedPipe(const DrainedPipe&) = delete;
    DrainedPipe& operator=(const DrainedPipe&) = delete;

    std::FILE* writeStream() const { return stream; }
    std::size_t capacity() const { return static_cast<std::size_t>(::fcntl(readEnd, F_GETPIPE_SZ)); }
    void startReading() {
        reader = std::thread([this] {
            std::array<char, 65536> buffer{};
            for (;;) {
                const ssize_t got = ::read(readEnd, buffer.data(), buffer.size());
                if (got <= 0) {
                    return;
                }
                text.append(buffer.data(), static_cast<std::size_t>(got));
            }
        });
    }
    // Closes the write end and returns all that was written.
    std::string everything() {
        closeWriteEnd();
        reader.join();
        return text;
    }

  private:
    void closeWriteEnd() {
        if (stream != nullptr) {
            std::fclose(stream);
            stream = nullptr;
        }
    }

    int readEnd = -1;
    std::FILE* stream = nullptr;
    std::thread reader;
    std::string text;  // the reader thread's until it is joined
};

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + " (no line end)");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST(StandardOutputTest, LinesOfManyThreadsArriveWholeAndInTheOrderOfEachThread) {
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 1000;
    DrainedPipe pipe;
    ASSERT_NE(pipe.writeStream(), nullptr);
    pipe.startReading();
    {
        StandardOutput output(pipe.writeStream());
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&output, thread] {
                for (int line = 0; line < kLinesPerThread; ++line) {
                    output.print("thread " + std::to_string(thread) + " line " + std::to_string(line));
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        output.flush();
        output.print("after the flush");
    }
    const std::vector<std::string> lines = linesOf(pipe.everything());
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesPerThread + 1));
    std::array<int, kThreads> next{};
    for (std::size_t index = 0; index + 1 < lines.size(); ++index) {
        int thread = -1;
        int number = -1;
        char extra = 0;
        ASSERT_EQ(std::sscanf(lines[index].c_str(), "thread %d line %d%c", &thread, &number, &extra), 2)
            << lines[index];
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << lines[index];
        EXPECT_EQ(number, next[static_cast<std::size_t>(thread)]++) << lines[index];
    }
    EXPECT_EQ(lines.back(), "after the flush");
}

// Nobody reads the pipe at first: the callers go on while the output's queue is stuck in its write,
// later lines are left out once the limit waits, and the output says how many before it goes on.
TEST(StandardOutputTest, AReaderThatStopsReadingHoldsUpNoCallerAndTheLeftOutLinesAreCounted) {
    constexpr std::size_t kLimit = 4096;
    const std::string filler(90, 'x');
    DrainedPipe pipe;
    ASSERT_NE(pipe.writeStream(), nullptr);
    const int printed = static_cast<int>(4 * (pipe.capacity() + kLimit) / filler.size());
    std::vector<std::string> lines;
    {
        StandardOutput output(pipe.writeStream(), kLimit);
        std::atomic<bool> callerDone{false};
        std::thread caller([&] {
            for (int line = 0; line < printed; ++line) {
                output.print(std::to_string(line) + " " + filler);
            }
            callerDone.store(true);
        });
        const bool wentOn = test_support::eventually([&] { return callerDone.load(); });
        pipe.startReading();
        caller.join();
        ASSERT_TRUE(wentOn) << "a caller waited for the reader";
        output.flush();
        output.print("after the reader came back");
        output.flush();
    }
    lines = linesOf(pipe.everything());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "after the reader came back");
    // Each note stands where its lines would have been: the next line shown is the one after them.
    const std::string noteText =
        " lines were not printed here because standard output was not being read; the log file has them";
    int expected = 0;
    int shown = 0;
    std::uint64_t leftOut = 0;
    for (std::size_t index = 0; index + 1 < lines.size(); ++index) {
        const std::string& line = lines[index];
        if (line.ends_with(noteText)) {
            const std::uint64_t count = std::stoull(line.substr(0, line.size() - noteText.size()));
            leftOut += count;
            expected += static_cast<int>(count);
            continue;
        }
        EXPECT_EQ(line, std::to_string(expected) + " " + filler);
        ++expected;
        ++shown;
    }
    EXPECT_GT(leftOut, 0U);
    EXPECT_EQ(static_cast<std::uint64_t>(shown) + leftOut, static_cast<std::uint64_t>(printed));
}

}  // namespace
}  // namespace brisel::common
