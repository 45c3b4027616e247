// What a data collection tells the browser, the log and the cloud about itself: its progress replies,
// its log lines (prefixed with the link's name) and the status reports of its collection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cloud/authorization.h"
#include "cloud/endpoints.h"
#include "common/data_collection_type.h"
#include "frame/feature_replies.h"
#include "frame/websocket.h"

namespace brisel::workflows {

// Where a status report goes and what follows its reply.
struct StatusReportRoute {
    // The cloud of the report; none: the one in force.
    std::optional<cloud::CloudAccess> access;
    // Called once the reply (or the failure) has been logged, on the thread of the completion.
    std::function<void()> answered;
};

// Sets a collection's data-collection status without waiting for the reply, which is only logged: a
// failure at error as `failureText` followed by the error, a success at info as `successText` when
// given. Any thread.
void reportCollectionStatus(const cloud::CollectionEndpoint::StatusUpdate& update, std::string failureText,
                            std::optional<std::string> successText = std::nullopt,
                            StatusReportRoute route = {});

// The replies and log lines of one collection. Copyable; any thread.
class CollectionReporter {
  public:
    CollectionReporter(std::shared_ptr<frame::WebSocket> connection, std::int64_t projectID,
                       common::DataCollectionType link);

    // Writes a "datacollection" progress reply with `status` and, when given, `message`; it carries
    // the collection id once one is set.
    void send(frame::BriselDataCollectionResponseStatus status,
              std::optional<std::string_view> message = std::nullopt) const;

    // Every later reply carries `id`.
    void setCollectionID(std::int64_t id) { collectionID = id; }

    // `text` with the link's prefix ("USB: ", "WIFI: ", "BLUETOOTH: ").
    std::string line(std::string_view text) const { return prefix + std::string(text); }

    // Reports `status` with `errorCode` and `description` for the collection (the id must be set)
    // along `route`, logging "Notifying API of <what>" first and the outcome as "API notified of
    // <what>" or "Failed to notify API of <what> due to error ...".
    void notifyStatus(cloud::DataCollectionStatusStringResponse status, const std::string& what,
                      std::int64_t errorCode = 200, std::string description = "",
                      StatusReportRoute route = {}) const;

    const std::shared_ptr<frame::WebSocket>& connection() const { return socket; }

  private:
    std::shared_ptr<frame::WebSocket> socket;
    std::int64_t projectID;
    std::string prefix;
    std::optional<std::int64_t> collectionID;
};

}  // namespace brisel::workflows
