#include "cloud/build_records.h"

#include <gtest/gtest.h>

#include <cmath>
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
using testing_support::readFixture;
using testing_support::RecordKeys;

Json buildFixture() {
    return Json::parse(readFixture("build_response.json"));
}

common::JsonResult<BuildResponse> decodeBuild(const Json& json) {
    return common::decodeJson<BuildResponse>(json);
}

// Every record of the tree, where the fixture holds one, with its keys as the tables of the build list
// them.
const std::vector<RecordKeys>& buildRecordKeys() {
    static const std::vector<RecordKeys> records{
        {"",
         {"auto_engine_setting",
          "classification_interval",
          "collections",
          "create_datetime",
          "deleted",
          "dispatch_user_id",
          "error_code",
          "error_description",
          "exception_occurred",
          "feature_group",
          "feature_optimization",
          "generate_learning_curves",
          "groups",
          "hyperparameter_optimization",
          "id",
          "kind",
          "latency_error",
          "latency_status",
          "mlc",
          "mlc_features",
          "mlc_filters",
          "models",
          "num_prediction_samples",
          "one_class_n_features",
          "optimizer_error_threshold",
          "optimizer_num_of_trials",
          "optimizer_time_limit",
          "project_id",
          "results",
          "sensor_and_feature_optimization",
          "sensor_selection",
          "stages",
          "status",
          "test_collections"},
         {"cancel_user_id", "end_datetime", "instance_length", "project_config", "regularizer",
          "regularizer_weight", "start_datetime"}},
        {"/collections/0",
         {"label", "created_at", "id", "instances", "kind", "name", "num_instances", "project_id", "ready",
          "sensors"},
         {"note", "upload_file_name"}},
        {"/collections/0/instances/0", {"collection_id", "id"}, {}},
        {"/collections/0/sensors/0",
         {"collection_id", "enabled", "id", "kind", "sampling_rate"},
         {"full_scale_range"}},
        {"/feature_group/0", {"id", "run_id", "sensor_kind"}, {"feature_kind"}},
        {"/groups/0", {"build_id", "classes", "id"}, {"name"}},
        {"/groups/0/classes/0", {"id", "kind", "label", "project_id"}, {}},
        {"/mlc_features/0",
         {"axis", "feature", "id", "name", "project_id", "sensor_kind"},
         {"filter_id", "param"}},
        {"/mlc_filters/0",
         {"axes", "coefficients", "filter_type", "id", "name", "project_id", "sensor_kind"},
         {}},
        {"/mlc_filters/0/axes/0", {"axis", "filter_id", "id"}, {}},
        {"/mlc_filters/0/coefficients/0", {"coefficient", "filter_id", "id", "value"}, {}},
        {"/models/0",
         {"build_id", "id", "kind", "model_classification_analysis", "model_predictions", "status"},
         {"classgroup_id", "contamination_threshold", "latency", "model_parameters", "recommended_threshold",
          "size"}},
        {"/models/0/model_classification_analysis/0",
         {"collections",
          "create_datetime",
          "deleted",
          "dispatch_user_id",
          "error_code",
          "error_description",
          "exception_occurred",
          "id",
          "kind",
          "latency_error",
          "latency_status",
          "mlc_features",
          "mlc_filters",
          "model_id",
          "model_predictions",
          "project_id",
          "results",
          "stages",
          "status",
          "test_collections"},
         {"cancel_user_id", "end_datetime", "start_datetime"}},
        {"/models/0/model_predictions/0",
         {"classgroup_id", "event_length", "id", "model_id", "prediction", "recorded_amount", "saved_at"},
         {}},
        {"/models/0/model_parameters", {}, {"additionalProp1"}},
        {"/project_config", {}, {"additionalProp1"}},
        {"/results/0", {"id", "key", "run_id"}, {}},
        {"/stages/0",
         {"id", "name", "run_id", "start_time", "state"},
         {"end_time", "exception", "parent_stage_id"}},
        {"/sensor_selection/0", {"build_id", "id", "kind"}, {"channel"}},
    };
    return records;
}

