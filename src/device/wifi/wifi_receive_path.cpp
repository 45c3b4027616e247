#include "device/wifi/wifi_receive_path.h"

#include <algorithm>
#include <string_view>

#include "common/logger.h"
#include "common/peer_text.h"
#include "common/utf8.h"
#include "device/wifi/framed_packet.h"

namespace brisel::device {

namespace {

std::string asText(std::span<const std::uint8_t> bytes) {
    std::string text(bytes.size(), '\0');
    std::transform(bytes.begin(), bytes.end(), text.begin(),
                   [](std::uint8_t byte) { return static_cast<char>(byte); });
    return text;
}

}  // namespace

std::ptrdiff_t indexOfMagic(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == '#' && bytes[i + 1] == '$') {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

WifiReceivePath::WifiReceivePath(std::int64_t connectionId_, WifiDataBuffer& dataBuffer_,
                                 PredictionMailbox& mailbox_, ConnectionLines lines_)
    : connectionId(connectionId_), lines(lines_), dataBuffer(dataBuffer_), mailbox(mailbox_) {}

AckVerdict WifiReceivePath::receive(std::span<const std::uint8_t> chunk, TransferFlags flags) {
    const WifiMode mode = modeDetected.load();
    const AckVerdict verdict = acknowledgementIn(chunk, flags);
    switch (mode) {
        case WifiMode::none:
            detectMode(chunk);  // the deciding chunk itself is neither buffered nor stored
            break;
        case WifiMode::datacollect:
            dataBuffer.append(chunk);
            break;
        case WifiMode::classify:
            if (std::string text = asText(chunk); common::isValidUtf8(text)) {
                mailbox.store(std::move(text));
            }
            break;
    }
    return verdict;
}

AckVerdict WifiReceivePath::acknowledgementIn(std::span<const std::uint8_t> bytes, TransferFlags flags) {
    if (modeDetected.load() == WifiMode::none || !flags.flashing || !flags.sendComplete) {
        return AckVerdict::none;
    }
    return recogniseAck(bytes);
}

std::size_t WifiReceivePath::nextReadLength(bool flashing) {
    if (!flashing) {
        pendingAck.clear();
        return modeDetected.load() == WifiMode::none ? kInitialReadLength : kModeKnownReadLength;
    }
    if (!pendingAck.empty()) {
        return kAckPacketLength - pendingAck.size();
    }
    return kTransferReadLength;
}

AckVerdict WifiReceivePath::recogniseAck(std::span<const std::uint8_t> chunk) {
    // The kept part of a split acknowledgement (or a lone trailing '#') goes in front of the chunk.
    std::vector<std::uint8_t> joined = std::move(pendingAck);
    pendingAck.clear();
    joined.insert(joined.end(), chunk.begin(), chunk.end());

    const std::ptrdiff_t found = indexOfMagic(joined);
    if (found < 0) {
        if (!joined.empty() && joined.back() == '#') {
            pendingAck.push_back('#');
        }
        return AckVerdict::none;
    }
    const auto start = static_cast<std::size_t>(found);
    if (joined.size() - start < kAckPacketLength) {
        pendingAck.assign(joined.begin() + found, joined.end());
        return AckVerdict::none;
    }
    const std::span<const std::uint8_t> packet(joined.data() + start, kAckPacketLength);
    const auto ack = ProtocolBase::parseAcknowledgement(packet);
    return ack && ack->accepted() ? AckVerdict::accepted : AckVerdict::rejected;
}

void WifiReceivePath::detectMode(std::span<const std::uint8_t> chunk) {
    // Past the bound (only while a transfer keeps the connection open) the reads are not logged one
    // by one: the connection's closing line shows its first bytes.
    if (lines == ConnectionLines::logged && bytesBeforeMode <= kUndecidedByteLimit) {
        common::logger().info("WIFI: connection " + std::to_string(connectionId) +
                              " did receive, data: " + std::to_string(chunk.size()) +
                              " bytes string: " + common::peerTextForLog(asText(chunk)));
    }
    bytesBeforeMode += chunk.size();
    if (opening.size() < kUndecidedByteLimit) {
        opening.append(asText(chunk.first(std::min(chunk.size(), kUndecidedByteLimit - opening.size()))));
    }
    const WifiMode decided = detector.feed(chunk);
    if (decided != WifiMode::none) {
        modeDetected.store(decided);
    }
    if (lines == ConnectionLines::logged && decided == WifiMode::datacollect) {
        common::logger().info("WIFI: device mode: DATA COLLECTION");
    } else if (lines == ConnectionLines::logged && decided == WifiMode::classify) {
        common::logger().info("WIFI: device mode: CLASSIFICATION");
    }
}

}  // namespace brisel::device
