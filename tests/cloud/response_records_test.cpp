#include "cloud/response_records.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cloud/decoding_failure.h"
#include "common/json_codec.h"
#include "support/record_fixtures.h"

namespace brisel::cloud {
namespace {

using common::Json;
using testing_support::childPath;
using testing_support::expectedTypeName;
using testing_support::keyPath;
using testing_support::RecordKeys;

// Complete replies, written from the record tables.
const char* const kCollectionReply = R"({
  "label": "walking", "created_at": "2026-11-02T08:01:12Z", "id": 501, "kind": "TRAINING", "name": "walk-1",
  "note": "left wrist", "num_instances": 3, "project_id": 311, "ready": false,
  "sensors": [{"collection_id": 501, "enabled": true, "full_scale_range": 4, "id": 7001, "kind": "accel",
               "sampling_rate": 104.5}]
})";

const char* const kProjectReply = R"({
  "classes": [{"id": 901, "kind": "CONTINUOUS", "label": "walking", "project_id": 311},
              {"id": 902, "kind": "EVENT", "label": "tap", "project_id": 311}],
  "created_at": "2026-10-01T10:00:00Z", "device_kind": "NANO_33_BLE_REV2", "id": 311, "name": "gait",
  "owner_id": 17, "project_kind": "CLASSIFICATION", "updated_at": "2026-11-01T10:00:00Z"
})";

const char* const kStatusReply = R"({
  "collection_id": 501, "error_code": 200, "error_description": "", "started_at": "2026-11-02T08:01:13Z",
  "status": "UPLOAD", "updated_at": "2026-11-02T08:03:00Z"
})";

const char* const kNotificationReply = R"({
  "collections": [{
    "label": "walking", "created_at": "2026-11-02T08:01:12Z", "id": 501,
    "instances": [{"collection_id": 501, "id": 60001}], "kind": "TRAINING", "name": "walk-1", "note": null,
    "num_instances": 1, "project_id": 311, "ready": true,
    "sensors": [{"collection_id": 501, "enabled": true, "id": 7001, "kind": "accel", "sampling_rate": 104.0}],
    "upload_file_name": "walk-1.zip"
  }],
  "description": "Upload failed", "id": 12, "project_id": 311, "read": false,
  "recorded_at": "2026-11-02T08:04:00Z", "status": "ERROR", "tag": true, "title": "Data collection", "user_id": 17
})";

// One record type under test: its complete reply, a decoder, and its records' keys in the reply.
struct RecordCase {
    std::string name;
    std::string reply;
    std::function<common::JsonResult<Json>(const Json&)> decodeAndEncode;
    std::vector<RecordKeys> keys;
};

template <class Record>
std::function<common::JsonResult<Json>(const Json&)> decoderOf() {
    return [](const Json& json) -> common::JsonResult<Json> {
        auto record = common::decodeJson<Record>(json);
        if (!record) {
            return tl::unexpected(record.error());
        }
        return common::toJson(*record);
    };
}

const std::vector<RecordCase>& recordCases() {
    static const std::vector<RecordCase> cases{
        {"CollectionResponse",
         kCollectionReply,
         decoderOf<CollectionResponse>(),
         {{"",
           {"label", "created_at", "id", "kind", "name", "num_instances", "project_id", "ready", "sensors"},
           {"note"}},
          {"/sensors/0", {"collection_id", "enabled", "id", "kind", "sampling_rate"}, {"full_scale_range"}}}},
        {"ProjectResponse",
         kProjectReply,
         decoderOf<ProjectResponse>(),
         {{"",
           {"classes", "created_at", "device_kind", "id", "name", "owner_id", "project_kind", "updated_at"},
           {}},
          {"/classes/0", {"id", "kind", "label", "project_id"}, {}}}},
        {"DeviceKindResponse",
         R"({"device_kind": "QORVO_SAMD51"})",
         decoderOf<DeviceKindResponse>(),
         {{"", {"device_kind"}, {}}}},
        {"ContaminationThresholdDBResponse",
         R"({"contamination_threshold": 0.37})",
         decoderOf<ContaminationThresholdDBResponse>(),
         {{"", {}, {"contamination_threshold"}}}},
        {"DataCollectionStatusResponse",
         kStatusReply,
         decoderOf<DataCollectionStatusResponse>(),
         {{"",
           {"collection_id", "started_at", "status"},
           {"error_code", "error_description", "updated_at"}}}},
        {"NotificationsResponse",
         kNotificationReply,
         decoderOf<NotificationsResponse>(),
         {{"",
           {"collections", "description", "id", "project_id", "read", "recorded_at", "status", "tag", "title",
            "user_id"},
           {}},
          {"/collections/0",
           {"label", "created_at", "id", "instances", "kind", "name", "num_instances", "project_id", "ready",
            "sensors"},
           {"note", "upload_file_name"}},
          {"/collections/0/instances/0", {"collection_id"}, {"id"}},
          {"/collections/0/sensors/0",
           {"collection_id", "enabled", "id", "kind", "sampling_rate"},
           {"full_scale_range"}}}},
        {"CollectionNewSensorArgsResponse",
         R"({"enabled": true, "kind": "gyro", "sampling_rate": 208.0, "full_scale_range": 2000})",
         decoderOf<CollectionNewSensorArgsResponse>(),
         {{"", {"enabled", "kind", "sampling_rate"}, {"full_scale_range"}}}},
    };
    return cases;
}

