// Enumerations that travel as text: each case has one raw value, matched exactly (letter case included).
//
// An enumeration takes part by providing, in its own namespace, a function found by argument-dependent
// lookup:
//     constexpr const auto& enumRawValues(std::type_identity<MyEnum>);
// returning a std::array<EnumRawValue<MyEnum>, N> that lists every case once, in case order.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <type_traits>

namespace brisel::common {

template <class Enum>
struct EnumRawValue {
    Enum value;
    std::string_view raw;
};

template <class Enum>
concept RawValueEnum = std::is_enum_v<Enum> && requires {
    enumRawValues(std::type_identity<Enum>{});
};

// The raw value of `value`; empty only for a value outside the enumeration's cases.
template <RawValueEnum Enum>
constexpr std::string_view rawValue(Enum value) {
    for (const auto& entry : enumRawValues(std::type_identity<Enum>{})) {
        if (entry.value == value) {
            return entry.raw;
        }
    }
    return {};
}

// The case whose raw value equals `raw` exactly, or none.
template <RawValueEnum Enum>
constexpr std::optional<Enum> fromRawValue(std::string_view raw) {
    for (const auto& entry : enumRawValues(std::type_identity<Enum>{})) {
        if (entry.raw == raw) {
            return entry.value;
        }
    }
    return std::nullopt;
}

// Every case, in case order.
template <RawValueEnum Enum>
constexpr auto allCases() {
    constexpr const auto& table = enumRawValues(std::type_identity<Enum>{});
    std::array<Enum, table.size()> cases{};
    for (std::size_t index = 0; index < table.size(); ++index) {
        cases[index] = table[index].value;
    }
    return cases;
}

}  // namespace brisel::common
