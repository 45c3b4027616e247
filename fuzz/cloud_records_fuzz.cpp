// Feeds arbitrary reply bodies to the decoders of every cloud record. A body that decodes must encode
// and decode back to the same record; a body that fails must give a decoding text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cloud/build_records.h"
#include "cloud/decoding_failure.h"
#include "cloud/response_records.h"
#include "common/json_codec.h"

namespace {

template <class Record>
void checkRecord(const brisel::common::Json& body) {
    const auto record = brisel::common::decodeJson<Record>(body);
    if (!record) {
        if (brisel::cloud::decodingFailureText(record.error()).empty()) {
            std::abort();
        }
        return;
    }
    const auto encoded = brisel::common::encodeJsonText(*record);
    if (!encoded) {
        std::abort();
    }
    const auto again = brisel::common::decodeJsonText<Record>(*encoded);
    if (!again || !(*again == *record)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto body = brisel::common::parseJson(text);
    if (!body) {
        if (brisel::cloud::decodingFailureText(body.error()).empty()) {
            std::abort();
        }
        return 0;
    }
    using namespace brisel::cloud;
    checkRecord<BuildResponse>(*body);
    checkRecord<CollectionResponse>(*body);
    checkRecord<ProjectResponse>(*body);
    checkRecord<DeviceKindResponse>(*body);
    checkRecord<ContaminationThresholdDBResponse>(*body);
    checkRecord<DataCollectionStatusResponse>(*body);
    checkRecord<NotificationsResponse>(*body);
    checkRecord<CollectionNewSensorArgsResponse>(*body);
    return 0;
}
