// Simulated USB boards under umockdev: each board is a fake USB device with the vendor and product ids
// of its kind and mode, whose tty node is a pseudo-terminal that the board's own thread drives. The
// board sees the service open and close the port and the speed it sets, and reacts as a board does:
// "\r\nBOOTLOADER\r\n", a 1200-baud touch (followed by 150 or 110 baud where the kind needs it) and
// "RESET\r\n" make it leave and come back in its bootloader, in DFU mode or restarted; the
// contamination-threshold command is recorded. In application mode it sends what its firmware
// personality produces.
//
// The process must run with the umockdev preload library (LD_PRELOAD=libumockdev-preload.so.0), and a
// service started from it inherits UMOCKDEV_DIR, so libudev and open() of the tty reach the testbed.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>
#include <tl/expected.hpp>

#include "common/device_kind.h"
#include "device/serial/usb_id.h"
#include "support/firmware_personality.h"

namespace brisel::test {

enum class UsbBoardMode {
    application,  // its own ids, running its firmware
    bootloader,   // its bootloader ids; a flashing tool may write it
    dfu,          // USB DFU: no serial port; dfu-util finds it
    unplugged,
};

std::string_view toString(UsbBoardMode mode);

using BoardId = std::size_t;

// What a board has seen and done so far.
struct UsbBoardSnapshot {
    BoardId id = 0;
    common::DeviceKind kind = common::DeviceKind::NANO_33_BLE;
    UsbBoardMode mode = UsbBoardMode::application;
    std::optional<std::string> devicePath;  // "/dev/ttyACM3" while it has a serial port
    std::optional<device::UsbId> ids;       // the ids it shows; none in DFU mode and unplugged
    std::size_t opens = 0;                  // times the service opened its port
    std::vector<std::uint32_t> speeds;      // every line speed the service set, in order
    // Bootloader and reset commands seen: "BOOTLOADER", "1200", "1200+150", "1200+110", "RESET".
    std::vector<std::string> entries;
    std::vector<std::string> thresholds;     // the text of each contamination-threshold command
    std::vector<std::string> imagesFlashed;  // paths of the images written onto it, in order
    FirmwarePersonality firmware;
    std::size_t restarts = 0;  // times it came back after leaving its port
    std::size_t bursts = 0;    // bursts of firmware output begun (a sample packet each while recording)
};

struct UsbBoardSimulatorOptions {
    // How long a board that leaves its port stays away before it enumerates again.
    std::chrono::milliseconds reenumerationDelay{150};
    // After a 1200-baud touch, how long a board that needs a second touch waits for it.
    std::chrono::milliseconds secondTouchWindow{2000};
};

class SimulatedUsbBoard;
class UsbTestbed;

// Owns the testbed and the boards (each board's thread is joined on destruction). Any thread.
class UsbBoardSimulator {
  public:
    // Errors: the umockdev preload library is not loaded, or the testbed cannot be made.
    static tl::expected<std::unique_ptr<UsbBoardSimulator>, std::string> create(
        UsbBoardSimulatorOptions options = {});
    ~UsbBoardSimulator();
    UsbBoardSimulator(const UsbBoardSimulator&) = delete;
    UsbBoardSimulator& operator=(const UsbBoardSimulator&) = delete;

    // The testbed's folder; a service started with it as UMOCKDEV_DIR (and the preload) sees the boards.
    std::string umockdevDir() const;

    // Attaches a board; in application and bootloader mode it has a serial port at once.
    BoardId plug(common::DeviceKind kind, UsbBoardMode mode, FirmwarePersonality firmware = {});
    // Removes the board's device (the open port hangs up) before it returns; it stays listed as
    // unplugged.
    void unplug(BoardId board);
    // The image at `image` was written onto the board: its personality becomes the image's (an image
    // without a test marker leaves the board silent). With `restart` the board leaves its port and is
    // back in application mode, on a new port, when this returns; otherwise it stays in its current mode.
    void flashed(BoardId board, const std::filesystem::path& image, bool restart);
    // From now on the board neither answers nor reacts to bootloader, reset and threshold commands
    // (its firmware keeps sending what it sends).
    void ignoreCommands(BoardId board);
    // The board writes `text` on its port at once, besides its firmware's output (lost when the service
    // closes the port before reading it).
    void send(BoardId board, std::string_view text);
    // Makes the board leave its port, which it has done when this returns, and come back in `mode`
    // after the re-enumeration delay.
    void reenumerate(BoardId board, UsbBoardMode mode);

    std::vector<UsbBoardSnapshot> boards() const;
    std::optional<UsbBoardSnapshot> board(BoardId board) const;
    // Waits until `condition` holds for the boards or `timeout` passes; woken by every change.
    bool waitUntil(const std::function<bool(const std::vector<UsbBoardSnapshot>&)>& condition,
                   std::chrono::milliseconds timeout) const;

    // {"usbBoards": [{"id", "kind", "mode", "devicePath", "ids", "opens", "speeds", "entries",
    //  "thresholds", "imagesFlashed", "firmware", "restarts"}...]}
    nlohmann::ordered_json stateJson() const;

  private:
    explicit UsbBoardSimulator(UsbBoardSimulatorOptions options, std::unique_ptr<UsbTestbed> testbed);
    void notifyChange();
    enum class AwaitedMove { departure, comeback };
    // Waits (bounded) until `board` no longer shows the port `leaving` and, for a comeback, shows
    // another one.
    void awaitMove(BoardId board, const std::optional<std::string>& leaving, AwaitedMove awaited) const;

    const UsbBoardSimulatorOptions options;
    std::unique_ptr<UsbTestbed> testbed;
    mutable std::mutex boardsMutex;
    mutable std::condition_variable changed;
    std::size_t changeCount = 0;                                // guarded by boardsMutex
    std::vector<std::unique_ptr<SimulatedUsbBoard>> boardList;  // guarded by boardsMutex; never shrinks
};

nlohmann::ordered_json toJson(const UsbBoardSnapshot& board);

// The ids a board of `kind` shows in `mode`; none in DFU mode or when unplugged (or a bootloader the
// kind does not have).
std::optional<device::UsbId> usbIdsOf(common::DeviceKind kind, UsbBoardMode mode);

}  // namespace brisel::test
