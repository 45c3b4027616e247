// A path whose leading "~" stands for the home folder, as shells and users write working folders.
// Header-only: the desktop programs use it too, and they do not link the service's library.
#pragma once

#include <string>
#include <string_view>

namespace brisel::common {

// `path` with a leading "~" (alone or before "/") replaced by `home`: "~" gives `home` as it is,
// "~/rest" gives `home` without its trailing slashes, then "/rest" (so "~/" and "~//rest" stay under
// `home`). Any other path, "~name" among them, is returned unchanged. The caller says what the home
// folder is. Pure; any thread.
inline std::string expandHomeFolder(std::string_view path, std::string_view home) {
    if (path == "~") {
        return std::string(home);
    }
    if (!path.starts_with("~/")) {
        return std::string(path);
    }
    const auto end = home.find_last_not_of('/');
    const std::string_view base =
        end == std::string_view::npos ? std::string_view() : home.substr(0, end + 1);
    return std::string(base) + std::string(path.substr(1));
}

}  // namespace brisel::common
