#include "frame/library_log_bridge.h"

#include <gtest/gtest.h>
#include <libwebsockets.h>

namespace brisel::frame {
namespace {

using common::LogLevels;

TEST(LibraryLogBridgeTest, LevelsMapTheLineEndIsStrippedAndInnerOnesEscaped) {
    const auto error = bridgedLogLine(LLL_ERR, "bind failed\n");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->level, LogLevels::critical);
    EXPECT_EQ(error->message, "libwebsockets: bind failed");
    EXPECT_EQ(bridgedLogLine(LLL_WARN, "w\n")->level, LogLevels::warning);
    EXPECT_EQ(bridgedLogLine(LLL_NOTICE, "n\n")->level, LogLevels::notice);
    EXPECT_EQ(bridgedLogLine(LLL_INFO, "i\n")->level, LogLevels::debug);
    EXPECT_EQ(bridgedLogLine(LLL_DEBUG, "d\n")->level, LogLevels::debug);
    EXPECT_EQ(bridgedLogLine(LLL_NOTICE, "bad header a\r\nFORGED\n")->message,
              "libwebsockets: bad header a\\u{0D}\\u{0A}FORGED");
}

TEST(LibraryLogBridgeTest, UnknownLevelIsNamedInTheMessage) {
    const auto line = bridgedLogLine(LLL_HEADER, "hdr\n");
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->level, LogLevels::debug);
    EXPECT_EQ(line->message, "UNKNOWN LOG LEVEL: 64, message: libwebsockets: hdr");
}

TEST(LibraryLogBridgeTest, AbsentLinesAndTokenDumpsAreDropped) {
    EXPECT_FALSE(bridgedLogLine(LLL_NOTICE, nullptr).has_value());
    EXPECT_FALSE(bridgedLogLine(LLL_NOTICE, "WSI_TOKEN_GET_URI = /\n").has_value());
}

}  // namespace
}  // namespace brisel::frame
