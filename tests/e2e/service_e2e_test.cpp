// The real brisel_core, each case in a private network and mount namespace (`unshare -rmn`) with a
// home folder of its own, so the fixed port 4751 is free and nothing touches the machine's home.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/file_contents.h"
#include "support/temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using brisel::test_support::readText;

const std::string kService = std::string(BRISEL_BINARY_DIR) + "/src/brisel_core";
const std::string kClient = std::string(BRISEL_SOURCE_DIR) + "/tests/e2e/ws_client.py";
const std::string kPage = std::string(BRISEL_SOURCE_DIR) + "/tests/e2e/handshake_page.html";
const std::string kWifiPresence = std::string(BRISEL_SOURCE_DIR) + "/tests/e2e/wifi_presence.py";
const std::string kBrowser = std::string(BRISEL_SOURCE_DIR) + "/tests/e2e/chromium_handshake.py";
const std::string kListedOriginsService =
    std::string(BRISEL_BINARY_DIR) + "/tests/brisel_core_listed_origins";
// A shell function: an opening handshake to 127.0.0.1:4751 with the Host field $1 and, when given, the
// Origin field $2; prints "$1 $2 => " and the first bytes of the reply, or CLOSED when there is none.
// Another, wait_for_port, waits (bounded) until a port of 127.0.0.1 accepts connections.
constexpr std::string_view kRawHandshake =
    "handshake() {\n"
    "  exec 3<>/dev/tcp/127.0.0.1/4751 || return\n"
    "  printf 'GET / HTTP/1.1\\r\\nHost: %s\\r\\n%bUpgrade: websocket\\r\\nConnection: Upgrade\\r\\n"
    "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\\r\\nSec-WebSocket-Version: 13\\r\\n\\r\\n' "
    "\"$1\" \"${2:+Origin: $2\\r\\n}\" >&3\n"
    "  reply=$(timeout 10 head -c 12 <&3)\n"
    "  exec 3>&-\n"
    "  echo \"$1 ${2:-} => ${reply:-CLOSED}\"\n"
    "}\n"
    "wait_for_port() { for i in $(seq 200); do (exec 3<>/dev/tcp/127.0.0.1/$1) 2>/dev/null && return; "
    "sleep 0.05; done; }\n";
constexpr std::string_view kHandshakeReply =
    R"(REPLY {"command":"handshake","status":"OK","data":{"build":10240000008025}})";

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The messages of log lines ("[time] level: message"), without the library's own lines.
std::vector<std::string> serviceMessages(const std::string& log) {
    std::vector<std::string> messages;
    for (const auto& line : linesOf(log)) {
        const auto head = line.find("] ");
        const auto colon = line.find(": ", head == std::string::npos ? 0 : head);
        if (head == std::string::npos || colon == std::string::npos) {
            continue;
        }
        std::string message = line.substr(colon + 2);
        if (message.rfind("libwebsockets: ", 0) != 0) {
            messages.push_back(message);
        }
    }
    return messages;
}

class ServiceEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(folder.path() / "home");
        fs::create_directories(folder.path() / "tmp");
    }

    fs::path logFile() const { return folder.path() / "home/.local/share/velko/desktop_client.log"; }

    // Runs `body` with bash inside a fresh private network and mount namespace (loopback up, HOME and
    // TMPDIR in the test's folder, $SERVICE/$CLIENT/$PAGE/$F set, start_service/stop_service defined).
    // Returns the script's exit status; its output is in `output`.
    int runInPrivateNamespace(const std::string& body) {
        const fs::path script = folder.path() / "script.sh";
        std::ofstream(script)
            << "set -u\n"
            << "ip link set lo up\n"
            << "F='" << folder.path().string() << "'\n"
            << "export HOME=\"$F/home\" TMPDIR=\"$F/tmp\"\n"
            << "SERVICE='" << kService << "' CLIENT='" << kClient << "' PAGE='" << kPage << "' BROWSER='"
            << kBrowser << "'\n"
            << "start_service() { \"$SERVICE\" >\"$F/service.out\" 2>&1 & SERVICE_PID=$!; }\n"
            << "stop_service() { kill \"$SERVICE_PID\" 2>/dev/null; wait \"$SERVICE_PID\" || true; }\n"
            << "trap 'kill \"${SERVICE_PID:-}\" 2>/dev/null' EXIT\n"
            << body << "\n";
        const fs::path out = folder.path() / "script.out";
        const std::string command =
            "timeout 120 unshare -rmn bash '" + script.string() + "' >'" + out.string() + "' 2>&1";
        const int status = std::system(command.c_str());
        output = readText(out);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    brisel::test_support::TemporaryFolder folder;
    std::string output;
};

