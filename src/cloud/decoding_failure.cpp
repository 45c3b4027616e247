#include "cloud/decoding_failure.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace brisel::cloud {

namespace {

struct TypeMismatch {
    std::string_view reason;
    std::string_view typeName;
};

// The codec's reasons for a value of the wrong JSON form, with the name of the expected type.
constexpr std::array<TypeMismatch, 6> kTypeMismatches{{
    {"expected true or false", "Bool"},
    {"expected a string", "String"},
    {"expected a number", "Double"},
    {"expected an integer", "Int64"},
    {"expected an array", "Array"},
    {"expected an object", "Object"},
}};

constexpr std::array<std::string_view, 8> kCorruptDataReasons{
    "not one of the accepted texts",
    "integer out of range",
    "expected an integer, got a number that is not a whole number up to 2^53",
    "number out of range of a 32-bit float",
    "number is not finite",
    "text is not valid UTF-8",
    "text nests too deep",
    "text is not one JSON value",
};

std::string_view lastKey(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string_view::npos ? path : path.substr(dot + 1);
}

std::string pathText(const common::JsonError& error) {
    return error.path.empty() ? std::string{"the top value"} : error.path;
}

}  // namespace

std::string decodingFailureText(const common::JsonError& error) {
    const std::string_view reason = error.reason;
    if (reason == "required key is missing") {
        return "Failed to decode JSON, key '" + std::string{lastKey(error.path)} + "' not found (" +
               error.reason + "), codingPath: " + pathText(error);
    }
    if (reason == "required key is null") {
        return "Failed to decode JSON, value '" + error.expectedType + "' not found (" + error.reason +
               "), codingPath: " + pathText(error);
    }
    for (const TypeMismatch& mismatch : kTypeMismatches) {
        if (reason == mismatch.reason) {
            return "Failed to decode JSON, Type '" + std::string{mismatch.typeName} +
                   "' does not match the value: " + error.reason + ", codingPath: " + pathText(error);
        }
    }
    const bool corrupt = std::ranges::find(kCorruptDataReasons, reason) != kCorruptDataReasons.end() ||
                         reason.starts_with("text could not be parsed");
    if (corrupt) {
        return "Failed to decode JSON (" + pathText(error) + ": " + error.reason + ")";
    }
    return "Failed to decode JSON, " + pathText(error) + ": " + error.reason;
}

}  // namespace brisel::cloud
