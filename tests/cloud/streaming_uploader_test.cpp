#include "cloud/streaming_uploader.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "common/dispatch.h"

#include "common/json_codec.h"
#include "common/logger.h"
#include "support/eventually.h"
#include "support/fake_cloud.h"
#include "support/log_capture.h"
#include "support/raw_tcp_server.h"
#include "support/temporary_folder.h"

namespace brisel::cloud {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::FakeCloud;
using test::ScriptedReply;
using test_support::LogCapture;
using test_support::TemporaryFolder;

constexpr auto kPatience = 20s;
constexpr auto kWaitUnit = 20ms;
constexpr std::int64_t kCollection = 41;
constexpr std::int64_t kProject = 9;
const std::string kUploadPath = "/api/collection/41/json";

std::string randomBytes(std::size_t count) {
    std::mt19937 generator(2024);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(count, '\0');
    for (char& value : bytes) {
        value = static_cast<char>(byte(generator));
    }
    return bytes;
}

fs::path writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// Waits until no file of the uploader is in flight; false at the bound.
bool waitUntilIdle(const StreamingUploader& uploader) {
    return test_support::eventually([&] { return !uploader.streamerRunning(); }, kPatience);
}

class StreamingUploaderTest : public ::testing::Test {
  protected:
    StreamingUploaderTest() {
        authorization.setSharedBaseURLAndCookie(cloud.baseUrl(), "secret-token");
        cloud.reply("POST", kUploadPath, ScriptedReply::json(200, "{}"));
        cloud.reply(
            "PATCH", "/api/collection/41/data_collection/status",
            ScriptedReply::json(200, R"({"collection_id": 41, "started_at": "s", "status": "ERROR"})"));
        cloud.reply(
            "POST", "/api/notifications",
            ScriptedReply::json(200, R"({"collections": [], "description": "d", "id": 12, "project_id": 9,
                        "read": false, "recorded_at": "r", "status": "FAILED", "tag": true,
                        "title": "Data Collection", "user_id": 17})"));
    }

    // Lets the work of the calls end (a completion's thread may still be releasing a call) before
    // the fakes go away.
    ~StreamingUploaderTest() override { common::shutdownDispatch(); }

    // Waits until both failure reports have been answered, so that no call outlives the test.
    void expectReportsAnswered() const {
        EXPECT_TRUE(log.waitFor("Status set to error", kPatience));
        EXPECT_TRUE(log.waitFor("Notification created", kPatience));
    }

    std::shared_ptr<StreamingUploader> makeUploader(int maxTries = 5,
                                                    std::function<bool(std::int64_t)> collectionInUse = {}) {
        UploaderSettings settings;
        settings.collectionInUse = std::move(collectionInUse);
        settings.client.session = session;
        settings.client.retry = RetryPolicy{maxTries, kWaitUnit};
        settings.authorization = &authorization;
        settings.collectionsFolder = collections;
        return StreamingUploader::create(kCollection, kProject, common::DeviceKind::NANO_33_BLE, settings);
    }

    fs::path segment(std::int64_t index, const std::string& bytes) {
        return writeFile(
            collections / std::to_string(kCollection) / ("sensors_" + std::to_string(index) + ".bin"), bytes);
    }

    std::vector<test::RecordedRequest> uploads() const {
        std::vector<test::RecordedRequest> found;
        for (auto& request : cloud.requests()) {
            if (request.path == kUploadPath) {
                found.push_back(request);
            }
        }
        return found;
    }

