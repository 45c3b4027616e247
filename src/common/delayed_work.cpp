// The one timer thread: keeps delayed work in due order and hands each piece to its queue when due.
#include <map>
#include <utility>
#include <vector>

#include "common/dispatch.h"
#include "common/dispatch_internal.h"

namespace brisel::common::detail {
namespace {

class DelayedWorkTimer {
  public:
    ~DelayedWorkTimer() { stop(); }

    void schedule(std::chrono::steady_clock::time_point due, WorkTarget target, std::function<void()> work);
    // Joins the thread and drops the pending work (also work scheduled meanwhile); a later
    // schedule() starts a new thread.
    void stop();

  private:
    struct Entry {
        WorkTarget target;
        std::function<void()> work;
    };

    void run();

    std::mutex mutex;
    std::condition_variable changed;
    // Equal due times keep insertion order: multimap inserts at the end of an equal range.
    std::multimap<std::chrono::steady_clock::time_point, Entry> entries;  // guarded by mutex
    bool stopping = false;                                                // guarded by mutex
    std::thread thread;                                                   // guarded by mutex
};

void DelayedWorkTimer::schedule(std::chrono::steady_clock::time_point due, WorkTarget target,
                                std::function<void()> work) {
    {
        std::lock_guard lock(mutex);
        entries.emplace(due, Entry{std::move(target), std::move(work)});
        if (!thread.joinable() && !stopping) {
            thread = std::thread([this] { run(); });
        }
    }
    changed.notify_one();
}

void DelayedWorkTimer::stop() {
    std::thread toJoin;
    {
        std::lock_guard lock(mutex);
        stopping = true;
        toJoin = std::move(thread);
    }
    changed.notify_one();
    if (toJoin.joinable()) {
        toJoin.join();
    }
    std::multimap<std::chrono::steady_clock::time_point, Entry> dropped;
    {
        std::lock_guard lock(mutex);
        dropped.swap(entries);
        stopping = false;
    }
    // `dropped` releases what the work captured outside the lock.
}

void DelayedWorkTimer::run() {
    nameCurrentThread("brisel.timer");
    std::unique_lock lock(mutex);
    while (!stopping) {
        if (entries.empty()) {
            changed.wait(lock);
            continue;
        }
        auto now = std::chrono::steady_clock::now();
        auto firstDue = entries.begin()->first;
        if (now < firstDue) {
            changed.wait_until(lock, firstDue);
            continue;
        }
        std::vector<Entry> due;
        while (!entries.empty() && entries.begin()->first <= now) {
            due.push_back(std::move(entries.begin()->second));
            entries.erase(entries.begin());
        }
        lock.unlock();
        for (Entry& entry : due) {
            deliverWork(entry.target, std::move(entry.work));
        }
        due.clear();
        lock.lock();
    }
}

// Created after the global pool (which it feeds), so destroyed before it.
DelayedWorkTimer& delayedWorkTimer() {
    ensureGlobalQueuePool();
    static DelayedWorkTimer timer;
    return timer;
}

}  // namespace

void deliverWork(const WorkTarget& target, std::function<void()> work) {
    if (const auto* qos = std::get_if<QualityOfService>(&target)) {
        dispatchAsync(*qos, std::move(work));
        return;
    }
    if (auto queue = std::get<std::weak_ptr<SerialQueueCore>>(target).lock()) {
        queue->enqueue(std::move(work));
    }
}

void scheduleWork(std::chrono::steady_clock::time_point due, WorkTarget target, std::function<void()> work) {
    delayedWorkTimer().schedule(due, std::move(target), std::move(work));
}

void stopDelayedWorkTimer() {
    delayedWorkTimer().stop();
}

}  // namespace brisel::common::detail
