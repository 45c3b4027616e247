// A fake of the cloud's HTTP server for tests: records every request and answers with scripted
// replies. It listens on 127.0.0.1, on a port that the system picks unless the test names one.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisel::test {

using HeaderFields = std::vector<std::pair<std::string, std::string>>;

// One request as the fake received it.
struct RecordedRequest {
    std::string method;
    std::string path;   // without the query, percent-decoded
    std::string query;  // the raw text after "?", empty when there is none
    HeaderFields headers;
    std::string body;
    int replyStatus = 0;  // the status the fake answered with; 0 when it dropped the connection

    // The value of the first field named `name` (letter case ignored), or nothing.
    std::optional<std::string> header(std::string_view name) const;
};

// How a scripted reply ends.
enum class ReplyEnding {
    complete,        // status line, fields and the whole body
    cutBody,         // status line and fields announcing the whole body, half of it, then the
                     // connection closes
    dropConnection,  // the connection closes before anything is sent
};

struct ScriptedReply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    HeaderFields headers;                // further fields, such as Location
    std::chrono::milliseconds delay{0};  // waited before anything is sent
    // When above zero, a complete body is sent in 8 pieces with this pause before each.
    std::chrono::milliseconds bodyPace{0};
    ReplyEnding ending = ReplyEnding::complete;

    static ScriptedReply json(int status, std::string body);
    static ScriptedReply text(int status, std::string body);
    // A reply with status `status` (301, 302, 303, 307 or 308) and the Location `location`.
    static ScriptedReply redirect(int status, std::string location);
    static ScriptedReply dropped();
};

// Requests without a scripted reply get 404 with a plain-text body naming the method and path.
// Thread-safe: tests script and inspect it from any thread while its own threads serve.
class FakeCloud {
  public:
    // Listens on `port` of 127.0.0.1 (a port the system picks when 0) and serves at once. Throws
    // std::runtime_error when it cannot listen.
    explicit FakeCloud(int port = 0);
    // Ends waiting delays early, stops serving and joins its threads.
    ~FakeCloud();

    FakeCloud(const FakeCloud&) = delete;
    FakeCloud& operator=(const FakeCloud&) = delete;

    int port() const;
    // "http://127.0.0.1:<port>"
    std::string baseUrl() const;

    // Answers every later `method` request to `path` (matched exactly, without the query) with `reply`.
    void reply(const std::string& method, const std::string& path, ScriptedReply reply);
    // Answers the next such requests with `replies` in order; the last one then repeats.
    void replies(const std::string& method, const std::string& path, std::vector<ScriptedReply> replies);

    // Answers a later `method` request to `path` with 418 when an earlier one with the same query got a
    // 2xx reply, as the cloud answers an upload it already holds (first_packet_index repeated).
    void rejectRepeatedQueries(const std::string& method, const std::string& path);

    // Every request received so far, in the order of arrival.
    std::vector<RecordedRequest> requests() const;
    // Waits until `count` requests have arrived or `timeout` has passed. Returns whether they arrived.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace brisel::test
