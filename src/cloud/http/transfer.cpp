#include "cloud/http/transfer.h"

#include <algorithm>
#include <span>
#include <string_view>

#include "cloud/http/origin.h"

namespace brisel::cloud {

namespace {

constexpr const char* kAllowedProtocols = "http,https";
// Loopback addresses are always reached directly, whatever proxy the environment names.
constexpr const char* kNeverProxied = "localhost,127.0.0.1,::1";
// libcurl adds these fields on its own unless told to leave them out.
constexpr std::array<std::string_view, 3> kDefaultFieldsLeftOut = {"Accept", "Expect", "Content-Type"};

bool isTokenCharacter(char character) {
    if ((character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
        (character >= '0' && character <= '9')) {
        return true;
    }
    return std::string_view("!#$%&'*+-.^_`|~").find(character) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char character : text) {
        if (!isTokenCharacter(character)) {
            return false;
        }
    }
    return true;
}

HttpError invalid(const std::string& what) {
    return {HttpErrorKind::invalidRequest, what + "; the request was not sent"};
}

HttpError outOfMemory() {
    return {HttpErrorKind::transferFailed, "libcurl could not set the request up (out of memory)"};
}

template <typename Value>
bool setOption(CURL* easy, CURLoption option, Value value) {
    return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

HttpErrorKind kindOf(CURLcode code) {
    switch (code) {
        case CURLE_UNSUPPORTED_PROTOCOL:
            return HttpErrorKind::unsupportedScheme;
        case CURLE_URL_MALFORMAT:
            return HttpErrorKind::invalidRequest;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return HttpErrorKind::hostNotFound;
        case CURLE_COULDNT_CONNECT:
            return HttpErrorKind::couldNotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return HttpErrorKind::timedOut;
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return HttpErrorKind::connectionLost;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return HttpErrorKind::tlsFailed;
        default:
            return HttpErrorKind::transferFailed;
    }
}

std::string adviceFor(HttpErrorKind kind) {
    switch (kind) {
        case HttpErrorKind::hostNotFound:
            return "check the server address and the network connection";
        case HttpErrorKind::couldNotConnect:
            return "check that the server is running and reachable";
        case HttpErrorKind::connectionLost:
            return "the reply was not complete; try again";
        case HttpErrorKind::tlsFailed:
            return "check the system clock and the server's certificate";
        default:
            return "check the network connection and try again";
    }
}

}  // namespace

HttpTransfer::HttpTransfer(const HttpSessionOptions& options)
    : options_(options),
      replyHeaders_(options.maxResponseHeaderBytes),
      replyBodyLimit_(options.maxResponseBodyBytes),
      lastActivity_(Clock::now()) {}

HttpTransfer::~HttpTransfer() = default;

tl::expected<void, HttpError> HttpTransfer::prepare(const HttpRequest& request) {
    if (!isToken(request.method)) {
        return tl::unexpected(invalid("the method \"" + request.method + "\" is not a valid HTTP method"));
    }
    if (auto origin = httpOriginOf(request.url); !origin) {
        return tl::unexpected(origin.error());
    }
    url_ = request.url;
    method_ = request.method;
    replyBodyLimit_ = request.maxResponseBodyBytes.value_or(options_.maxResponseBodyBytes);
    easy_.reset(curl_easy_init());
    if (!easy_) {
        return tl::unexpected(outOfMemory());
    }
    CURL* easy = easy_.get();
    const long connectTimeout = static_cast<long>(options_.idleTimeout.count());
    const bool configured =
        setOption(easy, CURLOPT_PRIVATE, static_cast<void*>(this)) &&
        setOption(easy, CURLOPT_ERRORBUFFER, curlMessage_.data()) && setOption(easy, CURLOPT_NOSIGNAL, 1L) &&
        setOption(easy, CURLOPT_URL, url_.c_str()) &&
        setOption(easy, CURLOPT_PROTOCOLS_STR, kAllowedProtocols) &&
        setOption(easy, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols) &&
        setOption(easy, CURLOPT_FOLLOWLOCATION, 0L) && setOption(easy, CURLOPT_NOPROXY, kNeverProxied) &&
        setOption(easy, CURLOPT_CONNECTTIMEOUT_MS, connectTimeout > 0 ? connectTimeout : 1L) &&
        setOption(easy, CURLOPT_WRITEFUNCTION, &HttpTransfer::onBodyBytes) &&
        setOption(easy, CURLOPT_WRITEDATA, static_cast<void*>(this)) &&
        setOption(easy, CURLOPT_HEADERFUNCTION, &HttpTransfer::onHeaderLine) &&
        setOption(easy, CURLOPT_HEADERDATA, static_cast<void*>(this)) &&
        setOption(easy, CURLOPT_NOPROGRESS, 0L) &&
        setOption(easy, CURLOPT_XFERINFOFUNCTION, &HttpTransfer::onProgress) &&
        setOption(easy, CURLOPT_XFERINFODATA, static_cast<void*>(this));
    if (!configured) {
        return tl::unexpected(outOfMemory());
    }
    if (auto done = setMethodAndBody(request); !done) {
        return done;
    }
    return setHeaderFields(request);
}

tl::expected<void, HttpError> HttpTransfer::setMethodAndBody(const HttpRequest& request) {
    CURL* easy = easy_.get();
    bool configured = true;
    const bool bodyless = std::holds_alternative<std::monostate>(request.body);
    // A POST, PUT or PATCH without body announces an empty one: servers wait for the body of such a
    // request when it gives no length, or refuse it.
    const bool announcesEmptyBody = bodyless && (method_ == "POST" || method_ == "PUT" || method_ == "PATCH");
    if (const auto* bytes = std::get_if<std::string>(&request.body); bytes != nullptr || announcesEmptyBody) {
        bytesBody_ = bytes != nullptr ? *bytes : std::string();
        bodySize_ = bytesBody_.size();
        configured =
            setOption(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bytesBody_.size())) &&
            setOption(easy, CURLOPT_POSTFIELDS, bytesBody_.data()) &&
            setOption(easy, CURLOPT_CUSTOMREQUEST, method_.c_str());
    } else if (const auto* file = std::get_if<HttpFileBody>(&request.body)) {
        auto opened = HttpBodyFile::open(file->path);
        if (!opened) {
            return tl::unexpected(opened.error());
        }
        bodyFile_.emplace(std::move(*opened));
        bodySize_ = bodyFile_->size();
        configured = setOption(easy, CURLOPT_UPLOAD, 1L) &&
                     setOption(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodyFile_->size())) &&
                     setOption(easy, CURLOPT_READFUNCTION, &HttpTransfer::onReadBody) &&
                     setOption(easy, CURLOPT_READDATA, static_cast<void*>(this)) &&
                     setOption(easy, CURLOPT_CUSTOMREQUEST, method_.c_str());
    } else if (method_ == "GET") {
        configured = setOption(easy, CURLOPT_HTTPGET, 1L);
    } else if (method_ == "HEAD") {
        configured = setOption(easy, CURLOPT_NOBODY, 1L);
    } else {
        configured = setOption(easy, CURLOPT_CUSTOMREQUEST, method_.c_str());
    }
    if (!configured) {
        return tl::unexpected(outOfMemory());
    }
    return {};
}

