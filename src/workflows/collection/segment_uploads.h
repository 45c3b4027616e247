// A recording's segments on their way to the cloud: the board hands each segment it saves to the
// collection's uploader through this, and the recording's tally learns how each upload ends.
#pragma once

#include <atomic>
#include <memory>

#include "cloud/streaming_uploader.h"
#include "device/boards/segment_uploader.h"
#include "workflows/collection/recording_tally.h"

namespace brisel::workflows {

// Any thread. Every segment handed over is in flight in the tally until its upload ends.
class SegmentUploads final : public device::SegmentUploader {
  public:
    SegmentUploads(std::shared_ptr<cloud::StreamingUploader> uploader, std::shared_ptr<RecordingTally> tally);

    // Starts the segment's upload with "first_packet_index" its first packet index; after
    // closeForExit() starts none and leaves the file for a collection sync.
    void process(const device::SavedSegment& segment) override;
    // True once the uploader was handed an empty file (`NoDataReceived`).
    bool receivedEmptySegment() const override;

    // The service is stopping: no upload starts from now on.
    void closeForExit() { closed.store(true); }

  private:
    const std::shared_ptr<cloud::StreamingUploader> uploader;
    const std::shared_ptr<RecordingTally> tally;
    std::atomic<bool> closed{false};
};

}  // namespace brisel::workflows
