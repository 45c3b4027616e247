#include "loopback_https_server.h"

#include "common/ascii.h"

#include <httplib.h>

#include <QFile>

#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace brisel::desktop::components::test {

namespace {

const std::string kCertificate = BRISEL_TEST_DATA_DIR "/loopback_certificate.pem";
const std::string kKey = BRISEL_TEST_DATA_DIR "/loopback_key.pem";

}  // namespace

struct LoopbackHttpsServer::State {
    httplib::SSLServer server{kCertificate.c_str(), kKey.c_str()};
    int port = 0;
    mutable std::mutex mutex;  // guards answers and recorded
    std::map<std::string, Answer> answers;
    std::vector<RecordedRequest> recorded;
    std::thread thread;

    void serve(const httplib::Request& request, httplib::Response& response) {
        RecordedRequest copy{request.method, request.path, {}, request.body};
        for (const auto& [name, value] : request.headers) {
            copy.headers[common::asciiLower(name)] = value;
        }
        const std::lock_guard lock(mutex);
        recorded.push_back(std::move(copy));
        const auto found = answers.find(request.path);
        if (found == answers.end()) {
            response.status = 404;
            response.set_content("not here", "text/plain");
            return;
        }
        response.status = found->second.status;
        response.set_content(found->second.body, found->second.contentType.c_str());
    }
};

LoopbackHttpsServer::LoopbackHttpsServer() : state(std::make_unique<State>()) {
    if (!state->server.is_valid()) {
        throw std::runtime_error("the loopback certificate cannot be loaded");
    }
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        state->serve(request, response);
    };
    state->server.Get(".*", handler);
    state->server.Post(".*", handler);
    state->port = state->server.bind_to_any_port("127.0.0.1");
    if (state->port <= 0) {
        throw std::runtime_error("the loopback server cannot listen");
    }
    state->thread = std::thread([this] { state->server.listen_after_bind(); });
}

LoopbackHttpsServer::~LoopbackHttpsServer() {
    state->server.stop();
    state->thread.join();
}

void LoopbackHttpsServer::answer(const std::string& path, Answer answer) {
    const std::lock_guard lock(state->mutex);
    state->answers[path] = std::move(answer);
}

std::string LoopbackHttpsServer::hostAndPort() const {
    return "127.0.0.1:" + std::to_string(state->port);
}

std::vector<RecordedRequest> LoopbackHttpsServer::requests() const {
    const std::lock_guard lock(state->mutex);
    return state->recorded;
}

QList<QSslCertificate> LoopbackHttpsServer::certificateAuthority() {
    return QSslCertificate::fromPath(QString::fromStdString(kCertificate));
}

}  // namespace brisel::desktop::components::test
