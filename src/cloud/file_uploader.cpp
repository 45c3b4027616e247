#include "cloud/file_uploader.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <system_error>
#include <utility>

#include "cloud/endpoint.h"
#include "cloud/http/request.h"
#include "cloud/http/result.h"
#include "common/logger.h"

namespace brisel::cloud {

namespace {

using common::logger;
using common::QualityOfService;

// What tells one file apart from another that later takes its path, or from itself after a change.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

tl::expected<FileIdentity, std::error_code> identityOf(const std::filesystem::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        return tl::unexpected(std::error_code(errno, std::generic_category()));
    }
    return FileIdentity{status.st_dev, status.st_ino, status.st_size, status.st_mtim.tv_sec,
                        status.st_mtim.tv_nsec};
}

// One file's upload: what its tries share. Only one try is in flight at a time and the next one starts
// only from the handling of the previous one, so `tryCounter` is never touched by two threads at once.
struct FileUpload {
    std::shared_ptr<StreamingUploader> uploader;
    std::shared_ptr<common::DispatchGroup> group;
    std::shared_ptr<HttpSession> session;
    RetryPolicy retry;
    std::filesystem::path file;
    FileIdentity identity;
    HttpRequest request;
    FileUploadEnded ended;
    int tryCounter = 1;
};

std::string fileURLText(const std::filesystem::path& file) {
    return "file://" + file.string();
}

// "<source file>:<line>" of the logging statement (compiler builtins: clang 14 has no
// std::source_location with this libstdc++).
std::string where(const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return std::string{file} + ":" + std::to_string(line);
}

// The cloud took the file: a 2xx to the request that carried it, once the whole file was sent and
// the reply is complete; or a 418 whenever it comes, since the cloud already holds the file and may
// say so before it has read any of it.
bool cloudTookTheFile(const HttpResult& result) {
    if (!result.statusCode) {
        return false;
    }
    const int status = *result.statusCode;
    return status == 418 || (status >= 200 && status <= 299 && !result.error && result.wholeBodySent);
}

void uploadRequest(std::shared_ptr<FileUpload> upload);

void endUpload(const FileUpload& upload, FileUploadOutcome outcome) {
    upload.group->leave();
    upload.uploader->uploadEnded();
    if (upload.ended) {
        upload.ended(outcome);
    }
}

// Deletes the uploaded file when the path still holds it. True when it was deleted.
bool removeUploadedFile(const FileUpload& upload) {
    const auto current = identityOf(upload.file);
    if (!current) {
        logger().critical("Failed to remove item at " + fileURLText(upload.file) + " due to error " +
                          current.error().message() + " at " + where());
        return false;
    }
    if (*current != upload.identity) {
        logger().warning(
            "Kept " + upload.file.string() +
            ": the path now holds another file than the one uploaded; it stays for its own upload or a "
            "later collection sync");
        return false;
    }
    std::error_code error;
    std::filesystem::remove(upload.file, error);
    if (error) {
        logger().critical("Failed to remove item at " + fileURLText(upload.file) + " due to error " +
                          error.message() + " at " + where());
        return false;
    }
    return true;
}

// True when the settings say that the collection folder `folder` (named by its collection id) is in use.
bool folderInUse(const UploaderSettings& settings, const std::filesystem::path& folder) {
    if (!settings.collectionInUse) {
        return false;
    }
    const std::string name = folder.filename().string();
    std::int64_t id = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), id);
    return error == std::errc() && end == name.data() + name.size() && settings.collectionInUse(id);
}

// Removes every empty folder directly inside the collections folder, when the uploaded file's folder
// is one of them. Never removes a folder that holds anything, nor the folder of a collection in use.
void removeEmptyCollectionFolders(const FileUpload& upload) {
    const auto collections = collectionsFolderOf(upload.uploader->settings());
    if (!collections) {
        logger().warning("Empty collection folders are left in place: " + collections.error());
        return;
    }
    std::error_code error;
    const std::filesystem::path parent = upload.file.parent_path().parent_path();
    if (!std::filesystem::equivalent(parent, *collections, error)) {
        logger().info("Folders around " + upload.file.string() +
                      " are left in place: the file was not in a collection folder");
        return;
    }
    std::filesystem::directory_iterator entry(*collections, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code statusError;
        const std::filesystem::file_status status = entry->symlink_status(statusError);
        if (statusError || !std::filesystem::is_directory(status) ||
            folderInUse(upload.uploader->settings(), entry->path())) {
            continue;
        }
        // Removing a folder never removes what it holds: a folder that is not empty stays.
        std::error_code removeError;
        std::filesystem::remove(entry->path(), removeError);
        if (removeError && removeError != std::errc::directory_not_empty &&
            removeError != std::errc::file_exists && removeError != std::errc::no_such_file_or_directory) {
            logger().critical("Failed to remove item at " + fileURLText(upload.file) + " due to error " +
                              removeError.message() + " at " + where());
            return;
        }
    }
    if (error) {
        logger().critical("Failed to remove item at " + fileURLText(upload.file) + " due to error " +
                          error.message() + " at " + where());
    }
}

