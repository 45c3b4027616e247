// The fake cloud of a data collection: what it answers a recording, the segments it stored, and whether
// they are the board's packets at their indices.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/device_kind.h"
#include "support/fake_cloud.h"

namespace brisel::test_support {

// Scripts `cloud` to create collection `id` in project 9 of `board`, acknowledge its start after
// `acknowledgement`, take its status reports and its segments, and answer a repeated segment with 418.
void scriptCollectionCloud(test::FakeCloud& cloud, common::DeviceKind board, std::int64_t id,
                           std::chrono::milliseconds acknowledgement = std::chrono::milliseconds(100));

// The segments that `cloud` stored (2xx) for collection `id` after its first `skipped` requests, by
// first packet index; an index stored twice fails the test.
std::map<std::int64_t, std::string> storedSegments(const test::FakeCloud& cloud, std::int64_t id,
                                                   std::size_t skipped = 0);

// What stored segments hold of a board's simulated packets (test::simulatedSamplePacket).
struct StoredPackets {
    std::uint32_t first = 0;   // the sequence number of the packet at index 0
    std::int64_t missing = 0;  // indices between the first stored packet and the last that none holds
};

// Checks that every stored segment is one unbroken run of the board's packets with `sensorIds` that
// begins with the packet of its index: the packet at index i is the one the board sent i packets after
// the recording's first.
StoredPackets expectEveryPacketAtItsIndex(const std::map<std::int64_t, std::string>& stored,
                                          const std::vector<std::uint32_t>& sensorIds);

}  // namespace brisel::test_support
