// The session and the retry timing under which REST calls and file uploads run.
#pragma once

#include <chrono>
#include <memory>

#include "cloud/http/session.h"
#include "common/time_scale.h"

namespace brisel::cloud {

// How often a call or an upload is tried and how long it waits between tries. The wait after try n
// (n = 1, 2, ...) is n x `waitUnit`; after try `maxTries` the call ends. The service runs with
// 5 tries and a unit of 5 s (waits of 5, 10, 15 and 20 s); tests scale the unit down, either here or
// through the process-wide time scale, which the default unit follows.
struct RetryPolicy {
    int maxTries = 5;
    std::chrono::milliseconds waitUnit = common::scaled(std::chrono::seconds(5));

    // The wait after the try numbered `tryNumber`.
    std::chrono::milliseconds waitAfterTry(int tryNumber) const { return waitUnit * tryNumber; }
};

// Where calls are sent and how they are retried. The idle timeout of a try is the session's
// (`HttpSessionOptions::idleTimeout`, 60 s in the shared session).
struct APIClientSettings {
    // The session that carries every try. Null means `HttpSession::shared()`. Each call in flight
    // keeps the session alive, so it may be dropped by its creator at any time.
    std::shared_ptr<HttpSession> session;
    RetryPolicy retry;
};

// `settings.session`, or the shared session when it is null.
std::shared_ptr<HttpSession> sessionOf(const APIClientSettings& settings);

}  // namespace brisel::cloud
