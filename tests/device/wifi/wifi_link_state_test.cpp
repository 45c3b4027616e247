// The thread-safe pieces of a WiFi connection: acknowledgement signal, data buffer, prediction mailbox.
#include <gtest/gtest.h>

#include <atomic>
#include <string_view>
#include <thread>
#include <vector>

#include "device/wifi/wifi_ack_signal.h"
#include "device/wifi/wifi_data_buffer.h"
#include "device/wifi/wifi_prediction_mailbox.h"
#include "support/eventually.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(AckSignalTest, StartsAvailableAndIsTakenOnce) {
    AckSignal signal;
    EXPECT_TRUE(signal.acquire(0ms));
    EXPECT_FALSE(signal.acquire(20ms));
}

TEST(AckSignalTest, DoubleReleaseLetsOnlyOneWaitThrough) {
    AckSignal signal;
    ASSERT_TRUE(signal.acquire(0ms));
    signal.release();
    signal.release();
    EXPECT_TRUE(signal.acquire(0ms));
    EXPECT_FALSE(signal.acquire(20ms));
}

TEST(AckSignalTest, ReleaseFromAnotherThreadWakesTheWaiter) {
    AckSignal signal;
    ASSERT_TRUE(signal.acquire(0ms));
    std::thread releaser([&] {
        std::this_thread::sleep_for(20ms);
        signal.release();
    });
    EXPECT_TRUE(signal.acquire(10s));
    releaser.join();
}

TEST(WifiDataBufferTest, KeepsBytesOnlyWhileSaving) {
    WifiDataBuffer buffer;
    buffer.append(bytes("dropped"));
    buffer.startSave();
    buffer.append(bytes("ab"));
    buffer.append(bytes("cd"));
    EXPECT_EQ(buffer.takeAll(), bytes("abcd"));
    EXPECT_TRUE(buffer.takeAll().empty());
    buffer.append(bytes("xy"));
    buffer.stopSave();
    EXPECT_FALSE(buffer.isSaving());
    EXPECT_EQ(buffer.size(), 0U);
}

TEST(WifiDataBufferTest, DropsChunksBeyondItsCapacity) {
    WifiDataBuffer buffer(8);
    buffer.startSave();
    EXPECT_TRUE(buffer.append(bytes("12345")));
    EXPECT_FALSE(buffer.append(bytes("6789")));
    EXPECT_TRUE(buffer.append(bytes("678")));
    EXPECT_EQ(buffer.takeAll(), bytes("12345678"));
    EXPECT_TRUE(buffer.append(bytes("again")));
}

TEST(WifiDataBufferTest, WaitEndsWithBytesOrTimeout) {
    WifiDataBuffer buffer;
    buffer.startSave();
    EXPECT_TRUE(buffer.waitAndTake(20ms).empty());
    std::thread producer([&] {
        std::this_thread::sleep_for(20ms);
        buffer.append(bytes("late"));
    });
    EXPECT_EQ(buffer.waitAndTake(10s), bytes("late"));
    producer.join();
}

TEST(WifiDataBufferTest, ClearOrStopReleasesAWaitingReader) {
    for (const bool byClear : {true, false}) {
        SCOPED_TRACE(byClear ? "clear" : "stop");
        WifiDataBuffer buffer;
        buffer.startSave();
        std::stop_source stop;
        std::atomic<bool> returned{false};
        // A clear before the reader waits is no clear while it waits: the waker repeats it until the
        // reader is back.
        std::thread waker([&] {
            while (!test_support::eventually([&] { return returned.load(); }, 20ms)) {
                if (byClear) {
                    buffer.clear();
                } else {
                    stop.request_stop();
                }
            }
        });
        const auto before = std::chrono::steady_clock::now();
        EXPECT_TRUE(buffer.waitAndTake(30s, stop.get_token()).empty());
        returned = true;
        EXPECT_LT(std::chrono::steady_clock::now() - before, 20s);
        waker.join();
        if (!byClear) {
            EXPECT_TRUE(buffer.waitAndTake(30s, stop.get_token()).empty()) << "later waits do not wait";
        }
    }
}

TEST(PredictionMailboxTest, TakeLeavesPendingAndClearEmpties) {
    PredictionMailbox mailbox;
    mailbox.store("PRED: 1");
    EXPECT_EQ(mailbox.take(), "PRED: 1");
    EXPECT_EQ(mailbox.take(), "PENDING");
    mailbox.clear();
    EXPECT_EQ(mailbox.take(), "");
}

TEST(PredictionMailboxTest, AWaitingTakeEndsWithTheNextTextOrTheEmptying) {
    for (const bool emptied : {false, true}) {
        SCOPED_TRACE(emptied ? "emptied" : "stored");
        PredictionMailbox mailbox;
        mailbox.store("PRED: 1");
        EXPECT_EQ(mailbox.waitAndTake(1ms), "PRED: 1");
        EXPECT_EQ(mailbox.waitAndTake(1ms), "PENDING");
        std::thread board([&] { emptied ? mailbox.clear() : mailbox.store("PRED: 2"); });
        // Only a missed wake-up makes this wait last.
        EXPECT_EQ(mailbox.waitAndTake(1h), emptied ? "" : "PRED: 2");
        board.join();
        EXPECT_EQ(mailbox.take(), "PENDING");
    }
}

}  // namespace
}  // namespace brisel::device
