// The endpoint families of the cloud REST interface: each function makes the `Endpoint` of one call,
// with its path, method and body. Identifiers are written into paths in decimal; a result key from the
// cloud is percent-encoded as one path segment. No endpoint has a query. Pure; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cloud/endpoint.h"
#include "cloud/response_records.h"
#include "common/collection_kind.h"

namespace brisel::cloud {

struct BuildEndpoint {
    BuildEndpoint() = delete;
    // GET "/api/build/<buildId>", no body; reply `BuildResponse`.
    static Endpoint getBuild(std::int64_t buildId);
};

struct ProjectEndpoint {
    ProjectEndpoint() = delete;
    // GET "/api/project/<projectId>", no body; reply `ProjectResponse`.
    static Endpoint getProject(std::int64_t projectId);
};

struct ModelEndpoint {
    ModelEndpoint() = delete;
    // GET "/api/model/<modelId>/contamination_threshold", no body; reply `ContaminationThresholdDBResponse`.
    static Endpoint getContaminationThreshold(std::int64_t modelId);
    // PATCH "/api/model/<modelId>" with {"latency": <latency>}; the reply's bytes are not read.
    static Endpoint updateModel(std::int64_t modelId, std::int64_t latency);
};

struct RunEndpoint {
    RunEndpoint() = delete;

    // The latency report on a run.
    struct RunUpdate {
        std::int64_t runId = 0;
        std::int64_t latencyStatus = 0;
        bool latencyError = false;
        // The raw value of the latency reply's status: "INFO", "ERROR", "WARNING", "SUCCESS" or "DONE".
        std::string status;
    };

    // GET "/api/run/<runId>/device_kind", no body; reply `DeviceKindResponse`.
    static Endpoint getDeviceKind(std::int64_t runId);
    // GET "/api/run/<runId>/result/<key>", no body; the reply is the file's bytes.
    static Endpoint getResult(std::int64_t runId, std::string_view key);
    // GET "/api/run/<runId>/project_kind", no body.
    static Endpoint getProjectKind(std::int64_t runId);
    // PATCH "/api/run/<runId>" with {"latency_status", "latency_error", "status"}.
    static Endpoint updateRun(const RunUpdate& update);
};

struct CollectionEndpoint {
    CollectionEndpoint() = delete;

    // The collection to create.
    struct NewCollection {
        common::CollectionKindResponse kind = common::CollectionKindResponse::TRAINING;
        std::optional<std::string> name;
        std::int64_t projectId = 0;
        std::string label;
        std::vector<CollectionNewSensorArgsResponse> sensors;
        std::int64_t numInstances = 0;
        bool bluetoothRecording = false;
    };

    // The status report of a data collection.
    struct StatusUpdate {
        std::int64_t collectionId = 0;
        std::int64_t errorCode = 0;
        DataCollectionStatusStringResponse status = DataCollectionStatusStringResponse::DONE;
        std::string errorDescription;
    };

    // POST "/api/collection" with {"bluetooth_recording", "kind", "num_instances", "project_id",
    // "sensors", "label"} and "name" last, only when present; reply `CollectionResponse`.
    static Endpoint createCollection(const NewCollection& collection);
    // DELETE "/api/collections" with {"collection_ids": [<collectionId>]}.
    static Endpoint deleteCollection(std::int64_t collectionId);
    // POST "/api/collection/<collectionId>", no body.
    static Endpoint createCollectionInstance(std::int64_t collectionId);
    // POST "/api/collection/<collectionId>/json", no body (the uploader adds its query and the file).
    static Endpoint createCollectionInstanceJSON(std::int64_t collectionId);
    // POST "/api/collection/<collectionId>/data_collection/start", no body; reply
    // `DataCollectionStatusResponse`.
    static Endpoint startDataCollection(std::int64_t collectionId);
    // PATCH "/api/collection/<collectionId>/data_collection/status" with {"error_code",
    // "error_description", "status"}; reply `DataCollectionStatusResponse`.
    static Endpoint updateDataCollectionStatus(const StatusUpdate& update);
    // GET "/api/collection/<collectionId>/data_check_run", no body.
    static Endpoint getDataCheckRun(std::int64_t collectionId);
};

struct NotificationsEndpoint {
    NotificationsEndpoint() = delete;

    struct NewNotification {
        std::int64_t projectId = 0;
        std::string title;
        std::string description;
        std::string status;
        bool allowDuplicate = false;
        std::optional<std::int64_t> userId;
        std::optional<std::vector<std::int64_t>> collectionIds;
    };

    // POST "/api/notifications" with {"project_id", "title", "description", "status", "allow_duplicate"},
    // then "user_id" and "collection_ids" only when present; reply `NotificationsResponse`.
    static Endpoint createNotification(const NewNotification& notification);
};

}  // namespace brisel::cloud
