// The blocking download of a model library, a result file of a training run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cloud/api_client.h"

namespace brisel::workflows {

// The most bytes a library may have: far above a board's firmware image.
inline constexpr std::size_t kLibraryBodyLimit = std::size_t{32} * 1024 * 1024;

// GET "/api/run/<runId>/result/<key>" through RunService::shared() (raw bytes, with the REST client's
// retries); blocks the calling thread until the call has ended. Returns the body bytes or the REST
// error; a try whose reply is larger than kLibraryBodyLimit fails. Not on the websocket thread.
cloud::APIResult<std::string> downloadLibrary(std::int64_t runId, std::string_view key);

}  // namespace brisel::workflows
