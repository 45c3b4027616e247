// The strict JSON codec of every record the service reads or writes (requests, replies, cloud records).
//
// A record takes part by providing, in its own namespace, a function found by argument-dependent lookup
// that returns its field-descriptor table:
//     constexpr auto jsonFields(std::type_identity<MyRecord>) {
//         return std::tuple{jsonField("some_key", &MyRecord::someKey), ...};
//     }
// The table order is the order of the members on encoding. Decoding follows these rules:
// - keys match exactly, letter case included; keys the table does not list are ignored;
// - a member of type std::optional<T> is an optional key: missing or null gives an absent value, and an
//   absent value is left out on encoding (never written as null); every other key is required, present
//   and not null;
// - the whole record fails at its first bad key in table order, at any depth; the error names the path
//   of the failing value ("sensor_config[1].kind");
// - bool takes true/false only; std::string a JSON string only; enumerations (see enum_raw_values.h)
//   a string equal to a raw value;
// - integers take a JSON integer inside the member's range, or a JSON float that is finite, whole and
//   at most 2^53 in magnitude (5.0 is 5; 1.5, 1e400 and 2^53 + 2 are refused);
// - double takes any finite JSON number; float any finite number that rounds to at most
//   FLT_MAX in magnitude (3.5e38 is refused);
// - std::vector<T> takes an array, std::map<std::string, T> an object, Json (and AnyEncodable) any
//   value as it is.
// Encoding is checked: a tree holding NaN, an infinity, or a string or key that is not valid UTF-8 gives
// an error and no text. A float member is written through its shortest decimal form (0.1f is written 0.1).
//
// Nothing here throws; all functions are pure and may run on any thread.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>
#include <tl/expected.hpp>

#include "common/enum_raw_values.h"

namespace brisel::common {

// The JSON value type of the service: objects keep their members in insertion order.
using Json = nlohmann::ordered_json;

// Why a value could not be decoded or encoded.
struct JsonError {
    std::string path;    // key path of the failing value, "" for the top value ("data[3]", "a.b")
    std::string reason;  // what was wrong with it ("required key is missing")
    // For a required key that is null, the name of the type its value should have had (see
    // `jsonTypeName`); empty for every other failure.
    std::string expectedType{};

    // "<path>: <reason>", or the reason alone for the top value.
    std::string describe() const;
};

using JsonStatus = tl::expected<void, JsonError>;
template <class T>
using JsonResult = tl::expected<T, JsonError>;

// One entry of a record's field-descriptor table.
template <class Record, class Member>
struct JsonField {
    std::string_view key;
    Member Record::*member;
};

template <class Record, class Member>
constexpr JsonField<Record, Member> jsonField(std::string_view key, Member Record::*member) {
    return {key, member};
}

template <class T>
concept JsonRecord = requires {
    jsonFields(std::type_identity<T>{});
};

// A JSON value of any form, kept as it is: for mixed values in reply payloads and request bodies. It
// encodes exactly as the value it was made from, in place.
struct AnyEncodable {
    Json value;

    AnyEncodable() = default;
    explicit AnyEncodable(Json json) : value(std::move(json)) {}
    template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, AnyEncodable> &&
             !std::is_same_v<std::remove_cvref_t<T>, Json>) explicit AnyEncodable(const T& typed);

    friend bool operator==(const AnyEncodable&, const AnyEncodable&) = default;
};

// The deepest nesting of arrays and objects that parseJson accepts, so that no later walk over a
// parsed value can exhaust the stack.
inline constexpr std::size_t kMaxJsonDepth = 256;

// Parses one JSON text. Errors: the text is not valid UTF-8, nests deeper than kMaxJsonDepth, or is not
// one JSON value. Never throws.
JsonResult<Json> parseJson(std::string_view text);

// Decodes a `T` from a parsed value under the rules above.
template <class T>
JsonResult<T> decodeJson(const Json& json);

// Parses and decodes in one step.
template <class T>
JsonResult<T> decodeJsonText(std::string_view text);

// Whether `json` is an object that holds every required key of `Record`'s table, none of them null.
// When it is not, decodeJson<Record> fails: a caller that tries many record types on one value may
// skip those at once, for the cost of a few key lookups.
template <JsonRecord Record>
bool holdsRequiredKeys(const Json& json);

