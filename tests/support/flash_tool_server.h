// The simulator's end of the fake flashing tools: a Unix socket (its path in BRISEL_SIM_TOOL_SOCKET)
// to which each run of tools/fake_flash_tool sends its name and exact arguments, and from which it
// gets the text to print and the status to exit with. Every call is recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <tl/expected.hpp>

#include "common/file_descriptor.h"

namespace brisel::test {

inline constexpr std::string_view kToolSocketVariable = "BRISEL_SIM_TOOL_SOCKET";

struct ToolReply {
    int exitStatus = 0;
    std::string output;
};

struct ToolCall {
    std::string tool;  // the name the tool was run under, e.g. "dfu-util"
    std::vector<std::string> arguments;
    ToolReply reply;
};

// Decides a tool run's reply; called on the server's thread.
using ToolHandler =
    std::function<ToolReply(const std::string& tool, const std::vector<std::string>& arguments)>;

class FlashToolServer {
  public:
    // Listens on `socketPath` (replacing a stale socket there). Errors: the path is too long for a
    // Unix socket, or the socket cannot be made.
    static tl::expected<std::unique_ptr<FlashToolServer>, std::string> start(std::filesystem::path socketPath,
                                                                             ToolHandler handler);
    // Stops and joins the server thread and removes the socket.
    ~FlashToolServer();
    FlashToolServer(const FlashToolServer&) = delete;
    FlashToolServer& operator=(const FlashToolServer&) = delete;

    const std::filesystem::path& socketPath() const { return path; }

    // Every call so far, in order of arrival. Any thread.
    std::vector<ToolCall> calls() const;
    // Waits until `count` calls came or `timeout` passed.
    bool waitForCalls(std::size_t count, std::chrono::milliseconds timeout) const;
    // From now on every run of `tool` gets `reply` (chosen text and status) instead of the handler's;
    // the run is still recorded.
    void overrideReply(const std::string& tool, ToolReply reply);

    // While held, a tool run that arrives is counted and then waits (at most 60 s, the tool's own limit)
    // for the next release (holdReplies(false)) before it gets its reply; runs arrive one at a time.
    void holdReplies(bool hold);
    // Waits until `count` runs have arrived (held or answered) or `timeout` passed.
    bool waitForArrivals(std::size_t count, std::chrono::milliseconds timeout) const;

    nlohmann::ordered_json stateJson() const;

  private:
    FlashToolServer(std::filesystem::path socketPath, ToolHandler handler, common::FileDescriptor listener);
    void run();
    void serve(int client);

    const std::filesystem::path path;
    const ToolHandler handler;
    common::FileDescriptor listener;
    common::FileDescriptor wake;
    mutable std::mutex mutex;
    mutable std::condition_variable arrived;
    std::vector<ToolCall> recorded;              // guarded by mutex
    std::map<std::string, ToolReply> overrides;  // guarded by mutex
    bool holding = false;                        // guarded by mutex
    std::size_t arrivals = 0;                    // guarded by mutex
    std::size_t releases = 0;                    // guarded by mutex
    std::thread thread;                          // last: starts after every member exists
};

// The largest request or reply on the socket.
inline constexpr std::size_t kToolMessageLimit = 256 * 1024;

}  // namespace brisel::test
