// Framed packets of the WiFi boards' firmware protocol: a 6-byte header starting "#$", a body of
// command items, and a CRC-16/XMODEM footer; all multi-byte integers little-endian. Builds packets
// and parses the boards' 10-byte acknowledgements. Board input is hostile: every parse checks its
// bounds and reports a short buffer as an error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <tl/expected.hpp>

namespace brisel::device {

enum class ProtocolType {
    PROTOCOL_MAGIC,
    PROTOCOL_VERSION,
    PROTOCOL_USB,
    PROTOCOL_BT,
    PROTOCOL_WIFI,
    PROTOCOL_FW,
    PROTOCOL_I2C,
    PROTOCOL_SPI,
    PROTOCOL_ADC,
    PROTOCOL_BL,
    PROTOCOL_ACK,
    MAX_PACKET_SIZE,
};

// "#$", "1", "U", "B", "W", "F", "I", "S", "A", "b", "a", "1024".
std::string_view rawValue(ProtocolType type);
// The case whose raw value is `text`; no value for any other text.
std::optional<ProtocolType> protocolTypeFromRawValue(std::string_view text);

// A packet that cannot be framed (a field that does not fit its width, inconsistent counts) or a
// buffer too short to parse.
struct FramingError {
    std::string message;
};

using Bytes = std::vector<std::uint8_t>;

class ProtocolBase {
  public:
    struct ProtocolHeader {
        std::string magic = "#$";
        ProtocolType version = ProtocolType::PROTOCOL_VERSION;
        ProtocolType protocolType = ProtocolType::PROTOCOL_FW;
        std::int16_t bodySize = 0;  // set by serialize()
    };
    // One command item: an ASCII command, then dataSize (signed 16-bit) and that many data bytes.
    struct ProtocolCP {
        std::string command;
        std::int16_t dataSize = 0;  // must equal data.size()
        Bytes data;
    };
    struct ProtocolBody {
        std::size_t numOfCp = 0;  // items on the wire; 0 to 255 and at most cp.size()
        std::vector<ProtocolCP> cp;
    };
    struct ProtocolFooter {
        std::uint16_t crc = 0;
    };
    struct ProtocolPacket {
        ProtocolHeader header;
        ProtocolBody body;
        ProtocolFooter footer;
    };
    // The header of a received packet, bytes as they came (nothing validated).
    struct ProtocolACKHeader {
        std::array<std::uint8_t, 2> magic{};
        std::uint8_t version = 0;
        std::uint8_t protocolType = 0;
        std::array<std::uint8_t, 2> bodySize{};
    };
    struct ProtocolACK {
        std::uint8_t dataProtocol = 0;
        std::uint8_t dataResponse = 0;  // 0: accepted
    };

    struct ParsedHeader {
        ProtocolACKHeader header;
        std::size_t nextOffset;  // offset + 6
    };
    struct ParsedFooter {
        ProtocolFooter footer;
        std::size_t nextOffset;  // offset + 2
        bool crcCheck;           // stored CRC equals the CRC of every byte of data but its last two
    };
    // A board's acknowledgement packet: header, protocol and response bytes, CRC over bytes 0-7.
    struct Acknowledgement {
        ProtocolACKHeader header;
        ProtocolACK ack;
        ProtocolFooter footer;
        bool crcCheck;
        // The board accepted the packet: the CRC matches and the response byte is 0.
        bool accepted() const { return crcCheck && ack.dataResponse == 0; }
    };
    static constexpr std::size_t kHeaderSize = 6;
    static constexpr std::size_t kFooterSize = 2;
    static constexpr std::size_t kAcknowledgementSize = 10;

    explicit ProtocolBase(ProtocolType type) : protocolType_(type) {}

    ProtocolType protocolType() const { return protocolType_; }

    // Header ("#$", version, this protocol type, bodySize 0), a body of one empty item (command "",
    // no data), CRC 0.
    ProtocolPacket createPacket() const;

    // Header + body + CRC (low byte first). Stores the body's length in packet.header.bodySize and the
    // CRC in packet.footer.crc. Errors: the body does not fit its signed 16-bit size, or as
    // serializeBody.
    tl::expected<Bytes, FramingError> serialize(ProtocolPacket& packet) const;

    // Magic bytes, version byte (1 for PROTOCOL_VERSION; the number of another numeric raw value
    // truncated to 8 bits; 255 for a non-numeric one), the protocol type's raw value, bodySize (LE).
    Bytes serializeHeader(const ProtocolHeader& header) const;

    // numOfCp's byte, then numOfCp items. When numOfCp differs from the item count, logs
    // "WIFI: num_of_cp is not matched!!". Errors: numOfCp above 255 or above the item count, an item
    // whose dataSize differs from its data's length.
    tl::expected<Bytes, FramingError> serializeBody(const ProtocolBody& body) const;

    // The six header bytes at offset. Error: fewer than six bytes there.
    static tl::expected<ParsedHeader, FramingError> parseHeader(std::span<const std::uint8_t> data,
                                                                std::size_t offset);

    // The stored CRC at offset (LE), checked against the CRC of data without its last two bytes; a
    // mismatch logs "WIFI: CRC error expected <stored> got <computed>!!". Error: fewer than two bytes
    // at offset.
    static tl::expected<ParsedFooter, FramingError> parseFooter(std::span<const std::uint8_t> data,
                                                                std::size_t offset);

    // The acknowledgement in the first ten bytes of `packet` (later bytes are ignored).
    // Error: fewer than ten bytes.
    static tl::expected<Acknowledgement, FramingError> parseAcknowledgement(
        std::span<const std::uint8_t> packet);

  private:
    ProtocolType protocolType_;
};

}  // namespace brisel::device
