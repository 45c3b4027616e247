// The global queues: one elastic pool of threads, with a bound, shared by all qualities of service.
#include <array>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "common/dispatch.h"
#include "common/dispatch_internal.h"
#include "common/logger.h"

namespace brisel::common {
namespace {

constexpr auto kIdleThreadLifetime = std::chrono::seconds(10);
constexpr std::size_t kLevelCount = 5;

std::size_t levelIndex(QualityOfService qos) {
    return static_cast<std::size_t>(qos);
}

// The shared state of the pool. Each worker holds it too, so a worker still running at process exit
// (after a bounded shutdown gave up on it) never touches freed memory.
class GlobalQueuePool : public std::enable_shared_from_this<GlobalQueuePool> {
  public:
    void submit(QualityOfService qos, std::function<void()> work);
    // Lets the queued work run, then waits at most `bound` for every worker to end and joins them.
    // False when workers were still running at the bound; they stay owned by the pool.
    bool stop(std::chrono::nanoseconds bound);
    // At process exit: as stop(), then workers still running are let go.
    void stopForExit(std::chrono::nanoseconds bound);

  private:
    struct WorkItem {
        QualityOfService qos;
        std::function<void()> work;
    };

    enum class WorkerStart { started, atBound, refused };

    // Starts one idle worker unless the pool is at its bound; `refused` (and nothing changed) when the
    // system refuses a thread.
    WorkerStart startWorkerLocked();
    void workerMain();
    bool hasPendingLocked() const;
    WorkItem takeMostUrgentLocked();
    std::vector<std::thread> takeExitedLocked() { return std::exchange(exited, {}); }
    static void joinAll(std::vector<std::thread>& threads);

    std::mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable workerEnded;
    std::array<std::deque<WorkItem>, kLevelCount> pending;  // by level; guarded by mutex
    std::size_t pendingCount = 0;                           // guarded by mutex
    std::size_t idleWorkers = 0;                            // guarded by mutex
    bool stopping = false;                                  // guarded by mutex
    bool atBoundReported = false;  // the bound was logged since the pool last went below it; mutex
    std::map<std::thread::id, std::thread> workers;  // running workers; guarded by mutex
    std::vector<std::thread> exited;                 // ended, not yet joined; guarded by mutex
};

void GlobalQueuePool::submit(QualityOfService qos, std::function<void()> work) {
    std::vector<std::thread> toJoin;
    WorkerStart workerStart = WorkerStart::started;
    bool reportBound = false;
    {
        std::lock_guard lock(mutex);
        pending[levelIndex(qos)].push_back(WorkItem{qos, std::move(work)});
        ++pendingCount;
        // Every waiting item needs an idle worker of its own, or blocked work could starve it.
        if (pendingCount > idleWorkers) {
            workerStart = startWorkerLocked();
        }
        if (workerStart == WorkerStart::atBound && !atBoundReported) {
            atBoundReported = true;
            reportBound = true;
        }
        toJoin = takeExitedLocked();
    }
    workAvailable.notify_one();
    joinAll(toJoin);
    if (workerStart == WorkerStart::refused) {
        logger().critical(
            "The system refused a new thread for the global queues; queued work waits until a running "
            "thread is free. Close other programs or raise the process limit, then restart Brisel.");
    } else if (reportBound) {
        logger().warning("The global queues run " + std::to_string(kMaxGlobalQueueThreads) +
                         " threads, their most; further work waits until one of them is free");
    }
}

GlobalQueuePool::WorkerStart GlobalQueuePool::startWorkerLocked() {
    if (workers.size() >= kMaxGlobalQueueThreads) {
        return WorkerStart::atBound;
    }
    try {
        // The worker needs the mutex before it looks itself up, so it is in the map by then.
        std::thread worker([self = shared_from_this()] { self->workerMain(); });
        std::thread::id id = worker.get_id();
        workers.emplace(id, std::move(worker));
    } catch (const std::system_error&) {
        return WorkerStart::refused;
    }
    ++idleWorkers;
    return WorkerStart::started;
}

bool GlobalQueuePool::hasPendingLocked() const {
    return pendingCount > 0;
}

GlobalQueuePool::WorkItem GlobalQueuePool::takeMostUrgentLocked() {
    for (std::size_t level = kLevelCount; level-- > 0;) {
        if (!pending[level].empty()) {
            WorkItem item = std::move(pending[level].front());
            pending[level].pop_front();
            --pendingCount;
            return item;
        }
    }
    return WorkItem{QualityOfService::defaultPriority, nullptr};
}

void GlobalQueuePool::workerMain() {
    detail::nameCurrentThread("brisel.global");
    detail::ThreadQueueContext& context = detail::currentThreadQueueContext();
    std::unique_lock lock(mutex);
    for (;;) {
        bool expired = false;
        while (!hasPendingLocked()) {
            if (stopping || expired) {
                --idleWorkers;
                auto self = workers.find(std::this_thread::get_id());
                exited.push_back(std::move(self->second));
                workers.erase(self);
                atBoundReported = false;
                workerEnded.notify_all();
                return;
            }
            expired = workAvailable.wait_for(lock, kIdleThreadLifetime) == std::cv_status::timeout;
        }
        WorkItem item = takeMostUrgentLocked();
        --idleWorkers;
        lock.unlock();
        context.label = &globalQueueLabel(item.qos);
        detail::runWorkItem(item.work, *context.label);
        context.label = nullptr;
        item.work = nullptr;  // release what the work captured before taking the lock again
        lock.lock();
        ++idleWorkers;
    }
}

void GlobalQueuePool::joinAll(std::vector<std::thread>& threads) {
    for (std::thread& thread : threads) {
        thread.join();
    }
    threads.clear();
}

bool GlobalQueuePool::stop(std::chrono::nanoseconds bound) {
    std::vector<std::thread> toJoin;
    bool allEnded = false;
    {
        std::unique_lock lock(mutex);
        stopping = true;
        workAvailable.notify_all();
        allEnded =
            workerEnded.wait_for(lock, detail::clampedDuration(bound), [this] { return workers.empty(); });
        stopping = false;
        toJoin = takeExitedLocked();
    }
    joinAll(toJoin);
    return allEnded;
}

void GlobalQueuePool::stopForExit(std::chrono::nanoseconds bound) {
    if (stop(bound)) {
        return;
    }
    std::lock_guard lock(mutex);
    for (auto& [id, worker] : workers) {
        worker.detach();  // it holds the pool's state; the process is ending
    }
}

// Owns the pool for the life of the process. Created after the logger, so destroyed before it:
// work still draining at exit may log.
class GlobalQueuePoolOwner {
  public:
    GlobalQueuePoolOwner() : pool(std::make_shared<GlobalQueuePool>()) {}
    ~GlobalQueuePoolOwner() {
        constexpr auto kExitBound = std::chrono::seconds(5);
        pool->stopForExit(kExitBound);
    }
    GlobalQueuePoolOwner(const GlobalQueuePoolOwner&) = delete;
    GlobalQueuePoolOwner& operator=(const GlobalQueuePoolOwner&) = delete;

