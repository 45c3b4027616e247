#include "device/wifi/crc16.h"

namespace brisel::device {

std::uint16_t crc16(std::span<const std::uint8_t> data) {
    unsigned crc = 0;
    for (std::uint8_t byte : data) {
        crc = ((crc << 8) ^ CRC16_XMODEM_TABLE[((crc >> 8) ^ byte) & 0xFFU]) & 0xFFFFU;
    }
    return static_cast<std::uint16_t>(crc);
}

}  // namespace brisel::device
