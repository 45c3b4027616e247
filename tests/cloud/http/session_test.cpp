#include "cloud/http/session.h"

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "support/fake_cloud.h"
#include "support/raw_tcp_server.h"

namespace brisel::cloud {
namespace {

using namespace std::chrono_literals;
using test::FakeCloud;
using test::ReplyEnding;
using test::ScriptedReply;

// Generous: only a hung session would take this long.
constexpr auto kPatience = 30s;

HttpResult send(HttpSession& session, HttpRequest request) {
    std::promise<HttpResult> outcome;
    auto arrived = outcome.get_future();
    session.submit(std::move(request),
                   [&outcome](HttpResult result) { outcome.set_value(std::move(result)); });
    if (arrived.wait_for(kPatience) != std::future_status::ready) {
        ADD_FAILURE() << "no completion within " << kPatience.count() << " s";
        HttpResult none;
        none.error = HttpError{HttpErrorKind::transferFailed, "test gave up waiting"};
        return none;
    }
    return arrived.get();
}

HttpErrorKind errorKind(const HttpResult& result) {
    EXPECT_TRUE(result.error.has_value());
    return result.error ? result.error->kind : HttpErrorKind::transferFailed;
}

std::string randomBytes(std::size_t count) {
    std::mt19937 generator(12345);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(count, '\0');
    for (char& value : bytes) {
        value = static_cast<char>(byte(generator));
    }
    return bytes;
}

// A private folder under the temporary directory, removed with its contents at the end.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "brisel-http-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary folder");
        }
        path_ = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// A port on which nothing listens, held for the socket's lifetime so that no one else takes it.
class RefusingPort {
  public:
    RefusingPort() : descriptor_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof(address);
        if (descriptor_ < 0 || bind(descriptor_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            getsockname(descriptor_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            throw std::runtime_error("cannot reserve a port");
        }
        port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() { close(descriptor_); }
    int port() const { return port_; }

  private:
    int descriptor_;
    int port_ = 0;
};

class HttpSessionTest : public ::testing::Test {
  protected:
    FakeCloud cloud;
    HttpSession session;
};

TEST_F(HttpSessionTest, GetArrivesWithExactlyTheCallersFields) {
    cloud.reply("GET", "/api/run/7/device_kind",
                ScriptedReply::json(200, R"({"device_kind":"NANO_33_BLE"})"));

    const HttpResult result = send(session, {.method = "GET",
                                             .url = cloud.baseUrl() + "/api/run/7/device_kind?key=a%20b",
                                             .headers = {{"X-brisel-api-key", "secret"}},
                                             .body = {},
                                             .credentialHeader = "X-brisel-api-key"});

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_EQ(result.statusCode, 200);
    EXPECT_EQ(result.body, R"({"device_kind":"NANO_33_BLE"})");
    const HttpHeader* contentType = findHeader(result.headers, "content-type");
    ASSERT_NE(contentType, nullptr);
    EXPECT_EQ(contentType->value, "application/json");
    EXPECT_TRUE(result.wholeBodySent);

    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/api/run/7/device_kind");
    EXPECT_EQ(requests[0].query, "key=a%20b");
    EXPECT_EQ(requests[0].header("X-brisel-api-key"), "secret");
    EXPECT_FALSE(requests[0].header("Accept"));
    EXPECT_FALSE(requests[0].header("Content-Type"));
    EXPECT_FALSE(requests[0].header("Expect"));
    EXPECT_TRUE(requests[0].body.empty());
}

TEST_F(HttpSessionTest, PostAndPatchBodiesArriveByteForByte) {
    cloud.reply("POST", "/api/collection", ScriptedReply::json(201, R"({"id":5})"));
    cloud.reply("PATCH", "/api/model/3", ScriptedReply::json(200, "{}"));
    // Large enough that libcurl would otherwise announce "Expect: 100-continue".
    const std::string binary = randomBytes(std::size_t{2} * 1024 * 1024);
    const std::string json = R"({"latency":12})";

    const HttpResult posted =
        send(session,
             {.method = "POST", .url = cloud.baseUrl() + "/api/collection", .headers = {}, .body = binary});
    const HttpResult patched =
        send(session, {.method = "PATCH",
                       .url = cloud.baseUrl() + "/api/model/3",
                       .headers = {{"Accept", "application/json"}, {"Content-Type", "application/json"}},
                       .body = json});

    ASSERT_FALSE(posted.error) << describe(*posted.error);
    ASSERT_FALSE(patched.error) << describe(*patched.error);
    EXPECT_EQ(posted.statusCode, 201);
    EXPECT_TRUE(posted.wholeBodySent);
    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_TRUE(requests[0].body == binary);
    EXPECT_FALSE(requests[0].header("Content-Type"));
    EXPECT_FALSE(requests[0].header("Accept"));
    EXPECT_FALSE(requests[0].header("Expect"));
    EXPECT_EQ(requests[1].method, "PATCH");
    EXPECT_EQ(requests[1].body, json);
    EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
    EXPECT_EQ(requests[1].header("Accept"), "application/json");
}

TEST_F(HttpSessionTest, PostWithoutBodyAnnouncesAnEmptyOne) {
    // Servers wait for the body of a POST that gives no length, or refuse it.
    cloud.reply("POST", "/api/collection/4/data_collection/start", ScriptedReply::json(200, "{}"));

    const HttpResult result =
        send(session, {.method = "POST", .url = cloud.baseUrl() + "/api/collection/4/data_collection/start"});

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_EQ(result.statusCode, 200);
    ASSERT_EQ(cloud.requests().size(), 1U);
    EXPECT_EQ(cloud.requests()[0].header("Content-Length"), "0");
    EXPECT_FALSE(cloud.requests()[0].header("Content-Type"));
}

TEST_F(HttpSessionTest, ErrorStatusIsAReplyNotATransportError) {
    cloud.reply("GET", "/api/build/1", ScriptedReply::text(500, "broken"));

    const HttpResult result = send(session, {.method = "GET", .url = cloud.baseUrl() + "/api/build/1"});

    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.statusCode, 500);
    EXPECT_EQ(result.body, "broken");
}

TEST(HttpSessionFailureTest, RefusedConnectionIsReported) {
    HttpSession session;
    RefusingPort nobody;

    const HttpResult result =
        send(session, {.method = "GET", .url = "http://127.0.0.1:" + std::to_string(nobody.port()) + "/api"});

    EXPECT_EQ(errorKind(result), HttpErrorKind::couldNotConnect);
    EXPECT_FALSE(result.statusCode);
}

TEST(HttpSessionProxyTest, LoopbackIsNeverReachedThroughAProxy) {
    FakeCloud cloud;
    RefusingPort proxy;
    cloud.reply("GET", "/direct", ScriptedReply::json(200, "direct"));
    // Set before the session's thread starts, and cleared after it has ended.
    ASSERT_EQ(setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1), 0);
    HttpResult byAddress;
    HttpResult byName;
    {
        HttpSession session;
        byAddress = send(session, {.method = "GET", .url = cloud.baseUrl() + "/direct"});
        byName = send(session, {.method = "GET",
                                .url = "http://localhost:" + std::to_string(cloud.port()) + "/direct"});
    }
    unsetenv("http_proxy");

