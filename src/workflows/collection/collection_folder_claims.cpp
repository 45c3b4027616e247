#include "workflows/collection/collection_folder_claims.h"

#include <algorithm>
#include <utility>

namespace brisel::workflows {

CollectionFolderClaims& CollectionFolderClaims::shared() {
    static CollectionFolderClaims registry;
    return registry;
}

cloud::UploaderSettings CollectionFolderClaims::uploaderSettings() {
    cloud::UploaderSettings settings;
    settings.collectionInUse = [](std::int64_t collectionId) {
        return shared().isHeld(collectionId);
    };
    return settings;
}

CollectionFolderClaims::Claim::Claim(Claim&& other) noexcept
    : registry(std::exchange(other.registry, nullptr)), token(std::exchange(other.token, 0)) {}

CollectionFolderClaims::Claim& CollectionFolderClaims::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        release();
        registry = std::exchange(other.registry, nullptr);
        token = std::exchange(other.token, 0);
    }
    return *this;
}

CollectionFolderClaims::Claim::~Claim() {
    release();
}

void CollectionFolderClaims::Claim::keepWhileUploading(
    const std::shared_ptr<const cloud::StreamingUploader>& uploader) {
    if (registry != nullptr) {
        registry->keep(token, uploader);
    }
}

void CollectionFolderClaims::Claim::release() {
    if (registry != nullptr) {
        registry->release(token);
        registry = nullptr;
    }
}

CollectionFolderClaims::Claim CollectionFolderClaims::claim(std::int64_t collectionId) {
    std::lock_guard lock(mutex);
    return addClaimLocked(collectionId);
}

std::optional<CollectionFolderClaims::Claim> CollectionFolderClaims::claimIfFree(std::int64_t collectionId) {
    std::lock_guard lock(mutex);
    if (claimedLocked(collectionId)) {
        return std::nullopt;
    }
    return addClaimLocked(collectionId);
}

bool CollectionFolderClaims::isClaimed(std::int64_t collectionId) {
    std::lock_guard lock(mutex);
    return claimedLocked(collectionId);
}

bool CollectionFolderClaims::isHeld(std::int64_t collectionId) {
    std::lock_guard lock(mutex);
    return std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
        return entry.second.held && entry.second.collectionId == collectionId;
    });
}

CollectionFolderClaims::Claim CollectionFolderClaims::addClaimLocked(std::int64_t collectionId) {
    const std::uint64_t token = nextToken++;
    entries.emplace(token, Entry{collectionId, true, {}});
    return Claim(this, token);
}

bool CollectionFolderClaims::claimedLocked(std::int64_t collectionId) {
    bool claimed = false;
    for (auto it = entries.begin(); it != entries.end();) {
        Entry& entry = it->second;
        const bool uploading =
            std::any_of(entry.uploaders.begin(), entry.uploaders.end(), [](const auto& weak) {
                const auto uploader = weak.lock();
                return uploader && uploader->streamerRunning();
            });
        if (!entry.held && !uploading) {
            it = entries.erase(it);
            continue;
        }
        claimed = claimed || entry.collectionId == collectionId;
        ++it;
    }
    return claimed;
}

void CollectionFolderClaims::keep(std::uint64_t token,
                                  const std::shared_ptr<const cloud::StreamingUploader>& uploader) {
    std::lock_guard lock(mutex);
    if (auto entry = entries.find(token); entry != entries.end()) {
        entry->second.uploaders.push_back(uploader);
    }
}

void CollectionFolderClaims::release(std::uint64_t token) {
    std::lock_guard lock(mutex);
    if (auto entry = entries.find(token); entry != entries.end()) {
        entry->second.held = false;
    }
}

}  // namespace brisel::workflows
