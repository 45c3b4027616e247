#include "common/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "common/file_descriptor.h"
#include "common/file_stream.h"
#include "common/paths.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/left_out_lines.h"
#include "support/log_capture.h"
#include "support/standard_output_capture.h"
#include "support/temporary_folder.h"

namespace brisel::common {
namespace {

using test_support::readText;
using test_support::ScopedEnvironment;
using test_support::TemporaryFolder;

struct ParsedLine {
    std::string level;
    std::string message;
};

// Splits "[yyyy-MM-ddTHH:mm:ss.SSS+hhmm] level: message", checking the time stamp's shape.
std::optional<ParsedLine> parseLine(std::string_view line) {
    constexpr std::string_view kShape = "[dddd-dd-ddTdd:dd:dd.ddd+dddd] ";
    if (line.size() < kShape.size()) {
        return std::nullopt;
    }
    for (std::size_t index = 0; index < kShape.size(); ++index) {
        char want = kShape[index];
        char got = line[index];
        bool fits = want == 'd'   ? (got >= '0' && got <= '9')
                    : want == '+' ? (got == '+' || got == '-')
                                  : got == want;
        if (!fits) {
            return std::nullopt;
        }
    }
    std::string_view rest = line.substr(kShape.size());
    std::size_t colon = rest.find(": ");
    if (colon == std::string_view::npos || colon == 0) {
        return std::nullopt;
    }
    return ParsedLine{std::string(rest.substr(0, colon)), std::string(rest.substr(colon + 2))};
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// A time zone for the calling process, restored afterwards.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) : variable("TZ", std::string(zone)) { tzset(); }
    ~ScopedTimeZone() { tzset(); }

  private:
    ScopedEnvironment variable;
};

TEST(LogLevelsTest, NamesRawValuesAndOrder) {
    const std::array<std::string_view, 7> names = {"trace",   "debug", "info",    "notice",
                                                   "warning", "error", "critical"};
    for (long raw = 0; raw < 7; ++raw) {
        auto level = logLevelFromRawValue(raw);
        ASSERT_TRUE(level.has_value());
        EXPECT_EQ(levelName(*level), names[static_cast<std::size_t>(raw)]);
    }
    EXPECT_FALSE(logLevelFromRawValue(-1).has_value());
    EXPECT_FALSE(logLevelFromRawValue(7).has_value());
    EXPECT_LT(LogLevels::debug, LogLevels::info);
    EXPECT_LT(LogLevels::error, LogLevels::critical);
}

TEST(LogLineTest, TimeStampIsLocalTimeWithItsOffset) {
    // 2024-03-05T13:07:09.042Z
    auto moment = std::chrono::system_clock::time_point(std::chrono::seconds(1709644029)) +
                  std::chrono::milliseconds(42);
    {
        ScopedTimeZone zone("CET-1");
        EXPECT_EQ(formatLogTimestamp(moment), "2024-03-05T14:07:09.042+0100");
    }
    {
        ScopedTimeZone zone("<-0330>3:30");
        EXPECT_EQ(formatLogTimestamp(moment), "2024-03-05T09:37:09.042-0330");
    }
    {
        ScopedTimeZone zone("UTC0");
        EXPECT_EQ(formatLogTimestamp(moment - std::chrono::milliseconds(42)), "2024-03-05T13:07:09.000+0000");
    }
}

// The time stamp as a formatted print gives it, field by field from the local broken-down time.
std::string printedTimestamp(std::chrono::system_clock::time_point moment) {
    using namespace std::chrono;
    const auto wholeSeconds = floor<seconds>(moment.time_since_epoch());
    const auto milliseconds =
        duration_cast<std::chrono::milliseconds>(moment.time_since_epoch() - wholeSeconds);
    const std::time_t secondsSinceEpoch = static_cast<std::time_t>(wholeSeconds.count());
    std::tm local{};
    localtime_r(&secondsSinceEpoch, &local);
    const long offset = local.tm_gmtoff / 60;
    const long magnitude = offset < 0 ? -offset : offset;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(milliseconds.count()), offset < 0 ? '-' : '+',
                  magnitude / 60, magnitude % 60);
    return text.data();
}

TEST(LogLineTest, TimeStampIsTheFormattedPrintInEveryZoneAndAtEveryEdgeOfTheCalendar) {
    using std::chrono::milliseconds;
    using std::chrono::seconds;
    using Moment = std::chrono::system_clock::time_point;
    const std::array<const char*, 7> zones = {
        "UTC0",       "CET-1CEST,M3.5.0,M10.5.0/3", "<-0330>3:30", "<+0545>-5:45", "<+14>-14", "<-12>12",
        "<-0930>9:30"};
    struct Row {
        const char* label;
        Moment moment;
    };
    const std::array<Row, 11> rows = {{
        {"the epoch", Moment(seconds(0))},
        {"just before the epoch", Moment(seconds(0)) - milliseconds(1)},
        {"a millisecond of 999", Moment(seconds(1709644029)) + milliseconds(999)},
        {"summer time begins in Europe", Moment(seconds(1711846800)) + milliseconds(1)},
        {"summer time ends in Europe", Moment(seconds(1729990800)) - milliseconds(1)},
        {"a leap day", Moment(seconds(1709208000)) + milliseconds(500)},
        {"the last moment of a year", Moment(seconds(1735689600)) - milliseconds(1)},
        {"past 2038", Moment(seconds(2147483648LL)) + milliseconds(7)},
        {"near the clock's last moment", Moment(seconds(9223372035LL)) + milliseconds(998)},
        {"near the clock's first moment", Moment(seconds(-9223372035LL)) + milliseconds(3)},
        {"the first day of 1900", Moment(seconds(-2208988800LL))},
    }};
    for (const char* zone : zones) {
        ScopedTimeZone scoped(zone);
        for (const Row& row : rows) {
            EXPECT_EQ(formatLogTimestamp(row.moment), printedTimestamp(row.moment))
                << row.label << " in " << zone;
        }
    }
}

class LoggerFileTest : public ::testing::Test {
  protected:
    TemporaryFolder folder;
    std::filesystem::path file = folder.path() / "desktop_client.log";
};

TEST_F(LoggerFileTest, LineGoesToStandardOutputAndFileInTheSameForm) {
    Logger log("Test Logger", LogLevels::info, file);
    test_support::captureStandardOutput();
    log.info("Socket opened");
    log.flush();
    std::string printed = test_support::capturedStandardOutput();

    std::string written = readText(file);
    EXPECT_EQ(printed, written);
    ASSERT_EQ(splitLines(written).size(), 1u);
    std::string line = splitLines(written)[0];
    auto parsed = parseLine(line);
    ASSERT_TRUE(parsed.has_value()) << line;
    EXPECT_EQ(parsed->level, "info");
    EXPECT_EQ(parsed->message, "Socket opened");
    EXPECT_EQ(log.label(), "Test Logger");
}

TEST_F(LoggerFileTest, ThresholdDropsLowerLevelsEverywhereAndKeepsItsOwnLevel) {
    Logger log("Test Logger", LogLevels::notice, file);
    test_support::captureStandardOutput();
    log.debug("not shown");
    log.info("not shown either");
    log.notice("at the threshold");
    log.critical("above it");
    log.flush();
    std::string printed = test_support::capturedStandardOutput();

    EXPECT_EQ(printed.find("not shown"), std::string::npos);
    std::vector<std::string> lines = splitLines(readText(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] notice: at the threshold"), std::string::npos);
    EXPECT_NE(lines[1].find("] critical: above it"), std::string::npos);
}

TEST_F(LoggerFileTest, MessageWithLineEndsIsWrittenUnchangedWithOneLineEndAdded) {
    Logger log("Test Logger", LogLevels::info, file);
    test_support::captureStandardOutput();
    log.warning("first\nsecond\n");
    log.flush();
    test_support::capturedStandardOutput();
    std::string written = readText(file);
    EXPECT_TRUE(written.ends_with("] warning: first\nsecond\n\n")) << written;
}

TEST_F(LoggerFileTest, MissingFileIsCreatedHoldingExactlyTheLine) {
    ASSERT_FALSE(std::filesystem::exists(file));
    Logger log("Test Logger", LogLevels::info, file);
    test_support::captureStandardOutput();
    log.error("the first line");
    log.flush();
    std::string printed = test_support::capturedStandardOutput();
    EXPECT_EQ(readText(file), printed);
    EXPECT_EQ(splitLines(readText(file)).size(), 1u);
}

TEST_F(LoggerFileTest, MissingFolderLeavesLinesOnStandardOutputAndCreatesNothing) {
    std::filesystem::path missing = folder.path() / "absent" / "desktop_client.log";
    Logger log("Test Logger", LogLevels::info, missing);
    test_support::captureStandardOutput();
    log.info("one");
    log.flush();
    log.info("two");
    log.flush();
    std::vector<std::string> printed = splitLines(test_support::capturedStandardOutput());

    ASSERT_EQ(printed.size(), 4u);
    const std::string failure =
        "Failed to write log to file " + missing.string() + " due to error No such file or directory";
    EXPECT_TRUE(printed[0].ends_with("] info: one"));
    EXPECT_EQ(printed[1], failure);
    EXPECT_TRUE(printed[2].ends_with("] info: two"));
    EXPECT_EQ(printed[3], failure);
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "absent"));
}

