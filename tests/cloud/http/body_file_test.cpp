#include "cloud/http/body_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include <gtest/gtest.h>

namespace brisel::cloud {
namespace {

class HttpBodyFileTest : public ::testing::Test {
  protected:
    HttpBodyFileTest() {
        std::string pattern = (std::filesystem::temp_directory_path() / "brisel-body-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            folder = pattern;
        }
    }
    ~HttpBodyFileTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::filesystem::path write(const std::string& bytes) {
        auto path = folder / "body.bin";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::filesystem::path folder;
};

TEST_F(HttpBodyFileTest, HandsOutExactlyTheSizeAtOpening) {
    const auto path = write("0123456789");
    auto file = HttpBodyFile::open(path);
    ASSERT_TRUE(file);
    std::ofstream(path, std::ios::binary | std::ios::app) << "grown later";
    std::array<char, 4> buffer{};
    std::string received;

    while (true) {
        auto count = file->readNext(buffer);
        ASSERT_TRUE(count) << count.error().message;
        if (*count == 0) {
            break;
        }
        received.append(buffer.data(), *count);
    }

    EXPECT_EQ(file->size(), 10U);
    EXPECT_EQ(received, "0123456789");
}

TEST_F(HttpBodyFileTest, FileThatShrinksWhileBeingSentIsAnError) {
    const auto path = write(std::string(100, 'x'));
    auto file = HttpBodyFile::open(path);
    ASSERT_TRUE(file);
    ASSERT_EQ(truncate(path.c_str(), 10), 0);
    std::array<char, 64> buffer{};

    ASSERT_TRUE(file->readNext(buffer));
    auto rest = file->readNext(buffer);

    ASSERT_FALSE(rest);
    EXPECT_EQ(rest.error().kind, HttpErrorKind::fileUnreadable);
}

TEST_F(HttpBodyFileTest, OnlyRegularFilesAreSent) {
    auto folderBody = HttpBodyFile::open(folder);
    ASSERT_FALSE(folderBody);
    EXPECT_EQ(folderBody.error().kind, HttpErrorKind::fileUnreadable);

    const auto fifo = folder / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto opening = std::async(std::launch::async, [&] { return HttpBodyFile::open(fifo); });
    if (opening.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "opening a FIFO waited for a writer";
        // A writer ends the blocked open, so that the test can end.
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        opening.wait();
        if (writer >= 0) {
            ::close(writer);
        }
    }
    auto fifoBody = opening.get();
    ASSERT_FALSE(fifoBody);
    EXPECT_EQ(fifoBody.error().kind, HttpErrorKind::fileUnreadable);
}

}  // namespace
}  // namespace brisel::cloud
