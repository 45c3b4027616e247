// Fixed-width integers read from and written into byte buffers at an offset, in either byte order,
// with every access checked against the buffer's bounds. Nothing here reads or writes outside the
// span it is given, and the buffer never grows.
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

#include <tl/expected.hpp>

namespace brisel::device {

struct VRCDataExtensionError {
    enum class Type { outOfRangeError };

    std::string message;  // always "Access memory out of data."
    Type kind = Type::outOfRangeError;
};

// The one error of every access outside the buffer.
VRCDataExtensionError outOfRangeError();

enum class ByteOrder { bigEndian, littleEndian };

// True when the width bytes from offset lie inside a buffer of `size` bytes (no overflow possible).
constexpr bool fitsInside(std::size_t size, std::size_t offset, std::size_t width) {
    return offset <= size && width <= size - offset;
}

// The integer T in `order` from bytes[offset, offset + sizeof(T)). Error: outOfRangeError.
template <std::integral T>
tl::expected<T, VRCDataExtensionError> readInteger(std::span<const std::uint8_t> bytes, std::size_t offset,
                                                   ByteOrder order) {
    if (!fitsInside(bytes.size(), offset, sizeof(T))) {
        return tl::unexpected(outOfRangeError());
    }
    using Unsigned = std::make_unsigned_t<T>;
    std::uint64_t combined = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        std::size_t index = order == ByteOrder::bigEndian ? i : sizeof(T) - 1 - i;
        combined = (combined << 8) | bytes[offset + index];
    }
    return std::bit_cast<T>(static_cast<Unsigned>(combined));
}

// Stores value's bytes in `order` at bytes[offset, offset + sizeof(T)). Error: outOfRangeError, and
// then the buffer is unchanged.
template <std::integral T>
tl::expected<void, VRCDataExtensionError> writeInteger(std::span<std::uint8_t> bytes, std::size_t offset,
                                                       T value, ByteOrder order) {
    if (!fitsInside(bytes.size(), offset, sizeof(T))) {
        return tl::unexpected(outOfRangeError());
    }
    std::uint64_t rest = std::bit_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        std::size_t index = order == ByteOrder::littleEndian ? i : sizeof(T) - 1 - i;
        bytes[offset + index] = static_cast<std::uint8_t>(rest & 0xFF);
        rest >>= 8;
    }
    return {};
}

using ByteSpan = std::span<const std::uint8_t>;
using MutableByteSpan = std::span<std::uint8_t>;
template <typename T>
using ByteAccess = tl::expected<T, VRCDataExtensionError>;

// The named family: one per width, signedness and byte order.
inline ByteAccess<std::int8_t> readInt8(ByteSpan b, std::size_t offset) {
    return readInteger<std::int8_t>(b, offset, ByteOrder::littleEndian);
}
inline ByteAccess<std::uint8_t> readUInt8(ByteSpan b, std::size_t offset) {
    return readInteger<std::uint8_t>(b, offset, ByteOrder::littleEndian);
}
inline ByteAccess<std::int16_t> readInt16BE(ByteSpan b, std::size_t offset) {
    return readInteger<std::int16_t>(b, offset, ByteOrder::bigEndian);
}
inline ByteAccess<std::int16_t> readInt16LE(ByteSpan b, std::size_t offset) {
    return readInteger<std::int16_t>(b, offset, ByteOrder::littleEndian);
}
inline ByteAccess<std::uint16_t> readUInt16BE(ByteSpan b, std::size_t offset) {
    return readInteger<std::uint16_t>(b, offset, ByteOrder::bigEndian);
}
inline ByteAccess<std::uint16_t> readUInt16LE(ByteSpan b, std::size_t offset) {
    return readInteger<std::uint16_t>(b, offset, ByteOrder::littleEndian);
}
inline ByteAccess<std::int32_t> readInt32BE(ByteSpan b, std::size_t offset) {
    return readInteger<std::int32_t>(b, offset, ByteOrder::bigEndian);
}
inline ByteAccess<std::int32_t> readInt32LE(ByteSpan b, std::size_t offset) {
    return readInteger<std::int32_t>(b, offset, ByteOrder::littleEndian);
}
inline ByteAccess<std::uint32_t> readUInt32BE(ByteSpan b, std::size_t offset) {
    return readInteger<std::uint32_t>(b, offset, ByteOrder::bigEndian);
}
inline ByteAccess<std::uint32_t> readUInt32LE(ByteSpan b, std::size_t offset) {
    return readInteger<std::uint32_t>(b, offset, ByteOrder::littleEndian);
}
inline ByteAccess<std::int64_t> readInt64BE(ByteSpan b, std::size_t offset) {
    return readInteger<std::int64_t>(b, offset, ByteOrder::bigEndian);
}
inline ByteAccess<std::int64_t> readInt64LE(ByteSpan b, std::size_t offset) {
    return readInteger<std::int64_t>(b, offset, ByteOrder::littleEndian);
}
inline ByteAccess<std::uint64_t> readUInt64BE(ByteSpan b, std::size_t offset) {
    return readInteger<std::uint64_t>(b, offset, ByteOrder::bigEndian);
}
inline ByteAccess<std::uint64_t> readUInt64LE(ByteSpan b, std::size_t offset) {
    return readInteger<std::uint64_t>(b, offset, ByteOrder::littleEndian);
}

inline ByteAccess<void> writeInt8(MutableByteSpan b, std::int8_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}
inline ByteAccess<void> writeUInt8(MutableByteSpan b, std::uint8_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}
inline ByteAccess<void> writeInt16BE(MutableByteSpan b, std::int16_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::bigEndian);
}
inline ByteAccess<void> writeInt16LE(MutableByteSpan b, std::int16_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}
inline ByteAccess<void> writeUInt16BE(MutableByteSpan b, std::uint16_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::bigEndian);
}
inline ByteAccess<void> writeUInt16LE(MutableByteSpan b, std::uint16_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}
inline ByteAccess<void> writeInt32BE(MutableByteSpan b, std::int32_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::bigEndian);
}
inline ByteAccess<void> writeInt32LE(MutableByteSpan b, std::int32_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}
inline ByteAccess<void> writeUInt32BE(MutableByteSpan b, std::uint32_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::bigEndian);
}
inline ByteAccess<void> writeUInt32LE(MutableByteSpan b, std::uint32_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}
inline ByteAccess<void> writeInt64BE(MutableByteSpan b, std::int64_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::bigEndian);
}
inline ByteAccess<void> writeInt64LE(MutableByteSpan b, std::int64_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}
inline ByteAccess<void> writeUInt64BE(MutableByteSpan b, std::uint64_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::bigEndian);
}
inline ByteAccess<void> writeUInt64LE(MutableByteSpan b, std::uint64_t value, std::size_t offset) {
    return writeInteger(b, offset, value, ByteOrder::littleEndian);
}

}  // namespace brisel::device