    EXPECT_EQ(byAddress.body, "direct");
    EXPECT_EQ(byName.body, "direct");
}

TEST(HttpSessionFailureTest, SilentServerTimesOutAfterTheIdleTimeout) {
    FakeCloud cloud;
    HttpSession session(HttpSessionOptions{.idleTimeout = 300ms});
    ScriptedReply late = ScriptedReply::json(200, "{}");
    late.delay = 20s;
    cloud.reply("GET", "/slow", late);

    const HttpResult result = send(session, {.method = "GET", .url = cloud.baseUrl() + "/slow"});

    EXPECT_EQ(errorKind(result), HttpErrorKind::timedOut);
    EXPECT_FALSE(result.statusCode);
}

TEST(HttpSessionFailureTest, ReplyThatKeepsMovingOutlastsTheIdleTimeout) {
    FakeCloud cloud;
    HttpSession session(HttpSessionOptions{.idleTimeout = 500ms});
    ScriptedReply paced = ScriptedReply::text(200, std::string(64, 'x'));
    paced.bodyPace = 150ms;  // 8 pieces: about 1.2 s in all, never 500 ms without a byte
    cloud.reply("GET", "/paced", paced);

    const HttpResult result = send(session, {.method = "GET", .url = cloud.baseUrl() + "/paced"});

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_EQ(result.body, std::string(64, 'x'));
}

TEST_F(HttpSessionTest, OnlyHttpAndHttpsAreLoaded) {
    const std::string hostAndPort = "127.0.0.1:" + std::to_string(cloud.port());

    EXPECT_EQ(errorKind(send(session, {.method = "GET", .url = "ftp://" + hostAndPort + "/x"})),
              HttpErrorKind::unsupportedScheme);
    EXPECT_EQ(errorKind(send(session, {.method = "GET", .url = "file:///etc/passwd"})),
              HttpErrorKind::unsupportedScheme);
    EXPECT_EQ(errorKind(send(session, {.method = "GET", .url = "gopher://" + hostAndPort + "/x"})),
              HttpErrorKind::unsupportedScheme);
    EXPECT_TRUE(cloud.requests().empty());
}

TEST_F(HttpSessionTest, MalformedRequestsAreRefusedBeforeSending) {
    const std::string url = cloud.baseUrl() + "/api";

    EXPECT_EQ(errorKind(send(session, {.method = "GET", .url = "not a url"})), HttpErrorKind::invalidRequest);
    EXPECT_EQ(errorKind(send(session, {.method = "GE T", .url = url})), HttpErrorKind::invalidRequest);
    EXPECT_EQ(errorKind(send(session, {.method = "GET", .url = url, .headers = {{"X-a", "1\r\nX-b: 2"}}})),
              HttpErrorKind::invalidRequest);
    EXPECT_EQ(errorKind(send(session, {.method = "GET", .url = url, .headers = {{"Bad Name", "1"}}})),
              HttpErrorKind::invalidRequest);
    EXPECT_TRUE(cloud.requests().empty());
}

class HttpRedirectTest : public ::testing::Test {
  protected:
    HttpRequest credentialed(const std::string& url, std::string method = "GET", HttpBody body = {}) {
        return {.method = std::move(method),
                .url = url,
                .headers = {{"X-brisel-api-key", "secret"}, {"X-Other", "kept"}},
                .body = std::move(body),
                .credentialHeader = "X-brisel-api-key"};
    }

