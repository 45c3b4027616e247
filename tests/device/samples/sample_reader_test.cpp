#include "device/samples/sample_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <random>
#include <set>
#include <thread>

#include "device/samples/sample_packet_builder.h"
#include "device/samples/shared_byte_buffer.h"
#include "support/byte_channel.h"
#include "support/eventually.h"
#include "support/file_contents.h"
#include "support/log_capture.h"
#include "support/random_sample_packets.h"
#include "support/temporary_folder.h"

namespace brisel::device {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using test_support::eventually;
using test_support::eventuallyEquals;
using test_support::readBytes;

constexpr common::DeviceKind kBoard = common::DeviceKind::NANO_33_BLE;
constexpr std::int64_t kCollection = 77;
// How long a test waits for the reader to get somewhere.
constexpr auto kWait = 10s;

Bytes joinedBytes(const std::vector<Bytes>& pieces) {
    Bytes all;
    for (const Bytes& piece : pieces) {
        all.insert(all.end(), piece.begin(), piece.end());
    }
    return all;
}

Bytes packetWithTemperature(std::int16_t value) {
    SamplePacketContents contents;
    contents.entries = {{5, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)}}};
    return buildSamplePacket(contents);
}

class SampleReaderTest : public ::testing::Test {
  protected:
    std::unique_ptr<SampleReader> makeReader(std::function<void()> disconnect = {},
                                             std::chrono::milliseconds silence = 2s) {
        SampleReaderOptions options;
        options.silenceLimit = silence;
        auto reader =
            std::make_unique<SampleReader>(kBoard, kCollection, root_, std::move(disconnect), options);
        reader->beginRecording();
        return reader;
    }

    std::int64_t packetCount(SampleReader& reader) {
        return reader.withFileLock([&] { return reader.packetCount(); });
    }

    test_support::TemporaryFolder folder_;
    const std::filesystem::path root_ = folder_.path();
    test_support::LogCapture log_;
    std::shared_ptr<SharedByteBuffer> buffer_ = std::make_shared<SharedByteBuffer>("TEST");
};

TEST_F(SampleReaderTest, RecordsValidPacketsIntoTheTemporaryFile) {
    auto reader = makeReader();
    const auto created = reader->lastRead();
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    const auto good = packetWithTemperature(1);
    auto broken = packetWithTemperature(2);
    storeLittleEndian32(broken, 8, 3);
    buffer_->append(good);
    buffer_->append(broken);
    buffer_->append(good);
    ASSERT_TRUE(
        eventually([&] { return packetCount(*reader) == 2 && reader->numPacketsDropped() == 1; }, kWait));
    const auto path = reader->withFileLock([&] { return *reader->fileURL(); });
    EXPECT_EQ(path.parent_path(), root_ / "velko_brisel_collection" / "77");
    EXPECT_EQ(path.filename().string().rfind("sensors_temp_", 0), 0u);
    EXPECT_EQ(temporaryFileFirstPacketIndex(path.filename().string()), 0);
    Bytes both = good;
    both.insert(both.end(), good.begin(), good.end());
    EXPECT_EQ(readBytes(path), both);
    EXPECT_TRUE(reader->integrityCheckFailed());
    EXPECT_EQ(reader->integrityCheckErrorCode(), 2);
    EXPECT_EQ(reader->numEmptyPackets(), 1);
    EXPECT_GT(reader->lastRead(), created);
    reader->stop();
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SampleReaderTest, SilentLinkEndsTheLoopAndCallsTheDisconnectEventOnce) {
    std::atomic<int> calls{0};
    auto reader = makeReader([&] { ++calls; }, 100ms);
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    // A half packet keeps nothing alive: only new bytes count.
    const auto packet = packetWithTemperature(3);
    buffer_->append(std::span(packet).first(20));
    ASSERT_TRUE(eventually([&] { return reader->disconnected(); }, kWait));
    EXPECT_FALSE(reader->running());
    // The ending loop calls the event just after it raised the flag.
    EXPECT_TRUE(eventuallyEquals([&] { return calls.load(); }, 1, kWait));
    EXPECT_EQ(log_.count("Error occured during read: deviceNotConnected"), 1u);
    // A loop that ended on a failure is not restarted until stopped.
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    EXPECT_FALSE(reader->running());
    reader->stop();
    EXPECT_EQ(calls.load(), 1) << "the ended loop called the event again";
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    EXPECT_TRUE(reader->running());
}

