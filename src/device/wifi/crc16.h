// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace brisel::device {

namespace detail {
constexpr std::array<std::uint16_t, 256> makeXmodemTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000U) != 0 ? (crc << 1) ^ 0x1021U : crc << 1;
        }
        table[byte] = static_cast<std::uint16_t>(crc & 0xFFFFU);
    }
    return table;
}
}  // namespace detail

// Entry i is the CRC of byte i shifted into the high half.
inline constexpr std::array<std::uint16_t, 256> CRC16_XMODEM_TABLE = detail::makeXmodemTable();

// The CRC of `data`; 0 for no bytes. "123456789" gives 0x31C3.
std::uint16_t crc16(std::span<const std::uint8_t> data);

}  // namespace brisel::device
