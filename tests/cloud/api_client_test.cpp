#include "cloud/api_client.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "common/dispatch.h"

#include "cloud/endpoints.h"
#include "cloud/response_records.h"
#include "cloud/services.h"
#include "support/call_probe.h"
#include "support/fake_cloud.h"
#include "support/log_capture.h"
#include "support/raw_tcp_server.h"

namespace brisel::cloud {
namespace {

using namespace std::chrono_literals;
using test::FakeCloud;
using test::RawExchange;
using test::RawTcpServer;
using test::ScriptedReply;
using test_support::CallProbe;
using test_support::LogCapture;

// Generous: only a hung call would take this long.
constexpr auto kPatience = 20s;
constexpr auto kWaitUnit = 20ms;
constexpr std::string_view kDeviceKindPath = "/api/run/7/device_kind";

using KindProbe = CallProbe<APIResult<DeviceKindResponse>>;
using DataProbe = CallProbe<APIResult<std::string>>;

APIClientSettings fastSettings(std::chrono::milliseconds idleTimeout = 5s) {
    HttpSessionOptions options;
    options.idleTimeout = idleTimeout;
    return APIClientSettings{std::make_shared<HttpSession>(options), RetryPolicy{5, kWaitUnit}};
}

APIResult<DeviceKindResponse> outcomeOf(const KindProbe& probe) {
    auto delivery = probe.waitForFirst(kPatience);
    if (!delivery) {
        ADD_FAILURE() << "the completion did not run";
        return tl::unexpected(APIError{std::nullopt, "no completion"});
    }
    return delivery->outcome;
}

std::vector<std::chrono::steady_clock::time_point> timesOf(const LogCapture& log, std::string_view fragment) {
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const auto& line : log.lines()) {
        if (line.text.find(fragment) != std::string::npos) {
            times.push_back(line.at);
        }
    }
    return times;
}

class APIClientTest : public ::testing::Test {
  protected:
    APIClientTest() { authorization.setSharedBaseURLAndCookie(cloud.baseUrl(), "secret-token"); }

    // Lets the work of the calls end (a completion's thread may still be releasing a call) before
    // the fakes go away.
    ~APIClientTest() override { common::shutdownDispatch(); }

    BuiltRequest deviceKindRequest() const { return RunEndpoint::getDeviceKind(7).request(authorization); }

    LogCapture log;
    FakeCloud cloud;
    Authorization authorization;
    RunService service{fastSettings()};
};

TEST_F(APIClientTest, ServerDownIsTriedFiveTimesWithRisingWaitsThenFailsOnce) {
    test::ClosedPort closed;
    authorization.setSharedBaseURL(closed.baseUrl());
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    const auto result = outcomeOf(probe);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), (APIError{-1, "Failed to load data, please check your connection"}));

    const auto tries = timesOf(log, "Network request (");
    ASSERT_EQ(tries.size(), 5U);
    for (std::size_t index = 1; index < tries.size(); ++index) {
        EXPECT_GE(tries[index] - tries[index - 1], kWaitUnit * static_cast<int>(index))
            << "wait after try " << index;
    }
    for (int tryNumber = 1; tryNumber <= 5; ++tryNumber) {
        EXPECT_TRUE(log.contains("Network request (" + std::to_string(tryNumber) + "): GET " +
                                 closed.baseUrl() + std::string{kDeviceKindPath}));
    }
    EXPECT_EQ(log.count("Generic network request data task failed: couldNotConnect"), 5U);
    EXPECT_EQ(log.count("Failed to load data, please check your connection"), 1U);
    std::this_thread::sleep_for(kWaitUnit * 10);
    EXPECT_EQ(probe.count(), 1U);
}

TEST_F(APIClientTest, NotFoundWithCloudErrorBodyGivesItsStatusAndMessageAfterFiveTries) {
    cloud.reply("GET", std::string{kDeviceKindPath},
                ScriptedReply::json(404, R"({"status_code": 404, "message": "Run not found"})"));
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    EXPECT_EQ(outcomeOf(probe).error(), (APIError{404, "Run not found"}));
    EXPECT_EQ(cloud.requests().size(), 5U);
    EXPECT_EQ(log.count("An error has occured, message: \"Run not found\""), 5U);
}

TEST_F(APIClientTest, ErrorBodiesThatAreNotCloudErrorsGiveTheHttpStatusAndText) {
    struct Case {
        ScriptedReply reply;
        APIError expected;
    };
    const std::vector<Case> cases{
        {ScriptedReply::text(500, "Internal trouble"), {500, "Internal trouble"}},
        {ScriptedReply::text(503, ""), {503, ""}},
        {ScriptedReply::json(400, R"({"status_code": "400", "message": "text code"})"),
         {400, R"({"status_code": "400", "message": "text code"})"}},
        {ScriptedReply::text(502, std::string("\xff\xfe bytes", 8)),
         {std::nullopt, "An error has occured, please try again later"}},
    };
    for (const Case& current : cases) {
        FakeCloud server;
        authorization.setSharedBaseURL(server.baseUrl());
        server.reply("GET", std::string{kDeviceKindPath}, current.reply);
        KindProbe probe;
        service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());
        EXPECT_EQ(outcomeOf(probe).error(), current.expected) << current.reply.body;
        EXPECT_EQ(server.requests().size(), 5U) << current.reply.body;
    }
}