TEST_F(SampleReaderTest, LinkFailureEndsTheLoop) {
    test_support::ByteChannel channel(1024);
    std::atomic<int> calls{0};
    auto reader = makeReader([&] { ++calls; });
    reader->start(std::make_unique<test_support::ChannelByteSource>(channel));
    channel.fail(PortError{PortError::Kind::deviceNotConnected, {}});
    ASSERT_TRUE(eventually([&] { return reader->disconnected(); }, kWait));
    EXPECT_TRUE(eventuallyEquals([&] { return calls.load(); }, 1, kWait));
}

TEST_F(SampleReaderTest, SecondStartStartsNoSecondLoop) {
    auto reader = makeReader();
    auto second = std::make_shared<SharedByteBuffer>("SECOND");
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    reader->start(std::make_unique<BufferByteSource>(second));
    second->append(packetWithTemperature(4));
    buffer_->append(packetWithTemperature(5));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));
    // Once the one loop has taken later bytes too, a second loop would have had its turn at `second`.
    buffer_->append(packetWithTemperature(6));
    ASSERT_TRUE(eventuallyEquals([&] { return packetCount(*reader); }, 2, kWait));
    EXPECT_EQ(second->size(), packetWithTemperature(4).size());
}

TEST_F(SampleReaderTest, StopReturnsPromptlyWhileTheLinkIsIdle) {
    auto reader = makeReader();
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    const auto before = std::chrono::steady_clock::now();
    reader->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    EXPECT_FALSE(reader->running());
    EXPECT_FALSE(reader->disconnected());
}

TEST_F(SampleReaderTest, AWaitForPacketsEndsWhenTheyAreWrittenOrAtItsDeadline) {
    auto reader = makeReader();
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    EXPECT_FALSE(reader->waitForPacketCount(1, std::chrono::steady_clock::now() + 10ms));
    std::thread board([&] {
        buffer_->append(packetWithTemperature(1));
        buffer_->append(packetWithTemperature(2));
    });
    EXPECT_TRUE(reader->waitForPacketCount(2, std::chrono::steady_clock::now() + kWait));
    board.join();
    EXPECT_EQ(packetCount(*reader), 2);
}

TEST_F(SampleReaderTest, NewFileCountsFromZeroAndTakesTheNextPackets) {
    auto reader = makeReader();
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    buffer_->append(packetWithTemperature(6));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));
    const auto first = reader->withFileLock([&] {
        auto path = *reader->fileURL();
        reader->setBinaryFileURL(OldFile::keep);
        return path;
    });
    EXPECT_EQ(packetCount(*reader), 0);
    buffer_->append(packetWithTemperature(7));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));
    const auto second = reader->withFileLock([&] { return *reader->fileURL(); });
    EXPECT_NE(first, second);
    EXPECT_EQ(readBytes(first), packetWithTemperature(6));
    EXPECT_EQ(readBytes(second), packetWithTemperature(7));
}

TEST_F(SampleReaderTest, SegmentsAreNamedByTheIndexOfTheirFirstPacket) {
    auto reader = makeReader();
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    for (int i = 0; i < 3; ++i) {
        buffer_->append(packetWithTemperature(static_cast<std::int16_t>(i)));
    }
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 3; }, kWait));
    std::vector<SavedSegment> handed;
    auto keep = [&](const SavedSegment& segment) {
        handed.push_back(segment);
    };
    ASSERT_TRUE(reader->saveSegment(keep));
    // The next file names its first packet, so that a sync after a crash knows where it belongs.
    const auto next = reader->withFileLock([&] { return *reader->fileURL(); });
    EXPECT_EQ(temporaryFileFirstPacketIndex(next.filename().string()), 3);
    buffer_->append(packetWithTemperature(9));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));
    ASSERT_TRUE(reader->saveSegment(keep));
    ASSERT_EQ(handed.size(), 2u);
    EXPECT_EQ(handed[0].path.filename(), "sensors_0.bin");
    EXPECT_EQ(handed[0].packetCount, 3);
    EXPECT_EQ(handed[1].path.filename(), "sensors_3.bin");
    EXPECT_EQ(handed[1].firstPacketIndex, 3);
    EXPECT_EQ(readBytes(handed[1].path), packetWithTemperature(9));
    EXPECT_EQ(reader->totalPacketsSaved(), 4);
    EXPECT_TRUE(log_.contains("oldPacketsRecieved: 3"));
}

