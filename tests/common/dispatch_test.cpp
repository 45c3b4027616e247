#include "common/dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brisel::common {
namespace {

using namespace std::chrono_literals;

// Generous bound for anything that should happen "soon"; only a hang trips it.
constexpr auto kSoon = 20s;

// Collects values from several threads.
class Recorder {
  public:
    void add(int value) {
        std::lock_guard lock(mutex);
        values.push_back(value);
    }
    std::vector<int> snapshot() {
        std::lock_guard lock(mutex);
        return values;
    }

  private:
    std::mutex mutex;
    std::vector<int> values;
};

TEST(SerialQueueTest, RunsWorkOneAtATimeInOrder) {
    SerialQueue queue("com.velko.brisel_core.TestQueue");
    Recorder recorder;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 200; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            recorder.add(i);
            running.fetch_sub(1);
        });
    }
    queue.flush();
    std::vector<int> expected(200);
    for (int i = 0; i < 200; ++i) {
        expected[static_cast<std::size_t>(i)] = i;
    }
    EXPECT_EQ(recorder.snapshot(), expected);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueueTest, SyncWaitsForEarlierWorkAndRunsOnTheQueue) {
    SerialQueue queue("com.velko.brisel_core.TestQueue");
    Recorder recorder;
    queue.async([&] {
        std::this_thread::sleep_for(20ms);
        recorder.add(1);
    });
    bool ranOnQueue = false;
    queue.sync([&] {
        ranOnQueue = queue.isCurrent();
        recorder.add(2);
    });
    EXPECT_TRUE(ranOnQueue);
    EXPECT_EQ(recorder.snapshot(), (std::vector<int>{1, 2}));
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueueTest, SyncFromTheQueueItselfRunsInline) {
    SerialQueue queue("com.velko.brisel_core.TestQueue");
    DispatchSemaphore done(0);
    std::atomic<int> steps{0};
    queue.async([&] {
        queue.sync([&] { steps += 1; });
        queue.flush();  // must not wait on itself either
        steps += 1;
        done.signal();
    });
    ASSERT_TRUE(done.wait(kSoon));
    EXPECT_EQ(steps.load(), 2);
}

TEST(SerialQueueTest, DestructorRunsQueuedWork) {
    std::atomic<int> ran{0};
    {
        SerialQueue queue("com.velko.brisel_core.TestQueue");
        for (int i = 0; i < 50; ++i) {
            queue.async([&] {
                std::this_thread::sleep_for(100us);
                ran += 1;
            });
        }
    }
    EXPECT_EQ(ran.load(), 50);
}

TEST(SerialQueueTest, QueueMayBeDestroyedByItsOwnWork) {
    auto queue = std::make_shared<SerialQueue>("com.velko.brisel_core.TestQueue");
    SerialQueue* raw = queue.get();
    DispatchSemaphore gate(0);
    DispatchSemaphore done(0);
    std::atomic<bool> laterWorkRan{false};
    raw->async([&gate, held = std::move(queue)]() mutable {
        gate.wait();
        held.reset();  // the last owner: the queue is destroyed on its own thread
    });
    // Queued behind the destroying item: still runs, because destruction drains the queue.
    raw->async([&] {
        laterWorkRan = true;
        done.signal();
    });
    gate.signal();
    ASSERT_TRUE(done.wait(kSoon));
    EXPECT_TRUE(laterWorkRan);
}

TEST(DelayedWorkTest, ShorterDelaysRunFirstAndEqualDelaysKeepTheirOrder) {
    SerialQueue queue("com.velko.brisel_core.TestQueue");
    Recorder recorder;
    DispatchSemaphore done(0);
    // The gaps between the delays leave the test thread 300 ms to make its calls, so a loaded machine
    // or a sanitizer cannot reorder the due times.
    auto due = 600ms;
    // Equal delays given one after the other: their due times keep the order of the calls.
    queue.asyncAfter(due, [&] { recorder.add(3); });
    queue.asyncAfter(due, [&] { recorder.add(4); });
    queue.asyncAfter(due, [&] { recorder.add(5); });
    queue.asyncAfter(due + 100ms, [&] {
        recorder.add(6);
        done.signal();
    });
    queue.asyncAfter(300ms, [&] { recorder.add(2); });
    queue.asyncAfter(0ns, [&] { recorder.add(1); });
    ASSERT_TRUE(done.wait(kSoon));
    EXPECT_EQ(recorder.snapshot(), (std::vector<int>{1, 2, 3, 4, 5, 6}));
}

