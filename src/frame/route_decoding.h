// Decode-and-choose: turns one received text frame into the request of the route table that it is.
#pragma once

#include <string_view>
#include <variant>

#include <tl/expected.hpp>

#include "frame/requests.h"

namespace brisel::frame {

// The routed request types in route-table order; the alternative index is the table position.
// FlashWifiConfigRequest is deliberately absent.
using RoutedRequest =
    std::variant<VersionInformation, FlashRequest, FlashWifiRequest, StartDataCollectionRequest,
                 SaveDataCollectionBluetoothRequest, LiveClassificationStartRequest,
                 LiveClassificationStopRequest, LiveClassificationWifiStartRequest, MeasureLatencyRequest,
                 MeasureLatencyWifiRequest, CheckDependenciesRequest, CheckDeviceConnectionRequest,
                 ContaminationThresholdRequest, CollectionSyncRequest>;

enum class RouteDecodingError {
    noBytes,      // the frame is not text (not valid UTF-8): answered with "noData"
    unknownType,  // no routed type decodes the text (also an empty text): answered with "unknownMessageType"
};

// Parses `frame` once and decodes it against every routed type in table order; when several decode,
// the last in the table wins. Pure: no log line, no state; never throws; any thread.
tl::expected<RoutedRequest, RouteDecodingError> decodeAndChoose(std::string_view frame);

}  // namespace brisel::frame
