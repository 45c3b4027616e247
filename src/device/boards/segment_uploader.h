// Where a board hands the segments it saves during a data collection: the uploads of its collection,
// which a layer above the boards implements.
#pragma once

#include "device/samples/sample_reader.h"

namespace brisel::device {

class SegmentUploader {
  public:
    virtual ~SegmentUploader() = default;

    // Takes a saved segment over: starts its upload and returns without waiting for it. Any thread,
    // several at once.
    virtual void process(const SavedSegment& segment) = 0;

    // True once a segment that was handed over held no data (which the cloud has been told). Any
    // thread.
    virtual bool receivedEmptySegment() const = 0;
};

}  // namespace brisel::device