// The service is terminated as soon as its last line is on standard output: the file has it too, and
// the service still ends by the signal. A hang-up that its parent has it ignore stays ignored.
TEST_F(ServiceEndToEndTest, FirstRunCreatesTheLogFolderAndFileAndLogsTheStartAndConnection) {
    ASSERT_EQ(runInPrivateNamespace(
                  "trap '' HUP\n"
                  "start_service\n"
                  "/usr/bin/python3 \"$CLIENT\" ws://127.0.0.1:4751 --send '{\"buildNumber\": 0}'\n"
                  "for i in $(seq 400); do grep -q 'Connection closed' \"$F/service.out\" && break; "
                  "sleep 0.05; done\n"
                  "kill -HUP \"$SERVICE_PID\"; kill -TERM \"$SERVICE_PID\"; wait \"$SERVICE_PID\"\n"
                  "echo \"service status $?\"\n"),
              0)
        << output;
    EXPECT_NE(output.find("service status 143"), std::string::npos) << output;
    ASSERT_TRUE(fs::is_regular_file(logFile())) << output;
    const auto messages = serviceMessages(readText(logFile()));
    const std::vector<std::string> expected = {"WIFI: WifiServer starting...",
                                               "WIFI: WifiServer ready.",
                                               "Starting socket server",
                                               "Every web page open in the browser may use this "
                                               "service: this build lists no web application origin. "
                                               "Build with BRISEL_ALLOWED_ORIGINS set to the web "
                                               "application's origins (see README.md).",
                                               "Socket server started",
                                               "Socket connection established",
                                               "Socket opened",
                                               R"(Received web socket data: {"buildNumber": 0})",
                                               "Connection closed"};
    EXPECT_EQ(messages, expected) << readText(logFile());
}

TEST_F(ServiceEndToEndTest, AnOldLogIsReplacedAtStart) {
    fs::create_directories(logFile().parent_path());
    std::ofstream(logFile()) << "[2020-01-01T00:00:00.000+0000] info: a line of an earlier run\n";
    ASSERT_EQ(runInPrivateNamespace("start_service\n"
                                    "/usr/bin/python3 \"$CLIENT\" ws://127.0.0.1:4751\n"
                                    "stop_service\n"),
              0)
        << output;
    const std::string log = readText(logFile());
    EXPECT_EQ(log.find("an earlier run"), std::string::npos) << log;
    ASSERT_FALSE(serviceMessages(log).empty());
    EXPECT_EQ(serviceMessages(log).front(), "WIFI: WifiServer starting...");
}

TEST_F(ServiceEndToEndTest, HandshakeOverIpv4AndIpv6Loopback) {
    ASSERT_EQ(runInPrivateNamespace(
                  "start_service\n"
                  "for url in ws://127.0.0.1:4751 'ws://[::1]:4751'; do\n"
                  "  /usr/bin/python3 \"$CLIENT\" \"$url\" --send '{\"buildNumber\": 10240000008025}'\n"
                  "done\n"
                  "stop_service\n"),
              0)
        << output;
    const auto lines = linesOf(output);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kHandshakeReply), 2) << output;
    EXPECT_EQ(readText(logFile()).find("attempted to connect"), std::string::npos);
}

TEST_F(ServiceEndToEndTest, CredentialNeverReachesTheLogOrStandardOutput) {
    ASSERT_EQ(
        runInPrivateNamespace("start_service\n"
                              "/usr/bin/python3 \"$CLIENT\" ws://127.0.0.1:4751 --send "
                              "'{\"buildNumber\": 1, \"auth_token\": \"sessionid=very-secret-value\"}'\n"
                              "stop_service\n"),
        0)
        << output;
    const std::string log = readText(logFile());
    EXPECT_NE(log.find(R"(info: Received web socket data: {"buildNumber": 1, "auth_token": "***"})"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("very-secret-value"), std::string::npos);
    EXPECT_EQ(readText(folder.path() / "service.out").find("very-secret-value"), std::string::npos);
}

TEST_F(ServiceEndToEndTest, TakenPortStopsTheServiceWithTheFatalLine) {
    const int status = runInPrivateNamespace(
        "/usr/bin/python3 -c 'import socket,time,sys\n"
        "s=socket.socket(socket.AF_INET6); s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)\n"
        "s.bind((\"::\", 4751)); s.listen(); print(\"HELD\", flush=True); time.sleep(30)' &\n"
        "HOLDER=$!\n"
        "for i in $(seq 400); do grep -q HELD \"$F/script.out\" 2>/dev/null && break; sleep 0.05; done\n"
        "grep -q HELD \"$F/script.out\" || { echo 'the port holder did not start'; exit 0; }\n"
        "timeout 20 \"$SERVICE\" >\"$F/service.out\" 2>&1\n"
        "code=$?\n"
        "kill $HOLDER\n"
        "exit $code\n");
    EXPECT_NE(status, 0) << output;
    EXPECT_NE(status, 124) << "the service did not stop";
    const auto messages = serviceMessages(readText(logFile()));
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "Failed to create websocket context!");
    EXPECT_NE(readText(logFile()).find("critical: Failed to create websocket context!"), std::string::npos);
}

