#include "support/collection_cloud.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "common/enum_raw_values.h"
#include "support/firmware_personality.h"

namespace brisel::test_support {

void scriptCollectionCloud(test::FakeCloud& cloud, common::DeviceKind board, std::int64_t id,
                           std::chrono::milliseconds acknowledgement) {
    using test::ScriptedReply;
    const std::string collection = "/api/collection/" + std::to_string(id);
    cloud.reply(
        "POST", "/api/collection",
        ScriptedReply::json(200, R"({"label": "walk", "created_at": "x", "id": )" + std::to_string(id) +
                                     R"(, "kind": "TRAINING", "name": "walk-1", "num_instances": 25,
                                                  "project_id": 9, "ready": false, "sensors": []})"));
    cloud.reply("GET", "/api/project/9",
                ScriptedReply::json(200, R"({"classes": [], "created_at": "x", "device_kind": ")" +
                                             std::string(common::rawValue(board)) +
                                             R"(", "id": 9, "name": "p", "owner_id": 1, "project_kind": "k",
                                                  "updated_at": "y"})"));
    auto status = ScriptedReply::json(200, R"({"collection_id": 1, "started_at": "x", "status": "RUNNING"})");
    cloud.reply("PATCH", collection + "/data_collection/status", status);
    status.delay = acknowledgement;
    cloud.reply("POST", collection + "/data_collection/start", status);
    cloud.reply("POST", collection + "/json", ScriptedReply::json(200, "{}"));
    cloud.rejectRepeatedQueries("POST", collection + "/json");
}

std::map<std::int64_t, std::string> storedSegments(const test::FakeCloud& cloud, std::int64_t id,
                                                   std::size_t skipped) {
    constexpr std::string_view kQuery = "first_packet_index=";
    std::map<std::int64_t, std::string> stored;
    const auto requests = cloud.requests();
    for (std::size_t at = skipped; at < requests.size(); ++at) {
        const auto& request = requests[at];
        if (request.path == "/api/collection/" + std::to_string(id) + "/json" &&
            request.replyStatus / 100 == 2) {
            const auto index = std::stoll(request.query.substr(kQuery.size()));
            EXPECT_TRUE(stored.emplace(index, request.body).second) << index << " stored twice";
        }
    }
    return stored;
}

StoredPackets expectEveryPacketAtItsIndex(const std::map<std::int64_t, std::string>& stored,
                                          const std::vector<std::uint32_t>& sensorIds) {
    const std::size_t size = test::simulatedSamplePacket(sensorIds, 0).size();
    if (stored.empty() || stored.begin()->second.size() < size) {
        ADD_FAILURE() << "no packet stored";
        return {};
    }
    const auto& [lowest, lowestBytes] = *stored.begin();
    StoredPackets packets;
    bool found = false;
    for (std::uint32_t sequence = 0; sequence < 100000 && !found; ++sequence) {
        found = test::simulatedPacketRun(sensorIds, sequence, 1) == lowestBytes.substr(0, size);
        packets.first = sequence - static_cast<std::uint32_t>(lowest);
    }
    EXPECT_TRUE(found) << "the first stored packet is none the board sent";
    std::int64_t next = lowest;
    for (const auto& [index, bytes] : stored) {
        const auto count = static_cast<std::int64_t>(bytes.size() / size);
        EXPECT_TRUE(count > 0 && bytes.size() % size == 0) << "segment " << index << ": " << bytes.size();
        EXPECT_GE(index, next) << "segment " << index << " repeats packets";
        EXPECT_TRUE(test::simulatedPacketRun(sensorIds, packets.first + static_cast<std::uint32_t>(index),
                                             static_cast<std::size_t>(count)) == bytes)
            << "segment " << index << " of " << count << " packets is not one run at its index";
        packets.missing += std::max<std::int64_t>(index - next, 0);
        next = std::max(next, index + count);
    }
    return packets;
}

}  // namespace brisel::test_support
