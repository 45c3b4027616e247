#include "support/firmware_personality.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "common/sensor_kind.h"
#include "device/samples/sample.h"
#include "device/samples/sample_packet_builder.h"

namespace brisel::test {

namespace {

using namespace std::chrono_literals;

constexpr std::array<std::pair<FirmwareKind, std::string_view>, 3> kKindNames{{
    {FirmwareKind::dataCollection, "data collection"},
    {FirmwareKind::classification, "classification"},
    {FirmwareKind::latency, "latency"},
}};

constexpr std::array<std::pair<BoardFault, std::string_view>, 7> kFaultNames{{
    {BoardFault::none, "none"},
    {BoardFault::garbage, "garbage"},
    {BoardFault::badPackets, "bad packets"},
    {BoardFault::silence, "silence"},
    {BoardFault::unplugMidPacket, "unplug mid-packet"},
    {BoardFault::overlongLines, "overlong lines"},
    {BoardFault::malformedLatencies, "malformed latencies"},
}};

template <typename Enum, std::size_t N>
std::string_view nameOf(const std::array<std::pair<Enum, std::string_view>, N>& table, Enum value) {
    for (const auto& [entry, name] : table) {
        if (entry == value) {
            return name;
        }
    }
    return "?";
}

template <typename Enum, std::size_t N>
std::optional<Enum> valueOf(const std::array<std::pair<Enum, std::string_view>, N>& table,
                            std::string_view name) {
    for (const auto& [entry, entryName] : table) {
        if (entryName == name) {
            return entry;
        }
    }
    return std::nullopt;
}

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

constexpr std::size_t kElementsPerEntry = 4;
constexpr std::size_t kOverlongLineBytes = 300000;
constexpr auto kSplitGap = 50ms;

}  // namespace

nlohmann::ordered_json toJson(const FirmwarePersonality& personality) {
    nlohmann::ordered_json json;
    json["firmware"] = nameOf(kKindNames, personality.kind);
    json["sensorIds"] = personality.sensorIds;
    json["periodMs"] = personality.period.count();
    json["predictions"] = personality.predictions;
    json["score"] = personality.score ? nlohmann::ordered_json(*personality.score) : nlohmann::ordered_json();
    if (!personality.texts.empty()) {
        json["texts"] = personality.texts;
    }
    json["splitLines"] = personality.splitLines;
    json["latencies"] = personality.latencies;
    json["fault"] = nameOf(kFaultNames, personality.fault);
    return json;
}

std::optional<FirmwarePersonality> personalityFromJson(const nlohmann::json& description) {
    if (!description.is_object()) {
        return std::nullopt;
    }
    FirmwarePersonality personality;
    const auto text = [&](const char* key) -> std::optional<std::string> {
        if (!description.contains(key) || !description[key].is_string()) {
            return std::nullopt;
        }
        return description[key].get<std::string>();
    };
    const auto kind = text("firmware");
    const auto fault = text("fault");
    if (!kind || !fault || !valueOf(kKindNames, *kind) || !valueOf(kFaultNames, *fault)) {
        return std::nullopt;
    }
    personality.kind = *valueOf(kKindNames, *kind);
    personality.fault = *valueOf(kFaultNames, *fault);
    const auto& period = description.value("periodMs", nlohmann::json());
    if (!period.is_number_unsigned() || period.get<std::uint64_t>() > 60000) {
        return std::nullopt;
    }
    personality.period = std::chrono::milliseconds(period.get<std::int64_t>());
    const auto& sensors = description.value("sensorIds", nlohmann::json());
    const auto& predictions = description.value("predictions", nlohmann::json());
    const auto& latencies = description.value("latencies", nlohmann::json());
    const auto& split = description.value("splitLines", nlohmann::json());
    const auto& score = description.value("score", nlohmann::json());
    if (!sensors.is_array() || !predictions.is_array() || !latencies.is_array() || !split.is_boolean() ||
        !(score.is_null() || score.is_string())) {
        return std::nullopt;
    }
    personality.sensorIds.clear();
    for (const auto& id : sensors) {
        if (!id.is_number_unsigned() || id.get<std::uint64_t>() > 0xFFFFFFFFU) {
            return std::nullopt;
        }
        personality.sensorIds.push_back(id.get<std::uint32_t>());
    }
    personality.predictions.clear();
    for (const auto& line : predictions) {
        if (!line.is_string()) {
            return std::nullopt;
        }
        personality.predictions.push_back(line.get<std::string>());
    }
    personality.latencies.clear();
    for (const auto& value : latencies) {
        if (!value.is_number_integer()) {
            return std::nullopt;
        }
        personality.latencies.push_back(value.get<std::int64_t>());
    }
    const auto& texts = description.value("texts", nlohmann::json::array());
    if (!texts.is_array()) {
        return std::nullopt;
    }
    for (const auto& entry : texts) {
        if (!entry.is_string()) {
            return std::nullopt;
        }
        personality.texts.push_back(entry.get<std::string>());
    }
    personality.splitLines = split.get<bool>();
    if (score.is_string()) {
        personality.score = score.get<std::string>();
    }
    return personality;
}

std::vector<std::uint8_t> makeTestImage(const FirmwarePersonality& personality, std::size_t size) {
    std::vector<std::uint8_t> image =
        bytesOf(std::string(kTestImageMarker) + toJson(personality).dump() + "\n");
    for (std::size_t i = image.size(); i < size; ++i) {
        image.push_back(static_cast<std::uint8_t>((i * 131 + 17) & 0xFF));
    }
    return image;
}

std::optional<FirmwarePersonality> personalityOfImage(std::span<const std::uint8_t> image) {
    const std::string_view text(reinterpret_cast<const char*>(image.data()), image.size());
    if (!text.starts_with(kTestImageMarker)) {
        return std::nullopt;
    }
    const auto lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos) {
        return std::nullopt;
    }
    const auto json = nlohmann::json::parse(
        text.substr(kTestImageMarker.size(), lineEnd - kTestImageMarker.size()), nullptr, false);
    if (json.is_discarded()) {
        return std::nullopt;
    }
    return personalityFromJson(json);
}

