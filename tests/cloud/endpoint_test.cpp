#include "cloud/endpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cloud/api_error.h"
#include "cloud/authorization.h"
#include "support/eventually.h"
#include "support/standard_output_capture.h"

namespace brisel::cloud {
namespace {

using nlohmann::ordered_json;

Endpoint plainGet() {
    return Endpoint{"/api/build/42", HTTPMethod::get()};
}

// The log output written while `action` runs (the service log is echoed to standard output).
template <class Action>
std::string logOutputOf(Action action) {
    test_support::captureStandardOutput();
    action();
    return test_support::capturedStandardOutput();
}

const std::string kCredentialNotSet =
    "critical: Authorization bearer not set, please check application logic";

TEST(EndpointRequest, InitialBaseAddressAndCookie) {
    Authorization authorization;
    authorization.setCookie("token-1");
    const auto request = plainGet().request(authorization);
    ASSERT_TRUE(request) << describe(request.error());
    EXPECT_EQ(request->method, HTTPMethod::get());
    EXPECT_EQ(request->url, "http://127.0.0.1:5000/api/build/42");
    const HttpHeaders expected{{"X-brisel-api-key", "token-1"}, {"Accept", "application/json"}};
    EXPECT_EQ(request->headers, expected);
    EXPECT_FALSE(request->body);
}

TEST(EndpointRequest, CredentialPrecedence) {
    Authorization authorization;
    authorization.setAuthenticationToken("bearer-1");
    authorization.setCookie("cookie-1");
    tl::expected<URLRequest, APIError> request;
    const std::string log = logOutputOf([&] { request = plainGet().request(authorization); });
    EXPECT_EQ(log, "");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header("Authentication-Token"), "bearer-1");
    EXPECT_FALSE(request->header("X-brisel-api-key"));

    authorization.setAuthenticationToken(std::nullopt);
    request = plainGet().request(authorization);
    ASSERT_TRUE(request);
    EXPECT_FALSE(request->header("Authentication-Token"));
    EXPECT_EQ(request->header("x-brisel-api-key"), "cookie-1");
}

TEST(EndpointRequest, WithoutCredentialIsStillBuiltAfterOneCriticalLine) {
    Authorization authorization;
    const Endpoint endpoint{"/api/model/3", HTTPMethod::patch(), ordered_json{{"latency", 12}}};
    tl::expected<URLRequest, APIError> request;
    const std::string log = logOutputOf([&] { request = endpoint.request(authorization); });
    EXPECT_EQ(test_support::occurrences(log, kCredentialNotSet), 1U) << log;
    ASSERT_TRUE(request);
    const HttpHeaders expected{{"Accept", "application/json"}, {"Content-Type", "application/json"}};
    EXPECT_EQ(request->headers, expected);
    EXPECT_EQ(request->method, HTTPMethod::patch());
    EXPECT_EQ(request->body, R"({"latency":12})");
}

TEST(EndpointRequest, CredentialWithLineBreakOrNulIsNotSent) {
    for (const std::string& hostile :
         {std::string{"zq7\r\nX-Injected: 1"}, std::string{"zq7\n"}, std::string{"zq7\r"},
          std::string{"zq\0"
                      "7",
                      4}}) {
        Authorization authorization;
        authorization.setCookie(hostile);
        tl::expected<URLRequest, APIError> request;
        const std::string log = logOutputOf([&] { request = plainGet().request(authorization); });
        ASSERT_TRUE(request);
        EXPECT_FALSE(request->header("X-brisel-api-key"));
        EXPECT_EQ(test_support::occurrences(log, kCredentialNotSet), 1U) << log;
        EXPECT_EQ(log.find("zq"), std::string::npos) << "the credential was logged: " << log;

        // A hostile token does not hide a sound cookie behind it.
        authorization.setAuthenticationToken(hostile);
        authorization.setCookie("cookie-1");
        request = plainGet().request(authorization);
        ASSERT_TRUE(request);
        EXPECT_FALSE(request->header("Authentication-Token"));
        EXPECT_EQ(request->header("X-brisel-api-key"), "cookie-1");
    }
}

TEST(EndpointRequest, CredentialHeaderAloneLogsNothingWhenNoneIsSet) {
    const std::string log = logOutputOf([] { EXPECT_FALSE(credentialHeader(CloudAccess{})); });
    EXPECT_EQ(log, "");
}

TEST(EndpointRequest, BasePathIsReplaced) {
    Authorization authorization;
    authorization.setSharedBaseURL("https://cloud.example.com:8443/some/old/path");
    const auto request = plainGet().request(authorization);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->url, "https://cloud.example.com:8443/api/build/42");
}