TEST_F(LoggerFileTest, LoggerWithoutFilePrintsOnly) {
    Logger log("Test Logger", LogLevels::trace, std::nullopt);
    EXPECT_EQ(log.stream(), nullptr);
    test_support::captureStandardOutput();
    log.trace("only here");
    log.flush();
    EXPECT_NE(test_support::capturedStandardOutput().find("] trace: only here\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

// Without any flush: a burst, then one line more, each reaching the file on its own within the bound
// (the lines that come while the stream still looks for more are taken by its follow-up).
TEST_F(LoggerFileTest, LinesReachTheFileWithoutAFlush) {
    Logger log("Test Logger", LogLevels::info, file);
    test_support::captureStandardOutput();
    const auto linesInFileReach = [&](std::size_t count) {
        return test_support::eventuallyEquals([&] { return splitLines(readText(file)).size(); }, count,
                                              std::chrono::seconds(10));
    };
    for (int line = 0; line < 100; ++line) {
        log.info("burst line " + std::to_string(line));
    }
    EXPECT_TRUE(linesInFileReach(100));
    log.info("one more");
    EXPECT_TRUE(linesInFileReach(101));
    test_support::capturedStandardOutput();
}

TEST_F(LoggerFileTest, LinesOfManyThreadsAreWholeAndInOrderPerThread) {
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 1000;
    Logger log("Test Logger", LogLevels::info, file);
    test_support::captureStandardOutput();
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&log, thread] {
            for (int line = 0; line < kLinesPerThread; ++line) {
                log.info("thread " + std::to_string(thread) + " line " + std::to_string(line));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    log.flush();
    test_support::capturedStandardOutput();

    std::vector<std::string> lines = splitLines(readText(file));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));
    std::array<int, kThreads> next{};
    for (const std::string& line : lines) {
        auto parsed = parseLine(line);
        ASSERT_TRUE(parsed.has_value()) << line;
        int thread = -1;
        int number = -1;
        char end = 0;
        ASSERT_EQ(std::sscanf(parsed->message.c_str(), "thread %d line %d%c", &thread, &number, &end), 2)
            << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        auto& expected = next[static_cast<std::size_t>(thread)];
        EXPECT_EQ(number, expected) << "thread " << thread << " out of order";
        expected = number + 1;
    }
}

// A thread that holds its lines hands nothing to the outputs until a release, a line of another
// thread, a flush, too many held bytes or the end of the hold; both outputs then get every line in
// the order logged.
TEST_F(LoggerFileTest, HeldLinesReachBothOutputsInTheOrderLoggedOnlyWhenHandedOver) {
    Logger log("Test Logger", LogLevels::info, file);
    test_support::captureStandardOutput();
    const auto messagesInFile = [&] {
        log.stream()->flush();  // what was handed to the file is in it now
        std::vector<std::string> messages;
        for (const std::string& line : splitLines(readText(file))) {
            messages.push_back(parseLine(line).value_or(ParsedLine{}).message);
        }
        return messages;
    };
    using Messages = std::vector<std::string>;
    const std::string longMessage(kHeldLogLinesLimit, 'x');
    std::thread([&] {
        HeldLogLines held(log);
        log.info("held 1");
        log.info("held 2");
        EXPECT_TRUE(held.holdsLines());
        EXPECT_EQ(messagesInFile(), Messages{});
        std::thread([&] { log.info("another thread"); }).join();
        EXPECT_EQ(messagesInFile(), (Messages{"held 1", "held 2", "another thread"}));
        log.info("held 3");
        held.release();
        EXPECT_FALSE(held.holdsLines());
        log.info("held 4");
        log.flush();
        log.info("held 5");
        EXPECT_EQ(messagesInFile().size(), 5U);
        log.info(longMessage);
        EXPECT_EQ(messagesInFile().size(), 7U);
        log.info("held 6");
    }).join();
    EXPECT_EQ(messagesInFile(), (Messages{"held 1", "held 2", "another thread", "held 3", "held 4", "held 5",
                                          longMessage, "held 6"}));
    log.flush();
    EXPECT_EQ(test_support::capturedStandardOutput(), readText(file));
}

TEST(GlobalLoggerTest, IsTheSocketLoggerAtInfoWritingToTheUsersLogFile) {
    Logger& global = logger();
    EXPECT_EQ(&global, &logger());
    EXPECT_EQ(global.label(), "Socket Logger");
    EXPECT_EQ(global.logLevel(), LogLevels::info);
    ASSERT_NE(global.stream(), nullptr);
    EXPECT_TRUE(global.stream()->filePath().string().ends_with("/.local/share/velko/desktop_client.log"));
}

TEST(GlobalLoggerTest, WritesInfoButNotDebugToItsPreparedFile) {
    ASSERT_TRUE(prepareLogFile().has_value());
    const std::filesystem::path file = logger().stream()->filePath();
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    test_support::captureStandardOutput();
    logger().debug("quiet detail");
    logger().info("Socket opened");
    logger().flush();
    std::string printed = test_support::capturedStandardOutput();
    EXPECT_EQ(printed.find("quiet detail"), std::string::npos);
    EXPECT_TRUE(printed.ends_with("] info: Socket opened\n")) << printed;
    EXPECT_TRUE(readText(file).ends_with(printed)) << readText(file);
}

TEST(GlobalLoggerTest, CaptureSeesLinesThatPassTheThreshold) {
    test_support::LogCapture capture;
    test_support::captureStandardOutput();
    logger().debug("quiet detail");
    logger().info("Socket opened");
    test_support::capturedStandardOutput();
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LogLevels::info);
    EXPECT_TRUE(lines[0].text.ends_with("] info: Socket opened"));
}

// Trimming: the big file is mostly a hole made by ftruncate (zero bytes, one character each), with
// a chosen prefix in front; the append through the stream brings it to the size under test.
class LogTrimTest : public ::testing::Test {
  protected:
    TemporaryFolder folder;
    std::filesystem::path file = folder.path() / "desktop_client.log";

    // Writes `prefix` + "Z", then zeros up to `sizeAfterAppend` minus the 4 bytes of "abc\n", then
    // appends "abc" through a FileStream and waits for it.
    void prepareAndAppend(const std::string& prefix, std::uint64_t sizeAfterAppend) {
        {
            std::ofstream output(file, std::ios::binary);
            output << prefix << 'Z';
        }
        ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(sizeAfterAppend - 4)), 0);
        FileStream stream(file);
        stream.write("abc");
        stream.flush();
    }

    std::uint64_t fileSize() const { return std::filesystem::file_size(file); }

    std::string head(std::size_t bytes) const {
        std::ifstream input(file, std::ios::binary);
        std::string text(bytes, '\0');
        input.read(text.data(), static_cast<std::streamsize>(bytes));
        return text;
    }

    static std::string repeat(std::string_view piece, std::size_t times) {
        std::string text;
        text.reserve(piece.size() * times);
        for (std::size_t i = 0; i < times; ++i) {
            text.append(piece);
        }
        return text;
    }
};

