#include "common/logger.h"

#include <gtest/gtest.h>

namespace brisel::common {
namespace {

TEST(LogLevelsTest, NamesFollowTheLevels) {
    EXPECT_EQ(levelName(LogLevels::trace), "trace");
    EXPECT_EQ(levelName(LogLevels::critical), "critical");
}

}  // namespace
}  // namespace brisel::common
