#include "workflows/collection/recording_tally.h"

#include <vector>

namespace brisel::workflows {
namespace {

// "1 segment" or "3 segments", followed by the verb that agrees with it, when given.
std::string counted(std::int64_t count, const std::string& noun, const std::string& singularVerb = "",
                    const std::string& pluralVerb = "") {
    const bool one = count == 1;
    std::string text = std::to_string(count) + " " + noun + (one ? "" : "s");
    const std::string& verb = one ? singularVerb : pluralVerb;
    return verb.empty() ? text : text + " " + verb;
}

}  // namespace

void RecordingTally::segmentStarted() {
    std::lock_guard lock(mutex);
    ++tally.inFlight;
}

void RecordingTally::segmentSaved(std::int64_t packetsLost) {
    std::lock_guard lock(mutex);
    tally.packetsLost += packetsLost;
}

void RecordingTally::segmentEnded(SegmentOutcome outcome) {
    std::lock_guard lock(mutex);
    --tally.inFlight;
    switch (outcome) {
        case SegmentOutcome::notSaved:
            break;
        case SegmentOutcome::uploaded:
            ++tally.uploaded;
            break;
        case SegmentOutcome::failed:
            ++tally.failed;
            break;
        case SegmentOutcome::empty:
            ++tally.empty;
            break;
        case SegmentOutcome::unreadable:
            ++tally.unreadable;
            break;
        case SegmentOutcome::keptForSync:
            ++tally.keptForSync;
            break;
    }
    if (tally.inFlight == 0) {
        settled.notify_all();
    }
}

RecordingTally::Counts RecordingTally::counts() const {
    std::lock_guard lock(mutex);
    return tally;
}

bool RecordingTally::waitUntilSettled(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex);
    return settled.wait_until(lock, deadline, [this] { return tally.inFlight == 0; });
}

std::optional<std::string> recordingProblems(const RecordingTally::Counts& counts) {
    std::vector<std::string> problems;
    if (counts.packetsLost > 0) {
        problems.push_back(counted(counts.packetsLost, "packet") +
                           " could not be written to the disk (is it full?) and " +
                           (counts.packetsLost == 1 ? "was" : "were") + " lost");
    }
    if (counts.empty > 0) {
        problems.push_back(
            counted(counts.empty, "segment") +
            " held no valid packet (check the board's firmware and the sensors of the request)");
    }
    if (counts.unreadable > 0) {
        problems.push_back(counted(counts.unreadable, "segment") + " could not be read");
    }
    if (counts.failed > 0) {
        problems.push_back(counted(counts.failed, "segment") + " could not be uploaded");
    }
    if (counts.inFlight > 0) {
        problems.push_back(counted(counts.inFlight, "segment", "was", "were") +
                           " still uploading when the wait for the uploads ended");
    }
    if (counts.keptForSync > 0) {
        problems.push_back(counted(counts.keptForSync, "segment", "was", "were") +
                           " kept for a collection sync as the service stopped");
    }
    if (problems.empty()) {
        return std::nullopt;
    }
    std::string text = "Data collection ended with errors: ";
    for (std::size_t i = 0; i < problems.size(); ++i) {
        text += (i == 0 ? "" : "; ") + problems[i];
    }
    text += ".";
    if (counts.failed > 0 || counts.inFlight > 0 || counts.keptForSync > 0) {
        text +=
            " Segments that are not uploaded are kept on this computer: run a collection sync of this "
            "collection to upload them.";
    }
    return text;
}

}  // namespace brisel::workflows
