// Collects the header fields of a reply from the raw header lines that arrive from the server.
#pragma once

#include <cstddef>
#include <string_view>

#include "cloud/http/request.h"

namespace brisel::cloud {

// Keeps the fields of the latest reply of one try: an interim (1xx) or redirect reply before it
// is replaced when the next status line arrives. Not thread-safe; one owner.
class HttpResponseHeaders {
  public:
    // `maxBytes` bounds the raw size of the lines of one reply.
    explicit HttpResponseHeaders(std::size_t maxBytes) : maxBytes_(maxBytes) {}

    // Takes one raw line as received, with or without its line end. A status line ("HTTP/...")
    // starts a new reply; "name: value" adds a field (blanks around the value trimmed); a line
    // that begins with a blank continues the previous field's value; empty and malformed lines
    // (no colon, an empty name or a name with blanks) are passed over. The bytes are kept as
    // received: values need not be UTF-8.
    // Returns false, and keeps nothing more of the reply, once its lines exceed `maxBytes`.
    bool addLine(std::string_view line);

    const HttpHeaders& fields() const { return fields_; }

    // Hands the fields over and starts empty.
    HttpHeaders takeFields();

  private:
    std::size_t maxBytes_;
    std::size_t bytesOfReply_ = 0;
    HttpHeaders fields_;
};

}  // namespace brisel::cloud
