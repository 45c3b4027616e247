// The records of the cloud's replies (collections, projects, run board kinds, contamination thresholds,
// data-collection states, notifications) and the two values the service writes into request bodies.
//
// Every record is a plain value decoded strictly by the codec of common/json_codec.h from its
// field-descriptor table (the `jsonFields` functions below; table order is the JSON key order for
// decoding and encoding). Integers are signed 64-bit, float32 fields `float`, float64 fields `double`;
// `std::optional` members are the optional keys. Pure; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "common/device_kind.h"
#include "common/enum_raw_values.h"
#include "common/json_codec.h"
#include "common/sensor_kind.h"

namespace brisel::cloud {

// The kind of a class of a project.
enum class ClassKindResponse { CONTINUOUS, EVENT };

inline constexpr std::array<common::EnumRawValue<ClassKindResponse>, 2> kClassKindResponseRawValues{{
    {ClassKindResponse::CONTINUOUS, "CONTINUOUS"},
    {ClassKindResponse::EVENT, "EVENT"},
}};

constexpr const auto& enumRawValues(std::type_identity<ClassKindResponse>) {
    return kClassKindResponseRawValues;
}

// The state of a data collection as the cloud keeps it. The service sends DONE, ERROR and UPLOAD;
// RUNNING only arrives.
enum class DataCollectionStatusStringResponse { DONE, ERROR, UPLOAD, RUNNING };

inline constexpr std::array<common::EnumRawValue<DataCollectionStatusStringResponse>, 4>
    kDataCollectionStatusStringResponseRawValues{{
        {DataCollectionStatusStringResponse::DONE, "DONE"},
        {DataCollectionStatusStringResponse::ERROR, "ERROR"},
        {DataCollectionStatusStringResponse::UPLOAD, "UPLOAD"},
        {DataCollectionStatusStringResponse::RUNNING, "RUNNING"},
    }};

constexpr const auto& enumRawValues(std::type_identity<DataCollectionStatusStringResponse>) {
    return kDataCollectionStatusStringResponseRawValues;
}

// One sensor of a collection in the cloud's replies.
struct SensorResponse {
    std::int64_t collectionID = 0;
    bool enabled = false;
    std::optional<double> fullScaleRange;
    std::int64_t id = 0;
    std::string kind;
    float samplingRate = 0;
    friend bool operator==(const SensorResponse&, const SensorResponse&) = default;
};

// The collection that the create-collection call made; the data collection reads `id`.
struct CollectionResponse {
    std::string label;
    std::string createdAt;
    std::int64_t id = 0;
    std::string kind;
    std::string name;
    std::optional<std::string> note;
    std::int64_t numInstances = 0;
    std::int64_t projectID = 0;
    bool ready = false;
    std::vector<SensorResponse> sensors;
    friend bool operator==(const CollectionResponse&, const CollectionResponse&) = default;
};

struct ClassResponse {
    std::int64_t id = 0;
    ClassKindResponse kind = ClassKindResponse::CONTINUOUS;
    std::string label;
    std::int64_t projectID = 0;
    friend bool operator==(const ClassResponse&, const ClassResponse&) = default;
};

// One project; the data collection reads `id` and `deviceKind`.
struct ProjectResponse {
    std::vector<ClassResponse> classes;
    std::string createdAt;
    common::DeviceKind deviceKind = common::DeviceKind::SENSOR_TILE_BOX;
    std::int64_t id = 0;
    std::string name;
    std::int64_t ownerID = 0;
    std::string projectKind;
    std::string updatedAt;
    friend bool operator==(const ProjectResponse&, const ProjectResponse&) = default;
};

// The board kind of a run.
struct DeviceKindResponse {
    common::DeviceKind deviceKind = common::DeviceKind::SENSOR_TILE_BOX;
    friend bool operator==(const DeviceKindResponse&, const DeviceKindResponse&) = default;
};

// The contamination threshold of a model; absent when the cloud has none.
struct ContaminationThresholdDBResponse {
    std::optional<double> contaminationThreshold;
    friend bool operator==(const ContaminationThresholdDBResponse&,
                           const ContaminationThresholdDBResponse&) = default;
};

struct DataCollectionStatusResponse {
    std::int64_t collectionID = 0;
    std::optional<std::int64_t> errorCode;
    std::optional<std::string> errorDescription;
    std::string startedAt;
    DataCollectionStatusStringResponse status = DataCollectionStatusStringResponse::RUNNING;
    std::optional<std::string> updatedAt;
    friend bool operator==(const DataCollectionStatusResponse&,
                           const DataCollectionStatusResponse&) = default;
};

struct InstanceResponse {
    std::int64_t collectionID = 0;
    std::optional<std::int64_t> id;
    friend bool operator==(const InstanceResponse&, const InstanceResponse&) = default;
};

// A collection named by a notification: the keys of `CollectionResponse` and two more.
struct NotificationCollection {
    std::string label;
    std::string createdAt;
    std::int64_t id = 0;
    std::vector<InstanceResponse> instances;
    std::string kind;
    std::string name;
    std::optional<std::string> note;
    std::int64_t numInstances = 0;
    std::int64_t projectID = 0;
    bool ready = false;
    std::vector<SensorResponse> sensors;
    std::optional<std::string> uploadFileName;
    friend bool operator==(const NotificationCollection&, const NotificationCollection&) = default;
};

// The notification that the create-notification call made.
struct NotificationsResponse {
    std::vector<NotificationCollection> collections;
    std::string notificationsResponseDescription;
    std::int64_t id = 0;
    std::int64_t projectID = 0;
    bool read = false;
    std::string recordedAt;
    std::string status;
    bool tag = false;
    std::string title;
    std::int64_t userID = 0;
    friend bool operator==(const NotificationsResponse&, const NotificationsResponse&) = default;
};

// One sensor of a collection to be created, written into the create-collection body. The members bear
// their JSON keys.
struct CollectionNewSensorArgsResponse {
    bool enabled = false;
    common::SensorKind kind = common::SensorKind::ACCELEROMETER;
    double sampling_rate = 0;
    std::optional<double> full_scale_range;
    friend bool operator==(const CollectionNewSensorArgsResponse&,
                           const CollectionNewSensorArgsResponse&) = default;
};

// ---------------------------------------------------------------------------------------------------
// Field-descriptor tables, in JSON key order.

constexpr auto jsonFields(std::type_identity<SensorResponse>) {
    using common::jsonField;
    return std::tuple{jsonField("collection_id", &SensorResponse::collectionID),
                      jsonField("enabled", &SensorResponse::enabled),
                      jsonField("full_scale_range", &SensorResponse::fullScaleRange),
                      jsonField("id", &SensorResponse::id),
                      jsonField("kind", &SensorResponse::kind),
                      jsonField("sampling_rate", &SensorResponse::samplingRate)};
}

constexpr auto jsonFields(std::type_identity<CollectionResponse>) {
    using common::jsonField;
    using Record = CollectionResponse;
    return std::tuple{jsonField("label", &Record::label),
                      jsonField("created_at", &Record::createdAt),
                      jsonField("id", &Record::id),
                      jsonField("kind", &Record::kind),
                      jsonField("name", &Record::name),
                      jsonField("note", &Record::note),
                      jsonField("num_instances", &Record::numInstances),
                      jsonField("project_id", &Record::projectID),
                      jsonField("ready", &Record::ready),
                      jsonField("sensors", &Record::sensors)};
}

constexpr auto jsonFields(std::type_identity<ClassResponse>) {
    using common::jsonField;
    return std::tuple{jsonField("id", &ClassResponse::id), jsonField("kind", &ClassResponse::kind),
                      jsonField("label", &ClassResponse::label),
                      jsonField("project_id", &ClassResponse::projectID)};
}

constexpr auto jsonFields(std::type_identity<ProjectResponse>) {
    using common::jsonField;
    using Record = ProjectResponse;
    return std::tuple{jsonField("classes", &Record::classes),
                      jsonField("created_at", &Record::createdAt),
                      jsonField("device_kind", &Record::deviceKind),
                      jsonField("id", &Record::id),
                      jsonField("name", &Record::name),
                      jsonField("owner_id", &Record::ownerID),
                      jsonField("project_kind", &Record::projectKind),
                      jsonField("updated_at", &Record::updatedAt)};
}

constexpr auto jsonFields(std::type_identity<DeviceKindResponse>) {
    return std::tuple{common::jsonField("device_kind", &DeviceKindResponse::deviceKind)};
}

constexpr auto jsonFields(std::type_identity<ContaminationThresholdDBResponse>) {
    return std::tuple{common::jsonField("contamination_threshold",
                                        &ContaminationThresholdDBResponse::contaminationThreshold)};
}

constexpr auto jsonFields(std::type_identity<DataCollectionStatusResponse>) {
    using common::jsonField;
    using Record = DataCollectionStatusResponse;
    return std::tuple{jsonField("collection_id", &Record::collectionID),
                      jsonField("error_code", &Record::errorCode),
                      jsonField("error_description", &Record::errorDescription),
                      jsonField("started_at", &Record::startedAt),
                      jsonField("status", &Record::status),
                      jsonField("updated_at", &Record::updatedAt)};
}

constexpr auto jsonFields(std::type_identity<InstanceResponse>) {
    using common::jsonField;
    return std::tuple{jsonField("collection_id", &InstanceResponse::collectionID),
                      jsonField("id", &InstanceResponse::id)};
}

constexpr auto jsonFields(std::type_identity<NotificationCollection>) {
    using common::jsonField;
    using Record = NotificationCollection;
    return std::tuple{jsonField("label", &Record::label),
                      jsonField("created_at", &Record::createdAt),
                      jsonField("id", &Record::id),
                      jsonField("instances", &Record::instances),
                      jsonField("kind", &Record::kind),
                      jsonField("name", &Record::name),
                      jsonField("note", &Record::note),
                      jsonField("num_instances", &Record::numInstances),
                      jsonField("project_id", &Record::projectID),
                      jsonField("ready", &Record::ready),
                      jsonField("sensors", &Record::sensors),
                      jsonField("upload_file_name", &Record::uploadFileName)};
}

constexpr auto jsonFields(std::type_identity<NotificationsResponse>) {
    using common::jsonField;
    using Record = NotificationsResponse;
    return std::tuple{jsonField("collections", &Record::collections),
                      jsonField("description", &Record::notificationsResponseDescription),
                      jsonField("id", &Record::id),
                      jsonField("project_id", &Record::projectID),
                      jsonField("read", &Record::read),
                      jsonField("recorded_at", &Record::recordedAt),
                      jsonField("status", &Record::status),
                      jsonField("tag", &Record::tag),
                      jsonField("title", &Record::title),
                      jsonField("user_id", &Record::userID)};
}

constexpr auto jsonFields(std::type_identity<CollectionNewSensorArgsResponse>) {
    using common::jsonField;
    using Record = CollectionNewSensorArgsResponse;
    return std::tuple{jsonField("enabled", &Record::enabled), jsonField("kind", &Record::kind),
                      jsonField("sampling_rate", &Record::sampling_rate),
                      jsonField("full_scale_range", &Record::full_scale_range)};
}

}  // namespace brisel::cloud
