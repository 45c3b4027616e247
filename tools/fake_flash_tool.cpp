// A stand-in for every flashing tool, for tests: installed (or linked) under each tool's name, it sends
// that name and its exact arguments to the board simulator through the Unix socket named by
// BRISEL_SIM_TOOL_SOCKET, prints the text the simulator answers and exits with the status it chooses.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

namespace {

constexpr int kUsageStatus = 2;
constexpr int kReplyWaitMs = 60000;
constexpr std::size_t kMessageLimit = 256 * 1024;

int fail(const std::string& message) {
    std::fprintf(stderr, "fake flash tool: %s\n", message.c_str());
    return kUsageStatus;
}

}  // namespace

int main(int argc, char** argv) {
    const char* socketPath = std::getenv("BRISEL_SIM_TOOL_SOCKET");
    if (socketPath == nullptr || *socketPath == '\0') {
        return fail(
            "BRISEL_SIM_TOOL_SOCKET is not set; start the board simulator and export its socket path");
    }
    std::string name = argc > 0 ? argv[0] : "";
    if (const auto slash = name.rfind('/'); slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    nlohmann::json request;
    request["tool"] = name;
    request["arguments"] = nlohmann::json::array();
    for (int i = 1; i < argc; ++i) {
        request["arguments"].push_back(argv[i]);
    }
    const std::string text = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > kMessageLimit) {
        return fail("the arguments are too long to send");
    }

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(socketPath) >= sizeof address.sun_path) {
        return fail("the socket path is too long");
    }
    std::strcpy(address.sun_path, socketPath);
    const int connection = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (connection < 0 ||
        ::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return fail(std::string("cannot reach the board simulator at ") + socketPath + ": " +
                    std::strerror(errno));
    }
    if (::send(connection, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        return fail(std::string("cannot send to the board simulator: ") + std::strerror(errno));
    }
    pollfd reply{connection, POLLIN, 0};
    if (::poll(&reply, 1, kReplyWaitMs) <= 0) {
        return fail("the board simulator did not answer within 60 s");
    }
    std::string message(kMessageLimit, '\0');
    const ssize_t count = ::recv(connection, message.data(), message.size(), 0);
    ::close(connection);
    if (count <= 0) {
        return fail("the board simulator closed the connection without an answer");
    }
    message.resize(static_cast<std::size_t>(count));
    const auto answer = nlohmann::json::parse(message, nullptr, false);
    if (answer.is_discarded() || !answer.is_object() || !answer.contains("exitStatus") ||
        !answer["exitStatus"].is_number_integer() || !answer.contains("output") ||
        !answer["output"].is_string()) {
        return fail("the board simulator's answer is malformed");
    }
    const std::string output = answer["output"].get<std::string>();
    std::fwrite(output.data(), 1, output.size(), stdout);
    std::fflush(stdout);
    const auto status = answer["exitStatus"].get<long long>();
    return status < 0 || status > 255 ? 1 : static_cast<int>(status);
}