    FakeCloud cloud;
    FakeCloud elsewhere;
    HttpSession session;
};

TEST_F(HttpRedirectTest, SameOriginKeepsTheCredential) {
    cloud.reply("GET", "/old", ScriptedReply::redirect(302, "/new"));
    cloud.reply("GET", "/new", ScriptedReply::json(200, "done"));

    const HttpResult result = send(session, credentialed(cloud.baseUrl() + "/old"));

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_EQ(result.statusCode, 200);
    EXPECT_EQ(result.body, "done");
    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[1].path, "/new");
    EXPECT_EQ(requests[1].header("X-brisel-api-key"), "secret");
}

TEST_F(HttpRedirectTest, OtherOriginNeverSeesTheCredential) {
    // Out to another port, then back to the first origin: the credential stays dropped.
    cloud.reply("GET", "/start", ScriptedReply::redirect(307, elsewhere.baseUrl() + "/away"));
    elsewhere.reply("GET", "/away", ScriptedReply::redirect(307, cloud.baseUrl() + "/back"));
    cloud.reply("GET", "/back", ScriptedReply::json(200, "home"));

    const HttpResult result = send(session, credentialed(cloud.baseUrl() + "/start"));

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_EQ(result.body, "home");
    ASSERT_EQ(elsewhere.requests().size(), 1U);
    EXPECT_FALSE(elsewhere.requests()[0].header("X-brisel-api-key"));
    EXPECT_EQ(elsewhere.requests()[0].header("X-Other"), "kept");
    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_FALSE(requests[1].header("X-brisel-api-key"));
}

TEST_F(HttpRedirectTest, OtherHostNameOnTheSamePortIsAnotherOrigin) {
    const std::string byName = "http://localhost:" + std::to_string(cloud.port()) + "/named";
    cloud.reply("GET", "/start", ScriptedReply::redirect(301, byName));
    cloud.reply("GET", "/named", ScriptedReply::json(200, "named"));

    const HttpResult result = send(session, credentialed(cloud.baseUrl() + "/start"));

    ASSERT_FALSE(result.error) << describe(*result.error);
    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_FALSE(requests[1].header("X-brisel-api-key"));
}