    LogCapture log;
    TemporaryFolder temporary;
    fs::path collections = temporary.path() / "velko_brisel_collection";
    FakeCloud cloud;
    Authorization authorization;
    std::shared_ptr<HttpSession> session = std::make_shared<HttpSession>();
};

// Reported once: the file goes, so that no later sync reports it again.
TEST_F(StreamingUploaderTest, EmptyFileIsReportedToTheCloudAndRemoved) {
    const fs::path file = segment(0, "");
    auto uploader = makeUploader();
    uploader->process(file, 0, true);

    ASSERT_TRUE(cloud.waitForRequests(2, kPatience));
    EXPECT_FALSE(uploader->streamerRunning());
    EXPECT_TRUE(uploader->stopDataCollection());
    EXPECT_EQ(uploader->exceptionType(), StreamingUploaderError::NoDataReceived);
    EXPECT_FALSE(uploader->exceptionOccured());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(uploads().empty());
    EXPECT_EQ(log.count("error: Incoming data is empty from NANO_33_BLE"), 1U);

    const std::string description = "The operation couldn't be completed. (StreamingUploaderError error 0.)";
    for (const auto& request : cloud.requests()) {
        const auto body = common::parseJson(request.body);
        ASSERT_TRUE(body.has_value());
        if (request.method == "PATCH") {
            EXPECT_EQ(request.path, "/api/collection/41/data_collection/status");
            EXPECT_EQ((*body)["status"], "ERROR");
            EXPECT_EQ((*body)["error_code"], 0);
            EXPECT_EQ((*body)["error_description"], description);
        } else {
            EXPECT_EQ(request.path, "/api/notifications");
            EXPECT_EQ((*body)["project_id"], kProject);
            EXPECT_EQ((*body)["title"], "Data Collection");
            EXPECT_EQ((*body)["description"], description);
            EXPECT_EQ((*body)["status"], "FAILED");
            EXPECT_EQ((*body)["allow_duplicate"], true);
            EXPECT_EQ((*body)["collection_ids"], common::Json::array({kCollection}));
        }
    }
    expectReportsAnswered();
}

TEST_F(StreamingUploaderTest, UnreadableFileIsReportedAndEndsItsTurn) {
    auto uploader = makeUploader();
    uploader->process(collections / "41" / "sensors_5.bin", 5, true);

    ASSERT_TRUE(cloud.waitForRequests(2, kPatience));
    EXPECT_FALSE(uploader->streamerRunning());
    EXPECT_TRUE(uploader->stopDataCollection());
    EXPECT_TRUE(uploader->exceptionOccured());
    EXPECT_EQ(uploader->exceptionType(), std::nullopt);
    for (const auto& request : cloud.requests()) {
        EXPECT_NE(request.body.find("sensors_5.bin could not be read"), std::string::npos) << request.body;
    }
    expectReportsAnswered();
}

TEST_F(StreamingUploaderTest, FilesArriveByteForByteWithTheQueryAndOnlyTheCredentialField) {
    struct Case {
        std::int64_t index;
        std::size_t bytes;
    };
    for (const Case current : {Case{0, 1}, Case{1234, std::size_t{50} * 1024 * 1024}}) {
        const std::string content = randomBytes(current.bytes);
        const fs::path file = segment(current.index, content);
        auto uploader = makeUploader();
        uploader->process(file, current.index, false);
        ASSERT_TRUE(waitUntilIdle(*uploader));

        EXPECT_TRUE(uploader->uploadedInstance());
        EXPECT_FALSE(fs::exists(file));
        EXPECT_TRUE(log.contains("Successful upload: " + file.string()));
    }
    const auto received = uploads();
    ASSERT_EQ(received.size(), 2U);
    EXPECT_EQ(received[0].query, "first_packet_index=0");
    EXPECT_EQ(received[1].query, "first_packet_index=1234");
    EXPECT_EQ(received[0].body, randomBytes(1));
    EXPECT_TRUE(received[1].body == randomBytes(std::size_t{50} * 1024 * 1024));
    for (const auto& request : received) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.header("X-brisel-api-key"), "secret-token");
        EXPECT_EQ(request.header("Content-Type"), std::nullopt);
        EXPECT_EQ(request.header("Accept"), std::nullopt);
        EXPECT_EQ(request.header("Expect"), std::nullopt);
    }
}

TEST_F(StreamingUploaderTest, WithoutCredentialTheUploadGoesOutBareAndSilently) {
    authorization.setCookie(std::nullopt);
    auto uploader = makeUploader();
    uploader->process(segment(0, "abc"), 0, true);
    ASSERT_TRUE(waitUntilIdle(*uploader));
    const auto received = uploads();
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].header("X-brisel-api-key"), std::nullopt);
    EXPECT_FALSE(log.contains("Authorization bearer not set"));
}