TEST(BuildRecord, CompleteFixtureDecodesWithTheFieldsTheWorkflowsRead) {
    const auto build = decodeBuild(buildFixture());
    ASSERT_TRUE(build) << build.error().describe();
    EXPECT_EQ(build->id, 4821);
    EXPECT_EQ(build->status, BuildStatus::DONE);
    ASSERT_EQ(build->models.size(), 2U);
    EXPECT_EQ(build->models[0].id, 9001);
    EXPECT_EQ(build->models[0].kind, common::ModelKind::XGB);
    EXPECT_EQ(build->models[1].id, 9002);
    EXPECT_EQ(build->models[1].kind, common::ModelKind::RANDOM_FOREST);
    ASSERT_EQ(build->results.size(), 3U);
    EXPECT_EQ(build->results[1].key, "lib-4821-xgb.bin");
    EXPECT_EQ(build->results[2].key, "lib-4821-rf.bin");
    EXPECT_EQ(build->results[2].runID, 4821);
}

TEST(BuildRecord, FixtureValuesLandInTheirFields) {
    const auto build = decodeBuild(buildFixture());
    ASSERT_TRUE(build);
    EXPECT_EQ(build->cancelUserID, 17);
    EXPECT_EQ(build->optimizerNumOfTrials, 40);
    EXPECT_EQ(build->optimizerErrorThreshold, 0.05F);
    EXPECT_EQ(build->optimizerTimeLimit, 600.5F);
    EXPECT_EQ(build->regularizerWeight, 0.001);
    EXPECT_TRUE(build->projectConfig && build->projectConfig->additionalProp1);
    EXPECT_EQ(build->collections[0].sensors[1].fullScaleRange, std::nullopt);
    EXPECT_EQ(build->collections[0].sensors[1].samplingRate, 52.0);
    EXPECT_EQ(build->featureGroup[1].featureKind, std::nullopt);
    EXPECT_EQ(build->sensorSelection[0].channel, 0);
    EXPECT_EQ(build->sensorSelection[1].channel, std::nullopt);
    EXPECT_EQ(build->stages[1].parentStageID, 8701);
    EXPECT_EQ(build->mlcFilters[0].coefficients[1].value, -0.125F);
    const Model& model = build->models[0];
    EXPECT_EQ(model.contaminationThreshold, std::nullopt);
    EXPECT_EQ(model.size, 18.5F);
    ASSERT_EQ(model.modelClassificationAnalysis.size(), 1U);
    const auto& prediction = model.modelClassificationAnalysis[0].modelPredictions[0].prediction;
    ASSERT_EQ(prediction.size(), 2U);
    EXPECT_EQ(prediction[0], (std::vector<float>{0.9F, 0.1F}));
    EXPECT_EQ(prediction[1], (std::vector<float>{0.2F}));
    EXPECT_TRUE(model.modelPredictions[0].prediction.empty());
    EXPECT_EQ(model.modelClassificationAnalysis[0].collections[0].sensors[0].samplingRate, 104.5);
    EXPECT_FALSE(build->models[1].modelParameters->additionalProp1);
}

TEST(BuildRecord, EveryRequiredKeyMissingOrNullFailsWithItsPath) {
    for (const RecordKeys& record : buildRecordKeys()) {
        for (const std::string& key : record.required) {
            const std::string path = childPath(record.pointer, key);
            Json missing = buildFixture();
            missing[Json::json_pointer(record.pointer)].erase(key);
            const auto withoutKey = decodeBuild(missing);
            ASSERT_FALSE(withoutKey) << path << " missing still decoded";
            EXPECT_EQ(withoutKey.error().path, path);
            EXPECT_EQ(decodingFailureText(withoutKey.error()),
                      "Failed to decode JSON, key '" + key +
                          "' not found (required key is missing), codingPath: " + path);

            Json null = buildFixture();
            const std::string type = expectedTypeName(null[Json::json_pointer(record.pointer)][key]);
            null[Json::json_pointer(record.pointer)][key] = nullptr;
            const auto withNull = decodeBuild(null);
            ASSERT_FALSE(withNull) << path << " null still decoded";
            EXPECT_EQ(withNull.error().path, path);
            EXPECT_EQ(decodingFailureText(withNull.error()),
                      "Failed to decode JSON, value '" + type +
                          "' not found (required key is null), codingPath: " + path);
        }
    }
}