TEST_F(HttpRedirectTest, RedirectThatWouldDropTheBodyEndsTheRequestUnfollowed) {
    for (const int status : {301, 302, 303}) {
        cloud.reply("POST", "/form", ScriptedReply::redirect(status, "/result"));
        cloud.reply("GET", "/result", ScriptedReply::json(200, "ok"));

        const HttpResult result =
            send(session, credentialed(cloud.baseUrl() + "/form", "POST", std::string("{}")));

        EXPECT_EQ(errorKind(result), HttpErrorKind::redirectNotFollowed) << status;
        EXPECT_EQ(result.statusCode, status);
    }
    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 3U);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
    }
}

// The redirect arrives while the file is still being sent: the next request sends it again from its
// first byte.
TEST_F(HttpRedirectTest, EarlyTemporaryRedirectSendsTheWholeFileAgain) {
    TemporaryFolder folder;
    const std::string bytes = randomBytes(std::size_t{8} * 1024 * 1024);
    const auto file = writeFile(folder.path() / "sensors_0.bin", bytes);
    test::RawTcpServer early(
        {test::RawExchange{test::RawExchange::Reading::headerOnly,
                           "HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere.baseUrl() +
                               "/upload\r\nContent-Length: 0\r\n\r\n",
                           test::RawExchange::Ending::stayOpen}});
    elsewhere.reply("POST", "/upload", ScriptedReply::json(200, "{}"));

    const HttpResult result =
        send(session, credentialed(early.baseUrl() + "/upload", "POST", HttpFileBody{file}));

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_TRUE(result.wholeBodySent);
    ASSERT_EQ(elsewhere.requests().size(), 1U);
    EXPECT_TRUE(elsewhere.requests()[0].body == bytes);
}

TEST_F(HttpRedirectTest, TemporaryRedirectResendsTheFileBody) {
    TemporaryFolder folder;
    const std::string bytes = randomBytes(std::size_t{300} * 1024);
    const auto file = writeFile(folder.path() / "sensors_0.bin", bytes);
    cloud.reply("POST", "/upload", ScriptedReply::redirect(307, elsewhere.baseUrl() + "/upload"));
    elsewhere.reply("POST", "/upload", ScriptedReply::json(200, "{}"));

    const HttpResult result =
        send(session, credentialed(cloud.baseUrl() + "/upload", "POST", HttpFileBody{file}));

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_TRUE(result.wholeBodySent);
    ASSERT_EQ(elsewhere.requests().size(), 1U);
    EXPECT_EQ(elsewhere.requests()[0].method, "POST");
    EXPECT_TRUE(elsewhere.requests()[0].body == bytes);
}

TEST_F(HttpRedirectTest, RedirectToAnotherSchemeIsNotFollowed) {
    cloud.reply("GET", "/start",
                ScriptedReply::redirect(302, "ftp://127.0.0.1:" + std::to_string(cloud.port())));

    const HttpResult result = send(session, credentialed(cloud.baseUrl() + "/start"));

    EXPECT_EQ(errorKind(result), HttpErrorKind::unsupportedScheme);
    EXPECT_EQ(result.statusCode, 302);
    EXPECT_EQ(cloud.requests().size(), 1U);
}

TEST(HttpRedirectLimitTest, EndlessRedirectsStopAtTheLimit) {
    FakeCloud cloud;
    HttpSession session(HttpSessionOptions{.maxRedirects = 3});
    cloud.reply("GET", "/loop", ScriptedReply::redirect(302, "/loop"));

    const HttpResult result = send(session, {.method = "GET", .url = cloud.baseUrl() + "/loop"});

    EXPECT_EQ(errorKind(result), HttpErrorKind::tooManyRedirects);
    EXPECT_EQ(cloud.requests().size(), 4U);
}

