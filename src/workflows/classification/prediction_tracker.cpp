#include "workflows/classification/prediction_tracker.h"

#include <string>

#include "common/logger.h"
#include "device/samples/source_line.h"
#include "workflows/board_text.h"

namespace brisel::workflows {
namespace {

using common::AnyEncodable;
using common::logger;

constexpr std::string_view kPredictionMarker = "PRED:";

// A number as the browser has always received it: whole values without a fraction ("score":0).
AnyEncodable scoreValue(double score) {
    if (auto whole = common::json_detail::wholeNumber(score)) {
        return AnyEncodable(*whole);
    }
    return AnyEncodable(score);
}

// The class of a prediction: a line without a blank after its marker ("PRED:1,0.2") keeps the marker
// in its first value, which is not part of the class.
std::string_view classValue(std::string_view first) {
    if (first.starts_with(kPredictionMarker)) {
        first.remove_prefix(kPredictionMarker.size());
        return trimUnicodeWhitespace(first);
    }
    return first;
}

}  // namespace

std::optional<PredictionMessage> PredictionTracker::treat(std::string_view line) {
    const std::string_view prefix = link == Link::wifi ? "WIFI: " : "";
    if (auto values = readPredictionLine(line); values && !values->empty()) {
        logger().debug(std::string(prefix) + "Matched prediction regex with " + std::string(line));
        PredictionMessage message;
        message["class"] = AnyEncodable(std::string(classValue(values->front())));
        message["score"] = scoreValue(score);
        if (link == Link::serial) {
            message["startTimer"] = AnyEncodable(false);
        }
        for (std::size_t i = 1; i < values->size(); ++i) {
            message[std::to_string(i - 1)] = AnyEncodable(std::string((*values)[i]));
        }
        logger().debug(std::string(prefix) + "Sending prediction");
        last = message;
        return message;
    }
    const ScoreLine scoreLine = readScoreLine(line);
    if (scoreLine.kind == ScoreLineKind::value) {
        score = scoreLine.value;
    } else if (scoreLine.kind == ScoreLineKind::unreadable) {
        logger().warning("Failed to parse score warning at " + device::sourceLine());
    }
    return std::nullopt;
}

}  // namespace brisel::workflows
