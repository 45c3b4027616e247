// A board on a USB serial port.
#pragma once

#include <memory>
#include <string>

#include "device/boards/brisel_device_base.h"
#include "device/serial/serial_port.h"

namespace brisel::device {

// The line speed of a board kind: 921600 for NICLA_SENSE_ME and HALDEN_I3MICRO, 1500000 for
// HALDEN_FLAMENCO and HALDEN_FLAMENCO_ALT, 115200 for every other kind.
BaudRate boardBaudRate(common::DeviceKind kind);

// A double as the platform's default text: shortest round-trip digits, whole numbers with ".0"
// ("0.5", "2.0"), exponent form below 1e-4 and above 2^54 ("1e-05", "1e+20"); "inf", "-inf", "nan".
std::string defaultDoubleText(double value);

// The text command that sets a board's contamination threshold: "mContamination_threshold:0.5,\r\n".
std::string contaminationThresholdCommand(double threshold);

// Writes contaminationThresholdCommand(threshold) to the open `port`. True when every byte was
// written. Failures are logged: a port error ("Failed to set contamination threshold mapping due to
// ..."), a short write ("Could no write all bytes ..."), or a threshold that is not a finite number
// (nothing is written). The port's owner's thread.
bool writeContaminationThreshold(USBDevice& port, double threshold);

// Owns its port. Threads: the owner calls open, close, startReadThread and setContaminationThreshold;
// while the read thread runs, only the reader touches the port.
class BriselDevice final : public BriselDeviceBase {
  public:
    // Finds the board of `deviceKind` in application mode, up to `maxConnectionRetries` attempts
    // `retryPause` apart; a found board is opened up to 10 times, `retryPause` apart. Returns the open
    // board (default sensors, no maximum length), or null: after 10 failed opens, or when no attempt
    // found the board (logged with what to do). Blocks the calling thread meanwhile.
    static std::shared_ptr<BriselDevice> initDataCollection(common::DeviceKind deviceKind,
                                                            std::optional<SensorOdrs> sensorOdrs,
                                                            int maxConnectionRetries,
                                                            std::int64_t collectionID,
                                                            BoardSettings settings = {});

    BriselDevice(USBDevice usbDevice, std::optional<std::int64_t> maxLen,
                 std::optional<std::vector<std::string>> sensors, common::DeviceKind deviceKind,
                 std::optional<SensorOdrs> sensorOdrs, std::int64_t collectionID,
                 BoardSettings settings = {});
    // Stops the read thread, then closes the port.
    ~BriselDevice() override;

    // Opens the port with 8 data bits, no parity, 1 stop bit at boardBaudRate(deviceKind()). False on
    // failure, which is logged ("Invalid device path: ", "Could not connect to device ", "Device
    // connection error: ").
    bool open();

    // Starts the reader on the open port ("Connection not established at " when it is closed).
    void startReadThread() override;

    // Stops the read thread (keeping the current file), then closes the port.
    void close() override;

    // writeContaminationThreshold on the board's port: true when the whole command was written.
    bool setContaminationThreshold(double threshold);

    USBDevice& usbDevice() { return usbDevice_; }

  private:
    USBDevice usbDevice_;
};

}  // namespace brisel::device
