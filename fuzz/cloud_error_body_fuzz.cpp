// Feeds arbitrary reply bodies of failed REST calls to the cloud-error check and to the log quoting of
// peer text. A log text must stay one line, and an accepted error must carry valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cloud/cloud_error_body.h"
#include "common/peer_text.h"
#include "common/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const std::string logged = brisel::common::peerTextForLog(body, brisel::common::PeerTextForm::quoted);
    if (logged.find_first_of("\r\n") != std::string::npos) {
        std::abort();
    }
    const auto error = brisel::cloud::parseCloudErrorBody(body);
    if (error && !brisel::common::isValidUtf8(error->message)) {
        std::abort();
    }
    return 0;
}
