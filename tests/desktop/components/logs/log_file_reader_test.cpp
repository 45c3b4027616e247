// Reading a followed log: what each change of the file gives, and what the changes add up to.
#include "desktop/components/logs/log_file_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "support/file_contents.h"
#include "support/temporary_folder.h"

namespace brisel::desktop::components {
namespace {

namespace fs = std::filesystem;
using test_support::readText;

std::vector<std::string> linesOf(const LogText& text) {
    std::vector<std::string> lines;
    for (qsizetype index = 0; index < text.lineCount(); ++index) {
        lines.push_back(text.line(index).toByteArray().toStdString());
    }
    return lines;
}

TEST(LogText, AppendedPiecesIndexAsTheWholeText) {
    for (const std::string whole : {"", "\n", "a", "one\ntwo", "one\ntwo\n", "\n\nlong line here\nx\n\n"}) {
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            SCOPED_TRACE("'" + whole + "' cut at " + std::to_string(cut));
            const LogText expected(QByteArray::fromStdString(whole));
            LogText pieced(QByteArray::fromStdString(whole.substr(0, cut)));
            pieced.append(LogText(QByteArray::fromStdString(whole.substr(cut))));
            EXPECT_EQ(pieced.bytes(), expected.bytes());
            EXPECT_EQ(linesOf(pieced), linesOf(expected));
            EXPECT_EQ(pieced.longestLine(), expected.longestLine());
        }
    }
    EXPECT_EQ(linesOf(LogText(QByteArray("a\n\nb"))), (std::vector<std::string>{"a", "", "b"}));
}

TEST(LogText, DroppingTheHeadLeavesTheTextOfTheRest) {
    for (const std::string whole : {"", "\n", "a", "one\ntwo", "one\ntwo\n", "\n\nlong line here\nx\n\n"}) {
        for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
            SCOPED_TRACE("'" + whole + "' cut at " + std::to_string(cut));
            const LogText expected(QByteArray::fromStdString(whole.substr(cut)));
            LogText dropped(QByteArray::fromStdString(whole), 4);
            const qsizetype room = dropped.byteRoom() + dropped.lineRoom();
            const qsizetype lineAtCut = dropped.lineOf(static_cast<qsizetype>(cut));
            EXPECT_EQ(dropped.dropFront(static_cast<qsizetype>(cut)), lineAtCut);
            EXPECT_EQ(lineAtCut,
                      std::count(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut), '\n'));
            EXPECT_EQ(dropped.bytes(), expected.bytes());
            EXPECT_EQ(linesOf(dropped), linesOf(expected));
            EXPECT_EQ(dropped.longestLine(), expected.longestLine());
            EXPECT_EQ(dropped.byteRoom() + dropped.lineRoom(), room + static_cast<qsizetype>(cut) + lineAtCut)
                << "the room of what went is kept";
        }
    }
}

// `count` lines of 64 bytes, each with its number.
std::string numberedLines(int first, int count) {
    std::string lines;
    for (int line = first; line < first + count; ++line) {
        std::string text = "line " + std::to_string(line) + " ";
        lines += text + std::string(63 - text.size(), '.') + "\n";
    }
    return lines;
}

enum class Expect { whole, growth, trim, unreadable, nothing };

