// What the lines of one live classification run make of its state: the current score and the last
// prediction message.
#pragma once

#include <optional>
#include <string_view>

#include "workflows/classification/classification_replies.h"

namespace brisel::workflows {

// Not thread-safe: one run owns it.
class PredictionTracker {
  public:
    // The serial messages carry "startTimer" false; the WiFi ones do not, and log with "WIFI: ".
    enum class Link { serial, wifi };

    explicit PredictionTracker(Link kind) : link(kind) {}

    // Treats one board line. A prediction line ("PRED:" and numbers) becomes the message returned and
    // kept as the last one: "class" its first value, "score" the current score, then "0", "1", ... its
    // other values. A score line ("SCORE: " and a number) sets the current score; one that does not
    // read as a finite double is logged and changes nothing. Any other line gives none.
    std::optional<PredictionMessage> treat(std::string_view line);

    // The last prediction message, empty before the first.
    const PredictionMessage& lastMessage() const { return last; }
    double currentScore() const { return score; }

  private:
    const Link link;
    PredictionMessage last;
    double score = 0;
};

}  // namespace brisel::workflows
