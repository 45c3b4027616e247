#include "support/shell_command.h"

#include <unistd.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "common/child_process.h"

extern char** environ;

namespace brisel::test {

std::optional<int> runShell(const std::string& command, std::chrono::seconds timeout) {
    common::SpawnOptions options;
    options.executable = "/bin/sh";
    options.arguments = {"-c", command};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!std::string_view(*entry).starts_with("LD_PRELOAD=")) {
            environment.emplace_back(*entry);
        }
    }
    options.environment = std::move(environment);
    auto child = common::ChildProcess::spawn(options);
    if (!child) {
        std::fprintf(stderr, "runShell: %s\n", child.error().message.c_str());
        return std::nullopt;
    }
    auto exit = (*child)->waitForExit(timeout);
    if (!exit) {
        std::fprintf(stderr, "runShell: '%s' did not finish in time and was terminated\n", command.c_str());
        (*child)->terminate();
        (*child)->waitForExit(std::chrono::seconds(10));
        return std::nullopt;
    }
    if (exit->kind != common::ExitKind::exited) {
        return std::nullopt;
    }
    return exit->value;
}

}  // namespace brisel::test