TEST_F(LogTrimTest, FileOfExactlyTheLimitIsKept) {
    prepareAndAppend(repeat("é", kLogTrimCharacters), kLogFileSizeLimit);
    EXPECT_EQ(fileSize(), kLogFileSizeLimit);
    EXPECT_EQ(head(2), "é");
}

TEST_F(LogTrimTest, OneByteMoreCutsOneMebiCharactersOfMultiByteText) {
    prepareAndAppend(repeat("é", kLogTrimCharacters), kLogFileSizeLimit + 1);
    EXPECT_EQ(fileSize(), kLogFileSizeLimit + 1 - 2 * kLogTrimCharacters);
    EXPECT_EQ(head(2), std::string("Z\0", 2));
}

TEST_F(LogTrimTest, InvalidBytesCountOneCharacterEach) {
    prepareAndAppend(repeat("\xFF", kLogTrimCharacters), kLogFileSizeLimit + 1);
    EXPECT_EQ(fileSize(), kLogFileSizeLimit + 1 - kLogTrimCharacters);
    EXPECT_EQ(head(1), "Z");
}

TEST_F(LogTrimTest, MixedValidAndBrokenSequencesAreCountedLeniently) {
    // 262,144 four-byte characters, then 786,430 lone lead bytes, then a sequence cut short by the
    // "Z" (two bytes, two characters): 1,048,576 characters in all.
    std::string prefix = repeat("\xF0\x9F\x98\x80", 262'144) + repeat("\xC3", 786'430) + "\xE2\x82";
    prepareAndAppend(prefix, kLogFileSizeLimit + 1);
    EXPECT_EQ(fileSize(), kLogFileSizeLimit + 1 - prefix.size());
    EXPECT_EQ(head(1), "Z");
}

