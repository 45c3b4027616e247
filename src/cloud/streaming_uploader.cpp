#include "cloud/streaming_uploader.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "cloud/base_url.h"
#include "cloud/endpoints.h"
#include "cloud/file_uploader.h"
#include "cloud/services.h"
#include "common/enum_raw_values.h"
#include "common/logger.h"
#include "common/peer_text.h"

namespace brisel::cloud {

namespace {

using common::logger;

// Why a saved file cannot be uploaded: it is empty, or the reason it cannot be read.
enum class FileCheck { uploadable, empty, unreadable };

struct CheckedFile {
    FileCheck check = FileCheck::uploadable;
    std::string reason;  // for `unreadable`
};

CheckedFile checkFile(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        const std::error_code error(errno, std::generic_category());
        return {FileCheck::unreadable,
                "The file " + file.filename().string() + " could not be read: " + error.message()};
    }
    if (!S_ISREG(status.st_mode)) {
        return {FileCheck::unreadable, "The file " + file.filename().string() + " is not a regular file"};
    }
    if (status.st_size == 0) {
        return {FileCheck::empty, {}};
    }
    return {};
}

}  // namespace

std::optional<StreamingUploaderError> streamingUploaderErrorFromRawValue(std::int64_t rawValue) {
    if (rawValue == 0) {
        return StreamingUploaderError::NoDataReceived;
    }
    return std::nullopt;
}

std::string localizedDescription(StreamingUploaderError error) {
    return "The operation couldn't be completed. (StreamingUploaderError error " +
           std::to_string(static_cast<int>(error)) + ".)";
}

std::shared_ptr<StreamingUploader> StreamingUploader::create(std::int64_t collectionId,
                                                             std::int64_t projectId,
                                                             common::DeviceKind deviceKind,
                                                             UploaderSettings settings) {
    return std::make_shared<StreamingUploader>(Token{}, collectionId, projectId, deviceKind,
                                               std::move(settings));
}

StreamingUploader::StreamingUploader(Token /*token*/, std::int64_t collectionId, std::int64_t projectId,
                                     common::DeviceKind deviceKind, UploaderSettings settings)
    : collection(collectionId),
      project(projectId),
      boardKind(deviceKind),
      uploaderSettings(std::move(settings)) {}

std::optional<StreamingUploaderError> StreamingUploader::exceptionType() const {
    if (noDataReceived.load()) {
        return StreamingUploaderError::NoDataReceived;
    }
    return std::nullopt;
}

void StreamingUploader::process(const std::filesystem::path& srcPath, std::int64_t firstPacketIndex,
                                bool asyncUpload, FileUploadEnded ended) {
    filesInFlight.fetch_add(1);
    logger().info("Processing file: file://" + srcPath.string());
    // One snapshot for everything this file sends: the upload's address and credential, or the failure
    // reports, always go to one cloud.
    const CloudAccess access = authorizationOf(uploaderSettings).snapshot();
    auto group = std::make_shared<common::DispatchGroup>();
    group->enter();

    const CheckedFile checked = checkFile(srcPath);
    if (checked.check == FileCheck::empty) {
        stopped.store(true);
        logger().error("Incoming data is empty from " + std::string{common::rawValue(boardKind)});
        reportFailure(localizedDescription(StreamingUploaderError::NoDataReceived), access);
        noDataReceived.store(true);
        // Reported once: kept, the file would report the same failure at every later sync.
        std::error_code removeError;
        if (!std::filesystem::remove(srcPath, removeError) && removeError) {
            logger().error("Could not remove the empty file " + srcPath.string() + ": " +
                           removeError.message() + "; remove it by hand");
        }
        processEnded(*group, FileUploadOutcome::empty, ended);
        return;
    }
    if (checked.check == FileCheck::unreadable) {
        logger().error(checked.reason + "; it is not uploaded");
        stopped.store(true);
        reportFailure(checked.reason, access);
        unreadableFile.store(true);
        processEnded(*group, FileUploadOutcome::unreadable, ended);
        return;
    }

    const auto base = parseBaseURL(access.baseURL);
    if (!base) {
        logger().error("Cannot upload " + srcPath.string() + ": the REST base address " +
                       common::peerTextForLog(access.baseURL, common::PeerTextForm::quoted) +
                       " is invalid: " + base.error() + "; the file stays for a later collection sync");
        logger().info("Failed upload: " + srcPath.string());
        processEnded(*group, FileUploadOutcome::failed, ended);
        return;
    }
    logger().info("Uploading sensors.bin to collection id " + std::to_string(collection));
    const std::string endpointURL =
        base->origin() + CollectionEndpoint::createCollectionInstanceJSON(collection).path();
    FileUploader().uploadFile(shared_from_this(), std::move(group), srcPath, endpointURL,
                              "first_packet_index=" + std::to_string(firstPacketIndex), access, asyncUpload,
                              std::move(ended));
}

void StreamingUploader::processEnded(common::DispatchGroup& group, FileUploadOutcome outcome,
                                     const FileUploadEnded& ended) {
    group.leave();
    filesInFlight.fetch_sub(1);
    if (ended) {
        ended(outcome);
    }
}

void StreamingUploader::reportFailure(const std::string& description, const CloudAccess& access) const {
    logger().info("Setting status to error");
    const CollectionEndpoint::StatusUpdate status{collection, 0, DataCollectionStatusStringResponse::ERROR,
                                                  description};
    CollectionService(uploaderSettings.client)
        .patch<DataCollectionStatusResponse>(
            CollectionEndpoint::updateDataCollectionStatus(status).request(access),
            [](APIResult<DataCollectionStatusResponse> result) {
                if (result) {
                    logger().info("Status set to error");
                } else {
                    logger().error("Failed to set status due to error " + describe(result.error()));
                }
            });

    logger().info("Creating a new notification");
    const NotificationsEndpoint::NewNotification notification{project,
                                                              "Data Collection",
                                                              description,
                                                              "FAILED",
                                                              true,
                                                              std::nullopt,
                                                              std::vector<std::int64_t>{collection}};
    NotificationsService(uploaderSettings.client)
        .post<NotificationsResponse>(
            NotificationsEndpoint::createNotification(notification).request(access),
            [](APIResult<NotificationsResponse> result) {
                if (result) {
                    logger().info("Notification created");
                } else {
                    logger().error("Failed to create notification with error " + describe(result.error()));
                }
            });
}

}  // namespace brisel::cloud
