// One try of one request on a libcurl easy handle: set-up, callbacks and the outcome.
#pragma once

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>

#include <tl/expected.hpp>

#include "cloud/http/body_file.h"
#include "cloud/http/curl_handles.h"
#include "cloud/http/request.h"
#include "cloud/http/response_headers.h"
#include "cloud/http/result.h"
#include "cloud/http/session_options.h"

namespace brisel::cloud {

// Created, driven and destroyed on the session thread only. Never moved: libcurl holds its address.
// Redirects are not followed here; the session follows them with a new transfer.
class HttpTransfer {
  public:
    using Clock = std::chrono::steady_clock;

    explicit HttpTransfer(const HttpSessionOptions& options);
    HttpTransfer(const HttpTransfer&) = delete;
    HttpTransfer& operator=(const HttpTransfer&) = delete;
    ~HttpTransfer();

    // Sets the easy handle up for `request`: http and https only, no proxy for loopback, the
    // caller's fields and no default Accept, Expect or Content-Type field, the body from memory or
    // streamed from its file, the reply body limited to the request's limit or else the session's.
    // Call once, before the handle joins a multi handle.
    // Errors: `invalidRequest` (method, field or URL malformed), `unsupportedScheme`,
    // `fileUnreadable` (the body file cannot be opened), `transferFailed` (libcurl out of memory).
    tl::expected<void, HttpError> prepare(const HttpRequest& request);

    // The easy handle (owned by this transfer); its CURLINFO_PRIVATE is this transfer.
    CURL* handle() const { return easy_.get(); }

    // When a byte last moved in either direction, or when the transfer was created.
    Clock::time_point lastActivity() const { return lastActivity_; }

    // The outcome once libcurl reports the transfer done with `code`. Takes the reply's fields and
    // body: call once.
    HttpResult finish(CURLcode code);

    // The outcome of a transfer that the session ends itself: `timedOut` (idle for the session's
    // idle timeout) or `cancelled` (shutdown). Takes the reply's fields and body: call once.
    HttpResult abandon(HttpErrorKind kind);

    // The absolute URL that the reply's Location field points to, when the reply redirects.
    std::optional<std::string> redirectTarget() const;

  private:
    static std::size_t onBodyBytes(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onHeaderLine(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t onReadBody(char* buffer, std::size_t size, std::size_t count, void* self);
    static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t uploadTotal,
                          curl_off_t uploaded);

    tl::expected<void, HttpError> setMethodAndBody(const HttpRequest& request);
    tl::expected<void, HttpError> setHeaderFields(const HttpRequest& request);
    HttpResult collectReply();
    HttpError errorFor(CURLcode code) const;
    bool wholeBodySent() const;

    HttpSessionOptions options_;
    CurlEasy easy_;
    CurlList headerList_;
    std::string url_;
    std::string method_;
    std::string bytesBody_;
    std::optional<HttpBodyFile> bodyFile_;
    std::optional<std::uint64_t> bodySize_;
    std::array<char, CURL_ERROR_SIZE> curlMessage_{};

    HttpResponseHeaders replyHeaders_;
    std::size_t replyBodyLimit_;
    std::string replyBody_;  // its capacity never exceeds replyBodyLimit_
    std::optional<HttpError> callbackError_;
    curl_off_t downloaded_ = 0;
    curl_off_t uploaded_ = 0;
    Clock::time_point lastActivity_;
};

}  // namespace brisel::cloud
