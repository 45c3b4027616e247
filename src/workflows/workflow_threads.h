// The threads of the device workflows.
//
// A controller's `respond()` runs on the websocket thread and must return at once. The work that
// outlives it (REST calls it waits for, board reads, tool runs, recordings) runs on a thread of its
// own, started here, that holds everything it needs. Workflows block for minutes, so they never take
// a thread of a fixed pool. How many run at once is bounded: a page that sends thousands of requests
// gets a busy refusal for those over the bound instead of a thread each.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brisel::workflows {

// How many workflows run at once at most: far above what a browser asks for.
inline constexpr std::size_t kMaxRunningWorkflows = 64;

// Whether a workflow was started.
enum class WorkflowStart {
    started,
    busy,  // the bound was reached, or the system gave no thread; the work did not run
};

class WorkflowThreads;

// A place among the running workflows, taken by `WorkflowThreads::reserve` and used by `start`.
// Dropped unused, it frees the place again. Move-only; any thread.
class WorkflowReservation {
  public:
    WorkflowReservation(WorkflowReservation&& other) noexcept;
    WorkflowReservation& operator=(WorkflowReservation&& other) noexcept;
    WorkflowReservation(const WorkflowReservation&) = delete;
    WorkflowReservation& operator=(const WorkflowReservation&) = delete;
    ~WorkflowReservation();

  private:
    friend class WorkflowThreads;
    WorkflowReservation(WorkflowThreads& owner_, std::string label_);

    WorkflowThreads* owner;  // null once used or moved from
    std::string label;
};

// Owns the workflow threads of the process: each runs one workflow to its end and is joined by the
// next start, by `waitUntilIdle` or by the destructor. All members may be called from any thread
// except that a workflow must not wait for itself to end. No member blocks on a running workflow
// except `waitUntilIdle` and the destructor.
class WorkflowThreads {
  public:
    // The one instance of the service, bounded by kMaxRunningWorkflows; it lives until the process ends.
    static WorkflowThreads& shared();

    // At most `limit` workflows (reserved or running) at once; at least one.
    explicit WorkflowThreads(std::size_t limit = kMaxRunningWorkflows);
    // Waits for every workflow still running, then joins its thread.
    ~WorkflowThreads();
    WorkflowThreads(const WorkflowThreads&) = delete;
    WorkflowThreads& operator=(const WorkflowThreads&) = delete;

    // Takes a place for a workflow named `label`, for a controller that must know before it
    // changes anything whether its workflow can run. None when `limit` workflows are reserved or
    // running; the refusal is logged at warning.
    [[nodiscard]] std::optional<WorkflowReservation> reserve(std::string label);

    // Runs `work` on a new thread named after the reservation's label (the thread name is cut to
    // 15 bytes, and currentQueueLabel() reports the whole label inside it). An exception that
    // escapes `work` is logged at critical and the thread ends. When no thread can be started, the
    // failure is logged, the place is freed and `work` is dropped: `busy`. The reservation must
    // come from this instance.
    [[nodiscard]] WorkflowStart start(WorkflowReservation reservation, std::function<void()> work);

    // reserve(label), then start(): `busy` without running `work` when no place is free.
    [[nodiscard]] WorkflowStart start(std::string label, std::function<void()> work);

    // How many workflows are running or reserved now.
    std::size_t running() const;

    // Waits at most `limit` until no workflow runs; true when none does. Joins finished threads.
    bool waitUntilIdle(std::chrono::milliseconds limit);

  private:
    friend class WorkflowReservation;

    struct Entry {
        std::thread thread;
        bool finished = false;
    };

    // Frees a place that was reserved and never started (or whose thread could not be started).
    void release();
    void finished(std::thread::id id);
    // Under `lock`: takes the threads of finished workflows, to be joined outside the lock.
    std::vector<std::thread> takeFinished();

    const std::size_t limit;
    mutable std::mutex lock;
    std::condition_variable changed;
    std::vector<Entry> entries;    // guarded by lock
    std::size_t runningCount = 0;  // reserved or running; guarded by lock
};

// What a refused request is told: the service is busy, try again.
std::string busyMessage();

// WorkflowThreads::shared().reserve(label).
[[nodiscard]] std::optional<WorkflowReservation> reserveWorkflow(std::string label);
// WorkflowThreads::shared().start(reservation, work).
[[nodiscard]] WorkflowStart runWorkflow(WorkflowReservation reservation, std::function<void()> work);
// WorkflowThreads::shared().start(label, work).
[[nodiscard]] WorkflowStart runWorkflow(std::string label, std::function<void()> work);

}  // namespace brisel::workflows