TEST(BuildRecord, EveryOptionalKeyMissingOrNullGivesAnAbsentField) {
    for (const RecordKeys& record : buildRecordKeys()) {
        for (const std::string& key : record.optional) {
            const Json::json_pointer at(record.pointer);
            for (const bool asNull : {false, true}) {
                Json json = buildFixture();
                if (asNull) {
                    json[at][key] = nullptr;
                } else {
                    json[at].erase(key);
                }
                const auto build = decodeBuild(json);
                ASSERT_TRUE(build) << childPath(record.pointer, key) << ": " << build.error().describe();
                // An absent field is left out on encoding.
                const Json encoded = common::toJson(*build);
                EXPECT_FALSE(encoded[at].contains(key)) << childPath(record.pointer, key);
            }
        }
    }
}

TEST(BuildRecord, EncodingWritesTableOrderAndLeavesAbsentFieldsOut) {
    Json fixture = buildFixture();
    fixture.erase("regularizer");
    const auto build = decodeBuild(fixture);
    ASSERT_TRUE(build);
    const auto encoded = common::encodeJson(*build);
    ASSERT_TRUE(encoded) << encoded.error().describe();
    std::vector<std::string> fixtureKeys;
    for (const auto& item : fixture.items()) {
        fixtureKeys.push_back(item.key());
    }
    std::vector<std::string> encodedKeys;
    for (const auto& item : encoded->items()) {
        encodedKeys.push_back(item.key());
    }
    EXPECT_EQ(encodedKeys, fixtureKeys);
    EXPECT_FALSE(encoded->contains("regularizer"));
    EXPECT_EQ((*encoded)["project_config"], Json::parse(R"({"additionalProp1": {}})"));
    EXPECT_EQ((*encoded)["status"], "DONE");
    EXPECT_EQ((*encoded)["models"][0]["kind"], "XGB");
    EXPECT_EQ((*encoded)["optimizer_error_threshold"].dump(), "0.05");
    // What is written decodes to the same record.
    const auto again = decodeBuild(*encoded);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, *build);
}

struct WrongValue {
    const char* label;
    std::string pointer;
    Json value;
};

void PrintTo(const WrongValue& row, std::ostream* out) {
    *out << row.label;
}

class BuildWrongValue : public testing::TestWithParam<WrongValue> {};

TEST_P(BuildWrongValue, FailsTheWholeBuildAtItsKey) {
    Json json = buildFixture();
    json[Json::json_pointer(GetParam().pointer)] = GetParam().value;
    const auto build = decodeBuild(json);
    ASSERT_FALSE(build);
    EXPECT_EQ(build.error().path, keyPath(GetParam().pointer));
    EXPECT_TRUE(decodingFailureText(build.error()).starts_with("Failed to decode JSON"));
}

INSTANTIATE_TEST_SUITE_P(
    Values, BuildWrongValue,
    testing::Values(
        WrongValue{"status_lower_case", "/status", "done"},
        WrongValue{"status_unknown", "/status", "RUNNING"}, WrongValue{"status_number", "/status", 0},
        WrongValue{"model_kind_slug", "/models/0/kind", "xgb"},
        WrongValue{"model_kind_unknown", "/models/1/kind", "PERCEPTRON"},
        WrongValue{"boolean_as_number", "/latency_error", 0}, WrongValue{"boolean_as_text", "/mlc", "true"},
        WrongValue{"integer_with_fraction", "/id", 4821.5}, WrongValue{"integer_as_text", "/id", "4821"},
        WrongValue{"integer_beyond_int64", "/project_id", 9223372036854775808ULL},
        WrongValue{"string_as_number", "/kind", 3},
        WrongValue{"float32_beyond_range", "/optimizer_time_limit", 3.5e38},
        WrongValue{"float32_in_array_beyond_range", "/models/0/model_predictions/0/prediction/0/0", 1e39},
        WrongValue{"float64_as_text", "/regularizer_weight", "0.001"},
        WrongValue{"project_config_number", "/project_config", 5},
        WrongValue{"model_parameters_array", "/models/0/model_parameters", Json::array()},
        WrongValue{"array_as_object", "/results", Json::object()},
        WrongValue{"last_test_collection_element", "/test_collections/0/ready", "no"},
        WrongValue{"deep_sensor_of_analysis",
                   "/models/0/model_classification_analysis/0/collections/0/sensors/0/enabled", 1}),
    [](const testing::TestParamInfo<WrongValue>& row) { return std::string{row.param.label}; });

