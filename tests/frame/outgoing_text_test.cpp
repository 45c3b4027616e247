#include "frame/outgoing_text.h"

#include <gtest/gtest.h>

namespace brisel::frame {
namespace {

TEST(OutgoingTextTest, SurroundingWhiteSpaceThenControlCharactersAreRemoved) {
    EXPECT_EQ(outgoingFramePayload(" {\"a\":1}\n"), "{\"a\":1}");
    EXPECT_EQ(outgoingFramePayload("\xC2\xA0\xE2\x80\x83x y\xE3\x80\x80"),
              "x y");                                                   // NBSP, EM SPACE, ideographic
    EXPECT_EQ(outgoingFramePayload("\x01\x02x\x7F\xEF\xBB\xBF"), "x");  // Cc and a trailing BOM (Cf)
    EXPECT_EQ(outgoingFramePayload("a \n b"), "a \n b");
    // White space that only becomes outer after the control characters are gone stays.
    EXPECT_EQ(outgoingFramePayload("\x01 x \x01"), " x ");
}

TEST(OutgoingTextTest, OnlyWhiteSpaceAndControlsGiveAnEmptyPayload) {
    EXPECT_EQ(outgoingFramePayload(" \t\r\n\x01\x7F"), "");
    EXPECT_EQ(outgoingFramePayload(""), "");
}

TEST(OutgoingTextTest, MultiByteTextIsKeptWhole) {
    EXPECT_EQ(outgoingFramePayload(" \xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80\n"),
              "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80");
}

TEST(OutgoingTextTest, TextThatIsNotUtf8GivesNone) {
    EXPECT_FALSE(outgoingFramePayload("\xFF").has_value());
    EXPECT_FALSE(outgoingFramePayload("ab\xC3").has_value());
}

}  // namespace
}  // namespace brisel::frame
