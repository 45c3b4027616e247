// The error object that the cloud puts in the body of a failed reply.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brisel::cloud {

struct CloudErrorBody {
    std::int64_t statusCode = 0;
    std::string message;
};

// The error of a reply body that is a JSON object, not empty, with a whole number (within 64 bits)
// under "status_code" and a text under "message"; none for any other body (not JSON, not UTF-8, too
// deeply nested, another form or a key missing or of another type). Pure; any thread.
std::optional<CloudErrorBody> parseCloudErrorBody(std::string_view body);

}  // namespace brisel::cloud
