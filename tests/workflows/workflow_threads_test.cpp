#include "workflows/workflow_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "common/dispatch.h"
#include "common/time_scale.h"

namespace brisel::workflows {
namespace {

using namespace std::chrono_literals;

TEST(WorkflowThreadsTest, WorkflowsRunOnTheirOwnLabelledThreadsAndIdleIsSeen) {
    WorkflowThreads threads;
    std::promise<void> release;
    auto released = release.get_future().share();
    std::promise<std::string> label;
    threads.start("com.velko.brisel_core.FlashWorkflow", [&, released] {
        label.set_value(common::currentQueueLabel());
        released.wait();
    });
    std::atomic<int> quick{0};
    threads.start("quick", [&] { ++quick; });
    EXPECT_EQ(label.get_future().get(), "com.velko.brisel_core.FlashWorkflow");
    EXPECT_FALSE(threads.waitUntilIdle(20ms));
    EXPECT_GE(threads.running(), 1U);
    release.set_value();
    EXPECT_TRUE(threads.waitUntilIdle(10s));
    EXPECT_EQ(threads.running(), 0U);
    EXPECT_EQ(quick.load(), 1);
}

TEST(WorkflowThreadsTest, AnEscapingExceptionEndsOnlyItsWorkflow) {
    WorkflowThreads threads;
    threads.start("throws", [] { throw std::runtime_error("board gone"); });
    EXPECT_TRUE(threads.waitUntilIdle(10s));
    std::atomic<bool> ran{false};
    threads.start("after", [&] { ran = true; });
    EXPECT_TRUE(threads.waitUntilIdle(10s));
    EXPECT_TRUE(ran);
}

TEST(TimeScaleTest, OnlyFractionsUpToOneAreTakenAndWaitsNeverVanish) {
    EXPECT_EQ(common::parseTimeScale("0.02"), 0.02);
    EXPECT_EQ(common::parseTimeScale("1"), 1.0);
    for (const char* refused : {"", "0", "-0.5", "1.5", "nan", "inf", "0.1x", " 0.1"}) {
        EXPECT_FALSE(common::parseTimeScale(refused)) << refused;
    }
    ASSERT_TRUE(common::setTimeScale(0.001));
    EXPECT_EQ(common::scaled(30s), 30ms);
    EXPECT_EQ(common::scaled(100ms), 1ms);
    EXPECT_FALSE(common::setTimeScale(0.0));
    EXPECT_EQ(common::timeScale(), 0.001);
    ASSERT_TRUE(common::setTimeScale(1.0));
    EXPECT_EQ(common::scaled(5s), 5000ms);
}

}  // namespace
}  // namespace brisel::workflows