TEST_F(SampleReaderTest, FailedRenameHandsOverTheTemporaryFileWithTheSameIndex) {
    auto reader = makeReader();
    // A segment of that name waits for upload already: it must not be replaced.
    const auto folder = reader->collectionFolder();
    std::ofstream(folder / "sensors_0.bin") << "waiting";
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    buffer_->append(packetWithTemperature(1));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));
    const auto saved = reader->saveSegment({});
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->firstPacketIndex, 0);
    EXPECT_EQ(saved->path.filename().string().rfind("sensors_temp_", 0), 0u);
    EXPECT_EQ(readBytes(saved->path), packetWithTemperature(1));
    EXPECT_EQ(readBytes(folder / "sensors_0.bin"), Bytes({'w', 'a', 'i', 't', 'i', 'n', 'g'}));
    EXPECT_TRUE(log_.contains("Failed to rename file. Error: "));
}

// Packets that cannot be written are lost visibly, and they keep their indices: the file written after
// them begins at the index that follows them, so that the gap shows in the cloud. A file that got none
// of its packets is no segment.
TEST_F(SampleReaderTest, LostPacketsAreAGapBeforeTheNextFileAndNoSegment) {
    // The collection folder cannot be created: a file stands where it belongs.
    const auto folder = root_ / "velko_brisel_collection" / "77";
    std::filesystem::create_directories(folder.parent_path());
    std::ofstream(folder) << "in the way";
    auto reader = makeReader();
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    buffer_->append(packetWithTemperature(1));
    buffer_->append(packetWithTemperature(2));
    ASSERT_TRUE(eventually([&] { return reader->numPacketsLost() == 2; }, kWait));
    EXPECT_EQ(packetCount(*reader), 0);
    EXPECT_TRUE(reader->waitForPacketCount(2, std::chrono::steady_clock::now()));
    EXPECT_TRUE(log_.contains("Could not create file at "));
    EXPECT_EQ(log_.count("Could not write recorded samples to "), 1U);

    std::filesystem::remove(folder);
    std::vector<SavedSegment> handed;
    const auto keep = [&](const SavedSegment& segment) {
        handed.push_back(segment);
    };
    const auto lost = reader->saveSegment(keep);
    ASSERT_FALSE(lost);
    EXPECT_EQ(lost.error(), SegmentError::allPacketsLost);
    EXPECT_TRUE(handed.empty());
    EXPECT_EQ(reader->totalPacketsSaved(), 2);

    buffer_->append(packetWithTemperature(3));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));
    const auto saved = reader->saveSegment(keep);
    ASSERT_TRUE(saved);
    ASSERT_EQ(handed.size(), 1U);
    EXPECT_EQ(handed[0].path, folder / "sensors_2.bin");
    EXPECT_EQ(readBytes(handed[0].path), packetWithTemperature(3));
    EXPECT_EQ(reader->numPacketsLost(), 2);
    // A new recording has lost nothing.
    reader->beginRecording();
    EXPECT_EQ(reader->numPacketsLost(), 0);
}

// Where the file system lacks the no-replace rename, a hard link and the removal of the temporary name
// give the segment its name, and still never replace a segment that waits for upload.
TEST_F(SampleReaderTest, SegmentsGetTheirNameWhereTheNoReplaceRenameIsMissing) {
    struct Row {
        int renameError;
        bool segmentWaits;  // a sensors_0.bin of an earlier recording is there
        bool renamed;
    };
    static int failure = 0;
    for (const Row row : {Row{EINVAL, false, true}, Row{ENOSYS, false, true}, Row{EINVAL, true, false},
                          Row{EPERM, false, false}}) {
        test_support::TemporaryFolder folder;
        SampleReaderOptions options;
        failure = row.renameError;
        options.renameNoReplace = [](const char*, const char*) {
            errno = failure;
            return -1;
        };
        SampleReader reader(kBoard, kCollection, folder.path(), {}, options);
        reader.beginRecording();
        const auto segment = reader.collectionFolder() / "sensors_0.bin";
        if (row.segmentWaits) {
            std::ofstream(segment) << "waiting";
        }
        const auto temporary = reader.withFileLock([&] { return *reader.fileURL(); });
        const auto saved = reader.saveSegment({});
        ASSERT_TRUE(saved);
        EXPECT_EQ(saved->path, row.renamed ? segment : temporary) << row.renameError;
        EXPECT_TRUE(std::filesystem::exists(saved->path));
        EXPECT_EQ(std::filesystem::exists(temporary), !row.renamed);
        if (row.segmentWaits) {
            EXPECT_EQ(readBytes(segment), Bytes({'w', 'a', 'i', 't', 'i', 'n', 'g'}));
        }
    }
}