tl::expected<void, HttpError> HttpTransfer::setHeaderFields(const HttpRequest& request) {
    for (const HttpHeader& header : request.headers) {
        if (!isToken(header.name) || !isSafeHeaderValue(header.value)) {
            return tl::unexpected(invalid("the header field \"" + header.name + "\" is malformed"));
        }
        // "Name;" is libcurl's way of sending a field with an empty value.
        const std::string line = header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
        if (!appendToCurlList(headerList_, line)) {
            return tl::unexpected(outOfMemory());
        }
    }
    for (std::string_view name : kDefaultFieldsLeftOut) {
        // "Name:" tells libcurl to send no field of that name.
        if (findHeader(request.headers, name) == nullptr &&
            !appendToCurlList(headerList_, std::string(name) + ":")) {
            return tl::unexpected(outOfMemory());
        }
    }
    if (!setOption(easy_.get(), CURLOPT_HTTPHEADER, headerList_.get())) {
        return tl::unexpected(outOfMemory());
    }
    return {};
}

std::size_t HttpTransfer::onBodyBytes(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<HttpTransfer*>(self);
    const std::size_t length = size * count;
    transfer.lastActivity_ = Clock::now();
    std::string& body = transfer.replyBody_;
    const std::size_t limit = transfer.replyBodyLimit_;
    if (length > limit - body.size()) {
        transfer.callbackError_ = HttpError{
            HttpErrorKind::responseTooLarge,
            "the reply body exceeds " + std::to_string(limit) + " bytes, more than this request takes (" +
                transfer.method_ + " " + transfer.url_ + "); it was not accepted. Check the server address."};
        return 0;
    }
    const std::size_t needed = body.size() + length;
    if (needed > body.capacity()) {
        // Doubles as append would, but never past the limit, so a reply at its limit holds no more
        // (a fresh string, since growing one in place may round its capacity up to twice the old).
        std::string grown;
        grown.reserve(std::min(limit, std::max(needed, body.capacity() * 2)));
        grown.append(body);
        body.swap(grown);
    }
    body.append(data, length);
    return length;
}