// The JSON tree of `value`, unchecked (it may still hold NaN or invalid UTF-8). Never fails.
template <class T>
Json toJson(const T& value);

// The JSON tree of `value`, or the error that keeps it from being written.
template <class T>
JsonResult<Json> encodeJson(const T& value);

// The compact JSON text of `value`, or the error that keeps it from being written; no text then.
template <class T>
JsonResult<std::string> encodeJsonText(const T& value);

// The name of the JSON form that a member of type `T` takes: "Bool", "String" (texts and
// enumerations), "Int64" (integers), "Double" (floating-point numbers), "Array", "Object" (maps and
// records) or "Any" (Json, AnyEncodable); an optional takes its value's name.
template <class T>
constexpr std::string_view jsonTypeName();

// Checks that `json` can be written: every number finite, every string and key valid UTF-8.
JsonStatus checkEncodable(const Json& json);

// The compact text of an already checked tree; an error instead of an exception if it cannot be written.
JsonResult<std::string> dumpJson(const Json& json);

// ---------------------------------------------------------------------------------------------------
// Implementation.

namespace json_detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

JsonError failure(std::string_view reason);
// Makes `error` the error of the member `key` of the enclosing object.
void prefixKey(JsonError& error, std::string_view key);
// Makes `error` the error of the element `index` of the enclosing array.
void prefixIndex(JsonError& error, std::size_t index);
// The value of member `key`, or nullptr.
const Json* findMember(const Json::object_t& object, std::string_view key);
// The integer value of a whole, finite double of magnitude at most 2^53, or none.
std::optional<std::int64_t> wholeNumber(double value);
// A finite number of any JSON form as double, or none.
std::optional<double> finiteNumber(const Json& json);
// The double whose shortest decimal form is that of `value`.
double shortestDouble(float value);

JsonStatus decodeValue(const Json& json, bool& out);
JsonStatus decodeValue(const Json& json, std::string& out);
JsonStatus decodeValue(const Json& json, double& out);
JsonStatus decodeValue(const Json& json, float& out);
JsonStatus decodeValue(const Json& json, Json& out);
JsonStatus decodeValue(const Json& json, AnyEncodable& out);
template <std::integral Integer>
requires(!std::is_same_v<Integer, bool>) JsonStatus decodeValue(const Json& json, Integer& out);
template <RawValueEnum Enum>
JsonStatus decodeValue(const Json& json, Enum& out);
template <class T>
JsonStatus decodeValue(const Json& json, std::optional<T>& out);
template <class T>
JsonStatus decodeValue(const Json& json, std::vector<T>& out);
template <class T>
JsonStatus decodeValue(const Json& json, std::map<std::string, T>& out);
template <JsonRecord Record>
JsonStatus decodeValue(const Json& json, Record& out);

Json toJsonValue(bool value);
Json toJsonValue(const std::string& value);
Json toJsonValue(double value);
Json toJsonValue(float value);
Json toJsonValue(const Json& value);
Json toJsonValue(const AnyEncodable& value);
template <std::integral Integer>
requires(!std::is_same_v<Integer, bool>) Json toJsonValue(Integer value);
template <RawValueEnum Enum>
Json toJsonValue(Enum value);
template <class T>
Json toJsonValue(const std::optional<T>& value);
template <class T>
Json toJsonValue(const std::vector<T>& values);
template <class T>
Json toJsonValue(const std::map<std::string, T>& values);
template <class... Alternatives>
Json toJsonValue(const std::variant<Alternatives...>& value);
template <JsonRecord Record>
Json toJsonValue(const Record& record);

template <std::integral Integer>
requires(!std::is_same_v<Integer, bool>) JsonStatus decodeValue(const Json& json, Integer& out) {
    if (const auto* unsignedValue = json.get_ptr<const Json::number_unsigned_t*>()) {
        if (!std::in_range<Integer>(*unsignedValue)) {
            return tl::unexpected(failure("integer out of range"));
        }
        out = static_cast<Integer>(*unsignedValue);
        return {};
    }
    if (const auto* signedValue = json.get_ptr<const Json::number_integer_t*>()) {
        if (!std::in_range<Integer>(*signedValue)) {
            return tl::unexpected(failure("integer out of range"));
        }
        out = static_cast<Integer>(*signedValue);
        return {};
    }
    if (const auto* floatValue = json.get_ptr<const Json::number_float_t*>()) {
        const std::optional<std::int64_t> whole = wholeNumber(*floatValue);
        if (!whole) {
            return tl::unexpected(
                failure("expected an integer, got a number that is not a whole number up to 2^53"));
        }
        if (!std::in_range<Integer>(*whole)) {
            return tl::unexpected(failure("integer out of range"));
        }
        out = static_cast<Integer>(*whole);
        return {};
    }
    return tl::unexpected(failure("expected an integer"));
}

