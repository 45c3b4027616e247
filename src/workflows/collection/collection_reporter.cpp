#include "workflows/collection/collection_reporter.h"

#include <utility>

#include "cloud/services.h"
#include "common/enum_raw_values.h"
#include "common/logger.h"
#include "frame/replies.h"

namespace brisel::workflows {

using common::logger;

void reportCollectionStatus(const cloud::CollectionEndpoint::StatusUpdate& update, std::string failureText,
                            std::optional<std::string> successText, StatusReportRoute route) {
    const auto endpoint = cloud::CollectionEndpoint::updateDataCollectionStatus(update);
    cloud::CollectionService::shared().patch<cloud::DataCollectionStatusResponse>(
        route.access ? endpoint.request(*route.access) : endpoint.request(),
        [failureText = std::move(failureText), successText = std::move(successText),
         answered = std::move(route.answered)](cloud::APIResult<cloud::DataCollectionStatusResponse> result) {
            if (!result) {
                logger().error(failureText + cloud::describe(result.error()));
            } else if (successText) {
                logger().info(*successText);
            }
            if (answered) {
                answered();
            }
        });
}

CollectionReporter::CollectionReporter(std::shared_ptr<frame::WebSocket> connection, std::int64_t project,
                                       common::DataCollectionType link)
    : socket(std::move(connection)), projectID(project), prefix(std::string(common::rawValue(link)) + ": ") {}

void CollectionReporter::send(frame::BriselDataCollectionResponseStatus status,
                              std::optional<std::string_view> message) const {
    frame::BriselDataCollectionResponse payload;
    payload.status = status;
    payload.data.projectID = projectID;
    payload.data.collectionID = collectionID;
    if (message) {
        payload.data.message = std::string(*message);
    }
    socket->write(frame::featureReply(std::move(payload)));
}

void CollectionReporter::notifyStatus(cloud::DataCollectionStatusStringResponse status,
                                      const std::string& what, std::int64_t errorCode,
                                      std::string description, StatusReportRoute route) const {
    logger().info(line("Notifying API of " + what));
    reportCollectionStatus({collectionID.value_or(0), errorCode, status, std::move(description)},
                           line("Failed to notify API of " + what + " due to error "),
                           line("API notified of " + what), std::move(route));
}

}  // namespace brisel::workflows