TEST(EndpointRequest, BaseChangedBetweenTwoBuilds) {
    Authorization authorization;
    authorization.setSharedBaseURLAndCookie("http://10.0.0.1:5000", "first");
    const auto first = plainGet().request(authorization);
    authorization.setSharedBaseURLAndCookie("https://cloud.example.com:443", "second");
    const auto second = plainGet().request(authorization);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(first->url, "http://10.0.0.1:5000/api/build/42");
    EXPECT_EQ(first->header("X-brisel-api-key"), "first");
    EXPECT_EQ(second->url, "https://cloud.example.com:443/api/build/42");
    EXPECT_EQ(second->header("X-brisel-api-key"), "second");
}

TEST(EndpointRequest, InvalidBaseIsRefused) {
    for (const char* base : {"ftp://127.0.0.1:5000", "http://evil.example@127.0.0.1:5000", "http://host:0",
                             "http://host:70000", "http://ho st:5000", "http://evil.example/x:5000",
                             "http://host?:5000", "http://host#:5000", "not an address"}) {
        Authorization authorization;
        authorization.setSharedBaseURLAndCookie(base, "secret-token");
        tl::expected<URLRequest, APIError> request;
        const std::string log = logOutputOf([&] { request = plainGet().request(authorization); });
        EXPECT_NE(log.find("error: The REST base address"), std::string::npos) << log;
        EXPECT_EQ(log.find("secret-token"), std::string::npos) << log;
        ASSERT_FALSE(request) << base << " gave " << request->url;
        EXPECT_FALSE(request.error().statusCode);
        EXPECT_TRUE(request.error().message.starts_with("The REST base address is invalid"))
            << request.error().message;
        EXPECT_EQ(request.error().message.find("secret-token"), std::string::npos);
    }
}

TEST(EndpointRequest, BodyWithInvalidUtf8IsKeptWithReplacementCharacters) {
    Authorization authorization;
    const Endpoint endpoint{"/api/notifications", HTTPMethod::post(),
                            ordered_json{{"title", "bad \xFF byte"}, {"allow_duplicate", true}}};
    const auto request = endpoint.request(authorization);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->body, "{\"title\":\"bad \xEF\xBF\xBD byte\",\"allow_duplicate\":true}");
    EXPECT_EQ(request->header("Content-Type"), "application/json");
}

TEST(EndpointRequest, SharedInstanceStartsAtTheInitialBase) {
    // The process-wide instance is the one `request()` reads.
    const Authorization& shared = Authorization::shared();
    EXPECT_EQ(&shared, &Authorization::shared());
    EXPECT_EQ(Authorization{}.sharedBaseURL(), "http://127.0.0.1:5000");
}

TEST(EndpointRequest, ConcurrentWritesAndBuildsSeeConsistentPairs) {
    // Writers switch between two complete settings; every request built meanwhile must carry the base
    // and the credential of the same setting.
    Authorization authorization;
    authorization.setSharedBaseURLAndCookie("http://10.0.0.1:1111", "one");
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 2; ++writer) {
        writers.emplace_back([&authorization, &stop] {
            while (!stop.load()) {
                authorization.setSharedBaseURLAndCookie("http://10.0.0.2:2222", "two");
                authorization.setSharedBaseURLAndCookie("http://10.0.0.1:1111", "one");
            }
        });
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> builders;
    for (int builder = 0; builder < 4; ++builder) {
        builders.emplace_back([&authorization, &mismatches] {
            for (int round = 0; round < 2000; ++round) {
                const auto request = plainGet().request(authorization);
                const bool one = request && request->url.starts_with("http://10.0.0.1:1111/") &&
                                 request->header("X-brisel-api-key") == "one";
                const bool two = request && request->url.starts_with("http://10.0.0.2:2222/") &&
                                 request->header("X-brisel-api-key") == "two";
                if (!one && !two) {
                    mismatches.fetch_add(1);
                }
            }
        });
    }
    for (auto& builder : builders) {
        builder.join();
    }
    stop.store(true);
    for (auto& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(APIErrorText, PrintedFormCarriesBothFields) {
    EXPECT_EQ(describe(APIError{404, "Not found"}),
              R"(APIError(statusCode: Optional(404), message: "Not found"))");
    EXPECT_EQ(describe(APIError{std::nullopt, "say \"hi\"\n"}),
              R"(APIError(statusCode: nil, message: "say \"hi\"\u{0A}"))");
}

TEST(HTTPMethodValue, ComparesItsTextExactly) {
    EXPECT_EQ(HTTPMethod::deleteMethod().rawValue(), "DELETE");
    EXPECT_EQ(HTTPMethod{"PATCH"}, HTTPMethod::patch());
    EXPECT_NE(HTTPMethod{"get"}, HTTPMethod::get());
}

TEST(BaseURLFromParts, LocalhostBecomesTheLoopbackAddress) {
    EXPECT_EQ(baseURLFromParts("http", "localhost", "5000"), "http://127.0.0.1:5000");
    EXPECT_EQ(baseURLFromParts("https", "cloud.example.com", "443"), "https://cloud.example.com:443");
    EXPECT_EQ(baseURLFromParts("http", "LOCALHOST", "5000"), "http://LOCALHOST:5000");
}

}  // namespace
}  // namespace brisel::cloud