template <RawValueEnum Enum>
JsonStatus decodeValue(const Json& json, Enum& out) {
    const auto* text = json.get_ptr<const Json::string_t*>();
    if (text == nullptr) {
        return tl::unexpected(failure("expected a string"));
    }
    const std::optional<Enum> value = fromRawValue<Enum>(*text);
    if (!value) {
        return tl::unexpected(failure("not one of the accepted texts"));
    }
    out = *value;
    return {};
}

template <class T>
JsonStatus decodeValue(const Json& json, std::optional<T>& out) {
    if (json.is_null()) {
        out.reset();
        return {};
    }
    T value{};
    JsonStatus status = decodeValue(json, value);
    if (status) {
        out = std::move(value);
    }
    return status;
}

template <class T>
JsonStatus decodeValue(const Json& json, std::vector<T>& out) {
    const auto* array = json.get_ptr<const Json::array_t*>();
    if (array == nullptr) {
        return tl::unexpected(failure("expected an array"));
    }
    std::vector<T> values;
    values.reserve(array->size());
    for (std::size_t index = 0; index < array->size(); ++index) {
        T element{};
        JsonStatus status = decodeValue((*array)[index], element);
        if (!status) {
            prefixIndex(status.error(), index);
            return status;
        }
        values.push_back(std::move(element));
    }
    out = std::move(values);
    return {};
}

template <class T>
JsonStatus decodeValue(const Json& json, std::map<std::string, T>& out) {
    const auto* object = json.get_ptr<const Json::object_t*>();
    if (object == nullptr) {
        return tl::unexpected(failure("expected an object"));
    }
    std::map<std::string, T> values;
    for (const auto& [key, member] : *object) {
        T element{};
        JsonStatus status = decodeValue(member, element);
        if (!status) {
            prefixKey(status.error(), key);
            return status;
        }
        values.insert_or_assign(key, std::move(element));
    }
    out = std::move(values);
    return {};
}

template <class Record, class Member>
bool decodeField(const Json::object_t& object, const JsonField<Record, Member>& field, Record& out,
                 JsonStatus& status) {
    const Json* value = findMember(object, field.key);
    if (value == nullptr || value->is_null()) {
        if constexpr (IsOptional<Member>::value) {
            (out.*field.member).reset();
            return true;
        } else {
            JsonError error = failure(value == nullptr ? "required key is missing" : "required key is null");
            if (value != nullptr) {
                error.expectedType = std::string(jsonTypeName<Member>());
            }
            prefixKey(error, field.key);
            status = tl::unexpected(std::move(error));
            return false;
        }
    }
    JsonStatus fieldStatus = decodeValue(*value, out.*field.member);
    if (!fieldStatus) {
        prefixKey(fieldStatus.error(), field.key);
        status = std::move(fieldStatus);
        return false;
    }
    return true;
}

template <class Record, class Member>
bool holdsRequiredKey(const Json::object_t& object, const JsonField<Record, Member>& field) {
    if constexpr (IsOptional<Member>::value) {
        return true;
    } else {
        const Json* value = findMember(object, field.key);
        return value != nullptr && !value->is_null();
    }
}

template <JsonRecord Record>
JsonStatus decodeValue(const Json& json, Record& out) {
    const auto* object = json.get_ptr<const Json::object_t*>();
    if (object == nullptr) {
        return tl::unexpected(failure("expected an object"));
    }
    JsonStatus status;
    std::apply([&](const auto&... fields) { (decodeField(*object, fields, out, status) && ...); },
               jsonFields(std::type_identity<Record>{}));
    return status;
}

template <std::integral Integer>
requires(!std::is_same_v<Integer, bool>) Json toJsonValue(Integer value) {
    if constexpr (std::is_signed_v<Integer>) {
        return Json(static_cast<Json::number_integer_t>(value));
    } else {
        return Json(static_cast<Json::number_unsigned_t>(value));
    }
}

