#include <utility>
#include <vector>

#include "common/dispatch.h"
#include "common/dispatch_internal.h"
#include "common/logger.h"

namespace brisel::common {
namespace detail {

class DispatchGroupCore {
  public:
    void enter();
    void leave();
    bool waitFor(std::chrono::nanoseconds timeout);
    void wait();
    void notify(WorkTarget target, std::function<void()> work);

  private:
    struct Notification {
        WorkTarget target;
        std::function<void()> work;
    };

    std::mutex mutex;
    std::condition_variable becameEmpty;
    long outstanding = 0;                     // guarded by mutex
    std::vector<Notification> notifications;  // guarded by mutex
};

void DispatchGroupCore::enter() {
    std::lock_guard lock(mutex);
    ++outstanding;
}

void DispatchGroupCore::leave() {
    std::vector<Notification> due;
    bool unbalanced = false;
    {
        std::lock_guard lock(mutex);
        if (outstanding == 0) {
            unbalanced = true;
        } else if (--outstanding == 0) {
            due.swap(notifications);
            becameEmpty.notify_all();
        }
    }
    if (unbalanced) {
        logger().critical("DispatchGroup left more often than entered; the extra leave was ignored");
        return;
    }
    for (Notification& notification : due) {
        deliverWork(notification.target, std::move(notification.work));
    }
}

bool DispatchGroupCore::waitFor(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex);
    return becameEmpty.wait_for(lock, clampedDuration(timeout), [this] { return outstanding == 0; });
}

void DispatchGroupCore::wait() {
    std::unique_lock lock(mutex);
    becameEmpty.wait(lock, [this] { return outstanding == 0; });
}

void DispatchGroupCore::notify(WorkTarget target, std::function<void()> work) {
    {
        std::lock_guard lock(mutex);
        if (outstanding != 0) {
            notifications.push_back(Notification{std::move(target), std::move(work)});
            return;
        }
    }
    deliverWork(target, std::move(work));
}

}  // namespace detail

DispatchGroup::DispatchGroup() : core(std::make_shared<detail::DispatchGroupCore>()) {}

DispatchGroup::~DispatchGroup() = default;

void DispatchGroup::enter() {
    core->enter();
}

void DispatchGroup::leave() {
    core->leave();
}

bool DispatchGroup::wait(std::chrono::nanoseconds timeout) {
    return core->waitFor(timeout);
}

void DispatchGroup::wait() {
    core->wait();
}

void DispatchGroup::notify(SerialQueue& queue, std::function<void()> work) {
    core->notify(std::weak_ptr<detail::SerialQueueCore>(queue.core), std::move(work));
}

void DispatchGroup::notify(QualityOfService qos, std::function<void()> work) {
    core->notify(qos, std::move(work));
}

void dispatchAsync(DispatchGroup& group, QualityOfService qos, std::function<void()> work) {
    std::shared_ptr<detail::DispatchGroupCore> core = group.core;
    core->enter();
    dispatchAsync(qos, [core, work = std::move(work)] {
        detail::runWorkItem(work, currentQueueLabel());
        core->leave();
    });
}

}  // namespace brisel::common
