// The uploader of one collection's recorded sample files.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cloud/uploader_settings.h"
#include "common/device_kind.h"
#include "common/dispatch.h"

namespace brisel::cloud {

// Why a file was not uploaded. Raw value 0 is `NoDataReceived`.
enum class StreamingUploaderError { NoDataReceived = 0 };

// The error of a raw value; none for any value but 0.
std::optional<StreamingUploaderError> streamingUploaderErrorFromRawValue(std::int64_t rawValue);

// The description sent to the cloud for the error:
// "The operation couldn't be completed. (StreamingUploaderError error 0.)"
std::string localizedDescription(StreamingUploaderError error);

// How the upload of one file handed to `StreamingUploader::process` ended.
enum class FileUploadOutcome {
    uploaded,    // the cloud holds the file (status 2xx or 418); the file was deleted
    failed,      // no try succeeded; the file stays on disk for a later collection sync
    empty,       // the file held no bytes: not uploaded, the failure was reported to the cloud
    unreadable,  // the file could not be read: not uploaded, the failure was reported to the cloud
};

// Called once when the upload of one file ends, on the thread that ends it.
using FileUploadEnded = std::function<void(FileUploadOutcome)>;

// Takes saved sample files of one collection, one at a time, and uploads each in the background
// (see `FileUploader`). An empty or unreadable file is not uploaded; its failure is reported to the
// cloud instead (the collection's data-collection status is set to "ERROR" and a "Data Collection" /
// "FAILED" notification is posted). An unreadable file stays on disk; an empty one is removed, so that
// its failure is reported once.
//
// Always held by std::shared_ptr (see `create`): its callers share it and every upload in flight
// keeps it alive. All members may be called from any thread; the flags are atomic.
class StreamingUploader : public std::enable_shared_from_this<StreamingUploader> {
  public:
    static std::shared_ptr<StreamingUploader> create(std::int64_t collectionId, std::int64_t projectId,
                                                     common::DeviceKind deviceKind,
                                                     UploaderSettings settings = {});

    StreamingUploader(const StreamingUploader&) = delete;
    StreamingUploader& operator=(const StreamingUploader&) = delete;

    // Hands one saved file to the uploader: posts its bytes to the collection with
    // "first_packet_index=<firstPacketIndex>", retrying failed tries; on success deletes the file (only
    // when it is still the file that was sent) and the empty collection folders. The base address and
    // the credential are read once, in one snapshot, when the call starts: every request made for the
    // file (its tries, or the failure reports) goes to that one cloud with that cloud's credential.
    // Returns once the upload has started or the failure has been reported; never waits for the
    // upload. `asyncUpload` has no effect (the upload always runs in the background). `ended` (may be
    // empty) is called once the upload has ended, after `streamerRunning()` no longer counts it; it may
    // be called before `process` returns. Any thread; once per file.
    void process(const std::filesystem::path& srcPath, std::int64_t firstPacketIndex, bool asyncUpload,
                 FileUploadEnded ended = {});

    std::int64_t collectionId() const { return collection; }
    std::int64_t projectId() const { return project; }
    common::DeviceKind deviceKind() const { return boardKind; }

    // True once a file could not be uploaded because it was empty or unreadable.
    bool stopDataCollection() const { return stopped.load(); }
    // True while any file handed to `process` is still being checked or uploaded: from the start of
    // `process` until its upload ends (success, or after the last try) or its failure is reported.
    bool streamerRunning() const { return filesInFlight.load() > 0; }
    // True once a file could not be read (any failure but an empty file).
    bool exceptionOccured() const { return unreadableFile.load(); }
    // `NoDataReceived` once an empty file was handed in; none before.
    std::optional<StreamingUploaderError> exceptionType() const;
    // True once any upload of this uploader succeeded (status 418 included); never reset.
    bool uploadedInstance() const { return uploaded.load(); }

    // The settings the uploader was created with; its file uploads use them.
    const UploaderSettings& settings() const { return uploaderSettings; }

    // Bookkeeping of `FileUploader`, not for other callers: `markUploaded` when a try succeeded,
    // `uploadEnded` exactly once when an upload started by `process` ends.
    void markUploaded() { uploaded.store(true); }
    void uploadEnded() { filesInFlight.fetch_sub(1); }

  private:
    struct Token {
        explicit Token() = default;
    };

  public:
    // Use `create`; the token keeps other code from constructing one outside a shared_ptr.
    StreamingUploader(Token token, std::int64_t collectionId, std::int64_t projectId,
                      common::DeviceKind deviceKind, UploaderSettings settings);

  private:
    // Sets the data-collection status to "ERROR" and posts the failure notification to the cloud of
    // `access`; the replies are only logged.
    void reportFailure(const std::string& description, const CloudAccess& access) const;
    // Ends a `process` call that started no upload.
    void processEnded(common::DispatchGroup& group, FileUploadOutcome outcome, const FileUploadEnded& ended);

    const std::int64_t collection;
    const std::int64_t project;
    const common::DeviceKind boardKind;
    const UploaderSettings uploaderSettings;
    std::atomic<bool> stopped{false};
    std::atomic<int> filesInFlight{0};
    std::atomic<bool> unreadableFile{false};
    std::atomic<bool> noDataReceived{false};
    std::atomic<bool> uploaded{false};
};

}  // namespace brisel::cloud
