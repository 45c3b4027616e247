// The controller of "collectionSyncRequest": uploads the segment files that earlier recordings left in
// a collection's folder and reports the outcome to the cloud and the browser.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "cloud/streaming_uploader.h"
#include "frame/brisel_action.h"
#include "frame/feature_replies.h"
#include "frame/requests.h"
#include "frame/websocket.h"
#include "workflows/collection/collection_folder_claims.h"

namespace brisel::workflows {

class CollectionSyncRequestController final
    : public frame::BriselAction,
      public std::enable_shared_from_this<CollectionSyncRequestController> {
  public:
    CollectionSyncRequestController(std::shared_ptr<frame::WebSocket> connection,
                                    frame::CollectionSyncRequest data);

    // Runs the sync on a workflow thread of its own and returns at once, so that the connection's
    // other requests are served meanwhile. The REST base address stays the one in force; only the
    // credential is taken from the request. The sync claims the collection's folder while its uploads
    // run; a folder claimed already (by a recording or another sync) is left alone, with the reply
    // for a folder without files and no report to the cloud. When the workflows that run at once are
    // at their bound, answers "ERROR" with the busy message instead. Websocket thread.
    void respond() override;

    // The folder of `collectionID`'s files: the private temporary folder, "velko_brisel_collection",
    // the id in decimal. Errors: the private temporary folder cannot be had.
    static tl::expected<std::filesystem::path, std::string> getCollectionFolderURL(std::int64_t collectionID);

    // Hands every sample file of the folder to an uploader of its own (reporting "Syncing collection"
    // and the status UPLOAD with the first one), and so the whole packets of every temporary file that
    // names its first packet index (left by a recording that never ended), and deletes every other
    // entry; an empty folder is deleted. `claim`, the caller's claim of the folder, is kept by every uploader
    // made for as long as it uploads. Errors: the text of a listing or removal failure, which ends the scan.
    // Blocks 0.1 s per entry.
    tl::expected<std::vector<std::shared_ptr<cloud::StreamingUploader>>, std::string> uploadFilesInFolder(
        const std::filesystem::path& collectionFolderURL, std::int64_t collectionID,
        CollectionFolderClaims::Claim& claim) const;

    // Waits, scanning every 0.5 s for at most 60 s, until no uploader has an upload in flight. True
    // when every uploader uploaded and none is still running at the end.
    static bool waitForUploadersToFinishStatus(
        const std::vector<std::shared_ptr<cloud::StreamingUploader>>& uploaders);

  private:
    void sync() const;
    void responseMessage(frame::BriselStringResponseStatus status, const std::string& message) const;

    std::shared_ptr<frame::WebSocket> ws;
    frame::CollectionSyncRequest collectionSyncRequest;
};

}  // namespace brisel::workflows