TEST_F(ServiceEndToEndTest, HeadlessChromiumCompletesTheHandshake) {
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";
    }
    ASSERT_EQ(
        runInPrivateNamespace("start_service\n"
                              "/usr/bin/python3 \"$CLIENT\" ws://127.0.0.1:4751 >/dev/null\n"
                              "mkdir -p \"$F/profile\"\n"
                              "/usr/bin/python3 \"$BROWSER\" \"$PAGE\" \"$F/profile\" \"$F/chromium.err\"\n"
                              "code=$?\n"
                              "stop_service\n"
                              "exit $code\n"),
        0)
        << output << readText(folder.path() / "chromium.err");
    EXPECT_NE(output.find(R"(REPLY:{"command":"handshake","status":"OK","data":{"build":10240000008025}})"),
              std::string::npos)
        << output;
    EXPECT_NE(readText(logFile()).find(R"(Received web socket data: {"buildNumber": 0})"), std::string::npos);
}

TEST_F(ServiceEndToEndTest, HandshakesAreServedForTheLoopbackNamesOnlyAndEveryRefusalIsLoggedOnce) {
    ASSERT_EQ(
        runInPrivateNamespace(std::string(kRawHandshake) +
                              "start_service\n"
                              "/usr/bin/python3 \"$CLIENT\" ws://127.0.0.1:4751 >/dev/null\n"
                              "for host in evil.example:4751 localhost:4751 127.0.0.1:4751 '[::1]:4751' "
                              "localhost.evil.example; do handshake \"$host\"; done\n"
                              "handshake 127.0.0.1:4751 https://evil.example\n"
                              "stop_service\n"),
        0)
        << output;
    const std::vector<std::string> expected = {
        "evil.example:4751  => CLOSED",      "localhost:4751  => HTTP/1.1 101",
        "127.0.0.1:4751  => HTTP/1.1 101",   "[::1]:4751  => HTTP/1.1 101",
        "localhost.evil.example  => CLOSED", "127.0.0.1:4751 https://evil.example => HTTP/1.1 101"};
    EXPECT_EQ(linesOf(output), expected);
    std::vector<std::string> refusals;
    for (const auto& message : serviceMessages(readText(logFile()))) {
        if (message.rfind("Host ", 0) == 0) {
            refusals.push_back(message);
        }
    }
    const std::vector<std::string> expectedRefusals = {
        R"(Host 127.0.0.1 attempted to connect, dropping connection: Host "evil.example:4751" is not a loopback name of this machine)",
        R"(Host 127.0.0.1 attempted to connect, dropping connection: Host "localhost.evil.example" is not a loopback name of this machine)"};
    EXPECT_EQ(refusals, expectedRefusals) << readText(logFile());
}

