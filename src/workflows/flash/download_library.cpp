#include "workflows/flash/download_library.h"

#include <utility>

#include "cloud/endpoints.h"
#include "cloud/services.h"
#include "workflows/await_result.h"

namespace brisel::workflows {

cloud::APIResult<std::string> downloadLibrary(std::int64_t runId, std::string_view key) {
    cloud::BuiltRequest request = cloud::RunEndpoint::getResult(runId, key).request();
    if (request) {
        request->maxResponseBodyBytes = kLibraryBodyLimit;
    }
    return awaitResult<std::string>(
        [&](auto done) { cloud::RunService::shared().getData(request, std::move(done)); });
}

}  // namespace brisel::workflows