TEST(LogFileReader, ReadsOnlyGrowthAndTheWholeFileWhenItWasReplacedTruncatedOrRewritten) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "desktop_client.log";
    const auto write = [&log](const std::string& text, std::ios::openmode mode) {
        std::ofstream(log, std::ios::binary | mode) << text;
    };
    const auto append = [&](const std::string& text) {
        write(text, std::ios::app);
    };
    // As the service trims: the rest goes to another file that is renamed into place.
    const auto renameIntoPlace = [&](const std::string& text) {
        std::ofstream(root.path() / "trimmed", std::ios::binary) << text;
        fs::rename(root.path() / "trimmed", log);
    };
    const auto trim = [&](std::size_t cut, const std::string& appended) {
        renameIntoPlace(readText(log).substr(cut) + appended);
    };
    struct Step {
        const char* label;
        std::function<void()> change;
        Expect expected;
        const char* reason = "";  // of an unreadable file
    };
    const std::vector<Step> steps{
        {"missing", [] {}, Expect::unreadable, "No such file or directory"},
        {"still missing", [] {}, Expect::nothing},
        {"created", [&] { write("service started\n", std::ios::trunc); }, Expect::whole},
        {"unchanged", [] {}, Expect::nothing},
        {"appended", [&] { append("board attached\nhalf a li"); }, Expect::growth},
        {"the line finished, a character cut in two", [&] { append("ne\ncaf\xc3"); }, Expect::growth},
        {"the character finished", [&] { append("\xa9\n"); }, Expect::growth},
        {"rewritten in place, as long and longer",
         [&] {
             const std::string text = readText(log);
             write(std::string(text.size(), 'x') + "more\n", std::ios::in | std::ios::out);
         },
         Expect::whole},
        {"truncated", [&] { write("short\n", std::ios::trunc); }, Expect::whole},
        {"grown too much at once", [&] { append(std::string(LogFileReader::kLargestGrowth + 1, 'y')); },
         Expect::whole},
        {"trimmed: the head cut away and the rest renamed into place",
         [&] { trim(readText(log).size() / 2, "after\n"); }, Expect::trim},
        {"trimmed to nothing", [&] { trim(readText(log).size(), "new start\n"); }, Expect::whole},
        {"replaced by 48,000 lines", [&] { write(numberedLines(0, 48000), std::ios::trunc); }, Expect::whole},
        {"trimmed by more than 1 MiB, in the middle of a line, then grown",
         [&] { trim((std::size_t{2} << 20) + 100, numberedLines(48000, 100)); }, Expect::trim},
        {"trimmed, but the first byte kept is another",
         [&] { renameIntoPlace("z" + readText(log).substr(65) + numberedLines(48100, 1)); }, Expect::whole},
        {"the known end cut away", [&] { trim(readText(log).size() - 100, numberedLines(48101, 1)); },
         Expect::whole},
        {"deleted", [&] { fs::remove(log); }, Expect::unreadable, "No such file or directory"},
        {"a folder in its place", [&] { fs::create_directory(log); }, Expect::unreadable, "Is a directory"},
        {"a FIFO in its place: refused, never waited on",
         [&] {
             fs::remove(log);
             ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
         },
         Expect::unreadable, "Not a regular file"},
        {"a file again",
         [&] {
             fs::remove(log);
             write("third start\n", std::ios::trunc);
         },
         Expect::whole},
    };

    LogFileReader reader(log);
    LogText shown;  // what a window shows after each change
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        step.change();
        std::optional<LogFileChange> change = reader.look(std::stop_token());
        switch (step.expected) {
            case Expect::nothing:
                EXPECT_FALSE(change.has_value());
                continue;
            case Expect::unreadable:
                ASSERT_TRUE(change && std::holds_alternative<UnreadableLog>(*change));
                EXPECT_EQ(std::get<UnreadableLog>(*change).reason.toStdString(), step.reason);
                continue;
            case Expect::growth:
                ASSERT_TRUE(change && std::holds_alternative<LogGrowth>(*change));
                shown.append(std::get<LogGrowth>(*change).added);
                break;
            case Expect::trim:
                ASSERT_TRUE(change && std::holds_alternative<LogTrim>(*change));
                shown.dropFront(std::get<LogTrim>(*change).dropped);
                shown.append(std::get<LogTrim>(*change).added);
                break;
            case Expect::whole:
                ASSERT_TRUE(change && std::holds_alternative<WholeLog>(*change));
                shown = std::move(std::get<WholeLog>(*change).text);
                break;
        }
        EXPECT_EQ(shown.bytes().toStdString(), readText(log));
        EXPECT_EQ(linesOf(shown), linesOf(LogText(QByteArray::fromStdString(readText(log)))));
    }
    EXPECT_EQ(linesOf(shown), (std::vector<std::string>{"third start", ""}));
}

}  // namespace
}  // namespace brisel::desktop::components
