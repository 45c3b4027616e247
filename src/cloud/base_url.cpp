#include "cloud/base_url.h"

#include <array>
#include <cstddef>

#include "common/ascii.h"

namespace brisel::cloud {

namespace {

constexpr std::array<char, 16> kHexDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
constexpr std::uint32_t kHighestPort = 65535;

bool isAsciiDigit(char character) {
    return character >= '0' && character <= '9';
}

bool isHexDigit(char character) {
    return isAsciiDigit(character) || (character >= 'a' && character <= 'f') ||
           (character >= 'A' && character <= 'F');
}

bool isControlOrBlank(char character) {
    const auto byte = static_cast<unsigned char>(character);
    return byte <= 0x20 || byte == 0x7F;
}

// A host name or IPv4 address outside brackets.
tl::expected<void, std::string> checkPlainHost(std::string_view host) {
    if (host.empty()) {
        return tl::make_unexpected(std::string{"it names no host"});
    }
    for (const char character : host) {
        if (isControlOrBlank(character)) {
            return tl::make_unexpected(std::string{"its host holds a blank or a control character"});
        }
        if (character == '/' || character == '\\' || character == ':' || character == '[' ||
            character == ']') {
            return tl::make_unexpected(std::string{"its host holds the character '"} + character + "'");
        }
    }
    return {};
}

// The inside of an IPv6 literal: hexadecimal digits, ":" and "." (an embedded IPv4 address).
tl::expected<void, std::string> checkBracketedHost(std::string_view inside) {
    if (inside.empty()) {
        return tl::make_unexpected(std::string{"its IPv6 address is empty"});
    }
    for (const char character : inside) {
        if (!isHexDigit(character) && character != ':' && character != '.') {
            return tl::make_unexpected(std::string{"its IPv6 address is malformed"});
        }
    }
    return {};
}

constexpr std::uint16_t kDefaultHttpPort = 80;
constexpr std::uint16_t kDefaultHttpsPort = 443;

// The port after the host's ":"; an empty one is the scheme's default port, as URL parsers read it.
tl::expected<std::uint16_t, std::string> parsePort(std::string_view digits, std::string_view scheme) {
    if (digits.empty()) {
        return scheme == "https" ? kDefaultHttpsPort : kDefaultHttpPort;
    }
    std::uint32_t value = 0;
    for (const char character : digits) {
        if (!isAsciiDigit(character)) {
            return tl::make_unexpected(std::string{"its port is not a number"});
        }
        value = value * 10U + static_cast<std::uint32_t>(character - '0');
        if (value > kHighestPort) {
            return tl::make_unexpected(std::string{"its port is not within 1 to 65535"});
        }
    }
    if (value == 0) {
        return tl::make_unexpected(std::string{"its port is not within 1 to 65535"});
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string BaseURL::origin() const {
    return scheme + "://" + host + ":" + std::to_string(port);
}

tl::expected<BaseURL, std::string> parseBaseURL(std::string_view text) {
    constexpr std::string_view kSeparator{"://"};
    const std::size_t separator = text.find(kSeparator);
    if (separator == std::string_view::npos) {
        return tl::make_unexpected(std::string{"it does not begin with http:// or https://"});
    }
    BaseURL base;
    base.scheme = common::asciiLower(text.substr(0, separator));
    if (base.scheme != "http" && base.scheme != "https") {
        return tl::make_unexpected(std::string{"its scheme is not http or https"});
    }

    const std::string_view rest = text.substr(separator + kSeparator.size());
    for (const char character : rest) {
        if (character == '@') {
            return tl::make_unexpected(std::string{"it carries user information ('@')"});
        }
        if (character == '?' || character == '#') {
            return tl::make_unexpected(std::string{"it holds the character '"} + character + "'");
        }
    }
    // The path of the base address, if any, is replaced by the endpoint's path.
    const std::string_view authority = rest.substr(0, rest.find('/'));

    std::string_view host;
    std::string_view portDigits;
    if (authority.starts_with('[')) {
        const std::size_t closing = authority.find(']');
        if (closing == std::string_view::npos) {
            return tl::make_unexpected(std::string{"its IPv6 address has no closing ']'"});
        }
        if (auto checked = checkBracketedHost(authority.substr(1, closing - 1)); !checked) {
            return tl::make_unexpected(checked.error());
        }
        host = authority.substr(0, closing + 1);
        const std::string_view afterHost = authority.substr(closing + 1);
        if (!afterHost.starts_with(':')) {
            return tl::make_unexpected(std::string{"it has no port"});
        }
        portDigits = afterHost.substr(1);
    } else {
        const std::size_t colon = authority.rfind(':');
        if (colon == std::string_view::npos) {
            if (auto checked = checkPlainHost(authority); !checked) {
                return tl::make_unexpected(checked.error());
            }
            return tl::make_unexpected(std::string{"it has no port"});
        }
        host = authority.substr(0, colon);
        if (auto checked = checkPlainHost(host); !checked) {
            return tl::make_unexpected(checked.error());
        }
        portDigits = authority.substr(colon + 1);
    }
    const auto port = parsePort(portDigits, base.scheme);
    if (!port) {
        return tl::make_unexpected(port.error());
    }
    base.host = std::string{host};
    base.port = *port;
    return base;
}

std::string percentEncodePathSegment(std::string_view segment) {
    if (segment == ".") {
        return "%2E";
    }
    if (segment == "..") {
        return "%2E%2E";
    }
    constexpr std::string_view kKeptPunctuation{"-._~!$&'()*+,;=:@"};
    std::string encoded;
    encoded.reserve(segment.size());
    for (const char character : segment) {
        const bool isLetter =
            (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
        if (isLetter || isAsciiDigit(character) ||
            kKeptPunctuation.find(character) != std::string_view::npos) {
            encoded += character;
        } else {
            const auto byte = static_cast<unsigned char>(character);
            encoded += '%';
            encoded += kHexDigits[byte >> 4U];
            encoded += kHexDigits[byte & 0x0FU];
        }
    }
    return encoded;
}

}  // namespace brisel::cloud
