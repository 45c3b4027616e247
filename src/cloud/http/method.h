// The method of an HTTP request, as the text that is sent.
#pragma once

#include <compare>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace brisel::cloud {

// A value type around the method text. Any text makes a method (no check: a request's method is
// compared, never interpreted); two methods are equal when their texts are, letter case included.
// The nine standard methods are shared constants. `delete` is a C++ keyword, so its constant is named
// `deleteMethod`.
class HTTPMethod {
  public:
    explicit HTTPMethod(std::string rawValue) : text(std::move(rawValue)) {}

    const std::string& rawValue() const { return text; }

    friend bool operator==(const HTTPMethod&, const HTTPMethod&) = default;
    friend auto operator<=>(const HTTPMethod&, const HTTPMethod&) = default;

    // The shared constants, each created once on first use (safe against concurrent first use).
    static const HTTPMethod& connect();
    static const HTTPMethod& deleteMethod();
    static const HTTPMethod& get();
    static const HTTPMethod& head();
    static const HTTPMethod& options();
    static const HTTPMethod& patch();
    static const HTTPMethod& post();
    static const HTTPMethod& put();
    static const HTTPMethod& trace();

  private:
    std::string text;
};
}  // namespace brisel::cloud

template <>
struct std::hash<brisel::cloud::HTTPMethod> {
    std::size_t operator()(const brisel::cloud::HTTPMethod& method) const noexcept {
        return std::hash<std::string>{}(method.rawValue());
    }
};
