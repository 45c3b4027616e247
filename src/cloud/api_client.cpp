#include "cloud/api_client.h"

#include <cstdint>
#include <memory>

#include "cloud/cloud_error_body.h"
#include "cloud/decoding_failure.h"
#include "cloud/endpoint.h"
#include "cloud/http/request.h"
#include "cloud/http/result.h"
#include "common/dispatch.h"
#include "common/logger.h"
#include "common/peer_text.h"
#include "common/utf8.h"

namespace brisel::cloud {

namespace {

using common::logger;
using common::QualityOfService;

// One call: what its tries share. Only one try is in flight at a time and the next one starts only
// from the handling of the previous one, so `tryCounter` is never touched by two threads at once.
struct NetworkCall {
    std::shared_ptr<HttpSession> session;
    RetryPolicy retry;
    URLRequest request;
    APIClient::DataCompletion completion;
    int tryCounter = 1;
};

bool isCredentialHeaderName(std::string_view name) {
    return headerNameEquals(name, kAuthenticationTokenHeader) || headerNameEquals(name, kApiKeyHeader);
}

// The request of one try: the caller's method, URL and header fields, and its body unless it is a GET.
HttpRequest tryRequest(const URLRequest& request) {
    HttpRequest sent;
    sent.method = request.method.rawValue();
    sent.url = request.url;
    sent.headers = request.headers;
    sent.maxResponseBodyBytes = request.maxResponseBodyBytes;
    for (const HttpHeader& field : request.headers) {
        if (isCredentialHeaderName(field.name)) {
            sent.credentialHeader = field.name;
        }
    }
    if (request.body && request.method.rawValue() != "GET") {
        sent.body = *request.body;
    }
    return sent;
}

bool isSuccessStatus(int status) {
    return status >= 200 && status <= 299;
}

void startTry(std::shared_ptr<NetworkCall> call);

void retry(std::shared_ptr<NetworkCall> call) {
    const auto wait = call->retry.waitAfterTry(call->tryCounter);
    common::dispatchAfter(QualityOfService::defaultPriority, wait, [call = std::move(call)]() mutable {
        ++call->tryCounter;
        startTry(std::move(call));
    });
}

void fail(const NetworkCall& call, std::optional<std::int64_t> statusCode, std::string message) {
    call.completion(tl::unexpected(APIError{statusCode, std::move(message)}));
}

// The outcome of one try, on a global-queue thread: retry, fail or succeed.
void handleOutcome(std::shared_ptr<NetworkCall> call, HttpResult result) {
    const int tryNumber = call->tryCounter;
    const bool lastTry = tryNumber >= call->retry.maxTries;
    logger().info("Network request (" + std::to_string(tryNumber) + "): " + call->request.method.rawValue() +
                  " " + call->request.url);

    if (result.error) {
        logger().error("Generic network request data task failed: " + describe(*result.error));
        if (!lastTry) {
            retry(std::move(call));
            return;
        }
    }
    if (!result.statusCode) {
        logger().error(kNoConnectionText);
        if (lastTry) {
            fail(*call, -1, std::string{kNoConnectionText});
        } else {
            retry(std::move(call));
        }
        return;
    }

    const int status = *result.statusCode;
    if (isSuccessStatus(status)) {
        if (result.error) {
            logger().error("An error has occured, " + common::peerTextForLog(result.error->message));
            fail(*call, status, result.error->message);
        } else {
            call->completion(std::move(result.body));
        }
        return;
    }

    std::optional<std::int64_t> finalStatus;
    std::string finalMessage;
    if (auto cloudError = parseCloudErrorBody(result.body)) {
        logger().error("An error has occured, message: " +
                       common::peerTextForLog(cloudError->message, common::PeerTextForm::quoted));
        finalStatus = cloudError->statusCode;
        finalMessage = std::move(cloudError->message);
    } else if (common::isValidUtf8(result.body)) {
        logger().error("An error has occured, response: " +
                       common::peerTextForLog(result.body, common::PeerTextForm::quoted));
        finalStatus = status;
        finalMessage = std::move(result.body);
    } else {
        logger().error(kTryAgainLaterText);
        finalMessage = std::string{kTryAgainLaterText};
    }
    if (lastTry) {
        fail(*call, finalStatus, std::move(finalMessage));
    } else {
        retry(std::move(call));
    }
}

void startTry(std::shared_ptr<NetworkCall> call) {
    HttpRequest request = tryRequest(call->request);
    HttpSession& session = *call->session;
    // The session's completion runs on its own thread and only hands the outcome over. It moves the
    // call out, so that the session is never released on its own thread.
    session.submit(std::move(request), [call = std::move(call)](HttpResult result) mutable {
        common::dispatchAsync(QualityOfService::defaultPriority,
                              [call = std::move(call), result = std::move(result)]() mutable {
                                  handleOutcome(std::move(call), std::move(result));
                              });
    });
}

// The method's text form in the refusal: the text itself when it is a plain word, quoted otherwise,
// "nil" when there is none.
std::string methodTextForLog(const std::string& method) {
    if (method.empty()) {
        return "nil";
    }
    for (const char character : method) {
        const bool letter = (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z');
        if (!letter) {
            return common::peerTextForLog(method, common::PeerTextForm::quoted);
        }
    }
    return method;
}

}  // namespace

APIClient::APIClient(APIClientSettings settings) : clientSettings(std::move(settings)) {}

std::optional<APIError> APIClient::refusal(const BuiltRequest& request, const HTTPMethod& expected,
                                           std::string_view operation) {
    if (!request) {
        // The request building has logged why.
        return request.error();
    }
    if (request->method == expected) {
        return std::nullopt;
    }
    std::string text = "Request method must be " + std::string{operation} + ", not " +
                       methodTextForLog(request->method.rawValue());
    logger().critical(text);
    return APIError{std::nullopt, std::move(text)};
}

void APIClient::getData(const BuiltRequest& request, DataCompletion completion) const {
    if (auto refused = refusal(request, HTTPMethod::get(), "get")) {
        completion(tl::unexpected(std::move(*refused)));
        return;
    }
    genericNetworkRequest(*request, std::move(completion));
}

void APIClient::patchData(const BuiltRequest& request, DataCompletion completion) const {
    if (auto refused = refusal(request, HTTPMethod::patch(), "patch")) {
        completion(tl::unexpected(std::move(*refused)));
        return;
    }
    genericNetworkRequest(*request, std::move(completion));
}

void APIClient::genericNetworkRequest(const URLRequest& request, DataCompletion completion) const {
    auto call = std::make_shared<NetworkCall>();
    call->session = sessionOf(clientSettings);
    call->retry = clientSettings.retry;
    call->request = request;
    call->completion = std::move(completion);
    startTry(std::move(call));
}

APIError decodingError(const common::JsonError& error, const char* file, int line) {
    std::string text = decodingFailureText(error);
    logger().critical(common::peerTextForLog(text) + " " + file + ":" + std::to_string(line));
    return APIError{std::nullopt, std::move(text)};
}

}  // namespace brisel::cloud
