#include "cloud/http/response_headers.h"

#include <utility>

namespace brisel::cloud {

namespace {

bool isBlank(char character) {
    return character == ' ' || character == '\t';
}

std::string_view withoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

bool HttpResponseHeaders::addLine(std::string_view rawLine) {
    const std::string_view line = withoutLineEnd(rawLine);
    if (line.starts_with("HTTP/")) {
        fields_.clear();
        bytesOfReply_ = rawLine.size();
        return bytesOfReply_ <= maxBytes_;
    }
    if (bytesOfReply_ > maxBytes_) {
        return false;
    }
    if (rawLine.size() > maxBytes_ - bytesOfReply_) {
        bytesOfReply_ = maxBytes_ + 1;
        return false;
    }
    bytesOfReply_ += rawLine.size();
    if (line.empty()) {
        return true;
    }
    if (isBlank(line.front())) {
        if (!fields_.empty()) {
            const std::string_view continuation = trimmed(line);
            if (!continuation.empty()) {
                fields_.back().value += ' ';
                fields_.back().value += continuation;
            }
        }
        return true;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return true;
    }
    const std::string_view name = line.substr(0, colon);
    for (char character : name) {
        if (isBlank(character)) {
            return true;
        }
    }
    fields_.push_back(HttpHeader{std::string(name), std::string(trimmed(line.substr(colon + 1)))});
    return true;
}

HttpHeaders HttpResponseHeaders::takeFields() {
    bytesOfReply_ = 0;
    return std::exchange(fields_, {});
}

}  // namespace brisel::cloud
