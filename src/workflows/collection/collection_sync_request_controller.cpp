#include "workflows/collection/collection_sync_request_controller.h"

#include <chrono>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "common/logger.h"
#include "common/paths.h"
#include "common/time_scale.h"
#include "device/samples/sample_file.h"
#include "device/samples/sample_reader.h"
#include "frame/replies.h"
#include "workflows/cloud_access.h"
#include "workflows/collection/collection_folder_claims.h"
#include "workflows/collection/collection_reporter.h"
#include "workflows/collection/sample_file_index.h"
#include "workflows/workflow_threads.h"

namespace brisel::workflows {
namespace {

using common::logger;
using frame::BriselStringResponseStatus;
using namespace std::chrono_literals;

constexpr auto kEntryPause = 100ms;
constexpr auto kScanPause = 500ms;
constexpr auto kWaitLimit = 60s;

// The first packet index of a temporary file with one in its name, which a recording that never ended
// (the service crashed or the power went) left behind: its whole packets are uploaded as a segment.
// None for such a file without a whole packet and for every other entry.
std::optional<std::int64_t> leftByUnfinishedRecording(const std::filesystem::path& entry) {
    const auto index = device::temporaryFileFirstPacketIndex(entry.filename().string());
    if (!index) {
        return std::nullopt;
    }
    if (auto cut = device::keepWholePackets(entry); !cut) {
        logger().warning("Could not cut " + entry.string() + " after its last whole packet (" + cut.error() +
                         "); it is uploaded as it is");
    }
    std::error_code error;
    if (std::filesystem::file_size(entry, error) == 0 && !error) {
        return std::nullopt;
    }
    logger().info("File " + entry.filename().string() +
                  " was left by a recording that did not end; it is "
                  "uploaded as the segment of first packet index " +
                  std::to_string(*index));
    return index;
}

// One scan: true while an upload is still running (the scan stops at the first running uploader);
// clears `allUploaded` for every visited uploader that has not uploaded.
bool uploadsRunning(const std::vector<std::shared_ptr<cloud::StreamingUploader>>& uploaders,
                    bool& allUploaded) {
    allUploaded = true;
    for (const auto& uploader : uploaders) {
        if (!uploader->uploadedInstance()) {
            allUploaded = false;
        }
        if (uploader->streamerRunning()) {
            return true;
        }
    }
    return false;
}

}  // namespace

CollectionSyncRequestController::CollectionSyncRequestController(std::shared_ptr<frame::WebSocket> connection,
                                                                 frame::CollectionSyncRequest data)
    : ws(std::move(connection)), collectionSyncRequest(std::move(data)) {}

void CollectionSyncRequestController::respond() {
    logger().info("Collection sync request received");
    if (runWorkflow("com.velko.brisel_core.CollectionSync", [self = shared_from_this()] { self->sync(); }) ==
        WorkflowStart::busy) {
        responseMessage(BriselStringResponseStatus::error, busyMessage());
    }
}

tl::expected<std::filesystem::path, std::string> CollectionSyncRequestController::getCollectionFolderURL(
    std::int64_t collectionID) {
    auto temporary = common::privateTempFolder();
    if (!temporary) {
        return tl::unexpected(temporary.error());
    }
    return *temporary / device::SampleReader::collectionsFolderName / std::to_string(collectionID);
}

void CollectionSyncRequestController::sync() const {
    const std::int64_t id = collectionSyncRequest.collectionID;
    const std::string idText = std::to_string(id);
    const auto folder = getCollectionFolderURL(id);
    std::error_code error;
    if (!folder || !std::filesystem::is_directory(*folder, error)) {
        if (!folder) {
            logger().error("Cannot look for the files of collection " + idText + ": " + folder.error());
        }
        responseMessage(BriselStringResponseStatus::error,
                        "No local data collection files to upload for collection " + idText);
        return;
    }
    useCredentialOfRequest(collectionSyncRequest.authToken);
    // The folder is this sync's while its uploads run: a second sync of the collection meanwhile, like
    // a sync during a recording, leaves it alone.
    auto claim = CollectionFolderClaims::shared().claimIfFree(id);
    if (!claim) {
        logger().info("Collection " + idText +
                      " is being recorded or uploaded by this service; its files are left to it.");
        logger().info("API notified of no sync");
        responseMessage(BriselStringResponseStatus::error,
                        "No local data collection files to upload for collection " + idText);
        return;
    }
    const auto uploaders = uploadFilesInFolder(*folder, id, *claim);
    if (!uploaders) {
        reportCollectionStatus({id, -1, cloud::DataCollectionStatusStringResponse::ERROR, uploaders.error()},
                               "Failed to set status due to error ", "Status set to error");
        logger().error("Unable to upload sensor files. Error: " + uploaders.error());
        responseMessage(BriselStringResponseStatus::error,
                        "Error uploading data collection files for collection " + idText);
        return;
    }
    if (uploaders->empty()) {
        logger().info("API notified of no sync");
        responseMessage(BriselStringResponseStatus::error,
                        "No local data collection files to upload for collection " + idText);
        return;
    }
    const bool allUploaded = waitForUploadersToFinishStatus(*uploaders);
    // An upload leaves the folder of a claimed collection in place: once empty, this sync removes it.
    std::filesystem::remove(*folder, error);
    if (allUploaded) {
        reportCollectionStatus({id, 200, cloud::DataCollectionStatusStringResponse::DONE, ""},
                               "Failed to notify API of done status due to error ",
                               "API notified of done status");
        logger().info("API notified of completed sync");
        responseMessage(BriselStringResponseStatus::success,
                        "Uploaded data collection files to collection " + idText);
        return;
    }
    logger().info("API notified of incomplete sync");
    responseMessage(BriselStringResponseStatus::error,
                    "Incomplete upload of data collection files for collection " + idText);
}

tl::expected<std::vector<std::shared_ptr<cloud::StreamingUploader>>, std::string>
CollectionSyncRequestController::uploadFilesInFolder(const std::filesystem::path& collectionFolderURL,
                                                     std::int64_t collectionID,
                                                     CollectionFolderClaims::Claim& claim) const {
    const std::string idText = std::to_string(collectionID);
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(collectionFolderURL, error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(it->path());
    }
    if (error) {
        return tl::unexpected("The folder " + collectionFolderURL.string() +
                              " could not be listed: " + error.message());
    }
    if (entries.empty()) {
        logger().info("Empty collection folder, deleting folder.");
        if (!std::filesystem::remove(collectionFolderURL, error) && error) {
            return tl::unexpected("The folder " + collectionFolderURL.string() +
                                  " could not be removed: " + error.message());
        }
        return std::vector<std::shared_ptr<cloud::StreamingUploader>>{};
    }
    std::vector<std::shared_ptr<cloud::StreamingUploader>> uploaders;
    for (const auto& entry : entries) {
        const std::string name = entry.filename().string();
        std::optional<std::int64_t> index = sampleFileIndex(name);
        if (!index) {
            index = leftByUnfinishedRecording(entry);
        }
        if (index) {
            auto uploader = cloud::StreamingUploader::create(collectionID, collectionSyncRequest.projectID,
                                                             collectionSyncRequest.deviceKind,
                                                             CollectionFolderClaims::uploaderSettings());
            uploaders.push_back(uploader);
            claim.keepWhileUploading(uploader);
            if (uploaders.size() == 1) {
                responseMessage(BriselStringResponseStatus::message, "Syncing collection " + idText);
                reportCollectionStatus(
                    {collectionID, 200, cloud::DataCollectionStatusStringResponse::UPLOAD, ""},
                    "Failed to notify API of upload status due to error ", "API notified of upload status");
            }
            uploader->process(entry, *index, true);
        } else {
            logger().info("File " + name + " is not meant to upload, deleting.");
            if (!std::filesystem::remove(entry, error) && error) {
                return tl::unexpected("The file " + entry.string() +
                                      " could not be removed: " + error.message());
            }
        }
        std::this_thread::sleep_for(common::scaled(kEntryPause));
    }
    return uploaders;
}

bool CollectionSyncRequestController::waitForUploadersToFinishStatus(
    const std::vector<std::shared_ptr<cloud::StreamingUploader>>& uploaders) {
    const auto started = std::chrono::steady_clock::now();
    const auto limit = common::scaled(kWaitLimit);
    bool allUploaded = true;
    bool running = uploadsRunning(uploaders, allUploaded);
    while (running && std::chrono::steady_clock::now() - started < limit) {
        std::this_thread::sleep_for(common::scaled(kScanPause));
        running = uploadsRunning(uploaders, allUploaded);
    }
    // Uploads still running when the wait gives up are not reported as done.
    return allUploaded && !running;
}

void CollectionSyncRequestController::responseMessage(BriselStringResponseStatus status,
                                                      const std::string& message) const {
    frame::BriselStringResponse payload;
    payload.command = frame::BriselStringCommand::collectionSync;
    payload.status = status;
    payload.data = {{"message", message}};
    ws->write(frame::featureReply(std::move(payload)));
}

}  // namespace brisel::workflows
