#include "support/fake_cloud.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>

#include <httplib.h>

#include "common/ascii.h"
#include "support/eventually.h"

namespace brisel::test {

namespace {

// Fields that the server library adds to every request it parses; no client sent them.
bool isAddedByServer(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

int portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return -1;
}

// Shuts both directions of the server's end of the connection between `localPort` and `peerPort`.
// The server library does not hand its sockets to handlers, so the socket is found among the
// process's open descriptors; it stays open and is closed by the library as usual.
void shutDownConnection(int localPort, int peerPort) {
    std::error_code problem;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", problem)) {
        const std::string name = entry.path().filename().string();
        int descriptor = -1;
        if (std::from_chars(name.data(), name.data() + name.size(), descriptor).ec != std::errc{}) {
            continue;
        }
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localSize = sizeof(local);
        socklen_t peerSize = sizeof(peer);
        if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &localSize) != 0 ||
            getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) {
            continue;
        }
        if (portOf(local) == localPort && portOf(peer) == peerPort) {
            shutdown(descriptor, SHUT_RDWR);
        }
    }
}

constexpr std::size_t kPacedPieces = 8;

// The server library listens with a backlog of 5: a burst of parallel connections overflows it and
// the kernel silently drops some of them. Listening again on the bound socket widens the backlog.
class WideBacklogServer : public httplib::Server {
  public:
    bool widenBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

}  // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [fieldName, value] : headers) {
        if (common::equalsIgnoringAsciiCase(fieldName, name)) {
            return value;
        }
    }
    return std::nullopt;
}

ScriptedReply ScriptedReply::json(int status, std::string body) {
    ScriptedReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

ScriptedReply ScriptedReply::text(int status, std::string body) {
    ScriptedReply reply = json(status, std::move(body));
    reply.contentType = "text/plain";
    return reply;
}

ScriptedReply ScriptedReply::redirect(int status, std::string location) {
    ScriptedReply reply = text(status, "");
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

ScriptedReply ScriptedReply::dropped() {
    ScriptedReply reply;
    reply.ending = ReplyEnding::dropConnection;
    return reply;
}

struct FakeCloud::State {
    void serve(const httplib::Request& request, httplib::Response& response);
    ScriptedReply nextReply(const std::string& method, const std::string& path);
    // Waits for `pause` unless the fake stops meanwhile. Returns true when it is stopping.
    bool waitUnlessStopping(std::chrono::milliseconds pause);

    WideBacklogServer server;
    int port = -1;
    std::thread serverThread;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;  // a request arrived, or the fake is stopping
    std::map<std::pair<std::string, std::string>, std::deque<ScriptedReply>> scripts;  // guarded by mutex
    std::vector<RecordedRequest> received;                                             // guarded by mutex
    std::set<std::pair<std::string, std::string>> repeatRejecting;                     // guarded by mutex
    std::set<std::tuple<std::string, std::string, std::string>> acceptedQueries;       // guarded by mutex
    bool stopping = false;                                                             // guarded by mutex
};

FakeCloud::FakeCloud(int port) : state_(std::make_unique<State>()) {
    State& state = *state_;
    auto handler = [&state](const httplib::Request& request, httplib::Response& response) {
        state.serve(request, response);
    };
    state.server.Get(".*", handler);
    state.server.Post(".*", handler);
    state.server.Put(".*", handler);
    state.server.Patch(".*", handler);
    state.server.Delete(".*", handler);
    state.server.Options(".*", handler);
    // One request per connection, so that no server thread lingers on an idle connection.
    state.server.set_keep_alive_max_count(1);
    // No SO_REUSEPORT: the port must belong to this fake alone.
    state.server.set_socket_options([](int) {});
    if (port == 0) {
        state.port = state.server.bind_to_any_port("127.0.0.1");
    } else if (state.server.bind_to_port("127.0.0.1", port)) {
        state.port = port;
    }
    if (state.port <= 0 || !state.server.widenBacklog()) {
        throw std::runtime_error("the fake cloud could not listen on 127.0.0.1");
    }
    state.serverThread = std::thread([&state] { state.server.listen_after_bind(); });
}

FakeCloud::~FakeCloud() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->changed.notify_all();
    // stop() only takes effect once the serving loop runs; the socket already listens, so this is short.
    (void)test_support::eventually([this] { return state_->server.is_running(); }, std::chrono::seconds(5));
    state_->server.stop();
    state_->serverThread.join();
}

int FakeCloud::port() const {
    return state_->port;
}

std::string FakeCloud::baseUrl() const {
    return "http://127.0.0.1:" + std::to_string(state_->port);
}

void FakeCloud::reply(const std::string& method, const std::string& path, ScriptedReply reply) {
    replies(method, path, {std::move(reply)});
}

void FakeCloud::replies(const std::string& method, const std::string& path,
                        std::vector<ScriptedReply> replies) {
    std::lock_guard lock(state_->mutex);
    state_->scripts[{method, path}] = std::deque<ScriptedReply>(replies.begin(), replies.end());
}

void FakeCloud::rejectRepeatedQueries(const std::string& method, const std::string& path) {
    std::lock_guard lock(state_->mutex);
    state_->repeatRejecting.insert({method, path});
}

std::vector<RecordedRequest> FakeCloud::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->received;
}