// One append of 3 MiB past the limit: the trim drops more than its least, up to the first whole
// character, so that the file ends a mebibyte under the limit with the appended line whole.
TEST_F(LogTrimTest, AppendLargerThanATrimLeavesTheFileAMebibyteUnderTheLimit) {
    // The cut falls on the second byte of an "é": one byte more is dropped.
    const std::uint64_t sizeBefore = kLogFileSizeLimit - 100;
    {
        std::ofstream output(file, std::ios::binary);
        output << repeat("é", 2 * kLogTrimCharacters);
    }
    ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(sizeBefore)), 0);
    const std::string line(3U * 1024U * 1024U, 'L');
    {
        FileStream stream(file);
        stream.write(line);
        stream.flush();
    }
    const std::uint64_t sizeAfterAppend = sizeBefore + line.size() + 1;
    const std::uint64_t cut = sizeAfterAppend - kLogFileSizeLimit + kLogTrimHeadroomBytes;
    ASSERT_EQ(cut % 2, 1U);
    EXPECT_EQ(fileSize(), sizeAfterAppend - cut - 1);
    EXPECT_LE(fileSize(), kLogFileSizeLimit - kLogTrimHeadroomBytes);
    EXPECT_EQ(head(2), "é");
    std::ifstream input(file, std::ios::binary);
    input.seekg(-static_cast<std::streamoff>(line.size() + 1), std::ios::end);
    std::string tail(line.size() + 1, '\0');
    input.read(tail.data(), static_cast<std::streamsize>(tail.size()));
    EXPECT_EQ(tail, line + "\n");
}