void handleSuccess(const FileUpload& upload, int status) {
    upload.uploader->markUploaded();
    if (removeUploadedFile(upload)) {
        removeEmptyCollectionFolders(upload);
    }
    if (status == 418) {
        logger().info("Instance " + upload.file.string() + " has already been uploaded to collection");
    } else {
        logger().info("Successful upload: " + upload.file.string());
    }
    endUpload(upload, FileUploadOutcome::uploaded);
}

// Schedules the next try after the policy's wait. False when the last try has been made.
bool retryUploadRequest(const std::shared_ptr<FileUpload>& upload) {
    if (upload->tryCounter >= upload->retry.maxTries) {
        return false;
    }
    const auto wait = upload->retry.waitAfterTry(upload->tryCounter);
    common::dispatchAfter(QualityOfService::defaultPriority, wait, [upload]() mutable {
        ++upload->tryCounter;
        logger().info("Reattempting upload for " + upload->file.string() + ", try #" +
                      std::to_string(upload->tryCounter));
        uploadRequest(std::move(upload));
    });
    return true;
}

void handleOutcome(const std::shared_ptr<FileUpload>& upload, const HttpResult& result) {
    if (cloudTookTheFile(result)) {
        handleSuccess(*upload, *result.statusCode);
        return;
    }
    const std::string tryText = std::to_string(upload->tryCounter);
    if (result.statusCode) {
        std::string line = "Failed to upload data for " + fileURLText(upload->file) +
                           " statusCode: " + std::to_string(*result.statusCode) + ", try #" + tryText + " " +
                           where();
        if (result.error) {
            line += ": " + describe(*result.error);
        } else if (!result.wholeBodySent) {
            line += ": the cloud answered before it had taken the whole file";
        }
        logger().error(line);
    } else {
        std::string line =
            "Failed to upload data for " + upload->file.string() + ", try #" + tryText + " " + where();
        if (result.error) {
            line += ": " + describe(*result.error);
        }
        logger().error(line);
    }
    if (!retryUploadRequest(upload)) {
        logger().info("Failed upload: " + upload->file.string());
        endUpload(*upload, FileUploadOutcome::failed);
    }
}

void uploadRequest(std::shared_ptr<FileUpload> upload) {
    logger().info("uploadRequest file: " + upload->file.string());
    HttpSession& session = *upload->session;
    HttpRequest request = upload->request;
    // The session's completion only hands the outcome over. It moves the upload out, so that the
    // session is never released on its own thread.
    session.submit(std::move(request), [upload = std::move(upload)](HttpResult result) mutable {
        common::dispatchAsync(
            QualityOfService::defaultPriority,
            [upload = std::move(upload), result = std::move(result)] { handleOutcome(upload, result); });
    });
}

}  // namespace

void FileUploader::uploadFile(std::shared_ptr<StreamingUploader> uploader,
                              std::shared_ptr<common::DispatchGroup> dispatchGroup,
                              const std::filesystem::path& file, const std::string& endpointURL,
                              const std::string& query, const CloudAccess& access, bool /*async*/,
                              FileUploadEnded ended) {
    auto upload = std::make_shared<FileUpload>();
    upload->uploader = std::move(uploader);
    upload->group = std::move(dispatchGroup);
    upload->session = sessionOf(upload->uploader->settings().client);
    upload->retry = upload->uploader->settings().client.retry;
    upload->file = file;
    upload->ended = std::move(ended);

    const auto identity = identityOf(file);
    if (!identity) {
        logger().error("Failed to upload data for " + file.string() + ": " + identity.error().message() +
                       "; check that the file exists and is readable");
        logger().info("Failed upload: " + file.string());
        endUpload(*upload, FileUploadOutcome::failed);
        return;
    }
    upload->identity = *identity;

    upload->request.method = "POST";
    upload->request.url = endpointURL + "?" + query;
    if (auto credential = credentialHeader(access)) {
        upload->request.credentialHeader = credential->name;
        upload->request.headers.push_back(std::move(*credential));
    }
    upload->request.body = HttpFileBody{file};
    uploadRequest(std::move(upload));
}

}  // namespace brisel::cloud
