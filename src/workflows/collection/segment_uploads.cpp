#include "workflows/collection/segment_uploads.h"

#include <utility>

#include "common/logger.h"

namespace brisel::workflows {
namespace {

SegmentOutcome outcomeOf(cloud::FileUploadOutcome outcome) {
    switch (outcome) {
        case cloud::FileUploadOutcome::uploaded:
            return SegmentOutcome::uploaded;
        case cloud::FileUploadOutcome::failed:
            return SegmentOutcome::failed;
        case cloud::FileUploadOutcome::empty:
            return SegmentOutcome::empty;
        case cloud::FileUploadOutcome::unreadable:
            return SegmentOutcome::unreadable;
    }
    return SegmentOutcome::failed;
}

}  // namespace

SegmentUploads::SegmentUploads(std::shared_ptr<cloud::StreamingUploader> segmentUploader,
                               std::shared_ptr<RecordingTally> recordingTally)
    : uploader(std::move(segmentUploader)), tally(std::move(recordingTally)) {}

void SegmentUploads::process(const device::SavedSegment& segment) {
    tally->uploadStarted();
    if (closed.load()) {
        common::logger().notice("Kept " + segment.path.string() +
                                " without uploading it: the service is stopping; a collection sync will "
                                "upload it");
        tally->uploadEnded(SegmentOutcome::keptForSync);
        return;
    }
    uploader->process(
        segment.path, segment.firstPacketIndex, true,
        [tally = tally](cloud::FileUploadOutcome outcome) { tally->uploadEnded(outcomeOf(outcome)); });
}

bool SegmentUploads::receivedEmptySegment() const {
    return uploader->exceptionType() == cloud::StreamingUploaderError::NoDataReceived;
}

}  // namespace brisel::workflows
