// Board bytes against the acknowledgement parser and the bounds-checked readers; the same bytes as
// a firmware image must frame into packets that parse back with a valid CRC.
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/samples/byte_reader.h"
#include "device/wifi/firmware_packets.h"
#include "device/wifi/framed_packet.h"

using namespace brisel::device;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);

    if (auto ack = ProtocolBase::parseAcknowledgement(input)) {
        assert(size >= ProtocolBase::kAcknowledgementSize);
        (void)ack->accepted();
    }
    // Offsets taken from the input itself, including ones far past its end.
    std::size_t offset = 0;
    if (auto chosen = readUInt64LE(input, 0)) {
        offset = static_cast<std::size_t>(*chosen);
    } else if (auto small = readUInt8(input, 0)) {
        offset = *small;
    }
    if (auto header = ProtocolBase::parseHeader(input, offset)) {
        assert(header->nextOffset == offset + ProtocolBase::kHeaderSize && header->nextOffset <= size);
    }
    if (auto footer = ProtocolBase::parseFooter(input, offset)) {
        assert(footer->nextOffset <= size);
    }
    (void)readInt16BE(input, offset);
    (void)readUInt32LE(input, offset);
    (void)readInt64BE(input, offset);

    ProtocolFW protocol;
    auto stream = protocol.generateWritePacket(input);
    assert(stream);
    for (std::size_t start = 0; start < stream->size(); start += ProtocolFW::kMaxPacketSize) {
        std::size_t length = std::min(ProtocolFW::kMaxPacketSize, stream->size() - start);
        std::span<const std::uint8_t> packet(stream->data() + start, length);
        auto footer = ProtocolBase::parseFooter(packet, length - ProtocolBase::kFooterSize);
        assert(footer && footer->crcCheck);
        auto bodySize = readInt16LE(packet, 4);
        assert(bodySize && static_cast<std::size_t>(*bodySize) + 8 == length);
    }
    return 0;
}