TEST_F(SampleReaderTest, SavingWithoutAFileIsAnError) {
    SampleReader reader(kBoard, kCollection, root_);
    bool handedOver = false;
    const auto saved = reader.saveSegment([&](const SavedSegment&) { handedOver = true; });
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error(), SegmentError::noRecordingFile);
    EXPECT_FALSE(handedOver);
}

// A service that is stopping keeps what was recorded as a segment and records nothing more; an empty
// file is not kept.
TEST_F(SampleReaderTest, KeptForSyncTheFileIsASegmentThatNothingChangesAnyMore) {
    auto reader = makeReader();
    reader->start(std::make_unique<BufferByteSource>(buffer_));
    buffer_->append(packetWithTemperature(1));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));
    ASSERT_TRUE(reader->saveSegment({}));
    buffer_->append(packetWithTemperature(2));
    ASSERT_TRUE(eventually([&] { return packetCount(*reader) == 1; }, kWait));

    const auto kept = reader->keepForSync();

    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->path, reader->collectionFolder() / "sensors_1.bin");
    EXPECT_EQ(kept->firstPacketIndex, 1);
    buffer_->append(packetWithTemperature(3));
    buffer_->append(packetWithTemperature(4));
    // The loop takes the later packets (their bytes leave the buffer) and drops them.
    ASSERT_TRUE(eventually([&] { return buffer_->size() == 0; }, kWait));
    const auto later = reader->saveSegment({});
    ASSERT_FALSE(later);
    EXPECT_EQ(later.error(), SegmentError::keptForSync);
    EXPECT_FALSE(reader->keepForSync());
    reader->beginRecording();
    reader->stop();
    EXPECT_EQ(readBytes(kept->path), packetWithTemperature(2));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(reader->collectionFolder()),
                            std::filesystem::directory_iterator()),
              2);

    auto idle = makeReader();
    const auto empty = idle->withFileLock([&] { return *idle->fileURL(); });
    EXPECT_FALSE(idle->keepForSync());
    EXPECT_FALSE(std::filesystem::exists(empty));
}

TEST(SampleFileNameTest, TemporaryNamesCarryTheIndexOfTheirFirstPacket) {
    EXPECT_EQ(temporarySampleFileName(1733650000.123456, 120), "sensors_temp_1733650000.123456_120.bin");
    const std::vector<std::pair<std::string, std::optional<std::int64_t>>> rows{
        {"sensors_temp_1733650000.123456_120.bin", 120},
        {"sensors_temp_1700000000_0.bin", 0},
        {"sensors_temp_1700000000.5.bin", std::nullopt},  // written before names carried the index
        {"sensors_temp_1700000000.5_-3.bin", std::nullopt},
        {"sensors_temp_1700000000.5_+3.bin", std::nullopt},
        {"sensors_temp_1700000000.5_.bin", std::nullopt},
        {"sensors_temp__4.bin", std::nullopt},
        {"sensors_temp_x_4.bin", std::nullopt},
        {"sensors_temp_1.5_99999999999999999999.bin", std::nullopt},
        {"sensors_temp_1.5_4.bin.part", std::nullopt},
        {"sensors_4.bin", std::nullopt},
        {"sensors_temp_.bin", std::nullopt},
    };
    for (const auto& [name, index] : rows) {
        EXPECT_EQ(temporaryFileFirstPacketIndex(name), index) << name;
    }
}

// A file that a crash cut short keeps its whole packets only, also when its last footer lies across the
// border of the windows in which it is searched from the end.
TEST(SampleFileNameTest, KeepingWholePacketsCutsAfterTheLastFooter) {
    test_support::TemporaryFolder folder;
    const Bytes packet = packetWithTemperature(1);
    // The files are searched from the end in windows of 64 KiB: this footer ends 5 bytes into the last.
    const Bytes acrossTheBorder = joinedBytes({packet, Bytes(64 * 1024 - 5, 0)});
    const std::vector<std::pair<Bytes, std::size_t>> rows{
        {joinedBytes({packet, packet}), 2 * packet.size()},
        {joinedBytes({packet, packet, Bytes(packet.begin(), packet.begin() + 30)}), 2 * packet.size()},
        {joinedBytes({packet, Bytes(packet.end() - 8, packet.end() - 2)}), packet.size()},
        {Bytes(packet.begin(), packet.begin() + 10), 0},
        {acrossTheBorder, packet.size()},
        {joinedBytes({packet, packet, Bytes(200000, 'x')}), 2 * packet.size()},
        {{}, 0},
    };
    for (const auto& [content, kept] : rows) {
        const auto file = folder.path() / "sensors_temp_1.5_0.bin";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        ASSERT_TRUE(keepWholePackets(file));
        EXPECT_EQ(readBytes(file),
                  Bytes(content.begin(), content.begin() + static_cast<std::ptrdiff_t>(kept)));
    }
    EXPECT_FALSE(keepWholePackets(folder.path() / "missing.bin"));
}

