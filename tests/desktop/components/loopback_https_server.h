// An HTTPS server on 127.0.0.1 for the update feed and the crash-report ingestion endpoint: answers
// from a table of paths and records every request. Its certificate (tests/desktop/components/data) is
// self-signed for 127.0.0.1; certificateAuthority() is what a client must trust to reach it.
#pragma once

#include <QList>
#include <QSslCertificate>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace brisel::desktop::components::test {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

class LoopbackHttpsServer {
  public:
    struct Answer {
        int status = 200;
        std::string body;
        std::string contentType = "text/plain";
    };

    // Listens on a port the system picks, serving on a thread of its own; unknown paths get 404.
    // Throws std::runtime_error when it cannot listen.
    LoopbackHttpsServer();
    // Stops serving and joins the thread.
    ~LoopbackHttpsServer();
    LoopbackHttpsServer(const LoopbackHttpsServer&) = delete;
    LoopbackHttpsServer& operator=(const LoopbackHttpsServer&) = delete;

    // Answers GET and POST requests of `path` (without query) with `answer` from now on.
    void answer(const std::string& path, Answer answer);
    // "127.0.0.1:<port>"
    std::string hostAndPort() const;
    // The requests so far, in the order they came.
    std::vector<RecordedRequest> requests() const;

    static QList<QSslCertificate> certificateAuthority();

  private:
    struct State;
    std::unique_ptr<State> state;
};

}  // namespace brisel::desktop::components::test