TEST(BuildRecord, DecodingTextsByKindOfFailure) {
    Json wrongType = buildFixture();
    wrongType["latency_error"] = 0;
    EXPECT_EQ(
        decodingFailureText(decodeBuild(wrongType).error()),
        "Failed to decode JSON, Type 'Bool' does not match the value: expected true or false, codingPath: "
        "latency_error");
    Json unknownCase = buildFixture();
    unknownCase["models"][1]["kind"] = "rf";
    EXPECT_EQ(decodingFailureText(decodeBuild(unknownCase).error()),
              "Failed to decode JSON (models[1].kind: not one of the accepted texts)");
    const auto notJson = common::decodeJsonText<BuildResponse>("");
    ASSERT_FALSE(notJson);
    EXPECT_TRUE(decodingFailureText(notJson.error()).starts_with("Failed to decode JSON (the top value: "));
    const auto tooDeep = common::decodeJsonText<BuildResponse>(std::string(common::kMaxJsonDepth + 1, '['));
    ASSERT_FALSE(tooDeep);
    EXPECT_EQ(decodingFailureText(tooDeep.error()),
              "Failed to decode JSON (the top value: text nests too deep)");
}

TEST(BuildRecord, StatusTextsAndEmptyArrays) {
    Json json = buildFixture();
    json["status"] = "SUCCESS";
    json["models"] = Json::array();
    const auto build = decodeBuild(json);
    ASSERT_TRUE(build);
    EXPECT_EQ(build->status, BuildStatus::SUCCESS);
    EXPECT_TRUE(build->models.empty());
}

TEST(BuildRecord, AdditionalProp1AcceptsAnyValueButNull) {
    for (const Json& value : {Json::object(), Json::array({1, 2}), Json("text"), Json(3.5), Json(false)}) {
        Json json = buildFixture();
        json["project_config"] = Json::object({{"additionalProp1", value}});
        const auto build = decodeBuild(json);
        ASSERT_TRUE(build) << value.dump();
        ASSERT_TRUE(build->projectConfig);
        EXPECT_TRUE(build->projectConfig->additionalProp1) << value.dump();
    }
    const auto empty = common::decodeJson<ProjectConfig>(Json::object());
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->additionalProp1);
}

TEST(BuildRecord, UnlistedKeysAreIgnoredAtEveryDepth) {
    Json json = buildFixture();
    json["unlisted"] = Json::array({1, 2});
    json["models"][0]["model_classification_analysis"][0]["collections"][0]["sensors"][0]["extra"] = "x";
    json["ID"] = "not the id";  // keys match exactly, letter case included
    const auto build = decodeBuild(json);
    ASSERT_TRUE(build) << build.error().describe();
    EXPECT_EQ(build->id, 4821);
}

TEST(BuildRecord, NonObjectBodiesFail) {
    for (const char* text : {"[]", "null", "\"build\"", "42", "", "{", "\xFF"}) {
        const auto build = common::decodeJsonText<BuildResponse>(text);
        ASSERT_FALSE(build) << text;
        EXPECT_TRUE(decodingFailureText(build.error()).starts_with("Failed to decode JSON")) << text;
    }
}

}  // namespace
}  // namespace brisel::cloud