// A producer writes 20,000 packets as fast as the reader takes them while segments are saved every
// few milliseconds: the segments in index order, then the last file, hold exactly the valid packets.
TEST_F(SampleReaderTest, StressSegmentsHoldExactlyTheValidPacketsInOrder) {
    constexpr int kPackets = 20000;
    std::mt19937_64 random(7);
    Bytes expected;
    std::vector<Bytes> stream;
    for (int i = 0; i < kPackets; ++i) {
        auto packet = test_support::randomValidPacket(random, 4, 6).bytes;
        if (i % 10 == 3) {
            storeLittleEndian32(packet, 8, 5);  // rejected
        } else {
            expected.insert(expected.end(), packet.begin(), packet.end());
        }
        if (i % 7 == 0) {
            stream.push_back({'n', 'o', 'i', 's', 'e'});
        }
        stream.push_back(std::move(packet));
    }

    test_support::ByteChannel channel(64 * 1024);
    auto reader = makeReader();
    reader->start(std::make_unique<test_support::ChannelByteSource>(channel));
    std::atomic<bool> produced{false};
    std::thread producer([&] {
        for (const auto& piece : stream) {
            channel.write(piece);
        }
        produced = true;
    });

    std::vector<SavedSegment> segments;
    std::int64_t runningCount = 0;
    bool indicesMatch = true;
    while (!produced.load()) {
        std::this_thread::sleep_for(3ms);
        auto saved = reader->saveSegment([&](const SavedSegment& segment) {
            indicesMatch = indicesMatch && segment.firstPacketIndex == runningCount;
            runningCount += segment.packetCount;
        });
        ASSERT_TRUE(saved);
        segments.push_back(*saved);
    }
    producer.join();
    const std::int64_t validPackets = kPackets - kPackets / 10;
    ASSERT_TRUE(eventually([&] { return runningCount + packetCount(*reader) == validPackets; }, kWait));
    EXPECT_EQ(reader->numPacketsDropped(), kPackets / 10);
    EXPECT_TRUE(indicesMatch);
    EXPECT_GT(segments.size(), 3u);

    Bytes recorded;
    std::set<std::int64_t> indicesSeen;
    for (const auto& segment : segments) {
        // An empty segment shares its index with the next one, which then keeps its temporary name.
        if (indicesSeen.insert(segment.firstPacketIndex).second) {
            EXPECT_EQ(segment.path.filename(), segmentFileName(segment.firstPacketIndex));
        }
        const auto bytes = readBytes(segment.path);
        recorded.insert(recorded.end(), bytes.begin(), bytes.end());
    }
    const auto last = readBytes(reader->withFileLock([&] { return *reader->fileURL(); }));
    recorded.insert(recorded.end(), last.begin(), last.end());
    EXPECT_EQ(recorded.size(), expected.size());
    EXPECT_TRUE(recorded == expected);
    reader->stop();
}

TEST(SharedByteBufferTest, DropsWhatExceedsTheBoundAndTakesEverythingElse) {
    SharedByteBuffer buffer("TEST", 10);
    buffer.append(Bytes(8, 1));
    buffer.append(Bytes(5, 2));
    EXPECT_EQ(buffer.size(), 10u);
    EXPECT_EQ(buffer.droppedBytes(), 3u);
    Bytes out;
    std::atomic<bool> cancel{false};
    EXPECT_EQ(buffer.takeAll(out, 0ms, cancel), 10u);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_EQ(out.back(), 2);
}

TEST(SharedByteBufferTest, InterruptWakesAWaitingReader) {
    auto buffer = std::make_shared<SharedByteBuffer>("TEST");
    BufferByteSource source(buffer);
    std::thread interrupter([&] {
        std::this_thread::sleep_for(20ms);
        source.interrupt();
    });
    Bytes out;
    const auto before = std::chrono::steady_clock::now();
    const auto read = source.readSome(out, 30s);
    interrupter.join();
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
}

}  // namespace
}  // namespace brisel::device
