#include "common/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "support/eventually.h"
#include "support/left_out_lines.h"

namespace brisel::common {
namespace {

// Nobody reads the pipe at first: the caller goes on while the output's queue is stuck in its write,
// later lines are left out once the limit waits, and a note in their place says how many.
TEST(StandardOutputTest, AReaderThatStopsReadingHoldsUpNoCallerAndTheLeftOutLinesAreCounted) {
    constexpr std::size_t kLimit = 4096;
    const std::string filler(90, 'x');
    std::array<int, 2> ends{};
    ASSERT_EQ(::pipe2(ends.data(), O_CLOEXEC), 0);
    std::FILE* writeEnd = ::fdopen(ends[1], "w");
    ASSERT_NE(writeEnd, nullptr);
    const int printed = static_cast<int>(
        4 * (static_cast<std::size_t>(::fcntl(ends[0], F_GETPIPE_SZ)) + kLimit) / filler.size());
    std::string text;
    std::thread reader;
    {
        StandardOutput output(writeEnd, kLimit);
        std::atomic<bool> callerDone{false};
        std::thread caller([&] {
            for (int line = 0; line < printed; ++line) {
                output.print(std::to_string(line) + " " + filler);
            }
            callerDone.store(true);
        });
        const bool wentOn = test_support::eventually([&] { return callerDone.load(); });
        reader = std::thread([&text, readEnd = ends[0]] {
            std::array<char, 65536> buffer{};
            for (ssize_t got = 0; (got = ::read(readEnd, buffer.data(), buffer.size())) > 0;) {
                text.append(buffer.data(), static_cast<std::size_t>(got));
            }
        });
        caller.join();
        EXPECT_TRUE(wentOn) << "the caller waited for the reader";
        output.flush();
        output.print("after the reader came back");
    }
    std::fclose(writeEnd);
    reader.join();
    ::close(ends[0]);

    const std::string note =
        " lines were not printed here because standard output was not being read; the log file has them";
    const auto tally = test_support::tallyLeftOutLines(
        text, filler, "after the reader came back", [&](const std::string& line) -> std::optional<int> {
            if (!line.ends_with(note)) {
                return std::nullopt;
            }
            return std::stoi(line.substr(0, line.size() - note.size()));
        });
    ASSERT_TRUE(tally) << tally.error();
    EXPECT_TRUE(text.ends_with("\nafter the reader came back\n"));
    EXPECT_GT(tally->leftOut, 0);
    EXPECT_EQ(tally->shown + tally->leftOut, printed);
}

}  // namespace
}  // namespace brisel::common
