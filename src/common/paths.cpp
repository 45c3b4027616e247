#include "common/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "common/desktop_link.h"
#include "common/system_error.h"

namespace brisel::common {

std::filesystem::path homeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    return "/";
}

std::filesystem::path logFolderPath() {
    return homeFolder() / desktop_link::kLogFolder;
}

std::filesystem::path logFilePath() {
    return logFolderPath() / desktop_link::kLogFileName;
}

tl::expected<std::filesystem::path, std::string> privateTempFolder() {
    std::filesystem::path base = "/tmp";
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir != nullptr && tmpdir[0] == '/') {
        base = tmpdir;
    }
    uid_t uid = getuid();
    std::filesystem::path folder = base / ("velko-" + std::to_string(uid));
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return tl::unexpected("cannot create the temporary folder " + folder.string() + ": " +
                              describeErrno(errno));
    }
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0) {
        return tl::unexpected("cannot examine the temporary folder " + folder.string() + ": " +
                              describeErrno(errno));
    }
    if (!S_ISDIR(status.st_mode)) {
        return tl::unexpected("the temporary folder " + folder.string() +
                              " is not a folder (a file or link is in the way); remove it");
    }
    if (status.st_uid != uid) {
        return tl::unexpected("the temporary folder " + folder.string() +
                              " belongs to another user; remove it or set TMPDIR to a folder of your own");
    }
    if ((status.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) {
        return tl::unexpected("cannot make the temporary folder " + folder.string() +
                              " private: " + describeErrno(errno));
    }
    return folder;
}

}  // namespace brisel::common
