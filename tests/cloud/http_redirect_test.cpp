#include "cloud/http_redirect.h"

#include <gtest/gtest.h>

namespace brisel::cloud {
namespace {

TEST(HttpOriginTest, DefaultPortsAndLetterCaseAreNormalised) {
    EXPECT_EQ(httpOriginOf("HTTP://Cloud.Example:80/a"), httpOriginOf("http://cloud.example/b?c"));
    EXPECT_EQ(httpOriginOf("https://cloud.example/x")->port, 443);
    EXPECT_EQ(httpOriginOf("http://[::1]:5000/x")->host, "[::1]");
    EXPECT_NE(httpOriginOf("http://cloud.example/"), httpOriginOf("https://cloud.example/"));
    EXPECT_NE(httpOriginOf("http://cloud.example:5000/"), httpOriginOf("http://cloud.example:5001/"));
}

TEST(HttpOriginTest, OnlyAbsoluteHttpUrlsHaveAnOrigin) {
    EXPECT_EQ(httpOriginOf("ftp://cloud.example/").error().kind, HttpErrorKind::unsupportedScheme);
    EXPECT_EQ(httpOriginOf("ws://cloud.example/socket").error().kind, HttpErrorKind::unsupportedScheme);
    EXPECT_EQ(httpOriginOf("/relative/path").error().kind, HttpErrorKind::invalidRequest);
    EXPECT_EQ(httpOriginOf("").error().kind, HttpErrorKind::invalidRequest);
    EXPECT_EQ(httpOriginOf("http://").error().kind, HttpErrorKind::invalidRequest);
}

class FollowRedirectTest : public ::testing::Test {
  protected:
    HttpRequest sent(std::string method, HttpBody body) {
        return {.method = std::move(method),
                .url = "http://127.0.0.1:5000/api/a",
                .headers = {{"X-brisel-api-key", "secret"}, {"Content-Type", "application/json"}},
                .body = std::move(body),
                .credentialHeader = "X-brisel-api-key"};
    }
    HttpOrigin first = *httpOriginOf("http://127.0.0.1:5000/");
};

TEST_F(FollowRedirectTest, MethodAndBodyFollowTheStatus) {
    struct Row {
        const char* method;
        int status;
        const char* expectedMethod;
        bool keepsBody;
    };
    const Row rows[] = {
        {"POST", 301, "GET", false},  {"POST", 302, "GET", false},  {"POST", 303, "GET", false},
        {"POST", 307, "POST", true},  {"POST", 308, "POST", true},  {"PATCH", 302, "PATCH", true},
        {"PATCH", 303, "GET", false}, {"HEAD", 303, "HEAD", false},
    };
    for (const Row& row : rows) {
        auto next =
            followRedirect(sent(row.method, std::string("{}")), row.status, "http://127.0.0.1:5000/b", first);
        ASSERT_TRUE(next) << row.method << " " << row.status;
        EXPECT_EQ(next->method, row.expectedMethod) << row.method << " " << row.status;
        EXPECT_EQ(std::holds_alternative<std::string>(next->body), row.keepsBody)
            << row.method << " " << row.status;
        EXPECT_EQ(findHeader(next->headers, "content-type") != nullptr, row.keepsBody)
            << row.method << " " << row.status;
        EXPECT_EQ(next->url, "http://127.0.0.1:5000/b");
    }
}

TEST_F(FollowRedirectTest, CredentialStaysOnlyWithinTheFirstOrigin) {
    const std::string targets[] = {"https://127.0.0.1:5000/b", "http://localhost:5000/b",
                                   "http://127.0.0.1:5001/b", "http://cloud.example:5000/b"};
    for (const std::string& target : targets) {
        auto next = followRedirect(sent("GET", {}), 302, target, first);
        ASSERT_TRUE(next) << target;
        EXPECT_EQ(findHeader(next->headers, "X-brisel-api-key"), nullptr) << target;
    }
    auto same = followRedirect(sent("GET", {}), 302, "HTTP://127.0.0.1:5000/other", first);
    ASSERT_TRUE(same);
    EXPECT_NE(findHeader(same->headers, "x-brisel-api-key"), nullptr);
}

}  // namespace
}  // namespace brisel::cloud