std::size_t HttpTransfer::onHeaderLine(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<HttpTransfer*>(self);
    const std::size_t length = size * count;
    transfer.lastActivity_ = Clock::now();
    if (!transfer.replyHeaders_.addLine(std::string_view(data, length))) {
        transfer.callbackError_ = HttpError{HttpErrorKind::responseTooLarge,
                                            "the reply's header exceeds " +
                                                std::to_string(transfer.options_.maxResponseHeaderBytes) +
                                                " bytes; it was not accepted"};
        return 0;
    }
    return length;
}

std::size_t HttpTransfer::onReadBody(char* buffer, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<HttpTransfer*>(self);
    auto read = transfer.bodyFile_->readNext(std::span<char>(buffer, size * count));
    if (!read) {
        transfer.callbackError_ = read.error();
        return CURL_READFUNC_ABORT;
    }
    return *read;
}

int HttpTransfer::onProgress(void* self, curl_off_t /*downloadTotal*/, curl_off_t downloaded,
                             curl_off_t /*uploadTotal*/, curl_off_t uploaded) {
    auto& transfer = *static_cast<HttpTransfer*>(self);
    if (downloaded != transfer.downloaded_ || uploaded != transfer.uploaded_) {
        transfer.downloaded_ = downloaded;
        transfer.uploaded_ = uploaded;
        transfer.lastActivity_ = Clock::now();
    }
    return 0;
}

HttpResult HttpTransfer::finish(CURLcode code) {
    HttpResult result = collectReply();
    if (code != CURLE_OK) {
        result.error = callbackError_ ? *callbackError_ : errorFor(code);
    }
    return result;
}

HttpResult HttpTransfer::abandon(HttpErrorKind kind) {
    HttpResult result = collectReply();
    if (kind == HttpErrorKind::timedOut) {
        result.error = HttpError{kind, "nothing arrived for " + std::to_string(options_.idleTimeout.count()) +
                                           " ms (" + method_ + " " + url_ + "); " + adviceFor(kind)};
    } else {
        result.error = HttpError{kind,
                                 "the request was stopped before its reply was complete because the HTTP "
                                 "session was shut down (" +
                                     method_ + " " + url_ + ")"};
    }
    return result;
}

HttpResult HttpTransfer::collectReply() {
    HttpResult result;
    long status = 0;
    if (easy_ && curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
        status >= 100 && status <= 999) {
        result.statusCode = static_cast<int>(status);
    }
    result.headers = replyHeaders_.takeFields();
    result.body = std::move(replyBody_);
    result.wholeBodySent = wholeBodySent();
    return result;
}

std::optional<std::string> HttpTransfer::redirectTarget() const {
    char* target = nullptr;
    if (!easy_ || curl_easy_getinfo(easy_.get(), CURLINFO_REDIRECT_URL, &target) != CURLE_OK ||
        target == nullptr) {
        return std::nullopt;
    }
    return std::string(target);
}

HttpError HttpTransfer::errorFor(CURLcode code) const {
    const HttpErrorKind kind = kindOf(code);
    std::string detail =
        curlMessage_.front() != '\0' ? std::string(curlMessage_.data()) : curl_easy_strerror(code);
    return {kind, detail + " (" + method_ + " " + url_ + "); " + adviceFor(kind)};
}

bool HttpTransfer::wholeBodySent() const {
    if (!bodySize_) {
        return true;
    }
    curl_off_t uploaded = 0;
    if (!easy_ || curl_easy_getinfo(easy_.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded) != CURLE_OK ||
        uploaded < 0) {
        return false;
    }
    return static_cast<std::uint64_t>(uploaded) >= *bodySize_;
}

}  // namespace brisel::cloud