TEST_F(HttpSessionTest, FileBodyIsStreamedByteForByte) {
    TemporaryFolder folder;
    const std::string bytes = randomBytes(std::size_t{5} * 1024 * 1024 + 17);
    const auto file = writeFile(folder.path() / "sensors_12.bin", bytes);
    cloud.reply("POST", "/api/collection/4/json", ScriptedReply::json(200, "{}"));

    const HttpResult result =
        send(session, {.method = "POST",
                       .url = cloud.baseUrl() + "/api/collection/4/json?first_packet_index=12",
                       .headers = {},
                       .body = HttpFileBody{file}});

    ASSERT_FALSE(result.error) << describe(*result.error);
    EXPECT_TRUE(result.wholeBodySent);
    const auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].query, "first_packet_index=12");
    EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(bytes.size()));
    EXPECT_FALSE(requests[0].header("Content-Type"));
    EXPECT_FALSE(requests[0].header("Expect"));
    EXPECT_TRUE(requests[0].body == bytes);
}

TEST_F(HttpSessionTest, UnreadableFileIsReportedWithoutSending) {
    TemporaryFolder folder;

    const HttpResult missing = send(
        session,
        {.method = "POST", .url = cloud.baseUrl() + "/up", .body = HttpFileBody{folder.path() / "none"}});
    const HttpResult folderAsFile = send(
        session, {.method = "POST", .url = cloud.baseUrl() + "/up", .body = HttpFileBody{folder.path()}});
    const HttpResult device =
        send(session, {.method = "POST", .url = cloud.baseUrl() + "/up", .body = HttpFileBody{"/dev/null"}});

    EXPECT_EQ(errorKind(missing), HttpErrorKind::fileUnreadable);
    EXPECT_FALSE(missing.wholeBodySent);
    EXPECT_EQ(errorKind(folderAsFile), HttpErrorKind::fileUnreadable);
    EXPECT_EQ(errorKind(device), HttpErrorKind::fileUnreadable);
    EXPECT_TRUE(cloud.requests().empty());
}

TEST_F(HttpSessionTest, ReplyCutAfterItsStatusIsATransportError) {
    ScriptedReply cut = ScriptedReply::json(200, std::string(1000, 'a'));
    cut.ending = ReplyEnding::cutBody;
    cloud.reply("GET", "/cut", cut);

    const HttpResult result = send(session, {.method = "GET", .url = cloud.baseUrl() + "/cut"});

    EXPECT_EQ(errorKind(result), HttpErrorKind::connectionLost);
    EXPECT_EQ(result.statusCode, 200);
    EXPECT_EQ(result.body, std::string(500, 'a'));
}

TEST_F(HttpSessionTest, ConnectionDroppedWithoutReplyIsATransportError) {
    cloud.reply("POST", "/drop", ScriptedReply::dropped());

    const HttpResult result =
        send(session, {.method = "POST", .url = cloud.baseUrl() + "/drop", .body = "x"});

    EXPECT_EQ(errorKind(result), HttpErrorKind::connectionLost);
    EXPECT_FALSE(result.statusCode);
    EXPECT_EQ(cloud.requests().size(), 1U);
}

TEST(HttpSessionLimitTest, OversizedReplyBodyIsRefused) {
    FakeCloud cloud;
    HttpSession session(HttpSessionOptions{.maxResponseBodyBytes = 1000});
    constexpr std::size_t kBodySize = std::size_t{100} * 1000;
    cloud.reply("GET", "/big", ScriptedReply::text(200, std::string(kBodySize, 'b')));
    struct Case {
        const char* label;
        std::optional<std::size_t> requestLimit;
        bool taken;
    };
    for (const Case& row : {Case{"the session's limit", std::nullopt, false},
                            Case{"a larger limit of the request", 2 * kBodySize, true},
                            Case{"a request limit just below the body", kBodySize - 1, false}}) {
        const HttpResult result = send(
            session,
            {.method = "GET", .url = cloud.baseUrl() + "/big", .maxResponseBodyBytes = row.requestLimit});

        const std::size_t limit = row.requestLimit.value_or(1000);
        if (row.taken) {
            EXPECT_FALSE(result.error) << row.label;
            EXPECT_EQ(result.body.size(), kBodySize) << row.label;
        } else {
            EXPECT_EQ(errorKind(result), HttpErrorKind::responseTooLarge) << row.label;
        }
        EXPECT_LE(result.body.capacity(), limit) << row.label << ": the reply held more than its limit";
    }
}