TEST_F(StreamingUploaderTest, StatusDecidesSuccessWith418CountingAsAlreadyUploaded) {
    struct Case {
        int status;
        bool uploaded;
    };
    for (const Case current : {Case{418, true}, Case{299, true}, Case{300, false}, Case{404, false}}) {
        cloud.reply("POST", kUploadPath, ScriptedReply::text(current.status, ""));
        const fs::path file = segment(current.status, "data");
        auto uploader = makeUploader(1);
        uploader->process(file, current.status, true);
        ASSERT_TRUE(waitUntilIdle(*uploader));
        EXPECT_EQ(uploader->uploadedInstance(), current.uploaded) << current.status;
        EXPECT_EQ(fs::exists(file), !current.uploaded) << current.status;
    }
    EXPECT_TRUE(log.contains("Instance " + (collections / "41" / "sensors_418.bin").string() +
                             " has already been uploaded to collection"));
    EXPECT_EQ(log.count("Failed upload: "), 2U);
}

TEST_F(StreamingUploaderTest, FailingTriesAreRetriedWithRisingWaitsAndTheFileStays) {
    cloud.reply("POST", kUploadPath, ScriptedReply::text(500, "down for maintenance"));
    const fs::path file = segment(3, "data");
    auto uploader = makeUploader();
    uploader->process(file, 3, true);
    ASSERT_TRUE(waitUntilIdle(*uploader));

    EXPECT_EQ(uploads().size(), 5U);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(uploader->uploadedInstance());
    EXPECT_EQ(log.count("Failed to upload data for file://" + file.string() + " statusCode: 500, try #"), 5U);
    std::vector<std::chrono::steady_clock::time_point> retries;
    for (const auto& line : log.lines()) {
        if (line.text.find("uploadRequest file: " + file.string()) != std::string::npos) {
            retries.push_back(line.at);
        }
    }
    ASSERT_EQ(retries.size(), 5U);
    for (int tryNumber = 2; tryNumber <= 5; ++tryNumber) {
        EXPECT_EQ(
            log.count("Reattempting upload for " + file.string() + ", try #" + std::to_string(tryNumber)),
            1U);
        const auto index = static_cast<std::size_t>(tryNumber - 1);
        EXPECT_GE(retries[index] - retries[index - 1], kWaitUnit * (tryNumber - 1));
    }
    EXPECT_EQ(log.count("Failed upload: " + file.string()), 1U);
}

TEST_F(StreamingUploaderTest, ReplyCutAfterSuccessIsAFailedTryAndTheRetryDeletes) {
    ScriptedReply cut = ScriptedReply::json(200, std::string(64, ' '));
    cut.ending = test::ReplyEnding::cutBody;
    cloud.replies("POST", kUploadPath, {cut, ScriptedReply::text(418, "")});
    const fs::path file = segment(0, "data");
    auto uploader = makeUploader();
    uploader->process(file, 0, true);
    ASSERT_TRUE(waitUntilIdle(*uploader));

    EXPECT_EQ(uploads().size(), 2U);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(log.contains("statusCode: 200, try #1"));
    EXPECT_TRUE(log.contains("has already been uploaded to collection"));
}

// The cloud answers before it has read the file: a 2xx then is no upload, but a 418 says that the
// cloud already holds the file, whenever it comes.
TEST_F(StreamingUploaderTest, EarlyReplyCountsOnlyWhenItIs418) {
    session = std::make_shared<HttpSession>(HttpSessionOptions{.idleTimeout = 500ms});
    struct Row {
        int status;
        test::RawExchange::Ending ending;
        bool uploaded;
    };
    // A 418 on a connection closed with the file unread could be reset before the reply is read: the
    // cloud's 418 leaves the connection open.
    for (const Row row : {Row{200, test::RawExchange::Ending::close, false},
                          Row{200, test::RawExchange::Ending::stayOpen, false},
                          Row{418, test::RawExchange::Ending::stayOpen, true}}) {
        const std::string label = std::to_string(row.status) +
                                  (row.ending == test::RawExchange::Ending::close ? " close" : " open");
        test::RawTcpServer early({test::RawExchange{
            test::RawExchange::Reading::headerOnly,
            "HTTP/1.1 " + std::to_string(row.status) + " Early\r\nContent-Length: 0\r\n\r\n", row.ending}});
        authorization.setSharedBaseURL(early.baseUrl());
        const fs::path file = segment(0, randomBytes(std::size_t{16} * 1024 * 1024));
        auto uploader = makeUploader(2);
        uploader->process(file, 0, true);
        ASSERT_TRUE(waitUntilIdle(*uploader)) << label;

        EXPECT_EQ(fs::exists(file), !row.uploaded) << label;
        EXPECT_EQ(uploader->uploadedInstance(), row.uploaded) << label;
        EXPECT_EQ(early.connections(), row.uploaded ? 1U : 2U) << label;
        fs::remove(file);
    }
    EXPECT_EQ(log.count("has already been uploaded to collection"), 1U);
}

