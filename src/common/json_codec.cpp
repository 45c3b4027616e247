#include "common/json_codec.h"

#include <exception>

#include "common/utf8.h"

namespace brisel::common {

std::string JsonError::describe() const {
    if (path.empty()) {
        return reason;
    }
    return path + ": " + reason;
}

namespace {

// True when arrays and objects in `text` nest at most `limit` deep; brackets inside strings do not count.
bool nestingWithin(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char character : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (character == '\\') {
                escaped = true;
            } else if (character == '"') {
                inString = false;
            }
            continue;
        }
        if (character == '"') {
            inString = true;
        } else if (character == '[' || character == '{') {
            if (++depth > limit) {
                return false;
            }
        } else if ((character == ']' || character == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

}  // namespace

JsonResult<Json> parseJson(std::string_view text) {
    if (!isValidUtf8(text)) {
        return tl::unexpected(json_detail::failure("text is not valid UTF-8"));
    }
    if (!nestingWithin(text, kMaxJsonDepth)) {
        return tl::unexpected(json_detail::failure("text nests too deep"));
    }
    try {
        Json json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
        if (json.is_discarded()) {
            return tl::unexpected(json_detail::failure("text is not one JSON value"));
        }
        return json;
    } catch (const std::exception& exception) {
        return tl::unexpected(
            json_detail::failure(std::string("text could not be parsed: ") + exception.what()));
    }
}

JsonStatus checkEncodable(const Json& json) {
    if (const auto* number = json.get_ptr<const Json::number_float_t*>()) {
        if (!std::isfinite(*number)) {
            return tl::unexpected(json_detail::failure("number is not finite"));
        }
        return {};
    }
    if (const auto* text = json.get_ptr<const Json::string_t*>()) {
        if (!isValidUtf8(*text)) {
            return tl::unexpected(json_detail::failure("text is not valid UTF-8"));
        }
        return {};
    }
    if (const auto* array = json.get_ptr<const Json::array_t*>()) {
        for (std::size_t index = 0; index < array->size(); ++index) {
            JsonStatus status = checkEncodable((*array)[index]);
            if (!status) {
                json_detail::prefixIndex(status.error(), index);
                return status;
            }
        }
        return {};
    }
    if (const auto* object = json.get_ptr<const Json::object_t*>()) {
        for (const auto& [key, member] : *object) {
            if (!isValidUtf8(key)) {
                return tl::unexpected(json_detail::failure("a key is not valid UTF-8"));
            }
            JsonStatus status = checkEncodable(member);
            if (!status) {
                json_detail::prefixKey(status.error(), key);
                return status;
            }
        }
        return {};
    }
    return {};
}

JsonResult<std::string> dumpJson(const Json& json) {
    try {
        return json.dump();
    } catch (const std::exception& exception) {
        return tl::unexpected(
            json_detail::failure(std::string("value could not be written: ") + exception.what()));
    }
}

namespace json_detail {

JsonError failure(std::string_view reason) {
    return JsonError{std::string(), std::string(reason)};
}

void prefixKey(JsonError& error, std::string_view key) {
    std::string path(key);
    if (!error.path.empty()) {
        if (error.path.front() != '[') {
            path += '.';
        }
        path += error.path;
    }
    error.path = std::move(path);
}

void prefixIndex(JsonError& error, std::size_t index) {
    std::string path = "[" + std::to_string(index) + "]";
    if (!error.path.empty()) {
        if (error.path.front() != '[') {
            path += '.';
        }
        path += error.path;
    }
    error.path = std::move(path);
}

const Json* findMember(const Json::object_t& object, std::string_view key) {
    for (const auto& [memberKey, member] : object) {
        if (memberKey == key) {
            return &member;
        }
    }
    return nullptr;
}

std::optional<std::int64_t> wholeNumber(double value) {
    constexpr double kLargestExactInteger = 9007199254740992.0;  // 2^53
    if (!std::isfinite(value) || std::trunc(value) != value || std::fabs(value) > kLargestExactInteger) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

std::optional<double> finiteNumber(const Json& json) {
    if (const auto* unsignedValue = json.get_ptr<const Json::number_unsigned_t*>()) {
        return static_cast<double>(*unsignedValue);
    }
    if (const auto* signedValue = json.get_ptr<const Json::number_integer_t*>()) {
        return static_cast<double>(*signedValue);
    }
    if (const auto* floatValue = json.get_ptr<const Json::number_float_t*>()) {
        if (!std::isfinite(*floatValue)) {
            return std::nullopt;
        }
        return *floatValue;
    }
    return std::nullopt;
}

double shortestDouble(float value) {
    if (!std::isfinite(value)) {
        return static_cast<double>(value);
    }
    char digits[64];
    const std::to_chars_result written = std::to_chars(std::begin(digits), std::end(digits), value);
    double result = static_cast<double>(value);
    if (written.ec == std::errc()) {
        std::from_chars(std::begin(digits), written.ptr, result);
    }
    return result;
}

JsonStatus decodeValue(const Json& json, bool& out) {
    const auto* value = json.get_ptr<const Json::boolean_t*>();
    if (value == nullptr) {
        return tl::unexpected(failure("expected true or false"));
    }
    out = *value;
    return {};
}

JsonStatus decodeValue(const Json& json, std::string& out) {
    const auto* value = json.get_ptr<const Json::string_t*>();
    if (value == nullptr) {
        return tl::unexpected(failure("expected a string"));
    }
    out = *value;
    return {};
}

JsonStatus decodeValue(const Json& json, double& out) {
    if (!json.is_number()) {
        return tl::unexpected(failure("expected a number"));
    }
    const std::optional<double> value = finiteNumber(json);
    if (!value) {
        return tl::unexpected(failure("number is not finite"));
    }
    out = *value;
    return {};
}

JsonStatus decodeValue(const Json& json, float& out) {
    double wide = 0.0;
    JsonStatus status = decodeValue(json, wide);
    if (!status) {
        return status;
    }
    // Numbers below this round to at most FLT_MAX; the shortest text of FLT_MAX itself (3.4028235e+38)
    // lies just above FLT_MAX and must read back.
    const double kFloatOverflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
    if (std::fabs(wide) >= kFloatOverflow) {
        return tl::unexpected(failure("number out of range of a 32-bit float"));
    }
    out = static_cast<float>(wide);
    return {};
}

JsonStatus decodeValue(const Json& json, Json& out) {
    out = json;
    return {};
}

JsonStatus decodeValue(const Json& json, AnyEncodable& out) {
    out.value = json;
    return {};
}

Json toJsonValue(bool value) {
    return Json(value);
}

Json toJsonValue(const std::string& value) {
    return Json(value);
}

Json toJsonValue(double value) {
    return Json(value);
}

Json toJsonValue(float value) {
    return Json(shortestDouble(value));
}

Json toJsonValue(const Json& value) {
    return value;
}

Json toJsonValue(const AnyEncodable& value) {
    return value.value;
}

}  // namespace json_detail

}  // namespace brisel::common