TEST(ResponseRecords, CompleteRepliesDecodeAndEncodeInTableOrder) {
    for (const RecordCase& record : recordCases()) {
        const Json reply = Json::parse(record.reply);
        const auto encoded = record.decodeAndEncode(reply);
        ASSERT_TRUE(encoded) << record.name << ": " << encoded.error().describe();
        // The replies list their keys in table order; encoding writes them back in the same order,
        // leaving out only optional keys that were null.
        std::vector<std::string> replyKeys;
        for (const auto& item : reply.items()) {
            if (!item.value().is_null()) {
                replyKeys.push_back(item.key());
            }
        }
        std::vector<std::string> encodedKeys;
        for (const auto& item : encoded->items()) {
            encodedKeys.push_back(item.key());
        }
        EXPECT_EQ(encodedKeys, replyKeys) << record.name;
    }
}

TEST(ResponseRecords, EveryRequiredKeyMissingOrNullFailsWithItsPath) {
    for (const RecordCase& record : recordCases()) {
        for (const RecordKeys& keys : record.keys) {
            for (const std::string& key : keys.required) {
                const std::string path = childPath(keys.pointer, key);
                Json missing = Json::parse(record.reply);
                missing[Json::json_pointer(keys.pointer)].erase(key);
                const auto withoutKey = record.decodeAndEncode(missing);
                ASSERT_FALSE(withoutKey) << record.name << " " << path;
                EXPECT_EQ(decodingFailureText(withoutKey.error()),
                          "Failed to decode JSON, key '" + key +
                              "' not found (required key is missing), codingPath: " + path);

                Json null = Json::parse(record.reply);
                const std::string type = expectedTypeName(null[Json::json_pointer(keys.pointer)][key]);
                null[Json::json_pointer(keys.pointer)][key] = nullptr;
                const auto withNull = record.decodeAndEncode(null);
                ASSERT_FALSE(withNull) << record.name << " " << path;
                EXPECT_EQ(decodingFailureText(withNull.error()),
                          "Failed to decode JSON, value '" + type +
                              "' not found (required key is null), codingPath: " + path);
            }
        }
    }
}

TEST(ResponseRecords, EveryOptionalKeyMissingOrNullGivesAnAbsentField) {
    for (const RecordCase& record : recordCases()) {
        for (const RecordKeys& keys : record.keys) {
            for (const std::string& key : keys.optional) {
                const Json::json_pointer at(keys.pointer);
                for (const bool asNull : {false, true}) {
                    Json json = Json::parse(record.reply);
                    if (asNull) {
                        json[at][key] = nullptr;
                    } else {
                        json[at].erase(key);
                    }
                    const auto encoded = record.decodeAndEncode(json);
                    ASSERT_TRUE(encoded) << record.name << " " << childPath(keys.pointer, key);
                    EXPECT_FALSE((*encoded)[at].contains(key))
                        << record.name << " " << childPath(keys.pointer, key);
                }
            }
        }
    }
}

TEST(ResponseRecords, FieldsTheWorkflowsRead) {
    const auto collection = common::decodeJsonText<CollectionResponse>(kCollectionReply);
    ASSERT_TRUE(collection);
    EXPECT_EQ(collection->id, 501);
    EXPECT_EQ(collection->sensors[0].samplingRate, 104.5F);

    const auto project = common::decodeJsonText<ProjectResponse>(kProjectReply);
    ASSERT_TRUE(project);
    EXPECT_EQ(project->id, 311);
    EXPECT_EQ(project->deviceKind, common::DeviceKind::NANO_33_BLE_REV2);
    EXPECT_EQ(project->classes[1].kind, ClassKindResponse::EVENT);

    const auto run = common::decodeJsonText<DeviceKindResponse>(R"({"device_kind": "QORVO_SAMD51"})");
    ASSERT_TRUE(run);
    EXPECT_EQ(run->deviceKind, common::DeviceKind::QORVO_SAMD51);

    const auto threshold =
        common::decodeJsonText<ContaminationThresholdDBResponse>(R"({"contamination_threshold": 0.37})");
    ASSERT_TRUE(threshold);
    EXPECT_EQ(threshold->contaminationThreshold, 0.37);

    const auto status = common::decodeJsonText<DataCollectionStatusResponse>(kStatusReply);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->status, DataCollectionStatusStringResponse::UPLOAD);

    const auto notification = common::decodeJsonText<NotificationsResponse>(kNotificationReply);
    ASSERT_TRUE(notification);
    EXPECT_EQ(notification->notificationsResponseDescription, "Upload failed");
    EXPECT_EQ(notification->collections[0].note, std::nullopt);
    EXPECT_EQ(notification->collections[0].instances[0].id, 60001);
}

