#include "cloud/cloud_error_body.h"

#include <utility>

#include "common/json_codec.h"

namespace brisel::cloud {

std::optional<CloudErrorBody> parseCloudErrorBody(std::string_view body) {
    const common::JsonResult<common::Json> json = common::parseJson(body);
    if (!json || !json->is_object() || json->empty()) {
        return std::nullopt;
    }
    const auto statusCode = json->find("status_code");
    const auto message = json->find("message");
    if (statusCode == json->end() || message == json->end()) {
        return std::nullopt;
    }
    auto code = common::decodeJson<std::int64_t>(*statusCode);
    auto text = common::decodeJson<std::string>(*message);
    if (!code || !text) {
        return std::nullopt;
    }
    return CloudErrorBody{*code, std::move(*text)};
}

}  // namespace brisel::cloud
