#include "cloud/http/session.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "cloud/http/curl_handles.h"
#include "cloud/http/origin.h"
#include "cloud/http/redirect.h"
#include "cloud/http/transfer.h"
#include "common/dispatch.h"
#include "common/logger.h"

namespace brisel::cloud {

namespace {

using Clock = HttpTransfer::Clock;

// The longest the session thread sleeps without anything to do; it is woken for new requests
// and for shutdown, so this only bounds the wait.
constexpr std::chrono::milliseconds kLongestWait = std::chrono::seconds(60);

// One submitted request from its submission to its completion, across its redirects.
struct Chain {
    HttpRequest request;
    HttpSession::Completion completion;
    std::optional<HttpOrigin> firstOrigin;
    int redirects = 0;
};

void complete(Chain& chain, HttpResult result) {
    try {
        chain.completion(std::move(result));
    } catch (const std::exception& exception) {
        common::logger().critical(std::string("An HTTP completion threw an exception, which was dropped: ") +
                                  exception.what());
    } catch (...) {
        common::logger().critical("An HTTP completion threw an exception, which was dropped");
    }
}

HttpResult failure(HttpError error) {
    HttpResult result;
    result.error = std::move(error);
    return result;
}

HttpError notSent(const HttpRequest& request) {
    return {HttpErrorKind::cancelled, "the request was not sent because the HTTP session was shut down (" +
                                          request.method + " " + request.url + ")"};
}

}  // namespace

struct HttpSession::State {
    explicit State(const HttpSessionOptions& sessionOptions) : options(sessionOptions) {}

    void run();
    void start(Chain chain);
    void finishDoneTransfers();
    void expireIdleTransfers();
    void waitForWork();
    void cancelEverything(std::vector<Chain> submitted);

    const HttpSessionOptions options;
    CurlMulti multi;

    std::mutex mutex;
    std::vector<Chain> waiting;  // guarded by mutex
    bool stopRequested = false;  // guarded by mutex
    bool accepting = true;       // guarded by mutex; false once the session thread has seen the stop

    // Session thread only: the transfers in flight, by easy handle.
    struct InFlight {
        Chain chain;
        std::unique_ptr<HttpTransfer> transfer;
    };
    std::map<CURL*, InFlight> inFlight;

