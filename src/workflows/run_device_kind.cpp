#include "workflows/run_device_kind.h"

#include <utility>

#include "cloud/endpoints.h"
#include "cloud/response_records.h"
#include "cloud/services.h"
#include "workflows/await_result.h"

namespace brisel::workflows {

cloud::APIResult<common::DeviceKind> getRunDeviceKind(std::int64_t runId) {
    const cloud::BuiltRequest request = cloud::RunEndpoint::getDeviceKind(runId).request();
    auto kind = awaitResult<cloud::DeviceKindResponse>([&](auto done) {
        cloud::RunService::shared().get<cloud::DeviceKindResponse>(request, std::move(done));
    });
    return kind.map([](const cloud::DeviceKindResponse& response) { return response.deviceKind; });
}

}  // namespace brisel::workflows
