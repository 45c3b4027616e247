#include "workflows/workflow_threads.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include "common/dispatch_internal.h"
#include "common/logger.h"

namespace brisel::workflows {

WorkflowThreads& WorkflowThreads::shared() {
    static WorkflowThreads instance;
    return instance;
}

WorkflowThreads::~WorkflowThreads() {
    std::vector<std::thread> threads;
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [this] { return runningCount == 0; });
        for (auto& entry : entries) {
            threads.push_back(std::move(entry.thread));
        }
        entries.clear();
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

void WorkflowThreads::start(std::string label, std::function<void()> work) {
    auto body = [this, label, work = std::move(work)] {
        auto& context = common::detail::currentThreadQueueContext();
        context.label = &label;
        common::detail::nameCurrentThread(label);
        common::detail::runWorkItem(work, label);
        context.label = nullptr;
        finished(std::this_thread::get_id());
    };
    std::vector<std::thread> done;
    bool started = false;
    {
        std::lock_guard guard(lock);
        done = takeFinished();
        try {
            // The entry is filled under the lock, so `finished` always finds it.
            entries.push_back(Entry{std::thread(body), false});
            ++runningCount;
            started = true;
        } catch (const std::system_error& failure) {
            common::logger().critical("Could not start a thread for " + label + " (" + failure.what() +
                                      "); it runs on the thread of its request");
        }
    }
    for (auto& thread : done) {
        thread.join();
    }
    if (!started) {
        {
            std::lock_guard guard(lock);
            ++runningCount;  // `body` counts itself out when it ends
        }
        body();
    }
}

std::size_t WorkflowThreads::running() const {
    std::lock_guard guard(lock);
    return runningCount;
}

bool WorkflowThreads::waitUntilIdle(std::chrono::milliseconds limit) {
    std::vector<std::thread> done;
    bool idle = false;
    {
        std::unique_lock guard(lock);
        idle = changed.wait_for(guard, limit, [this] { return runningCount == 0; });
        done = takeFinished();
    }
    for (auto& thread : done) {
        thread.join();
    }
    return idle;
}

void WorkflowThreads::finished(std::thread::id id) {
    std::lock_guard guard(lock);
    for (auto& entry : entries) {
        if (entry.thread.get_id() == id) {
            entry.finished = true;
        }
    }
    --runningCount;
    changed.notify_all();
}

std::vector<std::thread> WorkflowThreads::takeFinished() {
    std::vector<std::thread> done;
    auto keep =
        std::partition(entries.begin(), entries.end(), [](const Entry& entry) { return !entry.finished; });
    for (auto it = keep; it != entries.end(); ++it) {
        done.push_back(std::move(it->thread));
    }
    entries.erase(keep, entries.end());
    return done;
}

void runWorkflow(std::string label, std::function<void()> work) {
    WorkflowThreads::shared().start(std::move(label), std::move(work));
}

}  // namespace brisel::workflows
