#include "common/ascii.h"

#include <gtest/gtest.h>

namespace brisel::common {
namespace {

TEST(AsciiLower, ChangesOnlyAsciiCapitals) {
    EXPECT_EQ(asciiLower("HTTPS://Example.COM:8080/@[Z]"), "https://example.com:8080/@[z]");
    // Bytes of UTF-8 text and the neighbours of 'A' and 'Z' are kept.
    EXPECT_EQ(asciiLower("\xC3\x84\xC3\xA4@[`{"), "\xC3\x84\xC3\xA4@[`{");
    EXPECT_EQ(asciiLower(""), "");
}

TEST(EqualsIgnoringAsciiCase, ComparesLengthAndLettersOnly) {
    EXPECT_TRUE(equalsIgnoringAsciiCase("Content-Type", "content-TYPE"));
    EXPECT_TRUE(equalsIgnoringAsciiCase("", ""));
    EXPECT_FALSE(equalsIgnoringAsciiCase("Content-Type", "Content-Typ"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("Content-Typ", "Content-Type"));
    // '@' and '`' sit next to the capitals and small letters; they do not match letters.
    EXPECT_FALSE(equalsIgnoringAsciiCase("@", "`"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xC3\x84", "\xC3\xA4"));
}

}  // namespace
}  // namespace brisel::common
