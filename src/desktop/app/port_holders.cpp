#include "desktop/app/port_holders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStringList>
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/desktop_link.h"
#include "desktop/app/listening_sockets.h"
#include "desktop/link/link_text.h"

namespace brisel::desktop::app {

namespace {

namespace fs = std::filesystem;

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<ListeningSocket> listeners(std::uint16_t port) {
    std::vector<ListeningSocket> sockets = listeningSockets(readWhole("/proc/net/tcp"), port);
    const auto ipv6 = listeningSockets(readWhole("/proc/net/tcp6"), port);
    sockets.insert(sockets.end(), ipv6.begin(), ipv6.end());
    return sockets;
}

std::optional<pid_t> pidOf(std::string_view name) {
    pid_t pid = 0;
    const auto result = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (name.empty() || result.ec != std::errc() || result.ptr != name.data() + name.size() || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

// The inodes of the sockets among the process's descriptors.
std::vector<ino_t> socketsOf(const fs::path& process) {
    std::vector<ino_t> inodes;
    std::error_code error;
    for (fs::directory_iterator fd(process / "fd", error), end; !error && fd != end; fd.increment(error)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(fd->path(), linkError).string();
        if (linkError || !target.starts_with("socket:[") || !target.ends_with(']')) {
            continue;
        }
        const std::string_view number = std::string_view(target).substr(8, target.size() - 9);
        ino_t inode = 0;
        const auto result = std::from_chars(number.data(), number.data() + number.size(), inode);
        if (result.ec == std::errc() && result.ptr == number.data() + number.size()) {
            inodes.push_back(inode);
        }
    }
    return inodes;
}

QString userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return QString::number(uid);
}

}  // namespace

std::optional<ProcessFacts> processFacts(pid_t pid) {
    const fs::path process = fs::path("/proc") / std::to_string(pid);
    struct stat status {};
    if (::stat(process.c_str(), &status) != 0) {
        return std::nullopt;
    }
    // "pid (name) state ppid ...": the name may hold blanks and parentheses, so read after the last ")".
    const std::string stat = readWhole(process / "stat");
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream rest(stat.substr(nameEnd + 1));
    std::string state;
    pid_t parent = 0;
    if (!(rest >> state >> parent)) {
        return std::nullopt;
    }
    std::string program = readWhole(process / "comm");
    while (!program.empty() && program.back() == '\n') {
        program.pop_back();
    }
    return ProcessFacts{.program = std::move(program), .owner = status.st_uid, .parent = parent};
}

bool isApplication(pid_t pid) {
    const auto facts = processFacts(pid);
    // The kernel keeps the first 15 bytes of a process name.
    return facts && facts->program == desktop_link::kApplicationProgram.substr(0, 15);
}

bool portInUse(std::uint16_t port) {
    return !listeners(port).empty();
}

std::vector<PortHolder> portHolders(std::uint16_t port) {
    const std::vector<ListeningSocket> sockets = listeners(port);
    std::vector<PortHolder> holders;
    if (sockets.empty()) {
        return holders;
    }
    std::vector<ListeningSocket> unseen = sockets;
    std::error_code error;
    for (fs::directory_iterator entry("/proc", error), end; !error && entry != end; entry.increment(error)) {
        const auto pid = pidOf(entry->path().filename().string());
        if (!pid) {
            continue;
        }
        const std::vector<ino_t> held = socketsOf(entry->path());
        const auto isHeld = [&held](const ListeningSocket& socket) {
            return std::find(held.begin(), held.end(), socket.inode) != held.end();
        };
        const auto listening = std::find_if(sockets.begin(), sockets.end(), isHeld);
        if (listening == sockets.end()) {
            continue;
        }
        std::erase_if(unseen, isHeld);
        const auto facts = processFacts(*pid);
        PortHolder holder;
        holder.owner = facts ? facts->owner : listening->owner;
        holder.pid = pid;
        if (facts) {
            holder.program = facts->program;
            if (isApplication(facts->parent)) {
                holder.application = facts->parent;
            }
        }
        holders.push_back(std::move(holder));
    }
    for (const ListeningSocket& socket : unseen) {
        if (std::none_of(holders.begin(), holders.end(),
                         [&socket](const PortHolder& h) { return !h.pid && h.owner == socket.owner; })) {
            PortHolder unknown;
            unknown.owner = socket.owner;
            holders.push_back(std::move(unknown));
        }
    }
    return holders;
}

QString describePortHolders(const std::vector<PortHolder>& holders) {
    QStringList described;
    for (const PortHolder& holder : holders) {
        QString text = holder.pid
                           ? QStringLiteral("%1 (process %2)")
                                 .arg(QString::fromStdString(holder.program), QString::number(*holder.pid))
                           : QStringLiteral("a program");
        text += QStringLiteral(" of user ") + userName(holder.owner);
        if (holder.application) {
            text += QStringLiteral(", the service of another %1 (process %2)")
                        .arg(link::qtText(desktop_link::kApplicationProgram),
                             QString::number(*holder.application));
        }
        described << text;
    }
    return described.join(QStringLiteral(" and "));
}

}  // namespace brisel::desktop::app
