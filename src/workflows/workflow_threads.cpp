#include "workflows/workflow_threads.h"

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include "common/dispatch_internal.h"
#include "common/logger.h"

namespace brisel::workflows {

WorkflowReservation::WorkflowReservation(WorkflowThreads& owner_, std::string label_)
    : owner(&owner_), label(std::move(label_)) {}

WorkflowReservation::WorkflowReservation(WorkflowReservation&& other) noexcept
    : owner(std::exchange(other.owner, nullptr)), label(std::move(other.label)) {}

WorkflowReservation& WorkflowReservation::operator=(WorkflowReservation&& other) noexcept {
    if (this != &other) {
        if (owner != nullptr) {
            owner->release();
        }
        owner = std::exchange(other.owner, nullptr);
        label = std::move(other.label);
    }
    return *this;
}

WorkflowReservation::~WorkflowReservation() {
    if (owner != nullptr) {
        owner->release();
    }
}

WorkflowThreads& WorkflowThreads::shared() {
    static WorkflowThreads instance;
    return instance;
}

WorkflowThreads::WorkflowThreads(std::size_t limit_) : limit(std::max<std::size_t>(limit_, 1)) {}

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

std::optional<WorkflowReservation> WorkflowThreads::reserve(std::string label) {
    {
        std::lock_guard guard(lock);
        if (runningCount < limit) {
            ++runningCount;
            return WorkflowReservation(*this, std::move(label));
        }
    }
    common::logger().warning("Refused " + label + ": " + std::to_string(limit) +
                             " requests are running already; the browser was told to try again");
    return std::nullopt;
}

WorkflowStart WorkflowThreads::start(WorkflowReservation reservation, std::function<void()> work) {
    const std::string label = reservation.label;
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
            entries.push_back(Entry{std::thread(std::move(body)), false});
            reservation.owner = nullptr;  // the place is the thread's now; it frees it when it ends
            started = true;
        } catch (const std::system_error& failure) {
            common::logger().error("Could not start a thread for " + label + " (" + failure.what() +
                                   "); the request was refused. Close other programs or raise the "
                                   "process limit, then try again.");
        }
    }
    for (auto& thread : done) {
        thread.join();
    }
    return started ? WorkflowStart::started : WorkflowStart::busy;
}

WorkflowStart WorkflowThreads::start(std::string label, std::function<void()> work) {
    auto reservation = reserve(std::move(label));
    if (!reservation) {
        return WorkflowStart::busy;
    }
    return start(std::move(*reservation), std::move(work));
}

std::size_t WorkflowThreads::running() const {
    std::lock_guard guard(lock);
    return runningCount;
}

bool WorkflowThreads::waitUntilIdle(std::chrono::milliseconds limit_) {
    std::vector<std::thread> done;
    bool idle = false;
    {
        std::unique_lock guard(lock);
        idle = changed.wait_for(guard, limit_, [this] { return runningCount == 0; });
        done = takeFinished();
    }
    for (auto& thread : done) {
        thread.join();
    }
    return idle;
}

void WorkflowThreads::release() {
    std::lock_guard guard(lock);
    --runningCount;
    changed.notify_all();
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

std::string busyMessage() {
    return "The service is busy: " + std::to_string(kMaxRunningWorkflows) +
           " requests are running already. Please try again when one of them has ended.";
}

std::optional<WorkflowReservation> reserveWorkflow(std::string label) {
    return WorkflowThreads::shared().reserve(std::move(label));
}

WorkflowStart runWorkflow(WorkflowReservation reservation, std::function<void()> work) {
    return WorkflowThreads::shared().start(std::move(reservation), std::move(work));
}

WorkflowStart runWorkflow(std::string label, std::function<void()> work) {
    return WorkflowThreads::shared().start(std::move(label), std::move(work));
}

}  // namespace brisel::workflows