// The first trim drops a mebi-character; one soon after it leaves the file 16 MiB under the limit, so
// that a burst of lines at the limit costs a copy of the file per 16 MiB logged, not per MiB.
TEST_F(LogTrimTest, ATrimSoonAfterTheLastDropsSixteenMebibytes) {
    { std::ofstream create(file, std::ios::binary); }
    FileStream stream(file);
    std::vector<std::uint64_t> sizes;
    for (int trim = 0; trim < 2; ++trim) {
        ASSERT_EQ(::truncate(file.c_str(), static_cast<off_t>(kLogFileSizeLimit - 3)), 0);
        stream.write("abc");
        stream.flush();
        sizes.push_back(fileSize());
    }
    EXPECT_EQ(sizes, (std::vector<std::uint64_t>{kLogFileSizeLimit + 1 - kLogTrimCharacters,
                                                 kLogFileSizeLimit - kLogBurstTrimHeadroomBytes}));
}

// The file is a FIFO that nobody reads at first: the stream's queue is stuck opening it, later lines
// are left out once the limit waits, and a log line in their place says how many.
TEST(LogFileStreamTest, LinesPastThePendingLimitAreLeftOutAndCountedInTheFile) {
    TemporaryFolder folder;
    const std::filesystem::path fifo = folder.path() / "desktop_client.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    constexpr std::size_t kLimit = 4096;
    constexpr int kLines = 1000;
    const std::string filler(90, 'x');
    std::string text;
    std::thread reader;
    {
        FileStream stream(fifo, kLimit);
        for (int line = 0; line < kLines; ++line) {
            stream.write(std::to_string(line) + " " + filler);
        }
        // Every append opens the FIFO anew: read until the last line.
        reader = std::thread([&] {
            while (!text.ends_with("last\n")) {
                FileDescriptor readEnd(::open(fifo.c_str(), O_RDONLY | O_CLOEXEC));
                std::array<char, 65536> buffer{};
                for (ssize_t got = 0; (got = ::read(readEnd.get(), buffer.data(), buffer.size())) > 0;) {
                    text.append(buffer.data(), static_cast<std::size_t>(got));
                }
            }
        });
        stream.flush();
        stream.write("last");
        stream.flush();
    }
    reader.join();

    const std::string note =
        " lines were left out of the log file here: they came faster than the file took them. The lines "
        "around this one show what was logging so much.";
    const auto tally = test_support::tallyLeftOutLines(text, filler, "last", [&](const std::string& line) {
        const auto parsed = parseLine(line);
        return parsed && parsed->level == "error" && parsed->message.ends_with(note)
                   ? std::optional<int>(std::stoi(parsed->message))
                   : std::nullopt;
    });
    ASSERT_TRUE(tally) << tally.error();
    EXPECT_GT(tally->leftOut, 0);
    EXPECT_LE(static_cast<std::size_t>(tally->shown) * (filler.size() + 3), 2 * kLimit);
    EXPECT_EQ(tally->shown + tally->leftOut, kLines);
    EXPECT_TRUE(text.ends_with("\nlast\n"));
}

