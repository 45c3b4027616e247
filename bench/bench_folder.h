// The scratch folder of a benchmark program: made once under the temporary directory, left for the
// system to clear.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

inline std::filesystem::path benchFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = std::filesystem::temp_directory_path() / "brisel-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return std::filesystem::path(pattern);
    }();
    return folder;
}
