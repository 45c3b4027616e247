// The request messages of the browser application, one JSON object per websocket text frame.
//
// Each request is an immutable value record decoded strictly by the codec of common/json_codec.h from
// its key table below (the table order is also the encoding order). Every request but the handshake
// starts with a boolean named after its message key, whose value is never read: false serves as true.
// Decoding checks only the JSON form of each value, never its meaning.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/collection_kind.h"
#include "common/data_collection_type.h"
#include "common/device_kind.h"
#include "common/json_codec.h"
#include "common/sensor_kind.h"

namespace brisel::frame {

using common::jsonField;

// The version handshake: the browser application's build number. Keys: "buildNumber" (0..2^64-1).
struct VersionInformation {
    std::uint64_t buildNumber = 0;
    friend bool operator==(const VersionInformation&, const VersionInformation&) = default;
};
constexpr auto jsonFields(std::type_identity<VersionInformation>) {
    return std::tuple{jsonField("buildNumber", &VersionInformation::buildNumber)};
}

// Flash a model library onto a board on a USB port ("flashRequest").
struct FlashRequest {
    bool flashRequest = false;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::optional<std::string> modelKind{};  // plain text, not a ModelKind
    std::int64_t runID = 0;
    std::optional<std::int64_t> projectID{};
    std::string libname{};
    std::string scheme{};
    std::optional<bool> skipFlash{};
    friend bool operator==(const FlashRequest&, const FlashRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<FlashRequest>) {
    return std::tuple{jsonField("flashRequest", &FlashRequest::flashRequest),
                      jsonField("command", &FlashRequest::command),
                      jsonField("host", &FlashRequest::host),
                      jsonField("auth_token", &FlashRequest::authToken),
                      jsonField("model_kind", &FlashRequest::modelKind),
                      jsonField("port", &FlashRequest::port),
                      jsonField("run_id", &FlashRequest::runID),
                      jsonField("project_id", &FlashRequest::projectID),
                      jsonField("libname", &FlashRequest::libname),
                      jsonField("scheme", &FlashRequest::scheme),
                      jsonField("skip_flash", &FlashRequest::skipFlash)};
}

// Flash a model library onto a board over WiFi ("flashWifiRequest"); the form of FlashRequest.
struct FlashWifiRequest {
    bool flashWifiRequest = false;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::optional<std::string> modelKind{};
    std::int64_t runID = 0;
    std::optional<std::int64_t> projectID{};
    std::string libname{};
    std::string scheme{};
    std::optional<bool> skipFlash{};
    friend bool operator==(const FlashWifiRequest&, const FlashWifiRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<FlashWifiRequest>) {
    return std::tuple{jsonField("flashWifiRequest", &FlashWifiRequest::flashWifiRequest),
                      jsonField("command", &FlashWifiRequest::command),
                      jsonField("host", &FlashWifiRequest::host),
                      jsonField("auth_token", &FlashWifiRequest::authToken),
                      jsonField("model_kind", &FlashWifiRequest::modelKind),
                      jsonField("port", &FlashWifiRequest::port),
                      jsonField("run_id", &FlashWifiRequest::runID),
                      jsonField("project_id", &FlashWifiRequest::projectID),
                      jsonField("libname", &FlashWifiRequest::libname),
                      jsonField("scheme", &FlashWifiRequest::scheme),
                      jsonField("skip_flash", &FlashWifiRequest::skipFlash)};
}

// The settings of one sensor of a data collection.
struct SensorConfig {
    bool enabled = false;
    common::SensorKind kind = common::SensorKind::ACCELEROMETER;
    std::optional<double> fullScaleRange{};
    double samplingRate = 0.0;
    friend bool operator==(const SensorConfig&, const SensorConfig&) = default;
};
constexpr auto jsonFields(std::type_identity<SensorConfig>) {
    return std::tuple{jsonField("enabled", &SensorConfig::enabled), jsonField("kind", &SensorConfig::kind),
                      jsonField("full_scale_range", &SensorConfig::fullScaleRange),
                      jsonField("sampling_rate", &SensorConfig::samplingRate)};
}

// Record sensor data from a board into a new cloud collection ("startDataCollection"). All keys required.
struct StartDataCollectionRequest {
    bool startDataCollection = false;
    std::int64_t projectID = 0;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::int64_t numInstances = 0;
    common::CollectionKindResponse kind = common::CollectionKindResponse::TRAINING;
    std::string label{};
    std::string datasetName{};
    std::vector<SensorConfig> sensorConfig{};  // may be empty
    std::string scheme{};
    common::DataCollectionType dataCollectionType = common::DataCollectionType::USB;
    friend bool operator==(const StartDataCollectionRequest&, const StartDataCollectionRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<StartDataCollectionRequest>) {
    using R = StartDataCollectionRequest;
    return std::tuple{jsonField("startDataCollection", &R::startDataCollection),
                      jsonField("command", &R::command),
                      jsonField("project_id", &R::projectID),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("kind", &R::kind),
                      jsonField("num_instances", &R::numInstances),
                      jsonField("label", &R::label),
                      jsonField("dataset_name", &R::datasetName),
                      jsonField("sensor_config", &R::sensorConfig),
                      jsonField("scheme", &R::scheme),
                      jsonField("data_collection_type", &R::dataCollectionType)};
}

// Bytes of a Bluetooth board relayed by the browser ("saveDataCollectionBluetooth"); "data" is an
// array of numbers 0..255, possibly empty.
struct SaveDataCollectionBluetoothRequest {
    bool saveDataCollectionBluetooth = false;
    std::vector<std::uint8_t> data{};
    friend bool operator==(const SaveDataCollectionBluetoothRequest&,
                           const SaveDataCollectionBluetoothRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<SaveDataCollectionBluetoothRequest>) {
    using R = SaveDataCollectionBluetoothRequest;
    return std::tuple{jsonField("saveDataCollectionBluetooth", &R::saveDataCollectionBluetooth),
                      jsonField("data", &R::data)};
}

// Start live classification on a board on a USB port ("liveClassificationStartRequest").
struct LiveClassificationStartRequest {
    bool liveClassificationStartRequest = false;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::int64_t runID = 0;
    std::int64_t modelID = 0;
    std::optional<double> thresholdValue{};  // the classification uses 0.5 when absent
    bool latencyExists = false;
    std::string scheme{};
    friend bool operator==(const LiveClassificationStartRequest&,
                           const LiveClassificationStartRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<LiveClassificationStartRequest>) {
    using R = LiveClassificationStartRequest;
    return std::tuple{jsonField("liveClassificationStartRequest", &R::liveClassificationStartRequest),
                      jsonField("command", &R::command),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("run_id", &R::runID),
                      jsonField("model_id", &R::modelID),
                      jsonField("threshold_value", &R::thresholdValue),
                      jsonField("latency_exists", &R::latencyExists),
                      jsonField("scheme", &R::scheme)};
}

// Stop live classification ("liveClassificationStopRequest").
struct LiveClassificationStopRequest {
    bool liveClassificationStopRequest = false;
    friend bool operator==(const LiveClassificationStopRequest&,
                           const LiveClassificationStopRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<LiveClassificationStopRequest>) {
    return std::tuple{jsonField("liveClassificationStopRequest",
                                &LiveClassificationStopRequest::liveClassificationStopRequest)};
}

// Start live classification on a board over WiFi ("liveClassificationWifiStartRequest").
struct LiveClassificationWifiStartRequest {
    bool liveClassificationWifiStartRequest = false;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::int64_t runID = 0;
    std::string scheme{};
    friend bool operator==(const LiveClassificationWifiStartRequest&,
                           const LiveClassificationWifiStartRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<LiveClassificationWifiStartRequest>) {
    using R = LiveClassificationWifiStartRequest;
    return std::tuple{jsonField("liveClassificationWifiStartRequest", &R::liveClassificationWifiStartRequest),
                      jsonField("command", &R::command),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("run_id", &R::runID),
                      jsonField("scheme", &R::scheme)};
}

// Measure a model's inference latency on a board on a USB port ("measure_latency").
struct MeasureLatencyRequest {
    bool measureLatency = false;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::int64_t runID = 0;
    std::int64_t modelID = 0;
    std::string scheme{};
    friend bool operator==(const MeasureLatencyRequest&, const MeasureLatencyRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<MeasureLatencyRequest>) {
    using R = MeasureLatencyRequest;
    return std::tuple{jsonField("measure_latency", &R::measureLatency),
                      jsonField("command", &R::command),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("run_id", &R::runID),
                      jsonField("model_id", &R::modelID),
                      jsonField("scheme", &R::scheme)};
}

// Latency measurement for a WiFi board ("measure_latency_wifi").
struct MeasureLatencyWifiRequest {
    bool measureLatencyWifi = false;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::int64_t runID = 0;
    std::string scheme{};
    friend bool operator==(const MeasureLatencyWifiRequest&, const MeasureLatencyWifiRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<MeasureLatencyWifiRequest>) {
    using R = MeasureLatencyWifiRequest;
    return std::tuple{jsonField("measure_latency_wifi", &R::measureLatencyWifi),
                      jsonField("command", &R::command),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("run_id", &R::runID),
                      jsonField("scheme", &R::scheme)};
}

// Report which flashing tools are installed ("checkDependencies").
struct CheckDependenciesRequest {
    bool checkDependencies = false;
    std::string command{};
    friend bool operator==(const CheckDependenciesRequest&, const CheckDependenciesRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<CheckDependenciesRequest>) {
    return std::tuple{jsonField("checkDependencies", &CheckDependenciesRequest::checkDependencies),
                      jsonField("command", &CheckDependenciesRequest::command)};
}

// Report whether a board of a kind is attached ("checkDeviceConnection").
struct CheckDeviceConnectionRequest {
    bool checkDeviceConnection = false;
    std::string command{};
    common::DeviceKind deviceKind = common::DeviceKind::SENSOR_TILE_BOX;
    friend bool operator==(const CheckDeviceConnectionRequest&,
                           const CheckDeviceConnectionRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<CheckDeviceConnectionRequest>) {
    using R = CheckDeviceConnectionRequest;
    return std::tuple{jsonField("checkDeviceConnection", &R::checkDeviceConnection),
                      jsonField("command", &R::command), jsonField("deviceKind", &R::deviceKind)};
}

// Write a model's contamination threshold to a board ("contaminationThresholdRequest"); no "command",
// no "scheme".
struct ContaminationThresholdRequest {
    bool contaminationThresholdRequest = false;
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::int64_t runID = 0;
    std::int64_t modelID = 0;
    friend bool operator==(const ContaminationThresholdRequest&,
                           const ContaminationThresholdRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<ContaminationThresholdRequest>) {
    using R = ContaminationThresholdRequest;
    return std::tuple{jsonField("contaminationThresholdRequest", &R::contaminationThresholdRequest),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("run_id", &R::runID),
                      jsonField("model_id", &R::modelID)};
}

// Upload the recorded files left in a collection's folder ("collectionSyncRequest"); no "command",
// no "scheme".
struct CollectionSyncRequest {
    bool collectionSyncRequest = false;
    std::int64_t collectionID = 0;
    std::int64_t projectID = 0;
    std::string host{};
    std::string authToken{};
    std::string port{};
    common::DeviceKind deviceKind = common::DeviceKind::SENSOR_TILE_BOX;
    friend bool operator==(const CollectionSyncRequest&, const CollectionSyncRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<CollectionSyncRequest>) {
    using R = CollectionSyncRequest;
    return std::tuple{jsonField("collectionSyncRequest", &R::collectionSyncRequest),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("collection_id", &R::collectionID),
                      jsonField("project_id", &R::projectID),
                      jsonField("deviceKind", &R::deviceKind)};
}

// Flash a board's WiFi configuration ("flashWifiConfigRequest"). Not routed: no frame becomes one.
struct FlashWifiConfigRequest {
    bool flashWifiConfigRequest = false;
    std::string command{};
    std::string host{};
    std::string authToken{};
    std::string port{};
    std::int64_t runID = 0;
    std::string libname{};
    std::string scheme{};
    std::string config{};
    friend bool operator==(const FlashWifiConfigRequest&, const FlashWifiConfigRequest&) = default;
};
constexpr auto jsonFields(std::type_identity<FlashWifiConfigRequest>) {
    using R = FlashWifiConfigRequest;
    return std::tuple{jsonField("flashWifiConfigRequest", &R::flashWifiConfigRequest),
                      jsonField("command", &R::command),
                      jsonField("host", &R::host),
                      jsonField("auth_token", &R::authToken),
                      jsonField("port", &R::port),
                      jsonField("run_id", &R::runID),
                      jsonField("libname", &R::libname),
                      jsonField("scheme", &R::scheme),
                      jsonField("config", &R::config)};
}

}  // namespace brisel::frame
