#include "workflows/classification/classification_replies.h"

#include <utility>

#include "frame/feature_replies.h"
#include "frame/replies.h"

namespace brisel::workflows {

void sendClassification(frame::WebSocket& ws, const PredictionMessage& message) {
    frame::BriselClassificationResponse reply;
    reply.status = frame::BriselClassificationResponseStatus::connected;
    reply.data = frame::BriselClassificationResponseData{message};
    ws.write(frame::featureReply(reply));
}

void sendClassificationFailure(frame::WebSocket& ws, std::string reason) {
    frame::BriselClassificationResponse reply;
    reply.status = frame::BriselClassificationResponseStatus::error;
    reply.data = frame::BriselClassificationResponseError{std::move(reason)};
    ws.write(frame::featureReply(reply));
}

void sendClassificationEnd(frame::WebSocket& ws, const ClassificationEnd& end) {
    if (end.failure) {
        sendClassificationFailure(ws, *end.failure);
    } else {
        sendClassification(ws, end.lastMessage);
    }
}

void sendWifiClassification(frame::WebSocket& ws, const PredictionMessage& message) {
    frame::BriselClassificationWifiResponse reply;
    reply.status = frame::BriselClassificationWifiResponseStatus::connected;
    reply.data = frame::BriselClassificationWifiResponseData{message};
    ws.write(frame::featureReply(reply));
}

}  // namespace brisel::workflows
