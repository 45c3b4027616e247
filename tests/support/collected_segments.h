// A stand-in for the uploads above the board objects: keeps every segment a board hands over.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "device/boards/segment_uploader.h"

namespace brisel::test_support {

class CollectedSegments final : public device::SegmentUploader {
  public:
    void process(const device::SavedSegment& segment) override {
        std::lock_guard lock(mutex);
        segments.push_back(segment);
    }
    bool receivedEmptySegment() const override { return emptySegment.load(); }

    // Every segment handed over so far, in order.
    std::vector<device::SavedSegment> handedOver() const {
        std::lock_guard lock(mutex);
        return segments;
    }

    // What receivedEmptySegment() answers.
    std::atomic<bool> emptySegment{false};

  private:
    mutable std::mutex mutex;
    std::vector<device::SavedSegment> segments;  // guarded by mutex
};

}  // namespace brisel::test_support