struct WrongReply {
    const char* label;
    std::function<common::JsonResult<Json>(const Json&)> decodeAndEncode;
    std::string text;
    std::string path;
};

void PrintTo(const WrongReply& row, std::ostream* out) {
    *out << row.label;
}

class ResponseWrongValue : public testing::TestWithParam<WrongReply> {};

TEST_P(ResponseWrongValue, FailsAtItsKey) {
    const auto encoded = GetParam().decodeAndEncode(Json::parse(GetParam().text));
    ASSERT_FALSE(encoded);
    EXPECT_EQ(encoded.error().path, GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ResponseWrongValue,
    testing::Values(
        WrongReply{"threshold_as_text", decoderOf<ContaminationThresholdDBResponse>(),
                   R"({"contamination_threshold": "0.3"})", "contamination_threshold"},
        WrongReply{"status_lower_case", decoderOf<DataCollectionStatusResponse>(),
                   R"({"collection_id": 1, "started_at": "t", "status": "running"})", "status"},
        WrongReply{"device_kind_lower_case", decoderOf<DeviceKindResponse>(),
                   R"({"device_kind": "nano_33_ble"})", "device_kind"},
        WrongReply{"device_kind_number", decoderOf<DeviceKindResponse>(), R"({"device_kind": 2})",
                   "device_kind"},
        WrongReply{"class_kind_unknown", decoderOf<ProjectResponse>(),
                   R"({"classes": [{"id": 1, "kind": "SPORADIC", "label": "x", "project_id": 1}]})",
                   "classes[0].kind"},
        WrongReply{"enabled_as_number", decoderOf<CollectionNewSensorArgsResponse>(),
                   R"({"enabled": 1, "kind": "accel", "sampling_rate": 104})", "enabled"},
        WrongReply{"sensor_kind_upper_case", decoderOf<CollectionNewSensorArgsResponse>(),
                   R"({"enabled": true, "kind": "MAGNETOMETER", "sampling_rate": 104})", "kind"},
        WrongReply{"sampling_rate_beyond_float32", decoderOf<CollectionResponse>(),
                   R"({"label": "l", "created_at": "c", "id": 1, "kind": "k", "name": "n", "num_instances": 1,
                       "project_id": 1, "ready": true, "sensors": [{"collection_id": 1, "enabled": true, "id": 1,
                       "kind": "accel", "sampling_rate": 1e39}]})",
                   "sensors[0].sampling_rate"},
        WrongReply{"notification_tag_as_number", decoderOf<NotificationsResponse>(),
                   R"({"collections": [], "description": "d", "id": 1, "project_id": 1, "read": false,
                       "recorded_at": "r", "status": "s", "tag": 0, "title": "t", "user_id": 1})",
                   "tag"},
        WrongReply{
            "notification_sensor_without_kind", decoderOf<NotificationsResponse>(),
            R"({"collections": [{"label": "l", "created_at": "c", "id": 1, "instances": [], "kind": "k",
                       "name": "n", "num_instances": 0, "project_id": 1, "ready": true,
                       "sensors": [{"collection_id": 1, "enabled": true, "id": 1, "sampling_rate": 1}]}],
                       "description": "d", "id": 1, "project_id": 1, "read": false, "recorded_at": "r",
                       "status": "s", "tag": true, "title": "t", "user_id": 1})",
            "collections[0].sensors[0].kind"},
        WrongReply{"array_body", decoderOf<DeviceKindResponse>(), R"([{"device_kind": "STWINKT1"}])", ""}),
    [](const testing::TestParamInfo<WrongReply>& row) { return std::string{row.param.label}; });

TEST(ResponseRecords, EmptyAndPartialRepliesThatDecode) {
    const auto threshold = common::decodeJsonText<ContaminationThresholdDBResponse>("{}");
    ASSERT_TRUE(threshold);
    EXPECT_FALSE(threshold->contaminationThreshold);
    const auto instance = common::decodeJsonText<InstanceResponse>(R"({"collection_id": 3})");
    ASSERT_TRUE(instance);
    EXPECT_FALSE(instance->id);
    const auto running = common::decodeJsonText<DataCollectionStatusResponse>(
        R"({"collection_id": 1, "started_at": "t", "status": "RUNNING"})");
    ASSERT_TRUE(running);
    EXPECT_EQ(running->status, DataCollectionStatusStringResponse::RUNNING);
}

TEST(ResponseRecords, ValuesTheServiceWrites) {
    const CollectionNewSensorArgsResponse sensor{true, common::SensorKind::ACCELEROMETER, 104.0,
                                                 std::nullopt};
    const auto text = common::encodeJsonText(sensor);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, R"({"enabled":true,"kind":"accel","sampling_rate":104.0})");
    EXPECT_EQ(common::encodeJsonText(DataCollectionStatusStringResponse::UPLOAD).value(), R"("UPLOAD")");
}

}  // namespace
}  // namespace brisel::cloud