TEST_F(HttpSessionTest, ManyConcurrentRequestsCompleteExactlyOnceOnTheSessionThread) {
    constexpr int kSubmitters = 4;
    constexpr int kPerSubmitter = 40;
    constexpr int kTotal = kSubmitters * kPerSubmitter;
    cloud.reply("GET", "/echo", ScriptedReply::json(200, "pong"));
    std::vector<std::atomic<int>> completions(kTotal);
    std::atomic<int> succeeded{0};
    std::atomic<int> offThread{0};
    std::atomic<int> finished{0};
    std::promise<void> allDone;

    {
        std::vector<std::jthread> submitters;
        submitters.reserve(kSubmitters);
        for (int submitter = 0; submitter < kSubmitters; ++submitter) {
            submitters.emplace_back([&, submitter] {
                for (int index = submitter * kPerSubmitter; index < (submitter + 1) * kPerSubmitter;
                     ++index) {
                    session.submit(
                        {.method = "GET", .url = cloud.baseUrl() + "/echo?n=" + std::to_string(index)},
                        [&, index](const HttpResult& result) {
                            completions[static_cast<std::size_t>(index)]++;
                            if (!result.error && result.body == "pong") {
                                succeeded++;
                            }
                            if (!session.isSessionThread()) {
                                offThread++;
                            }
                            if (++finished == kTotal) {
                                allDone.set_value();
                            }
                        });
                }
            });
        }
    }
    ASSERT_EQ(allDone.get_future().wait_for(kPatience), std::future_status::ready)
        << finished.load() << " of " << kTotal << " completed, " << cloud.requests().size() << " arrived";

    EXPECT_EQ(succeeded.load(), kTotal);
    EXPECT_EQ(offThread.load(), 0);
    for (const auto& count : completions) {
        EXPECT_EQ(count.load(), 1);
    }
    EXPECT_EQ(cloud.requests().size(), static_cast<std::size_t>(kTotal));
}

TEST_F(HttpSessionTest, CompletionMaySubmitTheNextRequest) {
    cloud.reply("GET", "/first", ScriptedReply::json(200, "1"));
    cloud.reply("GET", "/second", ScriptedReply::json(200, "2"));
    std::promise<HttpResult> second;

    session.submit({.method = "GET", .url = cloud.baseUrl() + "/first"}, [&](const HttpResult&) {
        session.submit({.method = "GET", .url = cloud.baseUrl() + "/second"},
                       [&](HttpResult result) { second.set_value(std::move(result)); });
    });
    auto arrived = second.get_future();

    ASSERT_EQ(arrived.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(arrived.get().body, "2");
}

TEST(HttpSessionShutdownTest, RequestsInFlightAndWaitingEndCancelled) {
    FakeCloud cloud;
    ScriptedReply never = ScriptedReply::json(200, "{}");
    never.delay = 60s;
    cloud.reply("GET", "/hang", never);
    constexpr int kInFlight = 5;
    constexpr int kWaiting = 20;
    std::atomic<int> cancelled{0};
    std::atomic<int> other{0};
    auto count = [&](HttpResult result) {
        if (result.error && result.error->kind == HttpErrorKind::cancelled) {
            cancelled++;
        } else {
            other++;
        }
    };
    const auto started = std::chrono::steady_clock::now();

    {
        HttpSession session;
        for (int index = 0; index < kInFlight; ++index) {
            session.submit({.method = "GET", .url = cloud.baseUrl() + "/hang"}, count);
        }
        ASSERT_TRUE(cloud.waitForRequests(kInFlight, kPatience));
        for (int index = 0; index < kWaiting; ++index) {
            session.submit({.method = "GET", .url = cloud.baseUrl() + "/hang"}, count);
        }
    }

    EXPECT_EQ(cancelled.load(), kInFlight + kWaiting);
    EXPECT_EQ(other.load(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, kPatience);
}

TEST(HttpSessionSharedTest, SharedSessionServesRequests) {
    FakeCloud cloud;
    cloud.reply("GET", "/shared", ScriptedReply::json(200, "shared"));

    const HttpResult result =
        send(HttpSession::shared(), {.method = "GET", .url = cloud.baseUrl() + "/shared"});

    EXPECT_EQ(result.body, "shared");
    EXPECT_EQ(&HttpSession::shared(), &HttpSession::shared());
}

}  // namespace
}  // namespace brisel::cloud
