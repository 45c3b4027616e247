#include <pthread.h>

#include <exception>
#include <utility>

#include "common/dispatch.h"
#include "common/dispatch_internal.h"
#include "common/logger.h"

namespace brisel::common {
namespace detail {

ThreadQueueContext& currentThreadQueueContext() {
    thread_local ThreadQueueContext context;
    return context;
}

void nameCurrentThread(const std::string& label) {
    constexpr std::string_view kPrefix = "com.velko.brisel_core.";
    constexpr std::size_t kMaxNameLength = 15;  // the kernel's limit, without the terminating zero
    std::string_view name = label;
    if (name.starts_with(kPrefix) && name.size() > kPrefix.size()) {
        name.remove_prefix(kPrefix.size());
    }
    std::string shortName(name.substr(0, kMaxNameLength));
    pthread_setname_np(pthread_self(), shortName.c_str());
}

void runWorkItem(const std::function<void()>& work, const std::string& queueLabel) {
    try {
        work();
    } catch (const std::exception& failure) {
        logger().critical("Uncaught exception in work on queue " + queueLabel + ": " + failure.what() +
                          "; the work item was abandoned");
    } catch (...) {
        logger().critical("Uncaught exception of unknown type in work on queue " + queueLabel +
                          "; the work item was abandoned");
    }
}

SerialQueueCore::SerialQueueCore(std::string queueLabel, QualityOfService queueQos)
    : label(std::move(queueLabel)), qos(queueQos) {}

SerialQueueCore::~SerialQueueCore() = default;

void SerialQueueCore::start() {
    thread = std::thread([this] { run(); });
}

bool SerialQueueCore::enqueue(std::function<void()> work) {
    {
        std::lock_guard lock(mutex);
        if (stopping) {
            return false;
        }
        pending.push_back(std::move(work));
    }
    workAvailable.notify_one();
    return true;
}

void SerialQueueCore::stopAndJoin(const std::shared_ptr<SerialQueueCore>& self) {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    workAvailable.notify_one();
    if (!isCurrent()) {
        thread.join();
        return;
    }
    // Destroyed from its own work: the thread finishes the queued work after this item returns.
    // A pool thread joins it; the captured state outlives the queue's thread.
    auto ownThread = std::make_shared<std::thread>(std::move(thread));
    dispatchAsync(QualityOfService::utility, [ownThread, self] { ownThread->join(); });
}

bool SerialQueueCore::isCurrent() const {
    return currentThreadQueueContext().serialQueue == this;
}

void SerialQueueCore::run() {
    nameCurrentThread(label);
    ThreadQueueContext& context = currentThreadQueueContext();
    context.serialQueue = this;
    context.label = &label;
    std::unique_lock lock(mutex);
    for (;;) {
        workAvailable.wait(lock, [this] { return stopping || !pending.empty(); });
        if (pending.empty()) {
            break;  // stopping, and everything queued has run
        }
        std::function<void()> work = std::move(pending.front());
        pending.pop_front();
        lock.unlock();
        runWorkItem(work, label);
        work = nullptr;  // release what the work captured before taking the lock again
        lock.lock();
    }
    context = ThreadQueueContext{};
}

}  // namespace detail

SerialQueue::SerialQueue(std::string label, QualityOfService qos)
    : core(std::make_shared<detail::SerialQueueCore>(std::move(label), qos)) {
    core->start();
}

SerialQueue::~SerialQueue() {
    core->stopAndJoin(core);
}

void SerialQueue::async(std::function<void()> work) {
    core->enqueue(std::move(work));
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (core->isCurrent()) {
        detail::runWorkItem(work, core->label);
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    bool queued = core->enqueue([&] {
        detail::runWorkItem(work, core->label);
        std::lock_guard lock(doneMutex);
        done = true;
        doneChanged.notify_one();
    });
    if (!queued) {
        return;
    }
    std::unique_lock lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
}

void SerialQueue::asyncAfter(std::chrono::nanoseconds delay, std::function<void()> work) {
    if (delay <= std::chrono::nanoseconds::zero()) {
        async(std::move(work));
        return;
    }
    detail::scheduleWork(std::chrono::steady_clock::now() + detail::clampedDuration(delay),
                         std::weak_ptr<detail::SerialQueueCore>(core), std::move(work));
}

bool SerialQueue::isCurrent() const {
    return core->isCurrent();
}

const std::string& SerialQueue::label() const {
    return core->label;
}

QualityOfService SerialQueue::qualityOfService() const {
    return core->qos;
}

void SerialQueue::flush() {
    sync([] {});
}

std::string currentQueueLabel() {
    const std::string* label = detail::currentThreadQueueContext().label;
    return label != nullptr ? *label : std::string();
}

}  // namespace brisel::common
