// The process's HTTP client: one libcurl multi handle driven by one session thread of its own.
#pragma once

#include <functional>
#include <memory>

#include "cloud/http/request.h"
#include "cloud/http/result.h"
#include "cloud/http/session_options.h"

namespace brisel::cloud {

// Sends requests in parallel and hands each outcome to its completion.
//
// Each request is one try: the session never retries. Redirects (301, 302, 303, 307, 308) are
// followed, up to `HttpSessionOptions::maxRedirects`, only where they send the same request again
// (see `followRedirect`): a GET or HEAD follows each of them, any other method only 307 and 308,
// with its whole body from the first byte. Any other redirect ends the request with the redirect's
// reply and a `redirectNotFollowed` error. The credential header of a request is left out once a
// redirect leaves the request's origin. Only http and https are loaded, loopback
// addresses never through a proxy, and a try fails when nothing moved for the idle timeout.
//
// Thread-safety: `submit` may be called from any thread, the session thread included. The
// destructor must not run on the session thread (a completion must not destroy its session).
class HttpSession {
  public:
    // Runs on the session thread, exactly once per submitted request. It must return quickly (every
    // transfer of the session waits meanwhile) and must not throw; a thrown exception is logged and
    // dropped. It may call `submit`.
    using Completion = std::function<void(HttpResult)>;

    // Starts the session thread. Throws std::runtime_error when libcurl cannot be set up.
    explicit HttpSession(HttpSessionOptions options = {});

    // Stops the session thread and joins it. Requests still in flight or waiting end first, each
    // with a `cancelled` error, on the session thread.
    ~HttpSession();

    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Queues `request` and returns at once; the session thread starts it. Every outcome reaches
    // `completion`, malformed requests included (as an error, with nothing sent). Only when the
    // session is already shutting down does `completion` run at once, on the calling thread, with
    // a `cancelled` error.
    void submit(HttpRequest request, Completion completion);

    // True on the session thread.
    bool isSessionThread() const;

    // The process-wide session with the default options, created on first use and shut down when
    // the process exits, before the global queues (which it sets up first).
    static HttpSession& shared();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace brisel::cloud
