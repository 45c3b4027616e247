// The reply envelope of every message to the browser, the error payload, and the version handshake
// reply. Feature payloads are in frame/feature_replies.h.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>

#include <tl/expected.hpp>

#include "common/enum_raw_values.h"
#include "common/json_codec.h"

namespace brisel::frame {

using common::EnumRawValue;

enum class BriselResponseName { error, handshake, desktopClientResponse, deviceManagerResponse };
inline constexpr std::array<EnumRawValue<BriselResponseName>, 4> kBriselResponseNameRawValues{{
    {BriselResponseName::error, "error"},
    {BriselResponseName::handshake, "handshake"},
    {BriselResponseName::desktopClientResponse, "desktopClientResponse"},
    {BriselResponseName::deviceManagerResponse, "deviceManagerResponse"},
}};
constexpr const auto& enumRawValues(std::type_identity<BriselResponseName>) {
    return kBriselResponseNameRawValues;
}

enum class BriselStatus { ok, message, error };
inline constexpr std::array<EnumRawValue<BriselStatus>, 3> kBriselStatusRawValues{{
    {BriselStatus::ok, "OK"},
    {BriselStatus::message, "MESSAGE"},
    {BriselStatus::error, "ERROR"},
}};
constexpr const auto& enumRawValues(std::type_identity<BriselStatus>) {
    return kBriselStatusRawValues;
}

enum class BriselErrorType { noData, unknownMessageType, incompatibleVersion };
inline constexpr std::array<EnumRawValue<BriselErrorType>, 3> kBriselErrorTypeRawValues{{
    {BriselErrorType::noData, "noData"},
    {BriselErrorType::unknownMessageType, "unknownMessageType"},
    {BriselErrorType::incompatibleVersion, "incompatibleVersion"},
}};
constexpr const auto& enumRawValues(std::type_identity<BriselErrorType>) {
    return kBriselErrorTypeRawValues;
}

// The envelope: {"command":..,"status":..,"data":..} in this order. The pairs in use are
// desktopClientResponse + message + a feature payload, error + error + BriselError, and
// handshake + ok + HandshakeData.
template <class Payload>
struct BriselResponse {
    BriselResponseName command = BriselResponseName::desktopClientResponse;
    BriselStatus status = BriselStatus::message;
    Payload data{};
    friend bool operator==(const BriselResponse&, const BriselResponse&) = default;
};
template <class Payload>
constexpr auto jsonFields(std::type_identity<BriselResponse<Payload>>) {
    using R = BriselResponse<Payload>;
    return std::tuple{common::jsonField("command", &R::command), common::jsonField("status", &R::status),
                      common::jsonField("data", &R::data)};
}

// The error payload: "error", then "errorMessage" only when present.
struct BriselError {
    BriselErrorType error = BriselErrorType::unknownMessageType;
    std::optional<std::string> errorMessage{};
    friend bool operator==(const BriselError&, const BriselError&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselError>) {
    return std::tuple{common::jsonField("error", &BriselError::error),
                      common::jsonField("errorMessage", &BriselError::errorMessage)};
}

// The handshake reply's payload: the one entry "build".
using HandshakeData = std::map<std::string, std::int64_t>;

// The service's own build number, sent in the handshake and compared with the application's.
inline constexpr std::uint64_t kServiceBuildNumber = 10240000008025;

// The explanation of the incompatibleVersion reply: one line with a link to the download page.
inline constexpr std::string_view kOutOfDateNotice =
    "Velko Brisel is out of date or not installed. This may result in errors and some features may be "
    "unavailable. Visit <a href=\"https://sw.velko.example/resource\">https://sw.velko.example/resources</a> "
    "to download the latest software package.";

// A feature reply: desktopClientResponse, message, `payload`.
template <class Payload>
BriselResponse<Payload> featureReply(Payload payload) {
    return BriselResponse<Payload>{BriselResponseName::desktopClientResponse, BriselStatus::message,
                                   std::move(payload)};
}

// An error reply: error, error, `error`.
BriselResponse<BriselError> errorReply(BriselError error);

// The error sent when the application's build number is greater than kServiceBuildNumber.
BriselError incompatibleVersionError();

// The handshake reply: handshake, ok, {"build": kServiceBuildNumber}.
BriselResponse<HandshakeData> handshakeReply();

// The compact JSON text of a reply, or the error that keeps it from being written (a number that is not
// finite, a text that is not valid UTF-8); no text then, and the caller logs its own line. Any thread.
template <class Payload>
tl::expected<std::string, common::JsonError> encodeReply(const BriselResponse<Payload>& reply) {
    return common::encodeJsonText(reply);
}

}  // namespace brisel::frame
