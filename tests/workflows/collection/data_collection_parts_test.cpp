// The pieces of the data collection and the collection sync that hold no board or cloud: which folder
// entries are sample files, the sampling-rate map, the folder claims of recordings, and what a
// recording's tally makes of its end.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "workflows/collection/collection_folder_claims.h"
#include "workflows/collection/device_data_collection.h"
#include "workflows/collection/recording_tally.h"
#include "workflows/collection/sample_file_index.h"

namespace brisel::workflows {
namespace {

TEST(SampleFileIndexTest, OnlyADecimalIndexBetweenThePrefixAndBinIsASampleFile) {
    struct Row {
        std::string name;
        std::optional<std::int64_t> index;
    };
    const std::vector<Row> rows{
        {"sensors_12.bin", 12},
        {"sensors_-3.bin", -3},
        {"sensors_+7.bin", 7},
        {"old_sensors_5.bin.part", 5},
        {"sensors_9223372036854775807.bin", std::numeric_limits<std::int64_t>::max()},
        {"sensors_9223372036854775808.bin", std::nullopt},
        {"sensors_123456789012345678901234567890.bin", std::nullopt},
        {"sensors_.bin", std::nullopt},
        {"sensors_x.bin", std::nullopt},
        {"sensors_-.bin", std::nullopt},
        {"sensors_+-1.bin", std::nullopt},
        {"sensors_1 .bin", std::nullopt},
        {"sensors_temp_1700000000.5.bin", std::nullopt},
        {"sensors_12", std::nullopt},
        {"notes.txt", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(sampleFileIndex(row.name), row.index) << row.name;
    }
}

TEST(DeviceOdrMapTest, EverySensorKeepsItsLastRateEnabledOrNot) {
    const std::vector<frame::SensorConfig> sensors{
        {true, common::SensorKind::ACCELEROMETER, 4.0, 100.0},
        {false, common::SensorKind::GYROSCOPE, std::nullopt, 50.0},
        {true, common::SensorKind::ACCELEROMETER, std::nullopt, 200.0},
    };
    const device::SensorOdrs expected{{common::SensorKind::ACCELEROMETER, 200.0},
                                      {common::SensorKind::GYROSCOPE, 50.0}};
    EXPECT_EQ(DeviceDataCollection::getDeviceOdrMap(sensors), expected);
}

TEST(CollectionFolderClaimsTest, AFolderStaysClaimedWhileItsClaimIsHeld) {
    CollectionFolderClaims claims;
    EXPECT_FALSE(claims.isClaimed(5));
    {
        auto first = claims.claim(5);
        auto moved = std::move(first);
        { auto second = claims.claim(5); }
        EXPECT_TRUE(claims.isClaimed(5));
        EXPECT_TRUE(claims.isHeld(5));
        EXPECT_FALSE(claims.isClaimed(6));
        // An uploader without uploads in flight keeps nothing once the claim is released.
        const std::shared_ptr<const cloud::StreamingUploader> idle =
            cloud::StreamingUploader::create(5, 1, common::DeviceKind::NANO_33_BLE);
        moved.keepWhileUploading(idle);
    }
    EXPECT_FALSE(claims.isClaimed(5));
    EXPECT_FALSE(claims.isHeld(5));
}

// A recording ends as done only when no packet was lost and every segment reached the cloud; otherwise
// one text says what happened, for the cloud and the browser, and what to do.
TEST(RecordingProblemsTest, SayWhatWasLostAndWhatIsKeptForASync) {
    using Counts = RecordingTally::Counts;
    const std::string sync =
        " Segments that are not uploaded are kept on this computer: run a collection sync of this collection "
        "to upload them.";
    const std::vector<std::pair<Counts, std::optional<std::string>>> rows{
        {Counts{.uploaded = 3}, std::nullopt},
        {Counts{}, std::nullopt},
        {Counts{.uploaded = 1, .failed = 3},
         "Data collection ended with errors: 3 segments could not be uploaded." + sync},
        {Counts{.inFlight = 1, .uploaded = 2},
         "Data collection ended with errors: 1 segment was still uploading when the wait for the uploads "
         "ended." +
             sync},
        {Counts{.inFlight = 1, .saving = 1},
         "Data collection ended with errors: 2 segments were still uploading when the wait for the uploads "
         "ended." +
             sync},
        {Counts{.uploaded = 3, .packetsLost = 1},
         "Data collection ended with errors: 1 packet could not be written to the disk (is it full?) and "
         "was lost."},
        {Counts{.empty = 1},
         "Data collection ended with errors: 1 segment held no valid packet (check the board's firmware "
         "and the sensors of the request)."},
        {Counts{.failed = 1, .unreadable = 2, .packetsLost = 12},
         "Data collection ended with errors: 12 packets could not be written to the disk (is it full?) and "
         "were lost; 2 segments could not be read; 1 segment could not be uploaded." +
             sync},
        {Counts{.keptForSync = 2},
         "Data collection ended with errors: 2 segments were kept for a collection sync as the service "
         "stopped." +
             sync},
    };
    for (const auto& [counts, text] : rows) {
        EXPECT_EQ(recordingProblems(counts), text);
    }
}

// A save counts until it has handed its segments over, each of which is in flight until its upload
// ends; what waits for them to settle is told once, with the final counts, at once when nothing runs.
TEST(RecordingTallyTest, SettlesWhenTheLastSaveAndUploadEndAndTellsWhatWaitsForThat) {
    RecordingTally tally;
    std::vector<RecordingTally::Counts> settled;
    const auto record = [&](const RecordingTally::Counts& counts) {
        settled.push_back(counts);
    };
    const auto now = [] {
        return std::chrono::steady_clock::now();
    };
    tally.whenSettled(record);
    EXPECT_EQ(settled.size(), 1U);
    EXPECT_TRUE(tally.waitUntilSettled(now()));

    tally.saveStarted();
    EXPECT_FALSE(tally.waitUntilSaved(now()));
    tally.uploadStarted();
    tally.uploadStarted();
    tally.saveEnded();
    EXPECT_TRUE(tally.waitUntilSaved(now()));
    EXPECT_FALSE(tally.waitUntilSettled(now()));
    tally.uploadEnded(SegmentOutcome::uploaded);
    tally.setPacketsLost(2);
    tally.whenSettled(record);
    EXPECT_EQ(settled.size(), 1U);
    std::thread upload([&] { tally.uploadEnded(SegmentOutcome::failed); });
    EXPECT_TRUE(tally.waitUntilSettled(now() + std::chrono::seconds(20)));
    upload.join();
    ASSERT_EQ(settled.size(), 2U);
    EXPECT_EQ(settled[1].inFlight, 0);
    EXPECT_EQ(settled[1].uploaded, 1);
    EXPECT_EQ(settled[1].failed, 1);
    EXPECT_EQ(settled[1].packetsLost, 2);
    // Told once only; saves that will never run count no more.
    tally.saveStarted();
    tally.saveStarted();
    tally.savesAbandoned();
    EXPECT_TRUE(tally.waitUntilSaved(now()));
    EXPECT_EQ(settled.size(), 2U);
}

}  // namespace
}  // namespace brisel::workflows