    std::thread thread;
};

HttpSession::HttpSession(HttpSessionOptions options) : state_(std::make_unique<State>(options)) {
    if (!ensureCurlReady()) {
        throw std::runtime_error("libcurl could not be set up");
    }
    state_->multi.reset(curl_multi_init());
    if (!state_->multi) {
        throw std::runtime_error("libcurl could not create a multi handle");
    }
    // The logger must outlive the process-wide session, so it is created first.
    static_cast<void>(common::logger());
    state_->thread = std::thread([state = state_.get()] { state->run(); });
}

HttpSession::~HttpSession() {
    assert(!isSessionThread() && "an HTTP session must not be destroyed on its own thread");
    {
        std::lock_guard lock(state_->mutex);
        state_->stopRequested = true;
        curl_multi_wakeup(state_->multi.get());
    }
    state_->thread.join();
}

void HttpSession::submit(HttpRequest request, Completion completion) {
    Chain chain{std::move(request), std::move(completion), std::nullopt, 0};
    {
        std::lock_guard lock(state_->mutex);
        if (state_->accepting) {
            state_->waiting.push_back(std::move(chain));
            // Under the lock, so that the multi handle cannot be freed meanwhile.
            curl_multi_wakeup(state_->multi.get());
            return;
        }
    }
    complete(chain, failure(notSent(chain.request)));
}

bool HttpSession::isSessionThread() const {
    return std::this_thread::get_id() == state_->thread.get_id();
}

HttpSession& HttpSession::shared() {
    // The completions of its requests hand their outcomes to the global queues, also those that the
    // session's shutdown at exit cancels: the queues are set up first, so that they outlive it.
    static const bool queuesSetUp = [] {
        common::dispatchAsync(common::QualityOfService::background, [] {});
        return true;
    }();
    static HttpSession session;
    static_cast<void>(queuesSetUp);
    return session;
}

void HttpSession::State::run() {
    while (true) {
        std::vector<Chain> submitted;
        bool stopping = false;
        {
            std::lock_guard lock(mutex);
            submitted.swap(waiting);
            stopping = stopRequested;
            accepting = !stopping;
        }
        if (stopping) {
            cancelEverything(std::move(submitted));
            return;
        }
        try {
            for (Chain& chain : submitted) {
                start(std::move(chain));
            }
            int running = 0;
            const CURLMcode performed = curl_multi_perform(multi.get(), &running);
            if (performed != CURLM_OK) {
                common::logger().error(std::string("The HTTP session could not drive its transfers: ") +
                                       curl_multi_strerror(performed));
            }
            finishDoneTransfers();
            expireIdleTransfers();
            waitForWork();
        } catch (const std::exception& exception) {
            common::logger().critical(std::string("The HTTP session thread caught an exception: ") +
                                      exception.what());
        }
    }
}

void HttpSession::State::start(Chain chain) {
    if (!chain.firstOrigin) {
        auto origin = httpOriginOf(chain.request.url);
        if (!origin) {
            complete(chain, failure(origin.error()));
            return;
        }
        chain.firstOrigin = *origin;
    }
    auto transfer = std::make_unique<HttpTransfer>(options);
    if (auto prepared = transfer->prepare(chain.request); !prepared) {
        complete(chain, failure(prepared.error()));
        return;
    }
    const CURLMcode added = curl_multi_add_handle(multi.get(), transfer->handle());
    if (added != CURLM_OK) {
        complete(chain, failure(HttpError{HttpErrorKind::transferFailed,
                                          std::string("the request could not be started: ") +
                                              curl_multi_strerror(added) + "; try again"}));
        return;
    }
    CURL* handle = transfer->handle();
    inFlight.emplace(handle, InFlight{std::move(chain), std::move(transfer)});
}

void HttpSession::State::finishDoneTransfers() {
    int messagesLeft = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &messagesLeft)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        // The message is gone once its handle leaves the multi handle: copy what is needed first.
        CURL* handle = message->easy_handle;
        const CURLcode code = message->data.result;
        auto node = inFlight.extract(handle);
        curl_multi_remove_handle(multi.get(), handle);
        if (node.empty()) {
            continue;
        }
        InFlight& done = node.mapped();
        const std::optional<std::string> target = done.transfer->redirectTarget();
        HttpResult result = done.transfer->finish(code);
        done.transfer.reset();
        const bool redirects =
            !result.error && result.statusCode && isFollowedRedirect(*result.statusCode) && target;
        if (!redirects) {
            complete(done.chain, std::move(result));
            continue;
        }
        if (done.chain.redirects >= options.maxRedirects) {
            result.error = HttpError{
                HttpErrorKind::tooManyRedirects,
                "the server redirected more than " + std::to_string(options.maxRedirects) + " times (" +
                    done.chain.request.method + " " + done.chain.request.url + "); check the server address"};
            complete(done.chain, std::move(result));
            continue;
        }
        auto next = followRedirect(done.chain.request, *result.statusCode, *target, *done.chain.firstOrigin);
        if (!next) {
            result.error = next.error();
            complete(done.chain, std::move(result));
            continue;
        }
        done.chain.request = std::move(*next);
        ++done.chain.redirects;
        start(std::move(done.chain));
    }
}

void HttpSession::State::expireIdleTransfers() {
    const Clock::time_point now = Clock::now();
    for (auto entry = inFlight.begin(); entry != inFlight.end();) {
        if (now - entry->second.transfer->lastActivity() < options.idleTimeout) {
            ++entry;
            continue;
        }
        InFlight expired = std::move(entry->second);
        entry = inFlight.erase(entry);
        curl_multi_remove_handle(multi.get(), expired.transfer->handle());
        complete(expired.chain, expired.transfer->abandon(HttpErrorKind::timedOut));
    }
}

void HttpSession::State::waitForWork() {
    std::chrono::milliseconds wait = kLongestWait;
    long curlWait = -1;
    if (curl_multi_timeout(multi.get(), &curlWait) == CURLM_OK && curlWait >= 0) {
        wait = std::min(wait, std::chrono::milliseconds(curlWait));
    }
    const Clock::time_point now = Clock::now();
    for (const auto& [handle, entry] : inFlight) {
        const auto untilIdle = std::chrono::ceil<std::chrono::milliseconds>(entry.transfer->lastActivity() +
                                                                            options.idleTimeout - now);
        wait = std::clamp(untilIdle, std::chrono::milliseconds(0), wait);
    }
    curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait.count()), nullptr);
}

void HttpSession::State::cancelEverything(std::vector<Chain> submitted) {
    for (auto& [handle, entry] : inFlight) {
        curl_multi_remove_handle(multi.get(), handle);
    }
    std::map<CURL*, InFlight> stopped;
    stopped.swap(inFlight);
    for (auto& [handle, entry] : stopped) {
        complete(entry.chain, entry.transfer->abandon(HttpErrorKind::cancelled));
    }
    for (Chain& chain : submitted) {
        complete(chain, failure(notSent(chain.request)));
    }
}

}  // namespace brisel::cloud