TEST(PrepareLogFileTest, CreatesMissingFoldersAndReplacesAnEarlierFile) {
    TemporaryFolder folder;
    ScopedEnvironment home("HOME", folder.path().string());
    ASSERT_EQ(logFilePath(), folder.path() / ".local/share/velko/desktop_client.log");

    ASSERT_TRUE(prepareLogFile(logFilePath()).has_value());
    EXPECT_TRUE(std::filesystem::is_directory(logFolderPath()));
    EXPECT_EQ(std::filesystem::file_size(logFilePath()), 0u);

    { std::ofstream(logFilePath()) << "earlier run\n"; }
    ASSERT_TRUE(prepareLogFile(logFilePath()).has_value());
    EXPECT_EQ(std::filesystem::file_size(logFilePath()), 0u);
}

TEST(PrepareLogFileTest, FileInTheWayOfTheFolderIsReported) {
    TemporaryFolder folder;
    { std::ofstream(folder.path() / "blocked") << "a file"; }
    test_support::captureStandardOutput();
    auto result = prepareLogFile(folder.path() / "blocked" / "velko" / "desktop_client.log");
    std::string printed = test_support::capturedStandardOutput();
    ASSERT_FALSE(result.has_value());
    EXPECT_NE(printed.find("Cannot create the log folder"), std::string::npos);
}

TEST(PathsTest, HomeComesFromTheEnvironment) {
    ScopedEnvironment home("HOME", std::string("/some/home"));
    EXPECT_EQ(homeFolder(), "/some/home");
    EXPECT_EQ(logFolderPath(), "/some/home/.local/share/velko");
}

TEST(PathsTest, PrivateTempFolderIsCreatedPrivateAndChecked) {
    TemporaryFolder folder;
    ScopedEnvironment tmpdir("TMPDIR", folder.path().string());
    auto expected = folder.path() / ("velko-" + std::to_string(getuid()));

    auto created = privateTempFolder();
    ASSERT_TRUE(created.has_value()) << created.error();
    EXPECT_EQ(*created, expected);
    struct stat status {};
    ASSERT_EQ(::stat(expected.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    ASSERT_EQ(::chmod(expected.c_str(), 0755), 0);
    ASSERT_TRUE(privateTempFolder().has_value());
    ASSERT_EQ(::stat(expected.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    std::filesystem::remove(expected);
    std::filesystem::create_directory(folder.path() / "elsewhere");
    std::filesystem::create_directory_symlink(folder.path() / "elsewhere", expected);
    EXPECT_FALSE(privateTempFolder().has_value());
}

}  // namespace
}  // namespace brisel::common