    const std::shared_ptr<GlobalQueuePool> pool;
};

GlobalQueuePool& globalQueuePool() {
    logger();
    static GlobalQueuePoolOwner owner;
    return *owner.pool;
}

}  // namespace

std::string_view qualityOfServiceName(QualityOfService qos) {
    switch (qos) {
        case QualityOfService::background:
            return "background";
        case QualityOfService::utility:
            return "utility";
        case QualityOfService::defaultPriority:
            return "default";
        case QualityOfService::userInitiated:
            return "userInitiated";
        case QualityOfService::userInteractive:
            return "userInteractive";
    }
    return "default";
}

const std::string& globalQueueLabel(QualityOfService qos) {
    static const std::array<std::string, kLevelCount> labels = [] {
        std::array<std::string, kLevelCount> names;
        for (std::size_t level = 0; level < kLevelCount; ++level) {
            names[level] = "com.velko.brisel_core.global." +
                           std::string(qualityOfServiceName(static_cast<QualityOfService>(level)));
        }
        return names;
    }();
    return labels[levelIndex(qos)];
}

void dispatchAsync(QualityOfService qos, std::function<void()> work) {
    globalQueuePool().submit(qos, std::move(work));
}

void dispatchAfter(QualityOfService qos, std::chrono::nanoseconds delay, std::function<void()> work) {
    if (delay <= std::chrono::nanoseconds::zero()) {
        dispatchAsync(qos, std::move(work));
        return;
    }
    detail::scheduleWork(std::chrono::steady_clock::now() + detail::clampedDuration(delay), qos,
                         std::move(work));
}

namespace detail {

void ensureGlobalQueuePool() {
    globalQueuePool();
}

bool stopGlobalQueuePool(std::chrono::nanoseconds bound) {
    return globalQueuePool().stop(bound);
}

}  // namespace detail

bool shutdownDispatch(std::chrono::nanoseconds bound) {
    detail::stopDelayedWorkTimer();
    bool allEnded = detail::stopGlobalQueuePool(bound);
    if (!allEnded) {
        logger().critical(
            "Dispatch shutdown: work on the global queues is still running after the time limit; "
            "its threads are left running");
    }
    return allEnded;
}

}  // namespace brisel::common
