// The board kind of a training run, read from the cloud on a workflow thread.
#pragma once

#include <cstdint>

#include "cloud/api_client.h"
#include "common/device_kind.h"

namespace brisel::workflows {

// GET "/api/run/<runId>/device_kind" through RunService::shared(); blocks the calling thread until the
// call has ended. Not on the websocket thread.
cloud::APIResult<common::DeviceKind> getRunDeviceKind(std::int64_t runId);

}  // namespace brisel::workflows
