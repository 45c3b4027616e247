// The service objects of the cloud resources. Each is an `APIClient` and nothing more: the class of a
// call only says which resource it concerns. The process-wide `shared()` instances use the shared HTTP
// session and the service's retry timing; they are created on first use (thread-safe) and live until
// the process ends. Tests make their own instances with other settings.
#pragma once

#include "cloud/api_client.h"

namespace brisel::cloud {

class BuildService : public APIClient {
  public:
    using APIClient::APIClient;
    static const BuildService& shared();
};

class CollectionService : public APIClient {
  public:
    using APIClient::APIClient;
    static const CollectionService& shared();
};

class ModelService : public APIClient {
  public:
    using APIClient::APIClient;
    static const ModelService& shared();
};

class NotificationsService : public APIClient {
  public:
    using APIClient::APIClient;
    static const NotificationsService& shared();
};

class ProjectService : public APIClient {
  public:
    using APIClient::APIClient;
    static const ProjectService& shared();
};

class RunService : public APIClient {
  public:
    using APIClient::APIClient;
    static const RunService& shared();
};

// Resources the service does not call; they have no shared instance.
class ClassService : public APIClient {
  public:
    using APIClient::APIClient;
};

class InstanceService : public APIClient {
  public:
    using APIClient::APIClient;
};

class UserService : public APIClient {
  public:
    using APIClient::APIClient;
};

}  // namespace brisel::cloud
