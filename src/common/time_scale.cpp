#include "common/time_scale.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>

namespace brisel::common {

namespace {

std::atomic<double>& factorInForce() {
    static std::atomic<double> factor{1.0};
    return factor;
}

}  // namespace

double timeScale() {
    return factorInForce().load();
}

bool setTimeScale(double factor) {
    if (!(factor > 0.0 && factor <= 1.0)) {
        return false;
    }
    factorInForce().store(factor);
    return true;
}

std::optional<double> parseTimeScale(std::string_view text) {
    const bool startsWithDigit = !text.empty() && ((text[0] >= '0' && text[0] <= '9') || text[0] == '.');
    if (!startsWithDigit || text.size() > 32) {
        return std::nullopt;
    }
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value) || value <= 0.0 || value > 1.0) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> applyTimeScaleFromEnvironment() {
    const char* text = std::getenv(std::string(kTimeScaleVariable).c_str());
    if (text == nullptr) {
        return std::nullopt;
    }
    auto factor = parseTimeScale(text);
    if (factor) {
        setTimeScale(*factor);
    }
    return factor;
}

std::chrono::milliseconds scaled(std::chrono::milliseconds duration) {
    const double length = static_cast<double>(duration.count()) * timeScale();
    const auto rounded = static_cast<std::chrono::milliseconds::rep>(std::llround(length));
    return std::chrono::milliseconds(rounded < 1 ? 1 : rounded);
}

}  // namespace brisel::common
