// gtest's capture of standard output, for output that the service prints in the background.
#pragma once

#include <string>

namespace brisel::test_support {

// Writes out what the global logger still holds for its file and for standard output (so that it
// stays out of the capture), then starts capturing standard output.
void captureStandardOutput();

// Writes out what the global logger holds, then ends the capture and returns what was printed since
// captureStandardOutput().
std::string capturedStandardOutput();

}  // namespace brisel::test_support