// Another request switches the cloud in force while a file is being handed in, after the uploader
// has begun reading it: whatever the file sends (its upload, or the failure reports of an empty file)
// still goes to one cloud, with that cloud's credential.
TEST_F(StreamingUploaderTest, CloudSwitchedWhileAFileIsHandedInLeavesItWithOneCloud) {
    struct Row {
        const char* content;
        const char* switchAtLine;
        std::size_t requests;
    };
    for (const Row row :
         {Row{"data", "Uploading sensors.bin", 1}, Row{"", "Creating a new notification", 2}}) {
        FakeCloud other;
        authorization.setSharedBaseURLAndCookie(cloud.baseUrl(), "secret-token");
        const std::size_t before = cloud.requests().size();
        // The log line is written on the thread that hands the file in, between its steps.
        common::logger().setCaptureSink([&](common::LogLevels, std::string_view line) {
            if (line.find(row.switchAtLine) != std::string_view::npos) {
                authorization.setSharedBaseURLAndCookie(other.baseUrl(), "other-token");
            }
        });
        auto uploader = makeUploader();
        uploader->process(segment(0, row.content), 0, true);
        common::logger().setCaptureSink(nullptr);
        ASSERT_TRUE(waitUntilIdle(*uploader)) << row.switchAtLine;
        ASSERT_TRUE(cloud.waitForRequests(before + row.requests, kPatience)) << row.switchAtLine;

        const auto received = cloud.requests();
        for (std::size_t index = before; index < received.size(); ++index) {
            EXPECT_EQ(received[index].header("X-brisel-api-key"), "secret-token") << received[index].path;
        }
        EXPECT_TRUE(other.requests().empty()) << row.switchAtLine;
        fs::remove(collections / "41" / "sensors_0.bin");
    }
}

TEST_F(StreamingUploaderTest, FileReplacedDuringTheUploadIsKept) {
    ScriptedReply slow = ScriptedReply::json(200, "{}");
    slow.delay = 500ms;
    cloud.reply("POST", kUploadPath, slow);
    const fs::path file = segment(0, "first segment");
    auto uploader = makeUploader();
    uploader->process(file, 0, true);
    ASSERT_TRUE(cloud.waitForRequests(1, kPatience));
    const fs::path newer = writeFile(file.parent_path() / "sensors_temp_1.bin", "newer segment");
    fs::rename(newer, file);
    ASSERT_TRUE(waitUntilIdle(*uploader));

    EXPECT_TRUE(uploader->uploadedInstance());
    ASSERT_TRUE(fs::exists(file));
    std::string kept(fs::file_size(file), '\0');
    std::ifstream(file, std::ios::binary).read(kept.data(), static_cast<std::streamsize>(kept.size()));
    EXPECT_EQ(kept, "newer segment");
}

TEST_F(StreamingUploaderTest, StreamerRunsWhileAnyUploadIsInFlight) {
    ScriptedReply slow = ScriptedReply::json(200, "{}");
    slow.delay = 1s;
    cloud.replies("POST", kUploadPath, {slow, ScriptedReply::json(200, "{}")});
    auto uploader = makeUploader();
    const fs::path first = segment(0, "first");
    const fs::path second = segment(1, "second");
    uploader->process(first, 0, true);
    ASSERT_TRUE(cloud.waitForRequests(1, kPatience));
    uploader->process(second, 1, true);

    ASSERT_TRUE(log.waitFor("Successful upload: " + second.string(), kPatience));
    EXPECT_TRUE(uploader->streamerRunning());
    ASSERT_TRUE(waitUntilIdle(*uploader));
    EXPECT_FALSE(fs::exists(first));
}

