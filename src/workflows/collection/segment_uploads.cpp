#include "workflows/collection/segment_uploads.h"

#include <utility>

namespace brisel::workflows {

SegmentUploads::SegmentUploads(std::shared_ptr<cloud::StreamingUploader> segmentUploader,
                               std::shared_ptr<RecordingTally> recordingTally)
    : uploader(std::move(segmentUploader)), tally(std::move(recordingTally)) {}

void SegmentUploads::process(const device::SavedSegment& segment) {
    uploader->process(segment.path, segment.firstPacketIndex, true,
                      [tally = tally](cloud::FileUploadOutcome) { tally->segmentEnded(); });
}

bool SegmentUploads::receivedEmptySegment() const {
    return uploader->exceptionType() == cloud::StreamingUploaderError::NoDataReceived;
}

}  // namespace brisel::workflows
