#include "cloud/endpoints.h"

#include <string>

#include "cloud/base_url.h"
#include "common/json_codec.h"

namespace brisel::cloud {

namespace {

using common::Json;

std::string idPath(std::string_view prefix, std::int64_t id, std::string_view suffix = {}) {
    std::string path{prefix};
    path += std::to_string(id);
    path += suffix;
    return path;
}

}  // namespace

Endpoint BuildEndpoint::getBuild(std::int64_t buildId) {
    return Endpoint{idPath("/api/build/", buildId), HTTPMethod::get()};
}

Endpoint ProjectEndpoint::getProject(std::int64_t projectId) {
    return Endpoint{idPath("/api/project/", projectId), HTTPMethod::get()};
}

Endpoint ModelEndpoint::getContaminationThreshold(std::int64_t modelId) {
    return Endpoint{idPath("/api/model/", modelId, "/contamination_threshold"), HTTPMethod::get()};
}

Endpoint ModelEndpoint::updateModel(std::int64_t modelId, std::int64_t latency) {
    Json body = Json::object();
    body["latency"] = latency;
    return Endpoint{idPath("/api/model/", modelId), HTTPMethod::patch(), std::move(body)};
}

Endpoint RunEndpoint::getDeviceKind(std::int64_t runId) {
    return Endpoint{idPath("/api/run/", runId, "/device_kind"), HTTPMethod::get()};
}

Endpoint RunEndpoint::getResult(std::int64_t runId, std::string_view key) {
    return Endpoint{idPath("/api/run/", runId, "/result/") + percentEncodePathSegment(key),
                    HTTPMethod::get()};
}

Endpoint RunEndpoint::getProjectKind(std::int64_t runId) {
    return Endpoint{idPath("/api/run/", runId, "/project_kind"), HTTPMethod::get()};
}

Endpoint RunEndpoint::updateRun(const RunUpdate& update) {
    Json body = Json::object();
    body["latency_status"] = update.latencyStatus;
    body["latency_error"] = update.latencyError;
    body["status"] = update.status;
    return Endpoint{idPath("/api/run/", update.runId), HTTPMethod::patch(), std::move(body)};
}

Endpoint CollectionEndpoint::createCollection(const NewCollection& collection) {
    Json body = Json::object();
    body["bluetooth_recording"] = collection.bluetoothRecording;
    body["kind"] = std::string{common::rawValue(collection.kind)};
    body["num_instances"] = collection.numInstances;
    body["project_id"] = collection.projectId;
    body["sensors"] = common::toJson(collection.sensors);
    body["label"] = collection.label;
    if (collection.name) {
        body["name"] = *collection.name;
    }
    return Endpoint{"/api/collection", HTTPMethod::post(), std::move(body)};
}

Endpoint CollectionEndpoint::deleteCollection(std::int64_t collectionId) {
    Json body = Json::object();
    body["collection_ids"] = Json::array({collectionId});
    return Endpoint{"/api/collections", HTTPMethod::deleteMethod(), std::move(body)};
}

Endpoint CollectionEndpoint::createCollectionInstance(std::int64_t collectionId) {
    return Endpoint{idPath("/api/collection/", collectionId), HTTPMethod::post()};
}

Endpoint CollectionEndpoint::createCollectionInstanceJSON(std::int64_t collectionId) {
    return Endpoint{idPath("/api/collection/", collectionId, "/json"), HTTPMethod::post()};
}

Endpoint CollectionEndpoint::startDataCollection(std::int64_t collectionId) {
    return Endpoint{idPath("/api/collection/", collectionId, "/data_collection/start"), HTTPMethod::post()};
}

Endpoint CollectionEndpoint::updateDataCollectionStatus(const StatusUpdate& update) {
    Json body = Json::object();
    body["error_code"] = update.errorCode;
    body["error_description"] = update.errorDescription;
    body["status"] = std::string{common::rawValue(update.status)};
    return Endpoint{idPath("/api/collection/", update.collectionId, "/data_collection/status"),
                    HTTPMethod::patch(), std::move(body)};
}

Endpoint CollectionEndpoint::getDataCheckRun(std::int64_t collectionId) {
    return Endpoint{idPath("/api/collection/", collectionId, "/data_check_run"), HTTPMethod::get()};
}

Endpoint NotificationsEndpoint::createNotification(const NewNotification& notification) {
    Json body = Json::object();
    body["project_id"] = notification.projectId;
    body["title"] = notification.title;
    body["description"] = notification.description;
    body["status"] = notification.status;
    body["allow_duplicate"] = notification.allowDuplicate;
    if (notification.userId) {
        body["user_id"] = *notification.userId;
    }
    if (notification.collectionIds) {
        body["collection_ids"] = *notification.collectionIds;
    }
    return Endpoint{"/api/notifications", HTTPMethod::post(), std::move(body)};
}

}  // namespace brisel::cloud
