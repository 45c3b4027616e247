// Runs a shell command line for a test without the test program's LD_PRELOAD: a sanitizer runtime or
// the umockdev preload library must not be loaded into uninstrumented programs such as the shell.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace brisel::test {

// Runs `/bin/sh -c command` with this process's environment minus LD_PRELOAD and waits at most
// `timeout` for it (then it is terminated). Returns its exit status; none when it could not start,
// was ended by a signal or did not finish in time.
std::optional<int> runShell(const std::string& command,
                            std::chrono::seconds timeout = std::chrono::seconds(120));

}  // namespace brisel::test
