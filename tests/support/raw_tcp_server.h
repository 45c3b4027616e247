// A TCP server on the loopback interface that answers with scripted raw bytes, for the replies no HTTP
// library sends: replies cut short, silence, bytes that are not HTTP. And a port on which nothing
// listens.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace brisel::test {

// What the server does on one connection.
struct RawExchange {
    enum class Reading {
        wholeRequest,  // the header and the body that Content-Length announces
        headerOnly,    // the header only; the reply goes out while the client may still be sending
    };
    enum class Ending {
        close,     // the connection is closed once the reply is sent
        stayOpen,  // the connection stays open, silent, until the server is destroyed
        // chunks of blanks follow the reply (a chunked header) for as long as the client reads them;
        // the next connection is served once the client has closed this one
        endlessBlankChunks,
    };

    Reading reading = Reading::wholeRequest;
    std::string reply;  // sent as it is, possibly nothing
    Ending ending = Ending::close;
};

// Serves connections one after the other on one thread of its own: the n-th connection gets the n-th
// exchange of the script, the last one repeats. Thread-safe accessors; destruction closes everything
// and joins the thread.
class RawTcpServer {
  public:
    // Listens on 127.0.0.1 on a port the system picks. Throws std::runtime_error when it cannot.
    explicit RawTcpServer(std::vector<RawExchange> script);
    ~RawTcpServer();
    RawTcpServer(const RawTcpServer&) = delete;
    RawTcpServer& operator=(const RawTcpServer&) = delete;

    int port() const;
    // "http://127.0.0.1:<port>"
    std::string baseUrl() const;
    // Connections accepted so far.
    std::size_t connections() const;
    // The bytes read from each connection so far, in the order of the connections.
    std::vector<std::string> received() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// A port of 127.0.0.1 bound but not listening, held for the object's life: connecting is refused.
class ClosedPort {
  public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string baseUrl() const;

  private:
    int descriptor_ = -1;
    int port_ = 0;
};

}  // namespace brisel::test
