// The REST client: typed and raw calls of the cloud REST interface, with retries.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <tl/expected.hpp>

#include "cloud/api_client_settings.h"
#include "cloud/api_error.h"
#include "cloud/http/method.h"
#include "cloud/url_request.h"
#include "common/json_codec.h"

namespace brisel::cloud {

// A decoded record, the body bytes of a raw call, or the error of the call.
template <class T>
using APIResult = tl::expected<T, APIError>;

// What `Endpoint::request()` gives: the finished request, or why it could not be built. A plain
// `URLRequest` converts to it.
using BuiltRequest = tl::expected<URLRequest, APIError>;

// The final texts of the client.
inline constexpr std::string_view kNoConnectionText{"Failed to load data, please check your connection"};
inline constexpr std::string_view kTryAgainLaterText{"An error has occured, please try again later"};

// Sends requests of the cloud REST interface and hands each caller one outcome.
//
// Every call first checks that the request's method fits the operation (GET for `get` and `getData`,
// POST for `post`, PATCH for `patch` and `patchData`, compared exactly). A request that does not fit,
// or that could not be built, is not sent: the check logs at critical and the completion runs at once
// on the caller's thread, before the operation returns. Otherwise the operation returns at once and
// the call runs in the background: up to `RetryPolicy::maxTries` tries (5), waiting n x the wait unit
// after try n (5, 10, 15, 20 s), scheduled on the timer, never by a sleeping thread. Transport
// failures, replies without status and every non-2xx status are retried alike; a 2xx reply ends the
// call. A typed call decodes the 2xx body strictly into the record (a decoding failure is final, not
// retried); a raw call hands over the body bytes. Each try's outcome is logged ("Network request (n):
// <method> <url>" at info, then the failure lines at error).
//
// The completion runs exactly once. Apart from the refusals above it runs on a thread of the global
// queue of default priority, never while the operation is still running; it must not throw, and it
// should hand long work on (a workflow waits for it on a thread of its own): the pool has a bound
// (common::kMaxGlobalQueueThreads), and a completion that blocks holds other work back.
//
// The client holds only its settings; calls share nothing and run in parallel. Any thread.
class APIClient {
  public:
    template <class Record>
    using Completion = std::function<void(APIResult<Record>)>;
    // The body bytes of a 2xx reply (any bytes, possibly empty), or the error.
    using DataCompletion = std::function<void(APIResult<std::string>)>;

    explicit APIClient(APIClientSettings settings = {});

    const APIClientSettings& settings() const { return clientSettings; }

    // Typed calls: the 2xx body decoded into `Record` with the strict codec.
    template <class Record>
    void get(const BuiltRequest& request, Completion<Record> completion) const;
    template <class Record>
    void post(const BuiltRequest& request, Completion<Record> completion) const;
    template <class Record>
    void patch(const BuiltRequest& request, Completion<Record> completion) const;

    // Raw calls: the 2xx body's bytes, not decoded.
    void getData(const BuiltRequest& request, DataCompletion completion) const;
    void patchData(const BuiltRequest& request, DataCompletion completion) const;

  private:
    // The error that keeps `request` from being sent by the operation named `operation` ("get",
    // "post", "patch"), logged at critical; none when it may be sent.
    static std::optional<APIError> refusal(const BuiltRequest& request, const HTTPMethod& expected,
                                           std::string_view operation);

    template <class Record>
    void networkRequest(const URLRequest& request, Completion<Record> completion) const;
    void genericNetworkRequest(const URLRequest& request, DataCompletion completion) const;

    APIClientSettings clientSettings;
};

// The failure of a 2xx body that does not decode into the record: the decoding text (see
// decoding_failure.h) without status code, logged at critical followed by the caller's source file
// and line (compiler builtins: clang 14 has no std::source_location with this libstdc++). Any thread.
APIError decodingError(const common::JsonError& error, const char* file = __builtin_FILE(),
                       int line = __builtin_LINE());

template <class Record>
void APIClient::get(const BuiltRequest& request, Completion<Record> completion) const {
    if (auto refused = refusal(request, HTTPMethod::get(), "get")) {
        completion(tl::unexpected(std::move(*refused)));
        return;
    }
    networkRequest<Record>(*request, std::move(completion));
}

template <class Record>
void APIClient::post(const BuiltRequest& request, Completion<Record> completion) const {
    if (auto refused = refusal(request, HTTPMethod::post(), "post")) {
        completion(tl::unexpected(std::move(*refused)));
        return;
    }
    networkRequest<Record>(*request, std::move(completion));
}

template <class Record>
void APIClient::patch(const BuiltRequest& request, Completion<Record> completion) const {
    if (auto refused = refusal(request, HTTPMethod::patch(), "patch")) {
        completion(tl::unexpected(std::move(*refused)));
        return;
    }
    networkRequest<Record>(*request, std::move(completion));
}

template <class Record>
void APIClient::networkRequest(const URLRequest& request, Completion<Record> completion) const {
    genericNetworkRequest(request, [completion = std::move(completion)](APIResult<std::string> body) {
        if (!body) {
            completion(tl::unexpected(std::move(body.error())));
            return;
        }
        common::JsonResult<Record> record = common::decodeJsonText<Record>(*body);
        if (!record) {
            completion(tl::unexpected(decodingError(record.error())));
            return;
        }
        completion(std::move(*record));
    });
}

}  // namespace brisel::cloud
