#include "cloud/authorization.h"

#include <utility>

namespace brisel::cloud {

Authorization& Authorization::shared() {
    static Authorization instance;
    return instance;
}

std::optional<std::string> Authorization::authenticationToken() const {
    const std::scoped_lock guard(lock);
    return access.authenticationToken;
}

void Authorization::setAuthenticationToken(std::optional<std::string> token) {
    const std::scoped_lock guard(lock);
    access.authenticationToken = std::move(token);
}

std::optional<std::string> Authorization::cookie() const {
    const std::scoped_lock guard(lock);
    return access.cookie;
}

void Authorization::setCookie(std::optional<std::string> cookie) {
    const std::scoped_lock guard(lock);
    access.cookie = std::move(cookie);
}

std::string Authorization::sharedBaseURL() const {
    const std::scoped_lock guard(lock);
    return access.baseURL;
}

void Authorization::setSharedBaseURL(std::string baseURL) {
    const std::scoped_lock guard(lock);
    access.baseURL = std::move(baseURL);
}

void Authorization::setSharedBaseURLAndCookie(std::string baseURL, std::optional<std::string> cookie) {
    const std::scoped_lock guard(lock);
    access.baseURL = std::move(baseURL);
    access.cookie = std::move(cookie);
}

CloudAccess Authorization::snapshot() const {
    const std::scoped_lock guard(lock);
    return access;
}

std::string baseURLFromParts(std::string_view scheme, std::string_view host, std::string_view port) {
    std::string baseURL{scheme};
    baseURL += "://";
    baseURL += host == "localhost" ? std::string_view{"127.0.0.1"} : host;
    baseURL += ':';
    baseURL += port;
    return baseURL;
}

}  // namespace brisel::cloud
