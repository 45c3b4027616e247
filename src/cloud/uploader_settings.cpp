#include "cloud/uploader_settings.h"

#include "common/paths.h"

namespace brisel::cloud {

const Authorization& authorizationOf(const UploaderSettings& settings) {
    return settings.authorization != nullptr ? *settings.authorization : Authorization::shared();
}

tl::expected<std::filesystem::path, std::string> collectionsFolderOf(const UploaderSettings& settings) {
    if (settings.collectionsFolder) {
        return *settings.collectionsFolder;
    }
    return common::privateTempFolder().map(
        [](const std::filesystem::path& folder) { return folder / kCollectionsFolderName; });
}

}  // namespace brisel::cloud
