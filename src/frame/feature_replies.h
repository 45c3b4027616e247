// The payloads of feature replies (the "data" of a desktopClientResponse envelope): one record per
// feature, each with its own "command", "status" and, except the contamination payload, "data".
// Members are written in the order of each record's key table. The classification payloads are written
// only; all others also decode from the same JSON.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "common/enum_raw_values.h"
#include "common/json_codec.h"

namespace brisel::frame {

using common::EnumRawValue;
using common::jsonField;

enum class BriselClassificationResponseStatus { done, ecDone, ecStop, ecStart, error, connected, resume };
inline constexpr std::array<EnumRawValue<BriselClassificationResponseStatus>, 7>
    kBriselClassificationResponseStatusRawValues{{
        {BriselClassificationResponseStatus::done, "DONE"},
        {BriselClassificationResponseStatus::ecDone, "EC_DONE"},
        {BriselClassificationResponseStatus::ecStop, "EC_STOP"},
        {BriselClassificationResponseStatus::ecStart, "EC_START"},
        {BriselClassificationResponseStatus::error, "ERROR"},
        {BriselClassificationResponseStatus::connected, "CONNECTED"},
        {BriselClassificationResponseStatus::resume, "RESUME"},
    }};
constexpr const auto& enumRawValues(std::type_identity<BriselClassificationResponseStatus>) {
    return kBriselClassificationResponseStatusRawValues;
}

enum class BriselClassificationWifiResponseStatus { connected, error };
inline constexpr std::array<EnumRawValue<BriselClassificationWifiResponseStatus>, 2>
    kBriselClassificationWifiResponseStatusRawValues{{
        {BriselClassificationWifiResponseStatus::connected, "CONNECTED"},
        {BriselClassificationWifiResponseStatus::error, "ERROR"},
    }};
constexpr const auto& enumRawValues(std::type_identity<BriselClassificationWifiResponseStatus>) {
    return kBriselClassificationWifiResponseStatusRawValues;
}

enum class BriselDataCollectionResponseStatus {
    initialize,
    authenticate,
    opening,
    active,
    startReset,
    finishReset,
    startWaiting,
    finishWaiting,
    capturing,
    data,
    captured,
    initDisconnect,
    disconnect,
    deviceNotTransmitting,
    upload,
    done,
    error,
};
inline constexpr std::array<EnumRawValue<BriselDataCollectionResponseStatus>, 17>
    kBriselDataCollectionResponseStatusRawValues{{
        {BriselDataCollectionResponseStatus::initialize, "INITIALIZE"},
        {BriselDataCollectionResponseStatus::authenticate, "AUTHENTICATE"},
        {BriselDataCollectionResponseStatus::opening, "OPENING"},
        {BriselDataCollectionResponseStatus::active, "ACTIVE"},
        {BriselDataCollectionResponseStatus::startReset, "start reset"},
        {BriselDataCollectionResponseStatus::finishReset, "finish reset"},
        {BriselDataCollectionResponseStatus::startWaiting, "start waiting"},
        {BriselDataCollectionResponseStatus::finishWaiting, "finish waiting"},
        {BriselDataCollectionResponseStatus::capturing, "CAPTURING"},
        {BriselDataCollectionResponseStatus::data, "DATA"},
        {BriselDataCollectionResponseStatus::captured, "CAPTURED"},
        {BriselDataCollectionResponseStatus::initDisconnect, "INIT_DISCONNECT"},
        {BriselDataCollectionResponseStatus::disconnect, "DISCONNECT"},
        {BriselDataCollectionResponseStatus::deviceNotTransmitting, "NOT_TRANSMITTING"},
        {BriselDataCollectionResponseStatus::upload, "UPLOAD"},
        {BriselDataCollectionResponseStatus::done, "DONE"},
        {BriselDataCollectionResponseStatus::error, "ERROR"},
    }};
constexpr const auto& enumRawValues(std::type_identity<BriselDataCollectionResponseStatus>) {
    return kBriselDataCollectionResponseStatusRawValues;
}

enum class BriselFlashResponseStatus { start, complete, error, manual_device_reset };
inline constexpr std::array<EnumRawValue<BriselFlashResponseStatus>, 4> kBriselFlashResponseStatusRawValues{{
    {BriselFlashResponseStatus::start, "START"},
    {BriselFlashResponseStatus::complete, "COMPLETE"},
    {BriselFlashResponseStatus::error, "ERROR"},
    {BriselFlashResponseStatus::manual_device_reset, "MANUAL_DEVICE_RESET"},
}};
constexpr const auto& enumRawValues(std::type_identity<BriselFlashResponseStatus>) {
    return kBriselFlashResponseStatusRawValues;
}

enum class BriselLatencyResponseStatus { info, error, warning, success, done };
inline constexpr std::array<EnumRawValue<BriselLatencyResponseStatus>, 5>
    kBriselLatencyResponseStatusRawValues{{
        {BriselLatencyResponseStatus::info, "INFO"},
        {BriselLatencyResponseStatus::error, "ERROR"},
        {BriselLatencyResponseStatus::warning, "WARNING"},
        {BriselLatencyResponseStatus::success, "SUCCESS"},
        {BriselLatencyResponseStatus::done, "DONE"},
    }};
constexpr const auto& enumRawValues(std::type_identity<BriselLatencyResponseStatus>) {
    return kBriselLatencyResponseStatusRawValues;
}

enum class BriselStringCommand { checkDeviceConnection, collectionSync, checkDependencies };
inline constexpr std::array<EnumRawValue<BriselStringCommand>, 3> kBriselStringCommandRawValues{{
    {BriselStringCommand::checkDeviceConnection, "check_device_connection"},
    {BriselStringCommand::collectionSync, "collection_sync"},
    {BriselStringCommand::checkDependencies, "check_dependencies"},
}};
constexpr const auto& enumRawValues(std::type_identity<BriselStringCommand>) {
    return kBriselStringCommandRawValues;
}

enum class BriselStringResponseStatus { done, message, success, error };
inline constexpr std::array<EnumRawValue<BriselStringResponseStatus>, 4> kBriselStringResponseStatusRawValues{
    {
        {BriselStringResponseStatus::done, "DONE"},
        {BriselStringResponseStatus::message, "MESSAGE"},
        {BriselStringResponseStatus::success, "SUCCESS"},
        {BriselStringResponseStatus::error, "ERROR"},
    }};
constexpr const auto& enumRawValues(std::type_identity<BriselStringResponseStatus>) {
    return kBriselStringResponseStatusRawValues;
}

enum class ContaminationThresholdResponseStatus { done, error, failed };
inline constexpr std::array<EnumRawValue<ContaminationThresholdResponseStatus>, 3>
    kContaminationThresholdResponseStatusRawValues{{
        {ContaminationThresholdResponseStatus::done, "DONE"},
        {ContaminationThresholdResponseStatus::error, "ERROR"},
        {ContaminationThresholdResponseStatus::failed, "FAILED"},
    }};
constexpr const auto& enumRawValues(std::type_identity<ContaminationThresholdResponseStatus>) {
    return kContaminationThresholdResponseStatusRawValues;
}

// Classification info values: {"message": ...}.
struct BriselClassificationResponseData {
    std::map<std::string, common::AnyEncodable> message{};
};
constexpr auto jsonFields(std::type_identity<BriselClassificationResponseData>) {
    return std::tuple{jsonField("message", &BriselClassificationResponseData::message)};
}
struct BriselClassificationResponseString {
    std::string message{};
};
constexpr auto jsonFields(std::type_identity<BriselClassificationResponseString>) {
    return std::tuple{jsonField("message", &BriselClassificationResponseString::message)};
}
struct BriselClassificationResponseError {
    std::string message{};  // the readable reason of a failure
};
constexpr auto jsonFields(std::type_identity<BriselClassificationResponseError>) {
    return std::tuple{jsonField("message", &BriselClassificationResponseError::message)};
}
using BriselClassificationResponseInfo =
    std::variant<BriselClassificationResponseData, BriselClassificationResponseString,
                 BriselClassificationResponseError>;

struct BriselClassificationWifiResponseData {
    std::map<std::string, common::AnyEncodable> message{};
};
constexpr auto jsonFields(std::type_identity<BriselClassificationWifiResponseData>) {
    return std::tuple{jsonField("message", &BriselClassificationWifiResponseData::message)};
}
struct BriselClassificationWifiResponseString {
    std::string message{};
};
constexpr auto jsonFields(std::type_identity<BriselClassificationWifiResponseString>) {
    return std::tuple{jsonField("message", &BriselClassificationWifiResponseString::message)};
}
struct BriselClassificationWifiResponseError {
    std::string message{};
};
constexpr auto jsonFields(std::type_identity<BriselClassificationWifiResponseError>) {
    return std::tuple{jsonField("message", &BriselClassificationWifiResponseError::message)};
}
using BriselClassificationWifiResponseInfo =
    std::variant<BriselClassificationWifiResponseData, BriselClassificationWifiResponseString,
                 BriselClassificationWifiResponseError>;

// Live classification ("classify"); the info value is written in place as "data". Written only.
struct BriselClassificationResponse {
    std::string command = "classify";
    BriselClassificationResponseStatus status = BriselClassificationResponseStatus::done;
    BriselClassificationResponseInfo data{};
};
constexpr auto jsonFields(std::type_identity<BriselClassificationResponse>) {
    return std::tuple{jsonField("command", &BriselClassificationResponse::command),
                      jsonField("status", &BriselClassificationResponse::status),
                      jsonField("data", &BriselClassificationResponse::data)};
}

// Live classification of a WiFi board ("classify_wifi"). Written only.
struct BriselClassificationWifiResponse {
    std::string command = "classify_wifi";
    BriselClassificationWifiResponseStatus status = BriselClassificationWifiResponseStatus::connected;
    BriselClassificationWifiResponseInfo data{};
};
constexpr auto jsonFields(std::type_identity<BriselClassificationWifiResponse>) {
    return std::tuple{jsonField("command", &BriselClassificationWifiResponse::command),
                      jsonField("status", &BriselClassificationWifiResponse::status),
                      jsonField("data", &BriselClassificationWifiResponse::data)};
}

// Progress of a data collection. Written in the order collected, uploaded, message, final, duration,
// data, collection_id, project_id, event_range (not the declaration order).
struct BriselDataCollectionResponseData {
    std::int64_t collected = 0;
    std::int64_t uploaded = 0;
    std::optional<std::string> message{};
    std::optional<std::int64_t> collectionID{};
    std::int64_t projectID = 0;
    std::vector<float> eventRange{};
    bool final = false;
    std::optional<double> duration{};
    std::optional<std::map<std::string, std::vector<std::vector<float>>>> data{};
    friend bool operator==(const BriselDataCollectionResponseData&,
                           const BriselDataCollectionResponseData&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselDataCollectionResponseData>) {
    using R = BriselDataCollectionResponseData;
    return std::tuple{jsonField("collected", &R::collected),
                      jsonField("uploaded", &R::uploaded),
                      jsonField("message", &R::message),
                      jsonField("final", &R::final),
                      jsonField("duration", &R::duration),
                      jsonField("data", &R::data),
                      jsonField("collection_id", &R::collectionID),
                      jsonField("project_id", &R::projectID),
                      jsonField("event_range", &R::eventRange)};
}

struct BriselDataCollectionResponse {
    std::string command = "datacollection";
    BriselDataCollectionResponseStatus status = BriselDataCollectionResponseStatus::initialize;
    BriselDataCollectionResponseData data{};
    friend bool operator==(const BriselDataCollectionResponse&,
                           const BriselDataCollectionResponse&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselDataCollectionResponse>) {
    return std::tuple{jsonField("command", &BriselDataCollectionResponse::command),
                      jsonField("status", &BriselDataCollectionResponse::status),
                      jsonField("data", &BriselDataCollectionResponse::data)};
}

// Flash progress data; both absent gives the empty object.
struct BriselFlashResponseData {
    std::optional<std::int64_t> runId{};
    std::optional<std::string> message{};
    friend bool operator==(const BriselFlashResponseData&, const BriselFlashResponseData&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselFlashResponseData>) {
    return std::tuple{jsonField("run_id", &BriselFlashResponseData::runId),
                      jsonField("message", &BriselFlashResponseData::message)};
}

struct BriselFlashResponse {
    std::string command = "flash";
    BriselFlashResponseStatus status = BriselFlashResponseStatus::start;
    BriselFlashResponseData data{};
    friend bool operator==(const BriselFlashResponse&, const BriselFlashResponse&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselFlashResponse>) {
    return std::tuple{jsonField("command", &BriselFlashResponse::command),
                      jsonField("status", &BriselFlashResponse::status),
                      jsonField("data", &BriselFlashResponse::data)};
}

struct BriselLatencyResponseData {
    std::optional<std::string> message{};
    friend bool operator==(const BriselLatencyResponseData&, const BriselLatencyResponseData&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselLatencyResponseData>) {
    return std::tuple{jsonField("message", &BriselLatencyResponseData::message)};
}

struct BriselLatencyResponse {
    std::string command = "latency";
    BriselLatencyResponseStatus status = BriselLatencyResponseStatus::info;
    BriselLatencyResponseData data{};
    friend bool operator==(const BriselLatencyResponse&, const BriselLatencyResponse&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselLatencyResponse>) {
    return std::tuple{jsonField("command", &BriselLatencyResponse::command),
                      jsonField("status", &BriselLatencyResponse::status),
                      jsonField("data", &BriselLatencyResponse::data)};
}

// Device connection check, WiFi board notice, collection sync and dependency check. Every map value is
// a text ("true"/"false" for yes and no).
struct BriselStringResponse {
    BriselStringCommand command = BriselStringCommand::checkDeviceConnection;
    BriselStringResponseStatus status = BriselStringResponseStatus::done;
    std::map<std::string, std::string> data{};
    friend bool operator==(const BriselStringResponse&, const BriselStringResponse&) = default;
};
constexpr auto jsonFields(std::type_identity<BriselStringResponse>) {
    return std::tuple{jsonField("command", &BriselStringResponse::command),
                      jsonField("status", &BriselStringResponse::status),
                      jsonField("data", &BriselStringResponse::data)};
}

// Contamination threshold result: "command" and "status" only, no "data".
struct ContaminationThresholdResponse {
    std::string command = "contamination_threshold";
    ContaminationThresholdResponseStatus status = ContaminationThresholdResponseStatus::done;
    friend bool operator==(const ContaminationThresholdResponse&,
                           const ContaminationThresholdResponse&) = default;
};
constexpr auto jsonFields(std::type_identity<ContaminationThresholdResponse>) {
    return std::tuple{jsonField("command", &ContaminationThresholdResponse::command),
                      jsonField("status", &ContaminationThresholdResponse::status)};
}

}  // namespace brisel::frame