std::vector<std::uint8_t> simulatedSamplePacket(const std::vector<std::uint32_t>& sensorIds,
                                                std::uint32_t sequence) {
    device::SamplePacketContents contents;
    contents.timeStamp = sequence * 20;
    for (std::uint32_t id : sensorIds) {
        const auto kind = common::sensorFor(id);
        const std::size_t width = kind ? device::elementSize(*kind) : 2;
        device::SampleEntry entry;
        entry.sensorId = id;
        for (std::size_t i = 0; i < width * kElementsPerEntry; ++i) {
            entry.bytes.push_back(static_cast<std::uint8_t>((sequence + i * 7 + id) & 0x7F));
        }
        contents.entries.push_back(std::move(entry));
    }
    return device::buildSamplePacket(contents);
}

std::string simulatedPacketRun(const std::vector<std::uint32_t>& sensorIds, std::uint32_t first,
                               std::size_t count) {
    std::string bytes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto packet = simulatedSamplePacket(sensorIds, first + i);
        bytes.append(packet.begin(), packet.end());
    }
    return bytes;
}

FirmwareOutput::FirmwareOutput(FirmwarePersonality personality) : firmware(std::move(personality)) {}

std::vector<TimedWrite> FirmwareOutput::nextBurst() {
    std::vector<TimedWrite> burst;
    if (firmware.fault == BoardFault::silence || unplugNow) {
        return burst;
    }
    switch (firmware.kind) {
        case FirmwareKind::dataCollection:
            burst = dataCollectionBurst();
            break;
        case FirmwareKind::classification: {
            if (!firmware.texts.empty()) {
                std::string text = firmware.texts[burstsSent % firmware.texts.size()];
                if (firmware.fault == BoardFault::unplugMidPacket && burstsSent == 3) {
                    text.resize(text.size() / 2);
                    unplugNow = true;
                }
                burst = {TimedWrite{0ms, bytesOf(text)}};
                break;
            }
            std::vector<std::string> lines;
            if (!firmware.predictions.empty()) {
                if (firmware.score) {
                    lines.push_back("SCORE: " + *firmware.score);
                }
                lines.push_back("PRED: " + firmware.predictions[burstsSent % firmware.predictions.size()]);
            }
            burst = lineBurst(std::move(lines));
            break;
        }
        case FirmwareKind::latency: {
            std::vector<std::string> lines;
            if (firmware.fault == BoardFault::malformedLatencies) {
                lines.push_back("LATENCY: 5 ");
                lines.push_back("LATENCY: 12345678901234567890");
            }
            if (!firmware.latencies.empty()) {
                lines.push_back("LATENCY: " +
                                std::to_string(firmware.latencies[burstsSent % firmware.latencies.size()]));
            }
            burst = lineBurst(std::move(lines));
            break;
        }
    }
    if (firmware.fault == BoardFault::garbage) {
        burst.insert(burst.begin(), TimedWrite{0ms, bytesOf("\x01\xFEgarbage VLK_ END_\xC3\x28\n")});
    }
    ++burstsSent;
    return burst;
}

std::vector<TimedWrite> FirmwareOutput::dataCollectionBurst() {
    std::vector<std::uint8_t> packet =
        simulatedSamplePacket(firmware.sensorIds, static_cast<std::uint32_t>(burstsSent));
    if (firmware.fault == BoardFault::badPackets && burstsSent % 2 == 1) {
        device::storeLittleEndian32(packet, 8, 2);  // version 2: refused, and only this packet
    }
    if (firmware.fault == BoardFault::unplugMidPacket && burstsSent == 3) {
        packet.resize(packet.size() / 2);
        unplugNow = true;
    }
    return {TimedWrite{0ms, std::move(packet)}};
}

std::vector<TimedWrite> FirmwareOutput::lineBurst(std::vector<std::string> lines) {
    std::vector<TimedWrite> burst;
    if (firmware.fault == BoardFault::overlongLines && burstsSent == 0) {
        burst.push_back(TimedWrite{0ms, std::vector<std::uint8_t>(kOverlongLineBytes, 'A')});
    }
    if (firmware.fault == BoardFault::unplugMidPacket && burstsSent == 3 && !lines.empty()) {
        const std::string whole = lines.front() + "\r\n";
        burst.push_back(TimedWrite{0ms, bytesOf(std::string_view(whole).substr(0, whole.size() / 2))});
        unplugNow = true;
        return burst;
    }
    for (const auto& line : lines) {
        const std::string whole = line + "\r\n";
        if (firmware.splitLines) {
            const std::size_t half = whole.size() / 2;
            burst.push_back(TimedWrite{0ms, bytesOf(std::string_view(whole).substr(0, half))});
            burst.push_back(TimedWrite{kSplitGap, bytesOf(std::string_view(whole).substr(half))});
        } else {
            burst.push_back(TimedWrite{0ms, bytesOf(whole)});
        }
    }
    return burst;
}

}  // namespace brisel::test
