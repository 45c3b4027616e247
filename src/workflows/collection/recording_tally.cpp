#include "workflows/collection/recording_tally.h"

#include <utility>
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

bool settled(const RecordingTally::Counts& counts) {
    return counts.saving == 0 && counts.inFlight == 0;
}

}  // namespace

void RecordingTally::saveStarted() {
    std::lock_guard lock(mutex);
    ++tally.saving;
}

void RecordingTally::saveEnded() {
    ended([](Counts& counts) { --counts.saving; });
}

void RecordingTally::savesAbandoned() {
    ended([](Counts& counts) { counts.saving = 0; });
}

void RecordingTally::uploadStarted() {
    std::lock_guard lock(mutex);
    ++tally.inFlight;
}

void RecordingTally::uploadEnded(SegmentOutcome outcome) {
    ended([outcome](Counts& counts) {
        --counts.inFlight;
        switch (outcome) {
            case SegmentOutcome::uploaded:
                ++counts.uploaded;
                break;
            case SegmentOutcome::failed:
                ++counts.failed;
                break;
            case SegmentOutcome::empty:
                ++counts.empty;
                break;
            case SegmentOutcome::unreadable:
                ++counts.unreadable;
                break;
            case SegmentOutcome::keptForSync:
                ++counts.keptForSync;
                break;
        }
    });
}

void RecordingTally::ended(const std::function<void(Counts&)>& update) {
    Settled then;
    Counts now;
    {
        std::lock_guard lock(mutex);
        update(tally);
        changed.notify_all();
        if (!settled(tally)) {
            return;
        }
        then = std::exchange(kept, {});
        now = tally;
    }
    if (then) {
        then(now);
    }
}

void RecordingTally::setPacketsLost(std::int64_t packets) {
    std::lock_guard lock(mutex);
    tally.packetsLost = packets;
}

RecordingTally::Counts RecordingTally::counts() const {
    std::lock_guard lock(mutex);
    return tally;
}

bool RecordingTally::waitUntilSaved(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex);
    return changed.wait_until(lock, deadline, [this] { return tally.saving == 0; });
}

bool RecordingTally::waitUntilSettled(std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(mutex);
    return changed.wait_until(lock, deadline, [this] { return settled(tally); });
}

void RecordingTally::whenSettled(Settled then) {
    Counts now;
    {
        std::lock_guard lock(mutex);
        if (!settled(tally)) {
            kept = std::move(then);
            return;
        }
        now = tally;
    }
    then(now);
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
    if (const int running = counts.inFlight + counts.saving; running > 0) {
        problems.push_back(counted(running, "segment", "was", "were") +
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
    if (counts.failed > 0 || counts.inFlight + counts.saving > 0 || counts.keptForSync > 0) {
        text +=
            " Segments that are not uploaded are kept on this computer: run a collection sync of this "
            "collection to upload them.";
    }
    return text;
}

}  // namespace brisel::workflows