bool FakeCloud::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->received.size() >= count; });
}

ScriptedReply FakeCloud::State::nextReply(const std::string& method, const std::string& path) {
    auto script = scripts.find({method, path});
    if (script == scripts.end() || script->second.empty()) {
        return ScriptedReply::text(404, "no scripted reply for " + method + " " + path);
    }
    ScriptedReply reply = script->second.front();
    if (script->second.size() > 1) {
        script->second.pop_front();
    }
    return reply;
}

void FakeCloud::State::serve(const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded;
    recorded.method = request.method;
    recorded.path = request.path;
    if (const std::size_t mark = request.target.find('?'); mark != std::string::npos) {
        recorded.query = request.target.substr(mark + 1);
    }
    for (const auto& [name, value] : request.headers) {
        if (!isAddedByServer(name)) {
            recorded.headers.emplace_back(name, value);
        }
    }
    recorded.body = request.body;

    ScriptedReply reply;
    {
        std::unique_lock lock(mutex);
        reply = nextReply(request.method, request.path);
        if (repeatRejecting.contains({request.method, request.path})) {
            const auto key = std::tuple{request.method, request.path, recorded.query};
            if (acceptedQueries.contains(key)) {
                reply = ScriptedReply::text(418, "already stored");
            } else if (reply.status >= 200 && reply.status < 300 && reply.ending == ReplyEnding::complete) {
                acceptedQueries.insert(key);
            }
        }
        recorded.replyStatus = reply.ending == ReplyEnding::dropConnection ? 0 : reply.status;
        received.push_back(std::move(recorded));
        changed.notify_all();
    }
    if (waitUnlessStopping(reply.delay)) {
        response.status = 503;
        return;
    }

    if (reply.ending == ReplyEnding::dropConnection) {
        shutDownConnection(request.local_port, request.remote_port);
        return;
    }
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers) {
        response.set_header(name, value);
    }
    if (reply.ending == ReplyEnding::cutBody) {
        const std::size_t half = reply.body.size() / 2;
        response.set_content_provider(
            reply.body.size(), reply.contentType,
            [body = reply.body, half](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset == 0 && half > 0) {
                    sink.write(body.data(), half);
                }
                return false;
            });
        return;
    }
    if (reply.bodyPace > std::chrono::milliseconds(0)) {
        const std::size_t piece =
            std::max<std::size_t>(1, (reply.body.size() + kPacedPieces - 1) / kPacedPieces);
        response.set_content_provider(reply.body.size(), reply.contentType,
                                      [this, body = reply.body, piece, pace = reply.bodyPace](
                                          std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          if (waitUnlessStopping(pace)) {
                                              return false;
                                          }
                                          const std::size_t length = std::min(piece, body.size() - offset);
                                          return sink.write(body.data() + offset, length);
                                      });
        return;
    }
    response.set_content(reply.body, reply.contentType);
}

bool FakeCloud::State::waitUnlessStopping(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, pause, [this] { return stopping; });
}

}  // namespace brisel::test