TEST_F(ServiceEndToEndTest, ADeploymentThatListsOriginsServesThemOnlyAndChromiumOnAListedPageGetsItsReply) {
    if (std::system("command -v chromium >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "chromium is not installed (scripts/setup.sh installs it)";
    }
    ASSERT_EQ(
        runInPrivateNamespace(
            std::string(kRawHandshake) + "SERVICE='" + kListedOriginsService +
            "'\n"
            "start_service\n"
            "/usr/bin/python3 -m http.server 8000 --bind 127.0.0.1 --directory \"$(dirname \"$PAGE\")\" "
            ">/dev/null 2>&1 & PAGES=$!\n"
            "wait_for_port 4751; wait_for_port 8000\n"
            "for origin in https://studio.example.com https://evil.example http://127.0.0.1:8000 ''; do\n"
            "  handshake 127.0.0.1:4751 \"$origin\"\n"
            "done\n"
            "mkdir -p \"$F/profile\"\n"
            "/usr/bin/python3 \"$BROWSER\" http://127.0.0.1:8000/handshake_page.html \"$F/profile\" "
            "\"$F/chromium.err\"\n"
            "code=$?\n"
            "kill $PAGES\n"
            "stop_service\n"
            "exit $code\n"),
        0)
        << output << readText(folder.path() / "chromium.err");
    const std::vector<std::string> expected = {
        "127.0.0.1:4751 https://studio.example.com => HTTP/1.1 101",
        "127.0.0.1:4751 https://evil.example => CLOSED",
        "127.0.0.1:4751 http://127.0.0.1:8000 => HTTP/1.1 101", "127.0.0.1:4751  => CLOSED",
        R"(REPLY:{"command":"handshake","status":"OK","data":{"build":10240000008025}})"};
    EXPECT_EQ(linesOf(output), expected) << readText(logFile());
    const std::string log = readText(logFile());
    EXPECT_NE(
        log.find(
            R"(Host 127.0.0.1 attempted to connect, dropping connection: Origin "https://evil.example" is not one of the web application's origins)"),
        std::string::npos)
        << log;
    EXPECT_NE(
        log.find("Host 127.0.0.1 attempted to connect, dropping connection: the request names no Origin"),
        std::string::npos);
}

}  // namespace

namespace {

TEST_F(ServiceEndToEndTest, AWifiBoardThatComesAndGoesIsAnnouncedToTheFirstBrowserConnection) {
    ASSERT_EQ(runInPrivateNamespace("start_service\n"
                                    "/usr/bin/python3 '" +
                                    kWifiPresence +
                                    "' ws://127.0.0.1:4751\n"
                                    "stop_service\n"),
              0)
        << output;
    constexpr std::string_view kPresent =
        R"(REPLY {"command":"desktopClientResponse","status":"MESSAGE","data":{"command":)"
        R"("check_device_connection","status":"DONE","data":{"wifi":"true"}}})";
    constexpr std::string_view kGone =
        R"(REPLY {"command":"desktopClientResponse","status":"MESSAGE","data":{"command":)"
        R"("check_device_connection","status":"DONE","data":{"wifi":"false"}}})";
    const std::vector<std::string> expected = {std::string(kPresent), std::string(kGone)};
    EXPECT_EQ(linesOf(output), expected) << readText(logFile());
}

}  // namespace

namespace {

// 4751 answers on the loopback addresses only, 6012 on every address (the namespace gets a veth pair
// with addresses of its own); without IPv6 on the loopback, 127.0.0.1 is served with a warning.
TEST_F(ServiceEndToEndTest, TheWebsocketListensOnLoopbackOnlyWhileWifiBoardsReachEveryAddress) {
    ASSERT_EQ(
        runInPrivateNamespace(
            std::string(kRawHandshake) +
            "ip link add lan0 type veth peer name lan1 && ip link set lan0 up && ip link set lan1 up &&\n"
            "ip addr add 10.23.0.1/24 dev lan0 && ip -6 addr add fd00:23::1/64 dev lan0 nodad || exit 91\n"
            "start_service; wait_for_port 4751; wait_for_port 6012\n"
            "for port in 4751 6012; do for address in 127.0.0.1 ::1 10.23.0.1 fd00:23::1; do\n"
            "  timeout 5 bash -c \"exec 3<>/dev/tcp/$address/$port\" 2>/dev/null && r=accepted || r=refused\n"
            "  echo \"$address $port $r\"\n"
            "done; done\n"
            "stop_service; echo 1 >/proc/sys/net/ipv6/conf/lo/disable_ipv6 || exit 92\n"
            "start_service; /usr/bin/python3 \"$CLIENT\" ws://127.0.0.1:4751 --send '{\"buildNumber\": "
            "10240000008025}'\n"
            "stop_service\n"),
        0)
        << output;
    const std::vector<std::string> expected = {
        "127.0.0.1 4751 accepted", "::1 4751 accepted",        "10.23.0.1 4751 refused",
        "fd00:23::1 4751 refused", "127.0.0.1 6012 accepted",  "::1 6012 accepted",
        "10.23.0.1 6012 accepted", "fd00:23::1 6012 accepted", std::string(kHandshakeReply)};
    EXPECT_EQ(linesOf(output), expected) << readText(logFile());
    EXPECT_NE(readText(logFile()).find("listens on 127.0.0.1:4751 only; it cannot listen on [::1]:4751"),
              std::string::npos);
}

// The first run's lines show the warning of a build without origins; a build that lists them has none.
TEST_F(ServiceEndToEndTest, ABuildThatListsItsOriginsDoesNotWarnThatEveryPageIsServed) {
    ASSERT_EQ(runInPrivateNamespace(std::string(kRawHandshake) + "SERVICE='" + kListedOriginsService +
                                    "'\nstart_service; wait_for_port 4751; stop_service\n"),
              0)
        << output;
    EXPECT_NE(readText(logFile()).find("Starting socket server"), std::string::npos);
    EXPECT_EQ(readText(logFile()).find("Every web page"), std::string::npos);
}

}  // namespace