TEST_F(APIClientTest, SuccessBodyThatDoesNotDecodeFailsAtOnceWithoutRetry) {
    cloud.reply("GET", std::string{kDeviceKindPath}, ScriptedReply::json(200, R"({"other": 1})"));
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    const auto result = outcomeOf(probe);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().statusCode, std::nullopt);
    EXPECT_TRUE(result.error().message.starts_with("Failed to decode JSON, key 'device_kind' not found"))
        << result.error().message;
    EXPECT_EQ(cloud.requests().size(), 1U);
    EXPECT_EQ(log.count("Failed to decode JSON, key 'device_kind'"), 1U);
}

TEST_F(APIClientTest, EmptySuccessBodyFailsToDecodeButIsEmptyDataOnARawCall) {
    cloud.reply("GET", std::string{kDeviceKindPath}, ScriptedReply::json(200, ""));
    KindProbe typed;
    service.get<DeviceKindResponse>(deviceKindRequest(), typed.completion());
    const auto decoded = outcomeOf(typed);
    ASSERT_FALSE(decoded.has_value());
    EXPECT_TRUE(decoded.error().message.starts_with("Failed to decode JSON (")) << decoded.error().message;

    DataProbe raw;
    service.getData(deviceKindRequest(), raw.completion());
    const auto bytes = raw.waitForFirst(kPatience);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(bytes->outcome, std::string{});
    EXPECT_EQ(cloud.requests().size(), 2U);
}

TEST_F(APIClientTest, SuccessAtTheThirdTryDeliversTheRecord) {
    cloud.replies("GET", std::string{kDeviceKindPath},
                  {ScriptedReply::text(500, "busy"), ScriptedReply::dropped(),
                   ScriptedReply::json(200, R"({"device_kind": "NANO_33_BLE"})")});
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    const auto result = outcomeOf(probe);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(result->deviceKind, common::DeviceKind::NANO_33_BLE);
    EXPECT_EQ(log.count("Network request ("), 3U);
    EXPECT_TRUE(log.contains("Network request (3): GET"));
}

TEST_F(APIClientTest, MethodThatDoesNotFitIsRefusedOnTheCallersThreadBeforeReturning) {
    const BuiltRequest post = CollectionEndpoint::startDataCollection(3).request(authorization);
    struct Refusal {
        std::function<void(KindProbe&)> call;
        std::string message;
    };
    const std::vector<Refusal> refusals{
        {[&](KindProbe& probe) { service.get<DeviceKindResponse>(post, probe.completion()); },
         "Request method must be get, not POST"},
        {[&](KindProbe& probe) { service.patch<DeviceKindResponse>(post, probe.completion()); },
         "Request method must be patch, not POST"},
        {[&](KindProbe& probe) { service.post<DeviceKindResponse>(deviceKindRequest(), probe.completion()); },
         "Request method must be post, not GET"},
    };
    for (const Refusal& refusal : refusals) {
        KindProbe probe;
        refusal.call(probe);
        ASSERT_EQ(probe.count(), 1U) << refusal.message;
        const auto delivery = probe.waitForFirst(0ms);
        EXPECT_EQ(delivery->outcome.error(), (APIError{std::nullopt, refusal.message}));
        EXPECT_EQ(delivery->queueLabel, common::currentQueueLabel());
        EXPECT_TRUE(log.contains("critical: " + refusal.message));
    }
    DataProbe raw;
    service.patchData(deviceKindRequest(), raw.completion());
    ASSERT_EQ(raw.count(), 1U);
    EXPECT_EQ(raw.waitForFirst(0ms)->outcome.error().message, "Request method must be patch, not GET");
    EXPECT_TRUE(cloud.requests().empty());
}

TEST_F(APIClientTest, RequestThatCouldNotBeBuiltIsNotSent) {
    authorization.setSharedBaseURL("ftp://127.0.0.1:21");
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());
    ASSERT_EQ(probe.count(), 1U);
    EXPECT_TRUE(
        probe.waitForFirst(0ms)->outcome.error().message.starts_with("The REST base address is invalid"));
}

TEST_F(APIClientTest, CompletionRunsOnTheDefaultGlobalQueueAfterTheCallReturned) {
    cloud.reply("GET", std::string{kDeviceKindPath},
                ScriptedReply::json(200, R"({"device_kind": "QORVO_SAMD51"})"));
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());
    const auto delivery = probe.waitForFirst(kPatience);
    ASSERT_TRUE(delivery.has_value());
    EXPECT_EQ(delivery->queueLabel, common::globalQueueLabel(common::QualityOfService::defaultPriority));
    ASSERT_TRUE(delivery->outcome.has_value());
    EXPECT_EQ(delivery->outcome->deviceKind, common::DeviceKind::QORVO_SAMD51);
}

