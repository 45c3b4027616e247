#include "cloud/http/curl_handles.h"

namespace brisel::cloud {

bool appendToCurlList(CurlList& list, const std::string& line) {
    curl_slist* extended = curl_slist_append(list.get(), line.c_str());
    if (extended == nullptr) {
        return false;
    }
    // curl_slist_append returns the head of the list, which is the old head unless it was empty.
    static_cast<void>(list.release());
    list.reset(extended);
    return true;
}

bool ensureCurlReady() {
    // Never cleaned up: sessions may live until the process ends.
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

}  // namespace brisel::cloud
