// The upload of one recorded sample file to its collection.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "cloud/streaming_uploader.h"
#include "common/dispatch.h"

namespace brisel::cloud {

// Posts one file's raw bytes, streamed from the file, to "<endpoint URL>?<query>" with the credential
// header of the uploader's settings (read when the upload starts) and no other field: no Accept,
// Content-Type or Expect. Every try of one file sends the same request.
//
// A try succeeds when the reply's status is 200 to 299 or 418 (the cloud already holds the file),
// no transport error occurred and the whole file was sent; anything else is a failed try. Failed tries
// are retried under the uploader's retry policy (5 tries, waits of 5, 10, 15 and 20 s, on the timer).
//
// After a success the file is deleted, but only when the path still holds the file that was sent (same
// device, inode, size and modification time as when the upload started); then every empty folder
// directly inside the collections folder is removed (never recursively, and only when the file's
// folder lies directly inside the collections folder). Failures of deleting or cleaning up are logged
// at critical; the upload still counts as a success.
//
// After the last failed try the file stays on disk, where a later collection sync finds it.
class FileUploader {
  public:
    FileUploader() = default;

    // Starts the first try and returns. `dispatchGroup` has been entered once by the caller, and the
    // upload has been counted among `uploader`'s uploads in flight (`StreamingUploader::process` does
    // both). When the upload ends, by success or after the last try, the group is left once and the
    // count lowered by one, then `ended` (may be empty) is called with the outcome. The settings are
    // `uploader`'s. `async` has no effect.
    // Any thread; the tries' outcomes are handled on the global queue of default priority.
    void uploadFile(std::shared_ptr<StreamingUploader> uploader,
                    std::shared_ptr<common::DispatchGroup> dispatchGroup, const std::filesystem::path& file,
                    const std::string& endpointURL, const std::string& query, bool async,
                    FileUploadEnded ended = {});
};

}  // namespace brisel::cloud
