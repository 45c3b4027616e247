#include "frame/replies.h"

namespace brisel::frame {

BriselResponse<BriselError> errorReply(BriselError error) {
    return BriselResponse<BriselError>{BriselResponseName::error, BriselStatus::error, std::move(error)};
}

BriselError incompatibleVersionError() {
    return BriselError{BriselErrorType::incompatibleVersion, std::string(kOutOfDateNotice)};
}

BriselResponse<HandshakeData> handshakeReply() {
    return BriselResponse<HandshakeData>{
        BriselResponseName::handshake, BriselStatus::ok,
        HandshakeData{{"build", static_cast<std::int64_t>(kServiceBuildNumber)}}};
}

}  // namespace brisel::frame