TEST(DelayedWorkTest, GlobalDelayedWorkRunsAfterItsDelay) {
    DispatchSemaphore done(0);
    auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point ranAt;
    dispatchAfter(QualityOfService::utility, 50ms, [&] {
        ranAt = std::chrono::steady_clock::now();
        done.signal();
    });
    ASSERT_TRUE(done.wait(kSoon));
    EXPECT_GE(ranAt - start, 50ms);
}

TEST(DelayedWorkTest, WorkForADestroyedQueueIsDropped) {
    std::atomic<bool> ran{false};
    {
        SerialQueue queue("com.velko.brisel_core.TestQueue");
        queue.asyncAfter(30ms, [&] { ran = true; });
    }
    DispatchSemaphore later(0);
    dispatchAfter(QualityOfService::utility, 60ms, [&] { later.signal(); });
    ASSERT_TRUE(later.wait(kSoon));
    EXPECT_FALSE(ran);
}

TEST(GlobalQueuesTest, BlockedWorkDoesNotStarveTheWorkThatReleasesIt) {
    constexpr int kBlocked = 32;
    DispatchSemaphore gate(0);
    DispatchSemaphore finished(0);
    for (int i = 0; i < kBlocked; ++i) {
        dispatchAsync(QualityOfService::defaultPriority, [&] {
            gate.wait();
            finished.signal();
        });
    }
    dispatchAsync(QualityOfService::background, [&] {
        for (int i = 0; i < kBlocked; ++i) {
            gate.signal();
        }
    });
    for (int i = 0; i < kBlocked; ++i) {
        ASSERT_TRUE(finished.wait(kSoon)) << "only " << i << " blocked tasks finished";
    }
}

// The threads of this process, from /proc/self/status.
int processThreads() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

TEST(GlobalQueuesTest, BlockedWorkBeyondTheBoundWaitsForAFreeThread) {
    constexpr int kBound = static_cast<int>(kMaxGlobalQueueThreads);
    constexpr int kWork = kBound + 64;
    DispatchSemaphore warmedUp(0);
    dispatchAsync(QualityOfService::defaultPriority, [&] { warmedUp.signal(); });
    ASSERT_TRUE(warmedUp.wait(kSoon)) << "the pool and the threads it needs are set up first";
    const int threadsBefore = processThreads();
    DispatchSemaphore gate(0);
    DispatchSemaphore entered(0);
    DispatchSemaphore finished(0);
    for (int i = 0; i < kWork; ++i) {
        dispatchAsync(QualityOfService::defaultPriority, [&] {
            entered.signal();
            gate.wait();
            finished.signal();
        });
    }
    for (int i = 0; i < kBound; ++i) {
        ASSERT_TRUE(entered.wait(kSoon)) << "only " << i << " blocked tasks started";
    }
    EXPECT_LE(processThreads() - threadsBefore, kBound);

    for (int i = 0; i < kWork; ++i) {
        gate.signal();
    }
    for (int i = 0; i < kWork; ++i) {
        ASSERT_TRUE(finished.wait(kSoon)) << "only " << i << " tasks finished";
    }
}

TEST(GlobalQueuesTest, ShutdownRunsQueuedWorkAndTheQueuesWorkAgainAfterwards) {
    std::atomic<int> ran{0};
    for (int i = 0; i < 20; ++i) {
        dispatchAsync(QualityOfService::utility, [&] { ran += 1; });
    }
    EXPECT_TRUE(shutdownDispatch());
    EXPECT_EQ(ran.load(), 20);
    DispatchSemaphore done(0);
    dispatchAsync(QualityOfService::utility, [&] { done.signal(); });
    EXPECT_TRUE(done.wait(kSoon));
}

TEST(DispatchGroupTest, WaitReturnsWhenAllWorkHasLeft) {
    DispatchGroup group;
    std::atomic<int> ran{0};
    for (int i = 0; i < 10; ++i) {
        dispatchAsync(group, QualityOfService::utility, [&] {
            std::this_thread::sleep_for(5ms);
            ran += 1;
        });
    }
    ASSERT_TRUE(group.wait(kSoon));
    EXPECT_EQ(ran.load(), 10);
}

