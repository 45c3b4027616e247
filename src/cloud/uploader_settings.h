// The seams of the uploaders: session, retry timing, credential source and the collections folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include <tl/expected.hpp>

#include "cloud/api_client_settings.h"
#include "cloud/authorization.h"

namespace brisel::cloud {

// The folder under the private temporary folder that holds one folder per collection.
inline constexpr std::string_view kCollectionsFolderName{"velko_brisel_collection"};

struct UploaderSettings {
    // Session and retry timing of the upload tries and of the failure reports to the cloud.
    APIClientSettings client;
    // The base address and credential in force; null means `Authorization::shared()`. Read when an
    // upload starts. When set, it must outlive every upload and report made with these settings.
    const Authorization* authorization = nullptr;
    // The folder whose empty collection folders are removed after a successful upload. Absent means
    // `common::privateTempFolder()` / "velko_brisel_collection".
    std::optional<std::filesystem::path> collectionsFolder;
    // True for a collection whose folder is in use (a recording may be about to create its file in
    // it): that folder is never removed, empty or not. Empty means none is in use. Called on the
    // thread that handles an upload's outcome.
    std::function<bool(std::int64_t collectionId)> collectionInUse;
};

// `settings.authorization`, or `Authorization::shared()`.
const Authorization& authorizationOf(const UploaderSettings& settings);

// `settings.collectionsFolder`, or the default one; an error text when the private temporary folder
// cannot be had.
tl::expected<std::filesystem::path, std::string> collectionsFolderOf(const UploaderSettings& settings);

}  // namespace brisel::cloud
