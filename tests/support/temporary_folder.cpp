#include "support/temporary_folder.h"

#include <stdlib.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace brisel::test_support {

TemporaryFolder::TemporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/brisel-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder from " + pattern);
    }
    root = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::permissions(root, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 ignored);
    std::filesystem::remove_all(root, ignored);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : variable(std::move(name)) {
    if (const char* old = std::getenv(variable.c_str())) {
        previous = old;
    }
    if (value) {
        setenv(variable.c_str(), value->c_str(), 1);
    } else {
        unsetenv(variable.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous) {
        setenv(variable.c_str(), previous->c_str(), 1);
    } else {
        unsetenv(variable.c_str());
    }
}

}  // namespace brisel::test_support
