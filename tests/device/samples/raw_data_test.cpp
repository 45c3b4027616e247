#include "device/samples/raw_data.h"

#include <gtest/gtest.h>

namespace brisel::device {
namespace {

using Json = nlohmann::ordered_json;

TEST(RawDataTest, DefaultsEncodeToEmptyCollectionsAndNullRates) {
    const auto json = RawData{}.encode();
    ASSERT_TRUE(json);
    EXPECT_EQ(json->dump(), R"({"_sensor_odrs":null,"packet_indices":[],"sensor_data":{}})");
}

TEST(RawDataTest, RatesAreRequiredButMayBeNull) {
    EXPECT_FALSE(RawData::decode(Json::parse(R"({"packet_indices":[],"sensor_data":{}})")));
    const auto decoded =
        RawData::decode(Json::parse(R"({"_sensor_odrs":null,"packet_indices":[],"sensor_data":{}})"));
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(decoded->sensorOdrs.has_value());
    EXPECT_FALSE(decoded->deviceKind.has_value());
}

TEST(RawDataTest, PacketIndicesKeepTheirInsertionOrderBothWays) {
    const auto decoded = RawData::decode(Json::parse(
        R"({"_sensor_odrs":["accel",104.5,"gyro",52],"packet_indices":[5,{"accel":3},2,{"gyro":7}],)"
        R"("sensor_data":{"accel":[[1,2.5],[3]]}})"));
    ASSERT_TRUE(decoded) << decoded.error();
    std::vector<std::int64_t> keys;
    for (const auto& [key, value] : decoded->packetIndices) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::int64_t>{5, 2}));
    EXPECT_EQ(decoded->sensorOdrs->at(common::SensorKind::GYROSCOPE), 52.0);
    EXPECT_EQ(decoded->sensorData.at("accel")[0][1], 2.5f);
    const auto encoded = decoded->encode();
    ASSERT_TRUE(encoded);
    EXPECT_EQ(encoded->dump(),
              R"({"_sensor_odrs":["accel",104.5,"gyro",52.0],"packet_indices":[5,{"accel":3},2,{"gyro":7}],)"
              R"("sensor_data":{"accel":[[1.0,2.5],[3.0]]}})");
}

TEST(RawDataTest, RejectsMalformedForms) {
    const char* malformed[] = {
        R"([])",
        R"({"_sensor_odrs":null,"packet_indices":[5],"sensor_data":{}})",
        R"({"_sensor_odrs":null,"packet_indices":[5,{},5,{}],"sensor_data":{}})",
        R"({"_sensor_odrs":null,"packet_indices":["5",{}],"sensor_data":{}})",
        R"({"_sensor_odrs":null,"packet_indices":[1.5,{}],"sensor_data":{}})",
        R"({"_sensor_odrs":null,"packet_indices":[18446744073709551615,{}],"sensor_data":{}})",
        R"({"_sensor_odrs":null,"packet_indices":[1,{"a":"b"}],"sensor_data":{}})",
        R"({"_sensor_odrs":["accel"],"packet_indices":[],"sensor_data":{}})",
        R"({"_sensor_odrs":["warp",1],"packet_indices":[],"sensor_data":{}})",
        R"({"_sensor_odrs":null,"packet_indices":[],"sensor_data":{"a":[1]}})",
        R"({"_sensor_odrs":null,"packet_indices":[],"sensor_data":{"a":[[1e300]]}})",
        R"({"_sensor_odrs":null,"packet_indices":[],"sensor_data":{}, "extra":1})",
        R"({"_sensor_odrs":null,"sensor_data":{}})",
    };
    for (const char* text : malformed) {
        EXPECT_FALSE(RawData::decode(Json::parse(text))) << text;
    }
}

TEST(RawDataTest, EncodingRefusesNonFiniteNumbers) {
    RawData record;
    record.sensorData["accel"] = {{std::numeric_limits<float>::infinity()}};
    EXPECT_FALSE(record.encode());
}

}  // namespace
}  // namespace brisel::device
