// Which collection folders a workflow of this process is working in, so that a collection sync leaves
// the files of a recording (its temporary file and the segments it still uploads) alone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "cloud/streaming_uploader.h"
#include "cloud/uploader_settings.h"

namespace brisel::workflows {

class CollectionFolderClaims {
  public:
    // The one registry of the service.
    static CollectionFolderClaims& shared();

    // The settings of the service's uploaders: the clean-up after an upload leaves the folder of a
    // collection alone while a claim of it is held (see isHeld) in the shared registry.
    static cloud::UploaderSettings uploaderSettings();

    // Holds a collection's folder for the workflow that owns it. Move-only; releasing it (destruction)
    // ends the claim unless an uploader named with `keepWhileUploading` still has uploads in flight.
    class Claim {
      public:
        Claim() = default;
        Claim(Claim&& other) noexcept;
        Claim& operator=(Claim&& other) noexcept;
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;
        ~Claim();

        // The folder also stays claimed, after the claim is released, while `uploader` (when it still
        // exists) has an upload in flight. Any thread.
        void keepWhileUploading(const std::shared_ptr<const cloud::StreamingUploader>& uploader);

      private:
        friend class CollectionFolderClaims;
        Claim(CollectionFolderClaims* owner, std::uint64_t entry) : registry(owner), token(entry) {}
        void release();

        CollectionFolderClaims* registry = nullptr;
        std::uint64_t token = 0;
    };

    // Claims the folder of `collectionId`; several claims of one folder may coexist. Any thread.
    Claim claim(std::int64_t collectionId);

    // Claims the folder of `collectionId` only when it is not claimed (see isClaimed); none when it is.
    // The test and the claim are one step, so of two callers at once exactly one gets the folder.
    // Any thread.
    std::optional<Claim> claimIfFree(std::int64_t collectionId);

    // True while a claim of the folder is held, or a kept uploader of a released one still uploads.
    // Forgets released claims whose uploads have ended. Any thread.
    bool isClaimed(std::int64_t collectionId);

    // True while a claim of the folder is held (not counting the uploads of released ones). Any thread.
    bool isHeld(std::int64_t collectionId);

  private:
    struct Entry {
        std::int64_t collectionId = 0;
        bool held = true;
        std::vector<std::weak_ptr<const cloud::StreamingUploader>> uploaders;
    };

    // isClaimed with `mutex` held.
    bool claimedLocked(std::int64_t collectionId);
    Claim addClaimLocked(std::int64_t collectionId);
    void keep(std::uint64_t token, const std::shared_ptr<const cloud::StreamingUploader>& uploader);
    void release(std::uint64_t token);

    std::mutex mutex;
    std::map<std::uint64_t, Entry> entries;  // guarded by mutex
    std::uint64_t nextToken = 1;             // guarded by mutex
};

}  // namespace brisel::workflows
