// The process-wide REST base address (SHARED_BASE_URL) and REST credential (Authorization.shared).
//
// Both live in one `Authorization` object under one lock, so that a request built on any thread sees
// the base address and the credential of one moment, never a half-written pair. The controllers write
// them from each browser request; every request built afterwards uses the new values.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace brisel::cloud {

// The value of SHARED_BASE_URL when the process starts.
inline constexpr std::string_view kInitialSharedBaseURL{"http://127.0.0.1:5000"};

// The base address and credential in force at one moment.
struct CloudAccess {
    std::string baseURL{kInitialSharedBaseURL};
    // Sent as "Authentication-Token" when present. Nothing in the service sets it.
    std::optional<std::string> authenticationToken;
    // The browser's auth token, sent as "X-brisel-api-key" when no authentication token is present.
    std::optional<std::string> cookie;
};

// Every member function may be called from any thread; `lock` guards `access`.
class Authorization {
  public:
    // The one instance of the process, created on first use with the initial base address and no
    // credential; it lives until the process ends.
    static Authorization& shared();

    // A separate instance (tests, and any caller that needs its own state), in the initial state.
    Authorization() = default;
    Authorization(const Authorization&) = delete;
    Authorization& operator=(const Authorization&) = delete;

    std::optional<std::string> authenticationToken() const;
    void setAuthenticationToken(std::optional<std::string> token);

    std::optional<std::string> cookie() const;
    void setCookie(std::optional<std::string> cookie);

    // SHARED_BASE_URL: scheme "://" host ":" port. Stored as given; it is checked when a request is built.
    std::string sharedBaseURL() const;
    void setSharedBaseURL(std::string baseURL);

    // Sets the base address and the cookie in one step: what a controller does with the fields of one
    // browser request.
    void setSharedBaseURLAndCookie(std::string baseURL, std::optional<std::string> cookie);

    // The base address and credential of this moment, read under the lock in one piece.
    CloudAccess snapshot() const;

  private:
    mutable std::mutex lock;
    CloudAccess access;  // guarded by lock
};

// The base address that a controller assembles from a browser request's "scheme", "host" and "port":
// scheme "://" host ":" port, with the host name "localhost" written as "127.0.0.1". The parts are not
// checked here; a base address that is not a valid http or https address is refused when a request is
// built. Pure; any thread.
std::string baseURLFromParts(std::string_view scheme, std::string_view host, std::string_view port);

}  // namespace brisel::cloud