TEST(DispatchGroupTest, WaitTimesOutWhileWorkIsOutstanding) {
    DispatchGroup group;
    group.enter();
    EXPECT_FALSE(group.wait(20ms));
    group.leave();
    EXPECT_TRUE(group.wait(0ns));
}

TEST(DispatchGroupTest, NotifyRunsOnceOnTheQueueAfterTheLastLeave) {
    SerialQueue queue("com.velko.brisel_core.TestQueue");
    DispatchGroup group;
    DispatchSemaphore notified(0);
    std::atomic<int> notifications{0};
    std::atomic<bool> onQueue{false};
    group.enter();
    group.enter();
    group.notify(queue, [&] {
        onQueue = queue.isCurrent();
        notifications += 1;
        notified.signal();
    });
    group.leave();
    EXPECT_FALSE(notified.wait(20ms));
    group.leave();
    ASSERT_TRUE(notified.wait(kSoon));
    group.enter();
    group.leave();
    queue.flush();
    EXPECT_EQ(notifications.load(), 1);
    EXPECT_TRUE(onQueue);
}

TEST(DispatchGroupTest, NotifyOnAnEmptyGroupRunsAtOnceAndExtraLeaveIsIgnored) {
    DispatchGroup group;
    group.leave();  // unbalanced: logged, ignored
    DispatchSemaphore notified(0);
    group.notify(QualityOfService::utility, [&] { notified.signal(); });
    EXPECT_TRUE(notified.wait(kSoon));
    group.enter();
    EXPECT_FALSE(group.wait(1ms));
    group.leave();
}

TEST(DispatchSemaphoreTest, WaitTakesUnitsAndTimesOutWithoutOne) {
    DispatchSemaphore semaphore(1);
    EXPECT_TRUE(semaphore.wait(0ns));
    EXPECT_FALSE(semaphore.wait(10ms));
    std::thread signaller([&] {
        std::this_thread::sleep_for(10ms);
        semaphore.signal();
    });
    EXPECT_TRUE(semaphore.wait(kSoon));
    signaller.join();
    EXPECT_FALSE(semaphore.wait(std::chrono::nanoseconds::min()));
}

TEST(DispatchSemaphoreTest, HugeTimeoutsDoNotOverflow) {
    DispatchSemaphore semaphore(0);
    semaphore.signal();
    EXPECT_TRUE(semaphore.wait(std::chrono::nanoseconds::max()));
}

TEST(CurrentQueueLabelTest, NamesTheQueueThePoolLevelOrNothing) {
    EXPECT_EQ(currentQueueLabel(), "");

    SerialQueue queue("com.velko.brisel_core.ServerQueue", QualityOfService::utility);
    std::string onSerial;
    queue.sync([&] { onSerial = currentQueueLabel(); });
    EXPECT_EQ(onSerial, "com.velko.brisel_core.ServerQueue");
    EXPECT_EQ(queue.qualityOfService(), QualityOfService::utility);

    DispatchSemaphore done(0);
    std::string onGlobal;
    dispatchAsync(QualityOfService::background, [&] {
        onGlobal = currentQueueLabel();
        done.signal();
    });
    ASSERT_TRUE(done.wait(kSoon));
    EXPECT_EQ(onGlobal, "com.velko.brisel_core.global.background");
    EXPECT_EQ(globalQueueLabel(QualityOfService::defaultPriority), "com.velko.brisel_core.global.default");
}

TEST(CurrentQueueLabelTest, ThreadCarriesAShortenedName) {
    SerialQueue queue("com.velko.brisel_core.InFlightProcessQueue");
    std::string name;
    queue.sync([&] {
        char buffer[32] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        name = buffer;
    });
    EXPECT_EQ(name, "InFlightProcess");
}

TEST(SerialQueueTest, EscapingExceptionIsContainedAndTheQueueGoesOn) {
    SerialQueue queue("com.velko.brisel_core.TestQueue");
    queue.async([] { throw std::runtime_error("boom"); });
    bool ran = false;
    queue.sync([&] { ran = true; });
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace brisel::common
