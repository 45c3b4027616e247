// Pieces shared by the dispatch sources; not for use outside src/common/dispatch*.cpp and the
// sources that implement the queues.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>

#include "common/dispatch.h"

namespace brisel::common::detail {

// The state of one serial queue, shared with the delayed-work timer and group notifications
// (which hold it weakly) so that work for a destroyed queue is dropped instead of touching freed memory.
class SerialQueueCore {
  public:
    SerialQueueCore(std::string label, QualityOfService qos);
    ~SerialQueueCore();
    SerialQueueCore(const SerialQueueCore&) = delete;
    SerialQueueCore& operator=(const SerialQueueCore&) = delete;

    // Starts the queue's thread; called once, right after construction.
    void start();
    // Queues the work; false (work dropped) once the queue is stopping.
    bool enqueue(std::function<void()> work);
    // Stops taking work, lets the queued work run and joins the thread. From the queue's own thread
    // it only stops taking work and hands the thread to the global pool to be joined; `self` keeps the
    // state alive until then.
    void stopAndJoin(const std::shared_ptr<SerialQueueCore>& self);
    bool isCurrent() const;

    const std::string label;
    const QualityOfService qos;

  private:
    void run();

    std::mutex mutex;
    std::condition_variable workAvailable;
    std::deque<std::function<void()>> pending;  // guarded by mutex
    bool stopping = false;                      // guarded by mutex
    std::thread thread;                         // set once in start(); joined by stopAndJoin()
};

class DispatchGroupCore;

// Where a piece of deferred work goes when it is due: a global queue or a serial queue.
using WorkTarget = std::variant<QualityOfService, std::weak_ptr<SerialQueueCore>>;

// Hands the work to its target now. Work for a serial queue that is gone or stopping is dropped.
void deliverWork(const WorkTarget& target, std::function<void()> work);

// Hands the work to the target once the steady clock reaches `due` (the one timer thread).
void scheduleWork(std::chrono::steady_clock::time_point due, WorkTarget target, std::function<void()> work);

// Stops the timer thread and drops its pending work; scheduling again restarts it.
void stopDelayedWorkTimer();

// Creates the global pool if it does not exist yet (statics created later are destroyed before it).
void ensureGlobalQueuePool();

// Lets the pool finish the queued work and joins its threads, waiting at most `bound`.
bool stopGlobalQueuePool(std::chrono::nanoseconds bound);

// A timeout or delay clamped to [0, 100 years], so that adding it to the steady clock cannot overflow.
inline std::chrono::nanoseconds clampedDuration(std::chrono::nanoseconds duration) {
    constexpr std::chrono::nanoseconds kLongest = std::chrono::hours(24 * 365 * 100);
    return std::clamp(duration, std::chrono::nanoseconds::zero(), kLongest);
}

// Runs one work item, catching and logging what escapes it.
void runWorkItem(const std::function<void()>& work, const std::string& queueLabel);

// What the calling thread runs now: the serial queue (if any) and the label it reports.
struct ThreadQueueContext {
    const SerialQueueCore* serialQueue = nullptr;
    const std::string* label = nullptr;
};
ThreadQueueContext& currentThreadQueueContext();

// Names the calling thread after a queue label (the part after "com.velko.brisel_core.", at most
// 15 bytes).
void nameCurrentThread(const std::string& label);

}  // namespace brisel::common::detail
