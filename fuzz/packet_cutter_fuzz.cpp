// Splices valid packets into arbitrary bytes and feeds the stream to the packet cutter in arbitrarily
// sized chunks: every byte it keeps must form whole packets that parse, its buffer must stay within
// its bound, and the packets must not depend on how the stream was split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "device/samples/packet_cutter.h"
#include "device/samples/sample_packet_builder.h"

namespace {

using brisel::device::PacketCutter;
using brisel::device::Sample;

constexpr auto kBoard = brisel::common::DeviceKind::NICLA_SENSE_ME;
// A small bound so that giving up a header is reached quickly.
constexpr std::size_t kMaxPacketBytes = 4096;

// Reads the fuzzer's bytes as a script: take a byte, and on small values splice a packet.
class Script {
  public:
    explicit Script(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool done() const { return offset_ >= bytes_.size(); }
    std::uint8_t next() { return done() ? 0 : bytes_[offset_++]; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

std::vector<std::uint8_t> validPacket(Script& script) {
    brisel::device::SamplePacketContents contents;
    contents.timeStamp = script.next();
    const std::uint8_t entries = script.next() % 4;
    for (std::uint8_t e = 0; e < entries; ++e) {
        const std::uint32_t ids[] = {1, 4, 5, 11, 12, 19};
        const std::uint32_t id = ids[script.next() % 6];
        const std::size_t size = id == 19 ? 52 : id == 12 ? 8 : id == 1 ? 6 : id == 4 ? 4 : id == 11 ? 1 : 2;
        std::vector<std::uint8_t> bytes(size * (script.next() % 4), 0x11);
        contents.entries.push_back({id, std::move(bytes)});
    }
    return brisel::device::buildSamplePacket(contents);
}

// Every packet in `accepted` must parse and together they must fill it exactly.
void checkWholeValidPackets(const std::vector<std::uint8_t>& accepted) {
    std::size_t offset = 0;
    while (offset < accepted.size()) {
        const std::span<const std::uint8_t> rest(accepted.data() + offset, accepted.size() - offset);
        if (rest.size() < Sample::fixedHeaderBytes + Sample::footerBytes) {
            std::abort();
        }
        const std::uint64_t length = std::uint64_t{rest[12]} | std::uint64_t{rest[13]} << 8 |
                                     std::uint64_t{rest[14]} << 16 | std::uint64_t{rest[15]} << 24;
        const std::uint64_t payload = std::uint64_t{rest[16]} | std::uint64_t{rest[17]} << 8 |
                                      std::uint64_t{rest[18]} << 16 | std::uint64_t{rest[19]} << 24;
        const std::uint64_t total = length + payload + Sample::footerBytes;
        if (total > rest.size() || !Sample::parse(rest.first(static_cast<std::size_t>(total)), kBoard)) {
            std::abort();
        }
        offset += static_cast<std::size_t>(total);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script(std::span<const std::uint8_t>(data, size));
    PacketCutter cutter(kMaxPacketBytes);
    std::vector<std::uint8_t> accepted;
    std::vector<std::span<const std::uint8_t>> packets;
    std::vector<std::uint8_t> chunk;
    std::vector<std::uint8_t> wholeStream;
    const auto feed = [&] {
        wholeStream.insert(wholeStream.end(), chunk.begin(), chunk.end());
        packets.clear();
        const std::size_t count = cutter.feed(chunk, packets).acceptedPackets;
        for (const auto& packet : packets) {
            accepted.insert(accepted.end(), packet.begin(), packet.end());
        }
        chunk.clear();
        return count;
    };
    std::size_t acceptedPackets = 0;
    while (!script.done()) {
        const std::uint8_t command = script.next();
        if (command < 24) {
            const auto packet = validPacket(script);
            chunk.insert(chunk.end(), packet.begin(), packet.end());
        } else if (command < 32) {
            // Cut the stream here: feed what was gathered as one chunk.
            acceptedPackets += feed();
        } else if (command < 40) {
            chunk.insert(chunk.end(), Sample::HEADER_MAGIC.begin(), Sample::HEADER_MAGIC.end());
        } else if (command < 48) {
            chunk.insert(chunk.end(), Sample::FOOTER_MAGIC.begin(), Sample::FOOTER_MAGIC.end());
        } else {
            chunk.push_back(script.next());
        }
        if (cutter.bufferedBytes() > cutter.maxBufferedBytes()) {
            std::abort();
        }
    }
    acceptedPackets += feed();
    if (cutter.bufferedBytes() > cutter.maxBufferedBytes()) {
        std::abort();
    }
    checkWholeValidPackets(accepted);

    // The same stream in one piece gives the same packets: the split into reads does not matter.
    PacketCutter oneRead(kMaxPacketBytes);
    packets.clear();
    if (oneRead.feed(wholeStream, packets).acceptedPackets != acceptedPackets) {
        std::abort();
    }
    std::vector<std::uint8_t> acceptedAtOnce;
    for (const auto& packet : packets) {
        acceptedAtOnce.insert(acceptedAtOnce.end(), packet.begin(), packet.end());
    }
    if (acceptedAtOnce != accepted) {
        std::abort();
    }
    return 0;
}
