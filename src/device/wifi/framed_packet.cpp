#include "device/wifi/framed_packet.h"

#include <limits>
#include <utility>

#include "common/logger.h"
#include "device/samples/byte_reader.h"
#include "device/wifi/crc16.h"

namespace brisel::device {
namespace {

using common::logger;

struct RawValueEntry {
    ProtocolType type;
    std::string_view raw;
};

constexpr std::array kRawValues{
    RawValueEntry{ProtocolType::PROTOCOL_MAGIC, "#$"}, RawValueEntry{ProtocolType::PROTOCOL_VERSION, "1"},
    RawValueEntry{ProtocolType::PROTOCOL_USB, "U"},    RawValueEntry{ProtocolType::PROTOCOL_BT, "B"},
    RawValueEntry{ProtocolType::PROTOCOL_WIFI, "W"},   RawValueEntry{ProtocolType::PROTOCOL_FW, "F"},
    RawValueEntry{ProtocolType::PROTOCOL_I2C, "I"},    RawValueEntry{ProtocolType::PROTOCOL_SPI, "S"},
    RawValueEntry{ProtocolType::PROTOCOL_ADC, "A"},    RawValueEntry{ProtocolType::PROTOCOL_BL, "b"},
    RawValueEntry{ProtocolType::PROTOCOL_ACK, "a"},    RawValueEntry{ProtocolType::MAX_PACKET_SIZE, "1024"},
};

constexpr std::size_t kMaxItems = 255;

std::optional<std::int16_t> asInt16(std::size_t value) {
    if (value > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int16_t>(value);
}

void appendText(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

void appendInt16LE(Bytes& out, std::int16_t value) {
    auto bits = static_cast<std::uint16_t>(value);
    out.push_back(static_cast<std::uint8_t>(bits & 0xFFU));
    out.push_back(static_cast<std::uint8_t>(bits >> 8));
}

// 1 for "1"; a numeric raw value truncated to 8 bits; 255 when the raw value is not a number.
std::uint8_t versionByte(ProtocolType version) {
    std::string_view raw = rawValue(version);
    unsigned value = 0;
    for (char c : raw) {
        if (c < '0' || c > '9') {
            return 255;
        }
        value = (value * 10 + static_cast<unsigned>(c - '0')) & 0xFFFFU;
    }
    return raw.empty() ? 255 : static_cast<std::uint8_t>(value & 0xFFU);
}

FramingError tooShort(std::string_view what) {
    return FramingError{"the received bytes end before the " + std::string(what)};
}

}  // namespace

std::string_view rawValue(ProtocolType type) {
    for (const RawValueEntry& entry : kRawValues) {
        if (entry.type == type) {
            return entry.raw;
        }
    }
    return {};
}

std::optional<ProtocolType> protocolTypeFromRawValue(std::string_view text) {
    for (const RawValueEntry& entry : kRawValues) {
        if (entry.raw == text) {
            return entry.type;
        }
    }
    return std::nullopt;
}

ProtocolBase::ProtocolPacket ProtocolBase::createPacket() const {
    ProtocolPacket packet;
    packet.header.protocolType = protocolType_;
    packet.body.numOfCp = 1;
    packet.body.cp.push_back(ProtocolCP{});
    return packet;
}

tl::expected<Bytes, FramingError> ProtocolBase::serialize(ProtocolPacket& packet) const {
    tl::expected<Bytes, FramingError> body = serializeBody(packet.body);
    if (!body) {
        return tl::unexpected(body.error());
    }
    std::optional<std::int16_t> bodySize = asInt16(body->size());
    if (!bodySize) {
        return tl::unexpected(FramingError{"the packet body of " + std::to_string(body->size()) +
                                           " bytes does not fit its 16-bit size field"});
    }
    packet.header.bodySize = *bodySize;
    Bytes bytes = serializeHeader(packet.header);
    bytes.insert(bytes.end(), body->begin(), body->end());
    packet.footer.crc = crc16(bytes);
    bytes.push_back(static_cast<std::uint8_t>(packet.footer.crc & 0xFFU));
    bytes.push_back(static_cast<std::uint8_t>(packet.footer.crc >> 8));
    return bytes;
}

Bytes ProtocolBase::serializeHeader(const ProtocolHeader& header) const {
    Bytes bytes;
    appendText(bytes, header.magic);
    bytes.push_back(versionByte(header.version));
    appendText(bytes, rawValue(header.protocolType));
    appendInt16LE(bytes, header.bodySize);
    return bytes;
}

tl::expected<Bytes, FramingError> ProtocolBase::serializeBody(const ProtocolBody& body) const {
    if (body.numOfCp != body.cp.size()) {
        logger().info("WIFI: num_of_cp is not matched!!");
    }
    if (body.numOfCp > kMaxItems || body.numOfCp > body.cp.size()) {
        return tl::unexpected(FramingError{"the packet declares " + std::to_string(body.numOfCp) +
                                           " command items but holds " + std::to_string(body.cp.size())});
    }
    Bytes bytes;
    bytes.push_back(static_cast<std::uint8_t>(body.numOfCp));
    for (std::size_t i = 0; i < body.numOfCp; ++i) {
        const ProtocolCP& item = body.cp[i];
        if (item.dataSize < 0 || static_cast<std::size_t>(item.dataSize) != item.data.size()) {
            return tl::unexpected(FramingError{"command item " + std::to_string(i) + " declares " +
                                               std::to_string(item.dataSize) + " data bytes but holds " +
                                               std::to_string(item.data.size())});
        }
        appendText(bytes, item.command);
        appendInt16LE(bytes, item.dataSize);
        bytes.insert(bytes.end(), item.data.begin(), item.data.end());
    }
    return bytes;
}

tl::expected<ProtocolBase::ParsedHeader, FramingError> ProtocolBase::parseHeader(
    std::span<const std::uint8_t> data, std::size_t offset) {
    if (!fitsInside(data.size(), offset, kHeaderSize)) {
        return tl::unexpected(tooShort("packet header"));
    }
    std::span<const std::uint8_t> raw = data.subspan(offset, kHeaderSize);
    ProtocolACKHeader header;
    header.magic = {raw[0], raw[1]};
    header.version = raw[2];
    header.protocolType = raw[3];
    header.bodySize = {raw[4], raw[5]};
    return ParsedHeader{header, offset + kHeaderSize};
}

tl::expected<ProtocolBase::ParsedFooter, FramingError> ProtocolBase::parseFooter(
    std::span<const std::uint8_t> data, std::size_t offset) {
    ByteAccess<std::uint16_t> stored = readUInt16LE(data, offset);
    if (!stored) {
        return tl::unexpected(tooShort("packet CRC"));
    }
    // The stored CRC lies inside data, so data holds at least two bytes.
    std::uint16_t computed = crc16(data.first(data.size() - kFooterSize));
    bool crcCheck = *stored == computed;
    if (!crcCheck) {
        logger().info("WIFI: CRC error expected " + std::to_string(*stored) + " got " +
                      std::to_string(computed) + "!!");
    }
    return ParsedFooter{ProtocolFooter{*stored}, offset + kFooterSize, crcCheck};
}

tl::expected<ProtocolBase::Acknowledgement, FramingError> ProtocolBase::parseAcknowledgement(
    std::span<const std::uint8_t> packet) {
    if (packet.size() < kAcknowledgementSize) {
        return tl::unexpected(tooShort("acknowledgement"));
    }
    std::span<const std::uint8_t> ackBytes = packet.first(kAcknowledgementSize);
    tl::expected<ParsedHeader, FramingError> header = parseHeader(ackBytes, 0);
    if (!header) {
        return tl::unexpected(header.error());
    }
    ProtocolACK ack{ackBytes[header->nextOffset], ackBytes[header->nextOffset + 1]};
    tl::expected<ParsedFooter, FramingError> footer = parseFooter(ackBytes, header->nextOffset + 2);
    if (!footer) {
        return tl::unexpected(footer.error());
    }
    return Acknowledgement{header->header, ack, footer->footer, footer->crcCheck};
}

}  // namespace brisel::device
