// The upload of one recorded sample file to its collection.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "cloud/authorization.h"
#include "cloud/streaming_uploader.h"
#include "common/dispatch.h"

namespace brisel::cloud {

// Posts one file's raw bytes, streamed from the file, to "<endpoint URL>?<query>" with the credential
// header of the given cloud access and no other field: no Accept, Content-Type or Expect. Every try of
// one file sends the same request.
//
// A try succeeds only when the cloud answered the request that carried the file: a status of 200 to
// 299 after the whole file was sent, with no transport error; or 418 (the cloud already holds the
// file) at any moment, even before it read the file. Anything else is a failed try, a redirect that
// the session does not follow included (one that would send the file again without its body).
// Failed tries are retried under the uploader's retry policy (5 tries, waits of 5, 10, 15 and 20 s,
// on the timer).
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
    // count lowered by one, then `ended` (may be empty) is called with the outcome. The session and
    // retry timing are `uploader`'s settings; the credential is that of `access`, the snapshot under
    // which the caller built `endpointURL`, so that the file and the credential go to one cloud even
    // when another request changes the cloud in force meanwhile. `async` has no effect.
    // Any thread; the tries' outcomes are handled on the global queue of default priority.
    void uploadFile(std::shared_ptr<StreamingUploader> uploader,
                    std::shared_ptr<common::DispatchGroup> dispatchGroup, const std::filesystem::path& file,
                    const std::string& endpointURL, const std::string& query, const CloudAccess& access,
                    bool async, FileUploadEnded ended = {});
};

}  // namespace brisel::cloud
