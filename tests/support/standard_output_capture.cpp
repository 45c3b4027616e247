#include "support/standard_output_capture.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "common/logger.h"

namespace brisel::test_support {

void captureStandardOutput() {
    common::logger().flush();
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
}

std::string capturedStandardOutput() {
    common::logger().flush();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace brisel::test_support
