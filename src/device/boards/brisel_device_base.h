// The board of one data collection or one threshold write: owns the sample reader that records the
// board's packets, starts it on the board's link, saves the current file as a numbered segment for the
// collection's uploads and reports the board's state. `BriselDevice` (USB serial), `BriselWifiDevice`
// (the WiFi server's connection) and `BriselBluetoothDevice` (bytes relayed by the browser) derive from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "common/sensor_kind.h"
#include "device/boards/device_status.h"
#include "device/boards/segment_uploader.h"
#include "device/samples/sample_reader.h"
#include "device/serial/usb_discovery.h"

namespace brisel::device {

// Sampling rate of each sensor, in Hz.
using SensorOdrs = std::map<common::SensorKind, double>;

// The seams and waits of a board object. The defaults are the service's; tests shorten the waits and
// point the files at a folder of their own.
struct BoardSettings {
    // The folder that holds `velko_brisel_collection/<collection id>/`; none: the private temporary
    // folder (common::privateTempFolder()).
    std::optional<std::filesystem::path> temporaryDirectory;
    SampleReaderOptions reader;
    // How long reset() blocks after it started the read thread.
    std::chrono::milliseconds resetSettle{100};
    // Pause between attempts to find a board and between attempts to open it.
    std::chrono::milliseconds retryPause{1000};
    // Handed to USB discovery (HALDEN_FLAMENCO settles this long after it is found).
    std::chrono::milliseconds flamencoSettleWait = USBManager::kFlamencoSettleWait;
};

class BriselDeviceBase {
  public:
    // More packets than this in the current file while the uploader found an empty file means that the
    // board does not transmit.
    static constexpr std::int64_t kPacketsBeforeNotTransmitting = 19;

    using Clock = std::chrono::system_clock;

    // `sensors` none: every sensor (SENSOR_LIST). Creates the sample reader for the collection, with
    // its files under the settings' temporary directory; when that folder cannot be had the failure
    // is logged and the board has no reader (`sampleReader()` is null). Creates no file yet.
    BriselDeviceBase(std::optional<std::int64_t> maxLen, std::optional<std::vector<std::string>> sensors,
                     common::DeviceKind deviceKind, std::optional<SensorOdrs> sensorOdrs,
                     std::int64_t collectionID, BoardSettings settings = {});
    // Stops the reader's loop. A derived class whose byte source refers to its own members calls
    // stopReadThread() in its own destructor, before those members go.
    virtual ~BriselDeviceBase();
    BriselDeviceBase(const BriselDeviceBase&) = delete;
    BriselDeviceBase& operator=(const BriselDeviceBase&) = delete;

    // Begins a fresh recording (new empty file, the old one deleted, no packets counted), starts the
    // read thread, then blocks for the settle time. Owner's thread.
    virtual void reset();
    // Sets readTime to now and starts the reader on the board's link (nothing when a
    // loop exists already). A missing reader or link is logged at critical. Owner's thread.
    virtual void startReadThread() = 0;
    // Releases the board's link. The base version does nothing. Owner's thread.
    virtual void close();
    // Ends the reader's loop and waits for it, keeping the current file for a last save. Idempotent.
    // Owner's thread.
    void stopReadThread();

    // Saves the current file as the segment `sensors_<totalPacketsReceived()>.bin` and starts the next
    // file, in one block under the reader's file lock, then hands the segments that write errors ended
    // since the last save and this one to `uploader.process`, in order, and returns once that has
    // returned (SampleReader::saveSegment). Errors: the board has no reader or no recording file (both
    // logged), or every packet of the file was lost. Any thread, several at once.
    tl::expected<SavedSegment, SegmentError> saveBinaryFile(SegmentUploader& uploader);

    // DEVICE_DISCONNECTED without a reader (logged); DEVICE_NOT_TRANSMITTING_DATA when the current
    // file holds more than kPacketsBeforeNotTransmitting packets and the uploader received an empty
    // segment; DEVICE_OK otherwise. Any thread.
    DeviceStatus getDeviceState(const SegmentUploader& dataUploader);

    // Packets of every segment saved since the last reset. Any thread.
    std::int64_t totalPacketsReceived() const;

    // The reader; null when the board has none. Owned by the board.
    SampleReader* sampleReader() const { return sampleReader_.get(); }

    // Called (on the reader's thread) when the reader's loop ends on a link failure; replaces any
    // earlier one. It must not stop the reader or destroy the board. Any thread.
    void setDisconnectEvent(std::function<void()> event);

    std::optional<std::int64_t> maxLen() const { return maxLen_; }
    const std::vector<std::string>& sensors() const { return sensors_; }
    common::DeviceKind deviceKind() const { return deviceKind_; }
    const std::optional<SensorOdrs>& sensorOdrs() const { return sensorOdrs_; }
    const std::filesystem::path& outDir() const { return outDir_; }
    const BoardSettings& settings() const { return settings_; }

    // When the read thread was last started (by reset() or startReadThread()). Any thread.
    std::optional<Clock::time_point> readTime() const;

  protected:
    // readTime = now (the first step of every startReadThread()).
    void markReadStart();

  private:
    void disconnected();

    const std::optional<std::int64_t> maxLen_;
    const std::vector<std::string> sensors_;
    const common::DeviceKind deviceKind_;
    const std::optional<SensorOdrs> sensorOdrs_;
    const BoardSettings settings_;
    std::filesystem::path outDir_;

    mutable std::mutex fieldsMutex_;
    std::optional<Clock::time_point> readTime_;                     // guarded by fieldsMutex_
    std::shared_ptr<const std::function<void()>> disconnectEvent_;  // guarded by fieldsMutex_

    // Last: its loop calls back into the members above, so it goes first.
    std::unique_ptr<SampleReader> sampleReader_;
};

}  // namespace brisel::device
