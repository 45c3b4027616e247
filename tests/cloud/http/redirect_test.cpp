#include "cloud/http/redirect.h"

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

TEST_F(FollowRedirectTest, OnlyARedirectThatSendsTheSameRequestAgainIsFollowed) {
    struct Row {
        const char* method;
        int status;
        bool followed;
    };
    const Row rows[] = {
        {"POST", 301, false},  {"POST", 302, false},  {"POST", 303, false}, {"PATCH", 301, false},
        {"PATCH", 302, false}, {"PATCH", 303, false}, {"POST", 307, true},  {"POST", 308, true},
        {"PATCH", 307, true},  {"GET", 301, true},    {"GET", 303, true},   {"HEAD", 303, true},
    };
    for (const Row& row : rows) {
        const std::string method = row.method;
        const bool hasBody = method == "POST" || method == "PATCH";
        const HttpRequest request = sent(method, hasBody ? HttpBody{std::string("{}")} : HttpBody{});
        auto next = followRedirect(request, row.status, "http://127.0.0.1:5000/b", first);
        if (!row.followed) {
            ASSERT_FALSE(next) << row.method << " " << row.status;
            EXPECT_EQ(next.error().kind, HttpErrorKind::redirectNotFollowed);
            EXPECT_NE(
                next.error().message.find(std::to_string(row.status) + " to \"http://127.0.0.1:5000/b\""),
                std::string::npos)
                << next.error().message;
            continue;
        }
        ASSERT_TRUE(next) << row.method << " " << row.status;
        EXPECT_EQ(next->method, method);
        EXPECT_EQ(std::holds_alternative<std::string>(next->body), hasBody) << method << " " << row.status;
        EXPECT_EQ(next->headers, request.headers);
        EXPECT_EQ(next->url, "http://127.0.0.1:5000/b");
    }
    // A POST without a body would still turn into a GET.
    EXPECT_FALSE(followRedirect(sent("POST", {}), 302, "http://127.0.0.1:5000/b", first));
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
