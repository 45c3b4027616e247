// The service's threads: serial queues, the global queues on one bounded elastic pool, delayed work on one
// timer thread, groups and counting semaphores.
//
// Work items must not throw; an exception that escapes one is caught, logged at critical and
// dropped, and the queue goes on with its next item.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace brisel::common {

// How urgent work is. Serial queues record it; the global queues use it to pick the next waiting
// item (most urgent first, first come first served within one level).
enum class QualityOfService { background, utility, defaultPriority, userInitiated, userInteractive };

// "background", "utility", "default", "userInitiated" or "userInteractive".
std::string_view qualityOfServiceName(QualityOfService qos);

// The label that currentQueueLabel() reports for work on a global queue, for example
// "com.velko.brisel_core.global.utility".
const std::string& globalQueueLabel(QualityOfService qos);

namespace detail {
class SerialQueueCore;
class DispatchGroupCore;
}  // namespace detail

// A FIFO queue with one thread of its own, named after the label (pthread name, shortened to 15
// bytes). Work runs one item at a time in the order it was handed in. All members may be called
// from any thread.
class SerialQueue {
  public:
    explicit SerialQueue(std::string label, QualityOfService qos = QualityOfService::defaultPriority);
    // Runs the work already queued, then joins the thread. Delayed work that is not yet due is
    // dropped. Work handed in while the queue is being destroyed is dropped. When called from a
    // work item of this very queue it returns without waiting; the global pool then joins the thread.
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Queues the work and returns at once.
    void async(std::function<void()> work);
    // Runs the work on the queue and waits until it has run. Called from a work item of this queue,
    // it runs the work at once on the calling thread (instead of waiting on itself).
    void sync(const std::function<void()>& work);
    // Queues the work once the delay has passed on the steady clock. A zero or negative delay
    // queues it at once. Work with the same due time keeps the order of the calls.
    void asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work);
    // True when the calling thread is running a work item of this queue.
    bool isCurrent() const;
    const std::string& label() const;
    QualityOfService qualityOfService() const;
    // Waits until all work queued before the call has run. Returns at once on the queue itself.
    void flush();

  private:
    friend class DispatchGroup;
    std::shared_ptr<detail::SerialQueueCore> core;
};

// How many threads the pool behind the global queues runs at most. Its work (REST completions,
// uploads, savers, delayed work) ends within moments; workflows that block for minutes run on threads
// of their own, so a queue never waits for long on a pool at this bound.
inline constexpr std::size_t kMaxGlobalQueueThreads = 128;

// Runs the work on the global queue of the given quality. The pool behind the global queues starts
// a thread whenever no thread is idle, up to kMaxGlobalQueueThreads; at that bound work waits in its
// queue until a thread is free (logged at warning when the bound is reached, again only after the
// pool has shrunk below it). Threads idle for 10 s end.
void dispatchAsync(QualityOfService qos, std::function<void()> work);
// As dispatchAsync once the delay has passed on the steady clock.
void dispatchAfter(QualityOfService qos, std::chrono::nanoseconds delay, std::function<void()> work);

// Counts outstanding work; waiters and notifications run when the count falls back to zero.
// The group may be destroyed while work of it is still running: that work keeps what it needs.
class DispatchGroup {
  public:
    DispatchGroup();
    ~DispatchGroup();
    DispatchGroup(const DispatchGroup&) = delete;
    DispatchGroup& operator=(const DispatchGroup&) = delete;

    void enter();
    // A leave without a matching enter is a programming error: it is logged at critical and ignored.
    void leave();
    // Waits until the count is zero; false when the timeout passed first.
    bool wait(std::chrono::nanoseconds timeout);
    // Waits until the count is zero, without a time limit.
    void wait();
    // Queues the work on the queue (or global queue) once the count is zero; at once when it is
    // zero now. Each notification runs once. A queue destroyed before then drops its notification.
    void notify(SerialQueue& queue, std::function<void()> work);
    void notify(QualityOfService qos, std::function<void()> work);

  private:
    friend void dispatchAsync(DispatchGroup& group, QualityOfService qos, std::function<void()> work);
    std::shared_ptr<detail::DispatchGroupCore> core;
};

// Enters the group, runs the work on the global queue, then leaves the group.
void dispatchAsync(DispatchGroup& group, QualityOfService qos, std::function<void()> work);

// A counting semaphore: wait() takes one unit, blocking while none is there; signal() gives one.
class DispatchSemaphore {
  public:
    explicit DispatchSemaphore(long value);
    DispatchSemaphore(const DispatchSemaphore&) = delete;
    DispatchSemaphore& operator=(const DispatchSemaphore&) = delete;

    void signal();
    // False when the timeout passed before a unit was available.
    bool wait(std::chrono::nanoseconds timeout);
    void wait();

  private:
    std::mutex mutex;
    std::condition_variable available;
    long count;  // guarded by mutex
};

// The label of the queue whose work runs on the calling thread: a serial queue's label, the global
// label of globalQueueLabel() on a pool thread, empty on any other thread.
std::string currentQueueLabel();

// Stops the timer thread (pending delayed work is dropped), then lets the pool run the work queued so
// far and joins its threads, waiting at most `bound` for running work to end. Returns false (and logs)
// when work was still running at the bound. Dispatching afterwards starts threads again. For tests and
// fatal exits; it does not touch serial queues, whose owners destroy them.
bool shutdownDispatch(std::chrono::nanoseconds bound = std::chrono::seconds(5));

}  // namespace brisel::common
