// Owners of libcurl handles, and the one-time global set-up of libcurl.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

namespace brisel::cloud {

struct CurlEasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlMultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
// Every easy handle must have been removed from a multi handle before the multi handle is freed.
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// Appends a copy of `line` to `list`. Returns false when libcurl is out of memory (`list` is then
// unchanged).
bool appendToCurlList(CurlList& list, const std::string& line);

// Sets libcurl up once per process, before its first use; later calls return at once. Any thread.
// Returns false when libcurl could not be set up.
bool ensureCurlReady();

}  // namespace brisel::cloud
