// The data collection of a "startDataCollection" request: creates the cloud collection, opens the
// board over the request's link, records its samples into segment files that the collection's
// uploader sends to the cloud, and reports progress to the browser and the collection's status to the
// cloud.
#pragma once

#include <memory>
#include <vector>

#include "cloud/response_records.h"
#include "cloud/streaming_uploader.h"
#include "common/data_collection_type.h"
#include "device/boards/brisel_device_base.h"
#include "device/boards/device_status.h"
#include "frame/requests.h"
#include "frame/websocket.h"
#include "workflows/collection/recording.h"

namespace brisel::workflows {

// The recording's lengths are in seconds of the request ("num_instances"); every fixed wait and the
// recording clock follow common::timeScale().
class DeviceDataCollection {
  public:
    DeviceDataCollection() = delete;

    // Runs a whole collection for `request` on `socket` over `dataCollectionType`, reporting through
    // progress replies and the log only. Blocks the calling thread (a workflow thread, never the
    // websocket thread) until the collection has ended and its uploads ended or their wait gave up.
    static void initialize(const std::shared_ptr<frame::WebSocket>& socket,
                           const frame::StartDataCollectionRequest& request,
                           common::DataCollectionType dataCollectionType);

    // Records from the opened `device` for the request's "num_instances" seconds (see Recording::run),
    // handing every saved segment to `uploader`, and returns the board's state at the end. The project
    // is not read. Blocks the calling thread.
    static device::DeviceStatus runContinuous(const std::shared_ptr<frame::WebSocket>& socket,
                                              const std::shared_ptr<device::BriselDeviceBase>& device,
                                              const frame::StartDataCollectionRequest& request,
                                              const cloud::ProjectResponse& project,
                                              const cloud::CollectionResponse& collection,
                                              const std::shared_ptr<cloud::StreamingUploader>& uploader,
                                              const RecordingStop& stop);

    // The sampling rate of each sensor kind of `sensorConfig`, enabled or not; a later entry of a kind
    // replaces an earlier one. Pure.
    static device::SensorOdrs getDeviceOdrMap(const std::vector<frame::SensorConfig>& sensorConfig);
};

}  // namespace brisel::workflows
