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
    ASSERT_EQ(threads.start("com.velko.brisel_core.FlashWorkflow",
                            [&, released] {
                                label.set_value(common::currentQueueLabel());
                                released.wait();
                            }),
              WorkflowStart::started);
    std::atomic<int> quick{0};
    ASSERT_EQ(threads.start("quick", [&] { ++quick; }), WorkflowStart::started);
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
    ASSERT_EQ(threads.start("throws", [] { throw std::runtime_error("board gone"); }),
              WorkflowStart::started);
    EXPECT_TRUE(threads.waitUntilIdle(10s));
    std::atomic<bool> ran{false};
    ASSERT_EQ(threads.start("after", [&] { ran = true; }), WorkflowStart::started);
    EXPECT_TRUE(threads.waitUntilIdle(10s));
    EXPECT_TRUE(ran);
}

TEST(WorkflowThreadsTest, WorkBeyondTheBoundIsRefusedAndRunningWorkIsLeftAlone) {
    WorkflowThreads threads(2);
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<int> ended{0};
    auto blocking = [&, released] {
        released.wait();
        ++ended;
    };
    ASSERT_EQ(threads.start("first", blocking), WorkflowStart::started);
    {
        auto held = threads.reserve("second");
        ASSERT_TRUE(held);
        EXPECT_FALSE(threads.reserve("third")) << "a reservation takes a place";
    }
    ASSERT_EQ(threads.start("second", blocking), WorkflowStart::started) << "a dropped reservation frees it";

    std::atomic<bool> refusedRan{false};
    EXPECT_EQ(threads.start("over the bound", [&] { refusedRan = true; }), WorkflowStart::busy);
    EXPECT_FALSE(threads.reserve("over the bound"));
    EXPECT_EQ(threads.running(), 2U);
    EXPECT_EQ(ended.load(), 0) << "a refusal disturbed running work";

    release.set_value();
    ASSERT_TRUE(threads.waitUntilIdle(10s));
    EXPECT_EQ(ended.load(), 2);
    EXPECT_FALSE(refusedRan.load());
    ASSERT_EQ(threads.start("after", [] {}), WorkflowStart::started);
    EXPECT_TRUE(threads.waitUntilIdle(10s));
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