// Each file's end is reported once, with how it ended, after the uploader stopped counting it.
TEST_F(StreamingUploaderTest, EveryFileReportsItsEndOnceWithItsOutcome) {
    cloud.replies("POST", kUploadPath, {ScriptedReply::json(200, "{}"), ScriptedReply::text(500, "down")});
    auto uploader = makeUploader(1);
    std::mutex mutex;
    std::map<std::int64_t, std::vector<FileUploadOutcome>> ended;
    const auto process = [&](const fs::path& file, std::int64_t index) {
        uploader->process(file, index, true, [&, index](FileUploadOutcome outcome) {
            std::lock_guard lock(mutex);
            ended[index].push_back(outcome);
        });
    };
    process(segment(0, "uploaded"), 0);
    ASSERT_TRUE(waitUntilIdle(*uploader));
    process(segment(1, "refused"), 1);
    ASSERT_TRUE(waitUntilIdle(*uploader));
    process(segment(2, ""), 2);
    process(collections / "41" / "sensors_3.bin", 3);
    ASSERT_TRUE(test_support::eventually(
        [&] {
            std::lock_guard lock(mutex);
            return ended.size() == 4;
        },
        kPatience));

    std::lock_guard lock(mutex);
    EXPECT_EQ(ended,
              (std::map<std::int64_t, std::vector<FileUploadOutcome>>{{0, {FileUploadOutcome::uploaded}},
                                                                      {1, {FileUploadOutcome::failed}},
                                                                      {2, {FileUploadOutcome::empty}},
                                                                      {3, {FileUploadOutcome::unreadable}}}));
    expectReportsAnswered();
}

TEST_F(StreamingUploaderTest, CleanUpRemovesOnlyEmptyFoldersDirectlyInsideTheCollectionsFolder) {
    const fs::path file = segment(0, "data");
    fs::create_directories(collections / "2");
    writeFile(collections / "3" / "sensors_0.bin", "waiting");
    fs::create_directories(collections / "4" / "empty");
    fs::create_directories(temporary.path() / "elsewhere");
    fs::create_directory_symlink(temporary.path() / "elsewhere", collections / "link");
    // A recording of collection 5 has made its folder and is about to make its file there.
    fs::create_directories(collections / "5");
    auto uploader = makeUploader(5, [](std::int64_t id) { return id == 5; });
    uploader->process(file, 0, true);
    ASSERT_TRUE(waitUntilIdle(*uploader));

    EXPECT_FALSE(fs::exists(collections / "41"));
    EXPECT_FALSE(fs::exists(collections / "2"));
    EXPECT_TRUE(fs::exists(collections / "5"));
    EXPECT_TRUE(fs::exists(collections / "3" / "sensors_0.bin"));
    EXPECT_TRUE(fs::exists(collections / "4" / "empty"));
    EXPECT_TRUE(fs::is_symlink(collections / "link"));
    EXPECT_TRUE(fs::exists(temporary.path() / "elsewhere"));
}

TEST_F(StreamingUploaderTest, FileOutsideTheCollectionsFolderLeavesEveryFolderInPlace) {
    const fs::path file = writeFile(temporary.path() / "other" / "41" / "sensors_0.bin", "data");
    fs::create_directories(temporary.path() / "other" / "empty");
    fs::create_directories(collections / "2");
    auto uploader = makeUploader();
    uploader->process(file, 0, true);
    ASSERT_TRUE(waitUntilIdle(*uploader));

    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::exists(temporary.path() / "other" / "41"));
    EXPECT_TRUE(fs::exists(temporary.path() / "other" / "empty"));
    EXPECT_TRUE(fs::exists(collections / "2"));
}

}  // namespace
}  // namespace brisel::cloud