TEST_F(APIClientTest, RequestFieldsReachTheCloudAndAGetNeverCarriesABody) {
    cloud.reply("PATCH", "/api/run/7", ScriptedReply::json(200, "ok"));
    cloud.reply("GET", std::string{kDeviceKindPath}, ScriptedReply::json(200, "{}"));
    RunEndpoint::RunUpdate update{7, 1, false, "SUCCESS"};
    DataProbe patched;
    service.patchData(RunEndpoint::updateRun(update).request(authorization), patched.completion());
    ASSERT_TRUE(patched.waitForFirst(kPatience).has_value());

    BuiltRequest get = deviceKindRequest();
    get->body = "should stay home";
    DataProbe fetched;
    service.getData(get, fetched.completion());
    ASSERT_TRUE(fetched.waitForFirst(kPatience).has_value());

    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].method, "PATCH");
    EXPECT_EQ(requests[0].header("X-brisel-api-key"), "secret-token");
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].body, R"({"latency_status":1,"latency_error":false,"status":"SUCCESS"})");
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].body, "");
    EXPECT_EQ(requests[1].header("Accept"), "application/json");
}

TEST_F(APIClientTest, SilentServerFailsEachTryAfterTheIdleTimeout) {
    RawTcpServer silent({RawExchange{RawExchange::Reading::wholeRequest, "", RawExchange::Ending::stayOpen}});
    authorization.setSharedBaseURL(silent.baseUrl());
    RunService impatient{APIClientSettings{fastSettings(150ms).session, RetryPolicy{2, kWaitUnit}}};
    KindProbe probe;
    const auto started = std::chrono::steady_clock::now();
    impatient.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    EXPECT_EQ(outcomeOf(probe).error(), (APIError{-1, "Failed to load data, please check your connection"}));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
    EXPECT_EQ(log.count("data task failed: timedOut"), 2U);
    EXPECT_EQ(silent.connections(), 2U);
}

TEST_F(APIClientTest, CutRepliesAndBytesThatAreNotHttpAreRetried) {
    const std::string record = R"({"device_kind": "NANO_33_IOT"})";
    RawTcpServer server({
        RawExchange{RawExchange::Reading::wholeRequest,
                    "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"device_kind\"",
                    RawExchange::Ending::close},
        RawExchange{RawExchange::Reading::wholeRequest, "hello, this is not HTTP\r\n\r\n",
                    RawExchange::Ending::close},
        RawExchange{
            RawExchange::Reading::wholeRequest,
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(record.size()) + "\r\n\r\n" + record,
            RawExchange::Ending::close},
    });
    authorization.setSharedBaseURL(server.baseUrl());
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    const auto result = outcomeOf(probe);
    ASSERT_TRUE(result.has_value()) << result.error().message;
    EXPECT_EQ(result->deviceKind, common::DeviceKind::NANO_33_IOT);
    EXPECT_EQ(server.connections(), 3U);
    EXPECT_EQ(log.count("Generic network request data task failed: "), 2U);
}

TEST_F(APIClientTest, RedirectKeepsTheCredentialWithinTheOriginOnly) {
    FakeCloud elsewhere;
    cloud.reply("GET", std::string{kDeviceKindPath}, ScriptedReply::redirect(307, "/api/run/7/moved"));
    cloud.reply("GET", "/api/run/7/moved",
                ScriptedReply::redirect(307, elsewhere.baseUrl() + "/api/run/7/away"));
    elsewhere.reply("GET", "/api/run/7/away", ScriptedReply::json(200, R"({"device_kind": "STWINKT1"})"));
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    ASSERT_TRUE(outcomeOf(probe).has_value());
    const auto local = cloud.requests();
    ASSERT_EQ(local.size(), 2U);
    EXPECT_EQ(local[1].path, "/api/run/7/moved");
    EXPECT_EQ(local[1].header("X-brisel-api-key"), "secret-token");
    const auto remote = elsewhere.requests();
    ASSERT_EQ(remote.size(), 1U);
    EXPECT_EQ(remote[0].header("X-brisel-api-key"), std::nullopt);
}

TEST_F(APIClientTest, RedirectToASchemeOtherThanHttpIsRefused) {
    cloud.reply("GET", std::string{kDeviceKindPath}, ScriptedReply::redirect(302, "ftp://127.0.0.1:21/file"));
    KindProbe probe;
    service.get<DeviceKindResponse>(deviceKindRequest(), probe.completion());

    const auto result = outcomeOf(probe);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(log.count("data task failed: unsupportedScheme"), 5U);
}

}  // namespace
}  // namespace brisel::cloud
