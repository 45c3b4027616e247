#include "device/wifi/wifi_receive_path.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/wifi_test_board.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

class ReceivePathTest : public ::testing::Test {
  protected:
    ReceivePathTest() { buffer.startSave(); }

    AckVerdict receive(std::string_view text, TransferFlags flags = {}) {
        const auto chunk = bytes(text);
        return path.receive(chunk, flags);
    }
    AckVerdict receive(const std::vector<std::uint8_t>& chunk, TransferFlags flags = {}) {
        return path.receive(chunk, flags);
    }

    WifiDataBuffer buffer;
    PredictionMailbox mailbox;
    WifiReceivePath path{7, buffer, mailbox};
};

constexpr TransferFlags kAwaitingAck{true, true};

TEST(WifiModeDetectorTest, FindsMarkersWholeOrSplit) {
    struct Row {
        const char* label;
        std::vector<std::string> chunks;
        WifiMode expected;
    };
    const std::vector<Row> rows = {
        {"data collection marker", {"VLK_STLE\x01"}, WifiMode::datacollect},
        {"classification marker", {"PRED: 1,0"}, WifiMode::classify},
        {"both markers: data collection wins", {"PRED:VLK_STLE"}, WifiMode::datacollect},
        {"data collection marker split", {"hello VLK", "_STLE"}, WifiMode::datacollect},
        {"classification marker split in three", {"xxPR", "E", "D:1"}, WifiMode::classify},
        {"no marker", {"hello", " world", "VLK_STL"}, WifiMode::none},
    };
    for (const Row& row : rows) {
        WifiModeDetector detector;
        WifiMode decided = WifiMode::none;
        for (const std::string& chunk : row.chunks) {
            decided = detector.feed(bytes(chunk));
        }
        EXPECT_EQ(decided, row.expected) << row.label;
    }
}

TEST_F(ReceivePathTest, ReadLengthsFollowModeAndTransfer) {
    EXPECT_EQ(path.nextReadLength(false), 10U);
    receive("VLK_STLE\x01\x00");
    EXPECT_EQ(path.nextReadLength(false), 4096U);
    EXPECT_EQ(path.nextReadLength(true), 1024U);
}

TEST_F(ReceivePathTest, DecidingChunkIsNotBufferedButLaterChunksAre) {
    receive("VLK_STLEab");
    EXPECT_EQ(path.mode(), WifiMode::datacollect);
    EXPECT_EQ(buffer.size(), 0U);
    receive("cd");
    EXPECT_EQ(buffer.takeAll(), bytes("cd"));
}

TEST_F(ReceivePathTest, ModeIsDecidedOnceAndNeverChanges) {
    receive("PRED: 1");
    receive("VLK_STLE");
    EXPECT_EQ(path.mode(), WifiMode::classify);
}

TEST_F(ReceivePathTest, DataIsDroppedWhileSavingIsOff) {
    receive("VLK_STLE");
    buffer.stopSave();
    receive("lost");
    buffer.startSave();
    receive("kept");
    EXPECT_EQ(buffer.takeAll(), bytes("kept"));
}

TEST_F(ReceivePathTest, MailboxKeepsTheLatestValidTextAndThenSaysPending) {
    receive("PRED: 0");  // decides the mode; not stored
    EXPECT_EQ(mailbox.take(), "");
    receive("PRED: 1,0.5");
    receive("PRED: 2,0.9");
    receive(std::vector<std::uint8_t>{'P', 0xFF, 0xFE});  // not UTF-8: ignored
    EXPECT_EQ(mailbox.take(), "PRED: 2,0.9");
    EXPECT_EQ(mailbox.take(), "PENDING");
}

TEST_F(ReceivePathTest, AcknowledgementsAreJudgedOnlyWhileAwaitingOne) {
    receive("VLK_STLE");
    const auto good = test::ackPacket('F', 0);
    EXPECT_EQ(receive(good, {true, false}), AckVerdict::none) << "send not complete yet";
    EXPECT_EQ(receive(good, {false, true}), AckVerdict::none) << "no transfer";
    EXPECT_EQ(receive(good, kAwaitingAck), AckVerdict::accepted);

    auto badCrc = good;
    badCrc[9] ^= 0x01;
    EXPECT_EQ(receive(badCrc, kAwaitingAck), AckVerdict::rejected);
    EXPECT_EQ(receive(test::ackPacket('F', 3), kAwaitingAck), AckVerdict::rejected);
}

TEST_F(ReceivePathTest, NoAcknowledgementBeforeTheModeIsKnown) {
    EXPECT_EQ(receive(test::ackPacket('F', 0), kAwaitingAck), AckVerdict::none);
}

TEST_F(ReceivePathTest, AcknowledgementAfterOtherBytesIsFound) {
    receive("VLK_STLE");
    auto chunk = bytes("noise");
    const auto ack = test::ackPacket('F', 0);
    chunk.insert(chunk.end(), ack.begin(), ack.end());
    EXPECT_EQ(receive(chunk, kAwaitingAck), AckVerdict::accepted);
}

TEST_F(ReceivePathTest, SplitAcknowledgementIsJoined) {
    receive("VLK_STLE");
    const auto ack = test::ackPacket('F', 0);
    struct Row {
        const char* label;
        std::size_t firstPart;
    };
    for (const Row row : {Row{"4 + 6", 4}, Row{"magic cut after '#'", 1}, Row{"9 + 1", 9}}) {
        const std::vector<std::uint8_t> first(ack.begin(),
                                              ack.begin() + static_cast<std::ptrdiff_t>(row.firstPart));
        const std::vector<std::uint8_t> second(ack.begin() + static_cast<std::ptrdiff_t>(row.firstPart),
                                               ack.end());
        EXPECT_EQ(receive(first, kAwaitingAck), AckVerdict::none) << row.label;
        EXPECT_EQ(path.nextReadLength(true), 10 - row.firstPart) << row.label;
        EXPECT_EQ(receive(second, kAwaitingAck), AckVerdict::accepted) << row.label;
        EXPECT_EQ(path.nextReadLength(true), 1024U) << row.label;
    }
}

TEST_F(ReceivePathTest, PartialAcknowledgementIsForgottenOutsideATransfer) {
    receive("VLK_STLE");
    const auto ack = test::ackPacket('F', 0);
    receive(std::vector<std::uint8_t>(ack.begin(), ack.begin() + 4), kAwaitingAck);
    EXPECT_EQ(path.pendingAckBytes(), 4U);
    EXPECT_EQ(path.nextReadLength(false), 4096U);
    EXPECT_EQ(path.pendingAckBytes(), 0U);
}

TEST(IndexOfMagicTest, FindsTheFirstPair) {
    EXPECT_EQ(indexOfMagic(bytes("")), -1);
    EXPECT_EQ(indexOfMagic(bytes("#")), -1);
    EXPECT_EQ(indexOfMagic(bytes("$#")), -1);
    EXPECT_EQ(indexOfMagic(bytes("#$")), 0);
    EXPECT_EQ(indexOfMagic(bytes("a##$#$")), 2);
}

}  // namespace
}  // namespace brisel::device
