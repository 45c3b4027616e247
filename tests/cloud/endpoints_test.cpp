#include "cloud/endpoints.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cloud/authorization.h"
#include "cloud/endpoint.h"
#include "common/json_codec.h"

namespace brisel::cloud {
namespace {

using common::Json;

// What one endpoint case must send, written from the endpoint table.
struct EndpointRow {
    const char* label;
    Endpoint endpoint;
    std::string method;
    std::string url;
    std::optional<std::string> body;  // exact body text; none: no body and no "Content-Type"
};

void PrintTo(const EndpointRow& row, std::ostream* out) {
    *out << row.label;
}

class EndpointCase : public testing::TestWithParam<EndpointRow> {};

TEST_P(EndpointCase, BuildsItsRequest) {
    Authorization authorization;
    authorization.setCookie("api-key-1");
    const auto request = GetParam().endpoint.request(authorization);
    ASSERT_TRUE(request) << request.error().message;
    EXPECT_EQ(request->method.rawValue(), GetParam().method);
    EXPECT_EQ(request->url, GetParam().url);
    EXPECT_EQ(request->body, GetParam().body);
    HttpHeaders headers{{"X-brisel-api-key", "api-key-1"}, {"Accept", "application/json"}};
    if (GetParam().body) {
        headers.push_back({"Content-Type", "application/json"});
    }
    EXPECT_EQ(request->headers, headers);
}

const std::string kBase = "http://127.0.0.1:5000";

INSTANTIATE_TEST_SUITE_P(
    Table, EndpointCase,
    testing::Values(
        EndpointRow{"getBuild", BuildEndpoint::getBuild(42), "GET", kBase + "/api/build/42", std::nullopt},
        EndpointRow{"getProject", ProjectEndpoint::getProject(311), "GET", kBase + "/api/project/311",
                    std::nullopt},
        EndpointRow{"getContaminationThreshold", ModelEndpoint::getContaminationThreshold(9001), "GET",
                    kBase + "/api/model/9001/contamination_threshold", std::nullopt},
        EndpointRow{"updateModel", ModelEndpoint::updateModel(9001, 1234), "PATCH", kBase + "/api/model/9001",
                    R"({"latency":1234})"},
        EndpointRow{"getDeviceKind", RunEndpoint::getDeviceKind(-5), "GET", kBase + "/api/run/-5/device_kind",
                    std::nullopt},
        EndpointRow{"getResult", RunEndpoint::getResult(4821, "lib-4821-xgb.bin"), "GET",
                    kBase + "/api/run/4821/result/lib-4821-xgb.bin", std::nullopt},
        EndpointRow{"getResultHostileKey", RunEndpoint::getResult(4821, "../x y?z#"), "GET",
                    kBase + "/api/run/4821/result/..%2Fx%20y%3Fz%23", std::nullopt},
        EndpointRow{"getResultDotDot", RunEndpoint::getResult(4821, ".."), "GET",
                    kBase + "/api/run/4821/result/%2E%2E", std::nullopt},
        EndpointRow{"getProjectKind", RunEndpoint::getProjectKind(4821), "GET",
                    kBase + "/api/run/4821/project_kind", std::nullopt},
        EndpointRow{"updateRun",
                    RunEndpoint::updateRun(
                        {.runId = 4821, .latencyStatus = 3, .latencyError = true, .status = "SUCCESS"}),
                    "PATCH", kBase + "/api/run/4821",
                    R"({"latency_status":3,"latency_error":true,"status":"SUCCESS"})"},
        EndpointRow{"createCollectionWithoutName",
                    CollectionEndpoint::createCollection(
                        {.kind = common::CollectionKindResponse::VALIDATION,
                         .name = std::nullopt,
                         .projectId = 311,
                         .label = "walking",
                         .sensors = {{true, common::SensorKind::ACCELEROMETER, 104.0, std::nullopt},
                                     {false, common::SensorKind::MAGNETOMETER, 20.5, 16.0}},
                         .numInstances = 3,
                         .bluetoothRecording = false}),
                    "POST", kBase + "/api/collection",
                    R"({"bluetooth_recording":false,"kind":"VALIDATION","num_instances":3,"project_id":311,)"
                    R"("sensors":[{"enabled":true,"kind":"accel","sampling_rate":104.0},)"
                    R"({"enabled":false,"kind":"magno","sampling_rate":20.5,"full_scale_range":16.0}],)"
                    R"("label":"walking"})"},
        EndpointRow{"createCollectionWithName",
                    CollectionEndpoint::createCollection({.kind = common::CollectionKindResponse::TRAINING,
                                                          .name = "desk",
                                                          .projectId = 1,
                                                          .label = "",
                                                          .sensors = {},
                                                          .numInstances = 0,
                                                          .bluetoothRecording = true}),
                    "POST", kBase + "/api/collection",
                    R"({"bluetooth_recording":true,"kind":"TRAINING","num_instances":0,"project_id":1,)"
                    R"("sensors":[],"label":"","name":"desk"})"},
        EndpointRow{"deleteCollection", CollectionEndpoint::deleteCollection(7), "DELETE",
                    kBase + "/api/collections", R"({"collection_ids":[7]})"},
        EndpointRow{"createCollectionInstance", CollectionEndpoint::createCollectionInstance(501), "POST",
                    kBase + "/api/collection/501", std::nullopt},
        EndpointRow{"createCollectionInstanceJSON", CollectionEndpoint::createCollectionInstanceJSON(501),
                    "POST", kBase + "/api/collection/501/json", std::nullopt},
        EndpointRow{"startDataCollection", CollectionEndpoint::startDataCollection(501), "POST",
                    kBase + "/api/collection/501/data_collection/start", std::nullopt},
        EndpointRow{"updateDataCollectionStatus",
                    CollectionEndpoint::updateDataCollectionStatus(
                        {.collectionId = 501,
                         .errorCode = -1,
                         .status = DataCollectionStatusStringResponse::ERROR,
                         .errorDescription = "no data"}),
                    "PATCH", kBase + "/api/collection/501/data_collection/status",
                    R"({"error_code":-1,"error_description":"no data","status":"ERROR"})"},
        EndpointRow{"getDataCheckRun", CollectionEndpoint::getDataCheckRun(501), "GET",
                    kBase + "/api/collection/501/data_check_run", std::nullopt},
        EndpointRow{
            "createNotificationFiveKeys",
            NotificationsEndpoint::createNotification({.projectId = 311,
                                                       .title = "Data collection",
                                                       .description = "Upload failed",
                                                       .status = "ERROR",
                                                       .allowDuplicate = false,
                                                       .userId = std::nullopt,
                                                       .collectionIds = std::nullopt}),
            "POST",
            kBase + "/api/notifications",
            R"({"project_id":311,"title":"Data collection","description":"Upload failed","status":"ERROR",)"
            R"("allow_duplicate":false})"},
        EndpointRow{
            "createNotificationAllKeys",
            NotificationsEndpoint::createNotification({.projectId = 311,
                                                       .title = "t",
                                                       .description = "d",
                                                       .status = "s",
                                                       .allowDuplicate = true,
                                                       .userId = 17,
                                                       .collectionIds = std::vector<std::int64_t>{501, 502}}),
            "POST", kBase + "/api/notifications",
            R"({"project_id":311,"title":"t","description":"d","status":"s","allow_duplicate":true,)"
            R"("user_id":17,"collection_ids":[501,502]})"}),
    [](const testing::TestParamInfo<EndpointRow>& row) { return std::string{row.param.label}; });

TEST(Endpoints, ReadTheSharedBaseAddressAtBuildTime) {
    Authorization authorization;
    authorization.setSharedBaseURLAndCookie("https://cloud.example.com:8443/previous/path", "k");
    const Endpoint endpoint = CollectionEndpoint::startDataCollection(9);
    const auto first = endpoint.request(authorization);
    authorization.setSharedBaseURL(baseURLFromParts("http", "localhost", "5050"));
    const auto second = endpoint.request(authorization);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(first->url, "https://cloud.example.com:8443/api/collection/9/data_collection/start");
    EXPECT_EQ(second->url, "http://127.0.0.1:5050/api/collection/9/data_collection/start");
}

TEST(Endpoints, BodyTextThatIsNotUtf8IsReplacedNotDropped) {
    Authorization authorization;
    const Endpoint endpoint =
        CollectionEndpoint::updateDataCollectionStatus({.collectionId = 1,
                                                        .errorCode = 0,
                                                        .status = DataCollectionStatusStringResponse::ERROR,
                                                        .errorDescription = "read \xC3 failed"});
    const auto request = endpoint.request(authorization);
    ASSERT_TRUE(request);
    ASSERT_TRUE(request->body);
    const auto body = common::parseJson(*request->body);
    ASSERT_TRUE(body);
    EXPECT_EQ((*body)["error_description"], "read \xEF\xBF\xBD failed");
}

}  // namespace
}  // namespace brisel::cloud
