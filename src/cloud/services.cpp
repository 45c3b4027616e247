#include "cloud/services.h"

namespace brisel::cloud {

const BuildService& BuildService::shared() {
    static const BuildService instance;
    return instance;
}

const CollectionService& CollectionService::shared() {
    static const CollectionService instance;
    return instance;
}

const ModelService& ModelService::shared() {
    static const ModelService instance;
    return instance;
}

const NotificationsService& NotificationsService::shared() {
    static const NotificationsService instance;
    return instance;
}

const ProjectService& ProjectService::shared() {
    static const ProjectService instance;
    return instance;
}

const RunService& RunService::shared() {
    static const RunService instance;
    return instance;
}

}  // namespace brisel::cloud
