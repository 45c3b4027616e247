#include "cloud/http/response_headers.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace brisel::cloud {
namespace {

HttpHeaders collect(const std::vector<std::string>& lines, std::size_t maxBytes = 1024) {
    HttpResponseHeaders headers(maxBytes);
    for (const std::string& line : lines) {
        headers.addLine(line);
    }
    return headers.takeFields();
}

struct HeaderCase {
    const char* label;
    std::vector<std::string> lines;
    HttpHeaders expected;

    friend void PrintTo(const HeaderCase& row, std::ostream* out) { *out << row.label; }
};

class HttpResponseHeadersTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HttpResponseHeadersTest, CollectsTheFieldsOfTheLatestReply) {
    EXPECT_EQ(collect(GetParam().lines), GetParam().expected) << GetParam().label;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HttpResponseHeadersTest,
    ::testing::Values(
        HeaderCase{"plain fields, blanks trimmed",
                   {"HTTP/1.1 200 OK\r\n", "Content-Type:  application/json \r\n", "X-A:b\r\n", "\r\n"},
                   {{"Content-Type", "application/json"}, {"X-A", "b"}}},
        HeaderCase{"interim and redirect replies are replaced",
                   {"HTTP/1.1 100 Continue\r\n", "X-Early: 1\r\n", "\r\n", "HTTP/1.1 302 Found\r\n",
                    "Location: /x\r\n", "\r\n", "HTTP/2 200\r\n", "x-final: 2\r\n", "\r\n"},
                   {{"x-final", "2"}}},
        HeaderCase{"continuation line joins the previous value",
                   {"HTTP/1.1 200 OK\r\n", "X-Long: one\r\n", "\t two \r\n"},
                   {{"X-Long", "one two"}}},
        HeaderCase{"malformed lines are passed over",
                   {"HTTP/1.1 200 OK\r\n", "no colon\r\n", ": empty name\r\n", "Bad Name: x\r\n",
                    "  orphan continuation\r\n", "Good: yes\r\n"},
                   {{"Good", "yes"}}},
        HeaderCase{"colons in the value and an empty value",
                   {"HTTP/1.1 200 OK\n", "Location: http://h:1/p\n", "X-Empty:\n"},
                   {{"Location", "http://h:1/p"}, {"X-Empty", ""}}},
        HeaderCase{"bytes that are not UTF-8 are kept",
                   {"HTTP/1.1 200 OK\r\n", "X-Raw: \xff\xfe\r\n"},
                   {{"X-Raw", "\xff\xfe"}}}),
    [](const auto& row) { return "case" + std::to_string(row.index); });

TEST(HttpResponseHeadersLimitTest, RefusesAReplyBeyondItsLimitUntilTheNextReply) {
    HttpResponseHeaders headers(40);

    EXPECT_TRUE(headers.addLine("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(headers.addLine("A: 1\r\n"));
    EXPECT_FALSE(headers.addLine("B: " + std::string(40, 'x') + "\r\n"));
    EXPECT_FALSE(headers.addLine("C: 3\r\n"));
    EXPECT_EQ(headers.fields(), (HttpHeaders{{"A", "1"}}));

    EXPECT_TRUE(headers.addLine("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(headers.addLine("D: 4\r\n"));
    EXPECT_EQ(headers.fields(), (HttpHeaders{{"D", "4"}}));
}

}  // namespace
}  // namespace brisel::cloud
