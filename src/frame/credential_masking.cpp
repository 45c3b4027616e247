#include "frame/credential_masking.h"

#include <cstddef>
#include <optional>

namespace brisel::frame {
namespace {

constexpr std::string_view kCredentialKey = "auth_token";
constexpr std::string_view kMask = "***";

bool isJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::size_t skipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && isJsonSpace(text[at])) {
        ++at;
    }
    return at;
}

// The index just past the string literal that opens at `at` (text[at] == '"'); text.size() when it is
// not closed.
std::size_t endOfString(std::string_view text, std::size_t at) {
    std::size_t i = at + 1;
    while (i < text.size()) {
        if (text[i] == '\\') {
            i += 2;
            continue;
        }
        if (text[i] == '"') {
            return i + 1;
        }
        ++i;
    }
    return text.size();
}

std::optional<unsigned> hexValue(std::string_view digits) {
    unsigned value = 0;
    for (const char c : digits) {
        value <<= 4U;
        if (c >= '0' && c <= '9') {
            value |= static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value |= static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            value |= static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
    }
    return value;
}

// True when the string literal `literal` (quotes included) unescapes to the credential key.
bool isCredentialKey(std::string_view literal) {
    if (literal.size() < 2 || literal.back() != '"') {
        return false;
    }
    const std::string_view body = literal.substr(1, literal.size() - 2);
    std::string decoded;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (decoded.size() > kCredentialKey.size()) {
            return false;
        }
        if (body[i] != '\\') {
            decoded.push_back(body[i]);
            continue;
        }
        if (i + 1 >= body.size()) {
            return false;
        }
        const char escaped = body[++i];
        if (escaped == 'u') {
            if (i + 4 >= body.size()) {
                return false;
            }
            const auto value = hexValue(body.substr(i + 1, 4));
            if (!value || *value >= 0x80U) {
                return false;  // the key is plain ASCII
            }
            decoded.push_back(static_cast<char>(*value));
            i += 4;
        } else if (escaped == '"' || escaped == '\\' || escaped == '/') {
            decoded.push_back(escaped);
        } else {
            return false;  // control escapes never occur in the key
        }
    }
    return decoded == kCredentialKey;
}

// The index just past the value that starts at `at`: a string, a nested object or array, or a bare
// scalar that ends at a delimiter or white space.
std::size_t endOfValue(std::string_view text, std::size_t at) {
    if (at >= text.size()) {
        return at;
    }
    if (text[at] == '"') {
        return endOfString(text, at);
    }
    if (text[at] == '{' || text[at] == '[') {
        std::size_t depth = 0;
        std::size_t i = at;
        while (i < text.size()) {
            const char c = text[i];
            if (c == '"') {
                i = endOfString(text, i);
                continue;
            }
            if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                --depth;
                if (depth == 0) {
                    return i + 1;
                }
            }
            ++i;
        }
        return text.size();
    }
    std::size_t i = at;
    while (i < text.size() && text[i] != ',' && text[i] != '}' && text[i] != ']' && !isJsonSpace(text[i])) {
        ++i;
    }
    return i;
}

}  // namespace

std::string maskedCredentials(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t copiedUpTo = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '"') {
            ++i;
            continue;
        }
        const std::size_t keyEnd = endOfString(text, i);
        const std::size_t colon = skipSpace(text, keyEnd);
        if (colon >= text.size() || text[colon] != ':' || !isCredentialKey(text.substr(i, keyEnd - i))) {
            i = keyEnd;
            continue;
        }
        const std::size_t valueStart = skipSpace(text, colon + 1);
        const std::size_t valueEnd = endOfValue(text, valueStart);
        if (valueEnd == valueStart) {
            i = valueStart;
            continue;
        }
        result.append(text.substr(copiedUpTo, valueStart - copiedUpTo));
        if (text[valueStart] == '"') {
            result.push_back('"');
            result.append(kMask);
            result.push_back('"');
        } else {
            result.append(kMask);
        }
        copiedUpTo = valueEnd;
        i = valueEnd;
    }
    result.append(text.substr(copiedUpTo));
    return result;
}

}  // namespace brisel::frame
