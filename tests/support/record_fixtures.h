// Helpers of the cloud record tests: fixtures on disk and key-path bookkeeping.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/file_contents.h"

namespace brisel::cloud::testing_support {

using Json = nlohmann::ordered_json;

inline std::string readFixture(const std::string& name) {
    return test_support::readText(std::string{BRISEL_SOURCE_DIR} + "/tests/cloud/fixtures/" + name);
}

// The codec's key path of a JSON pointer: "/models/0/kind" is "models[0].kind".
inline std::string keyPath(const std::string& pointer) {
    std::string path;
    std::size_t start = 1;
    while (start <= pointer.size() && !pointer.empty()) {
        const std::size_t end = pointer.find('/', start);
        const std::string token =
            pointer.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const bool isIndex = !token.empty() && token.find_first_not_of("0123456789") == std::string::npos;
        if (isIndex) {
            path += "[" + token + "]";
        } else {
            path += (path.empty() ? "" : ".") + token;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return path;
}

// The codec's key path of `key` inside the record at `pointer`: ("/models/0", "kind") is "models[0].kind".
inline std::string childPath(const std::string& pointer, const std::string& key) {
    const std::string parent = keyPath(pointer);
    return parent.empty() ? key : parent + "." + key;
}

// The type name that the decoding text gives for a required value found null, read off the fixture's
// own value of that key (a fixture writes every floating-point field with a fraction).
inline std::string expectedTypeName(const Json& value) {
    switch (value.type()) {
        case Json::value_t::boolean:
            return "Bool";
        case Json::value_t::string:
            return "String";
        case Json::value_t::number_float:
            return "Double";
        case Json::value_t::array:
            return "Array";
        case Json::value_t::object:
            return "Object";
        default:
            return "Int64";
    }
}

// One record inside a fixture, with its keys as the tables list them.
struct RecordKeys {
    std::string pointer;  // JSON pointer of the record object inside the fixture ("" = the root)
    std::vector<std::string> required;
    std::vector<std::string> optional;
};

}  // namespace brisel::cloud::testing_support
