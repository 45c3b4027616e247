// The pieces of the data collection and the collection sync that hold no board or cloud: which folder
// entries are sample files, the sampling-rate map, and the folder claims of recordings.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "workflows/collection/collection_folder_claims.h"
#include "workflows/collection/device_data_collection.h"
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
        EXPECT_FALSE(claims.isClaimed(6));
        // An uploader without uploads in flight keeps nothing once the claim is released.
        const std::shared_ptr<const cloud::StreamingUploader> idle =
            cloud::StreamingUploader::create(5, 1, common::DeviceKind::NANO_33_BLE);
        moved.keepWhileUploading(idle);
    }
    EXPECT_FALSE(claims.isClaimed(5));
}

}  // namespace
}  // namespace brisel::workflows