template <RawValueEnum Enum>
Json toJsonValue(Enum value) {
    return Json(std::string(rawValue(value)));
}

template <class T>
Json toJsonValue(const std::optional<T>& value) {
    if (!value) {
        return Json(nullptr);
    }
    return toJsonValue(*value);
}

template <class T>
Json toJsonValue(const std::vector<T>& values) {
    Json array = Json::array();
    array.get_ref<Json::array_t&>().reserve(values.size());
    for (const T& element : values) {
        array.push_back(toJsonValue(element));
    }
    return array;
}

template <class T>
Json toJsonValue(const std::map<std::string, T>& values) {
    Json object = Json::object();
    for (const auto& [key, element] : values) {
        object[key] = toJsonValue(element);
    }
    return object;
}

template <class... Alternatives>
Json toJsonValue(const std::variant<Alternatives...>& value) {
    return std::visit([](const auto& alternative) { return toJsonValue(alternative); }, value);
}

template <class Record, class Member>
void encodeField(Json& object, const JsonField<Record, Member>& field, const Record& record) {
    const Member& member = record.*field.member;
    if constexpr (IsOptional<Member>::value) {
        if (!member) {
            return;
        }
        object[std::string(field.key)] = toJsonValue(*member);
    } else {
        object[std::string(field.key)] = toJsonValue(member);
    }
}

template <JsonRecord Record>
Json toJsonValue(const Record& record) {
    Json object = Json::object();
    std::apply([&](const auto&... fields) { (encodeField(object, fields, record), ...); },
               jsonFields(std::type_identity<Record>{}));
    return object;
}

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {};
template <class T>
struct IsStringMap : std::false_type {};
template <class T>
struct IsStringMap<std::map<std::string, T>> : std::true_type {};

}  // namespace json_detail

template <class T>
constexpr std::string_view jsonTypeName() {
    if constexpr (json_detail::IsOptional<T>::value) {
        return jsonTypeName<typename T::value_type>();
    } else if constexpr (std::is_same_v<T, bool>) {
        return "Bool";
    } else if constexpr (std::is_same_v<T, std::string> || RawValueEnum<T>) {
        return "String";
    } else if constexpr (std::is_integral_v<T>) {
        return "Int64";
    } else if constexpr (std::is_floating_point_v<T>) {
        return "Double";
    } else if constexpr (json_detail::IsVector<T>::value) {
        return "Array";
    } else if constexpr (json_detail::IsStringMap<T>::value || JsonRecord<T>) {
        return "Object";
    } else {
        return "Any";
    }
}

template <class T>
requires(!std::is_same_v<std::remove_cvref_t<T>, AnyEncodable> &&
         !std::is_same_v<std::remove_cvref_t<T>, Json>) AnyEncodable::AnyEncodable(const T& typed)
    : value(json_detail::toJsonValue(typed)) {}

template <class T>
JsonResult<T> decodeJson(const Json& json) {
    T value{};
    JsonStatus status = json_detail::decodeValue(json, value);
    if (!status) {
        return tl::unexpected(std::move(status.error()));
    }
    return value;
}

template <class T>
JsonResult<T> decodeJsonText(std::string_view text) {
    JsonResult<Json> json = parseJson(text);
    if (!json) {
        return tl::unexpected(std::move(json.error()));
    }
    return decodeJson<T>(*json);
}

template <JsonRecord Record>
bool holdsRequiredKeys(const Json& json) {
    const auto* object = json.get_ptr<const Json::object_t*>();
    if (object == nullptr) {
        return false;
    }
    return std::apply(
        [&](const auto&... fields) { return (json_detail::holdsRequiredKey(*object, fields) && ...); },
        jsonFields(std::type_identity<Record>{}));
}

template <class T>
Json toJson(const T& value) {
    return json_detail::toJsonValue(value);
}

template <class T>
JsonResult<Json> encodeJson(const T& value) {
    Json json = json_detail::toJsonValue(value);
    JsonStatus status = checkEncodable(json);
    if (!status) {
        return tl::unexpected(std::move(status.error()));
    }
    return json;
}

template <class T>
JsonResult<std::string> encodeJsonText(const T& value) {
    JsonResult<Json> json = encodeJson(value);
    if (!json) {
        return tl::unexpected(std::move(json.error()));
    }
    return dumpJson(*json);
}

}  // namespace brisel::common
