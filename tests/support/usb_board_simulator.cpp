#include "support/usb_board_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <glib.h>
#include <umockdev.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <string_view>
#include <thread>
#include <utility>

#include <cstdio>
#include "common/file_descriptor.h"
#include "support/file_contents.h"

namespace brisel::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using common::DeviceKind;

constexpr auto kSampleInterval = 4ms;             // how often a board looks at its line
constexpr std::size_t kOutputBound = 256 * 1024;  // a board stops producing while this much is unsent
constexpr std::size_t kInputBound = 4096;
constexpr auto kBootloaderAnswerGap = 100ms;    // between the answer to "BOOTLOADER" and leaving the port
constexpr auto kUnplugAfterHalfPacket = 200ms;  // lets the reader take the half packet first
constexpr auto kMoveBound = 30s;                // how long a caller waits for a board to move
constexpr std::string_view kBootloaderCommand = "\r\nBOOTLOADER\r\n";
constexpr std::string_view kResetCommand = "RESET\r\n";
constexpr std::string_view kThresholdCommand = "mContamination_threshold:";
constexpr std::string_view kThresholdEnd = ",\r\n";

std::uint32_t speedValue(speed_t speed) {
    switch (speed) {
        case B50:
            return 50;
        case B75:
            return 75;
        case B110:
            return 110;
        case B134:
            return 134;
        case B150:
            return 150;
        case B200:
            return 200;
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B1800:
            return 1800;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        case B1500000:
            return 1500000;
        case B3000000:
            return 3000000;
        default:
            return 0;
    }
}

// The second touch speed after 1200 baud for the kinds that need one.
std::optional<std::uint32_t> secondTouchSpeed(DeviceKind kind) {
    switch (kind) {
        case DeviceKind::STWINKT1:
            return 150;
        case DeviceKind::SENSOR_TILE_BOX:
            return 110;
        default:
            return std::nullopt;
    }
}

// Where a board goes after a bootloader or reset command; none: it stays.
std::optional<UsbBoardMode> reactionTo(DeviceKind kind, std::string_view entry) {
    if (entry == "RESET") {
        return UsbBoardMode::application;
    }
    if (entry == "BOOTLOADER" && (kind == DeviceKind::NANO_33_BLE || kind == DeviceKind::NANO_33_BLE_REV2 ||
                                  kind == DeviceKind::NANO_33_IOT)) {
        return UsbBoardMode::bootloader;
    }
    if (entry == "1200" && kind == DeviceKind::QORVO_SAMD51) {
        return UsbBoardMode::bootloader;
    }
    if ((entry == "1200" && kind == DeviceKind::PNG_STM32L4) ||
        (entry == "1200+150" && kind == DeviceKind::STWINKT1) ||
        (entry == "1200+110" && kind == DeviceKind::SENSOR_TILE_BOX)) {
        return UsbBoardMode::dfu;
    }
    return std::nullopt;
}

void simulatorLog(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

std::string_view toString(UsbBoardMode mode) {
    switch (mode) {
        case UsbBoardMode::application:
            return "application";
        case UsbBoardMode::bootloader:
            return "bootloader";
        case UsbBoardMode::dfu:
            return "dfu";
        case UsbBoardMode::unplugged:
            return "unplugged";
    }
    return "?";
}

std::optional<device::UsbId> usbIdsOf(DeviceKind kind, UsbBoardMode mode) {
    switch (mode) {
        case UsbBoardMode::application:
            return device::applicationUsbId(common::rawValue(kind));
        case UsbBoardMode::bootloader:
        case UsbBoardMode::dfu: {
            const auto vendor = common::bootloaderVid(kind);
            const auto product = common::bootloaderPid(kind);
            if (!vendor || !product) {
                return std::nullopt;
            }
            return device::UsbId{vendor->value, product->value};
        }
        case UsbBoardMode::unplugged:
            return std::nullopt;
    }
    return std::nullopt;
}

// ---- the testbed

class UsbTestbed {
  public:
    struct Tty {
        std::string usbSysPath;  // "/sys/devices/..." of the USB device
        std::string ttySysPath;
        std::string devicePath;  // "/dev/ttyACM0"
        int master = -1;         // the board's end of the pseudo-terminal; owned by the testbed
    };

    static tl::expected<std::unique_ptr<UsbTestbed>, std::string> create() {
        const char* preload = std::getenv("LD_PRELOAD");
        if (preload == nullptr ||
            std::string_view(preload).find("umockdev-preload") == std::string_view::npos) {
            return tl::unexpected(std::string(
                "the umockdev preload library is not loaded: run with LD_PRELOAD=libumockdev-preload.so.0"));
        }
        UMockdevTestbed* testbed = umockdev_testbed_new();
        if (testbed == nullptr) {
            return tl::unexpected(std::string("umockdev could not create a testbed"));
        }
        return std::unique_ptr<UsbTestbed>(new UsbTestbed(testbed));
    }

    ~UsbTestbed() { g_object_unref(testbed); }
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    std::string root() const {
        std::lock_guard lock(mutex);
        gchar* path = umockdev_testbed_get_root_dir(testbed);
        std::string root = path != nullptr ? path : "";
        g_free(path);
        return root;
    }

    // Adds a USB device with `ids`, its interface and a tty child with a fresh name. The device shows
    // its ids only once its device node is there: umockdev makes the node after the sysfs entries, and
    // a real board's port can be opened by the time anyone finds it by its ids.
    tl::expected<Tty, std::string> addTty(device::UsbId ids) {
        std::lock_guard lock(mutex);
        const std::size_t number = nextNumber++;
        const std::string usbName = "1-" + std::to_string(number + 1);
        const std::string ttyName = "ttyACM" + std::to_string(number);
        const std::string usb = "/devices/pci0000:00/usb1/" + usbName;
        const std::string interface = usb + "/" + usbName + ":1.0";
        const std::string tty = interface + "/tty/" + ttyName;
        char vendor[8];
        char product[8];
        std::snprintf(vendor, sizeof vendor, "%04x", ids.vendor);
        std::snprintf(product, sizeof product, "%04x", ids.product);
        const std::string description =
            "P: " + usb + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=0000\nA: idProduct=0000" +
            "\n\nP: " + interface + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n\nP: " + tty +
            "\nN: " + ttyName + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + ttyName + "\n";
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
            std::string message = error != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            return tl::unexpected("umockdev refused the device: " + message);
        }
        Tty added{"/sys" + usb, "/sys" + tty, "/dev/" + ttyName, -1};
        added.master = umockdev_testbed_get_dev_fd(testbed, added.devicePath.c_str());
        if (added.master < 0) {
            return tl::unexpected("umockdev gave no terminal for " + added.devicePath);
        }
        ::fcntl(added.master, F_SETFL, ::fcntl(added.master, F_GETFL) | O_NONBLOCK);
        umockdev_testbed_set_attribute(testbed, added.usbSysPath.c_str(), "idProduct", product);
        umockdev_testbed_set_attribute(testbed, added.usbSysPath.c_str(), "idVendor", vendor);
        return added;
    }

    // Hangs the line up (the port's reads fail as on an unplugged board) and removes the device.
    void removeTty(const Tty& tty) {
        std::lock_guard lock(mutex);
        // The testbed keeps the descriptor number and closes it itself: putting /dev/null in its place
        // closes our end of the pseudo-terminal without taking the number away from the testbed.
        common::FileDescriptor null(::open("/dev/null", O_RDWR | O_CLOEXEC));
        if (null.valid()) {
            ::dup2(null.get(), tty.master);
        }
        umockdev_testbed_remove_device(testbed, tty.ttySysPath.c_str());
        umockdev_testbed_remove_device(testbed, tty.usbSysPath.c_str());
    }

  private:
    explicit UsbTestbed(UMockdevTestbed* testbed_) : testbed(testbed_) {}

    mutable std::mutex mutex;
    UMockdevTestbed* testbed;    // guarded by mutex
    std::size_t nextNumber = 0;  // guarded by mutex
};

// ---- one board

class SimulatedUsbBoard {
  public:
    SimulatedUsbBoard(BoardId id, DeviceKind kind, UsbBoardMode mode, FirmwarePersonality firmware,
                      UsbTestbed& testbed_, const UsbBoardSimulatorOptions& options_,
                      std::function<void()> onChange_)
        : testbed(testbed_),
          options(options_),
          onChange(std::move(onChange_)),
          wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          output(firmware) {
        state.id = id;
        state.kind = kind;
        state.mode = UsbBoardMode::unplugged;
        state.firmware = std::move(firmware);
        if (mode != UsbBoardMode::unplugged) {
            // The first enumeration happens before the constructor returns: a plugged board is there.
            pending = PendingMove{mode, Clock::now(), Clock::now()};
            applyPendingMove();
        }
        thread = std::thread([this] { run(); });
    }

    ~SimulatedUsbBoard() {
        stopping.store(true);
        signal();
        thread.join();
        if (tty) {
            testbed.removeTty(*tty);
        }
    }

    SimulatedUsbBoard(const SimulatedUsbBoard&) = delete;
    SimulatedUsbBoard& operator=(const SimulatedUsbBoard&) = delete;

    UsbBoardSnapshot snapshot() const {
        std::lock_guard lock(mutex);
        return state;
    }

    // Leave the port now and come back in `mode` after the re-enumeration delay (unplugged: never).
    void move(UsbBoardMode mode, std::chrono::milliseconds leaveAfter) {
        {
            std::lock_guard lock(mutex);
            const auto leaveAt = Clock::now() + leaveAfter;
            pending = PendingMove{mode, leaveAt, leaveAt + options.reenumerationDelay};
        }
        signal();
    }

    void ignoreCommands() {
        std::lock_guard lock(mutex);
        deaf = true;
    }

    void send(std::string_view text) {
        {
            std::lock_guard lock(mutex);
            queueNow(text);
        }
        signal();
    }

    void flashed(const std::filesystem::path& image, bool restart) {
        const std::vector<std::uint8_t> bytes = test_support::readBytes(image);
        auto personality = personalityOfImage(bytes);
        if (!personality) {
            personality = FirmwarePersonality{};
            personality->fault = BoardFault::silence;
        }
        {
            std::lock_guard lock(mutex);
            state.imagesFlashed.push_back(image.string());
            state.firmware = *personality;
            newFirmware = true;
        }
        if (restart) {
            move(UsbBoardMode::application, 0ms);
        } else {
            signal();
        }
        onChange();
    }

  private:
    struct PendingMove {
        UsbBoardMode mode;
        Clock::time_point leaveAt;
        Clock::time_point returnAt;
    };
    struct ScheduledWrite {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
    };

    void signal() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake.get(), &one, sizeof one);
    }

    void drainWake() {
        std::uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(wake.get(), &count, sizeof count);
    }

    void run() {
        while (!stopping.load()) {
            const bool changedMode = applyPendingMove();
            bool changedLine = false;
            if (tty) {
                changedLine = serviceLine();
            }
            if (changedMode || changedLine) {
                onChange();
            }
            waitForWork();
        }
    }

    // Leaves the port or comes back when a move is due. True when the mode changed.
    bool applyPendingMove() {
        std::unique_lock lock(mutex);
        if (newFirmware) {
            output = FirmwareOutput(state.firmware);
            newFirmware = false;
        }
        if (!pending) {
            return false;
        }
        const auto now = Clock::now();
        bool changed = false;
        if (now >= pending->leaveAt && state.mode != UsbBoardMode::unplugged) {
            if (tty) {
                testbed.removeTty(*tty);
                tty.reset();
            }
            state.mode = UsbBoardMode::unplugged;
            state.devicePath.reset();
            state.ids.reset();
            changed = true;
        }
        if (state.mode == UsbBoardMode::unplugged && now >= pending->returnAt) {
            const UsbBoardMode target = pending->mode;
            pending.reset();
            if (target == UsbBoardMode::unplugged) {
                return changed;
            }
            const auto ids = usbIdsOf(state.kind, target);
            if (!ids) {
                simulatorLog("board simulator: " + std::string(common::rawValue(state.kind)) + " has no " +
                             std::string(toString(target)) + " mode; it stays unplugged");
                return true;
            }
            if (target != UsbBoardMode::dfu) {
                auto added = testbed.addTty(*ids);
                if (!added) {
                    simulatorLog("board simulator: " + added.error() + "; the board stays unplugged");
                    return true;
                }
                tty = *added;
                lineWasOpen = false;
                lastClosingSpeed = currentSpeed();
                state.devicePath = tty->devicePath;
            }
            if (everPlugged) {
                ++state.restarts;
            }
            everPlugged = true;
            state.mode = target;
            state.ids = ids;
            nextBurst = Clock::now() + output.personality().period;
            changed = true;
        }
        return changed;
    }

    std::uint32_t currentSpeed() const {
        termios settings{};
        if (::tcgetattr(tty->master, &settings) != 0) {
            return 0;
        }
        return speedValue(::cfgetospeed(&settings));
    }

    // One look at the line: opens and closes, speeds, commands, output. True when the state changed.
    bool serviceLine() {
        pollfd line{tty->master, POLLIN, 0};
        ::poll(&line, 1, 0);
        const bool open = (line.revents & POLLHUP) == 0;
        const std::uint32_t speed = currentSpeed();
        bool changed = false;
        std::unique_lock lock(mutex);
        state.firmware = output.personality();
        // Commands written just before a close are still taken.
        if ((line.revents & POLLIN) != 0) {
            changed = readCommands();
        }
        if (open && !lineWasOpen) {
            ++state.opens;
            sessionSpeed = speed;
            // A speed other than the last closing one was set by this open; the same one may be stale.
            sessionSpeedSet = speed != lastClosingSpeed;
            changed = true;
        } else if (open && speed != sessionSpeed) {
            if (sessionSpeedSet) {
                // A close and the next open fell between two looks: the service reopened at another speed.
                endSession(sessionSpeed);
                ++state.opens;
            }
            sessionSpeed = speed;
            sessionSpeedSet = true;
            changed = true;
        }
        if (!open && lineWasOpen) {
            endSession(speed);
            changed = true;
        } else if (!open && speed != lastClosingSpeed) {
            ++state.opens;  // a whole open and close happened between two looks
            endSession(speed);
            changed = true;
        }
        if (!open && changed) {
            ::tcflush(tty->master, TCIOFLUSH);  // what nobody read is lost, as on a real line
            discardUnreadInput();
        }
        lineWasOpen = open;
        if (!open) {
            return changed;
        }
        if (state.mode == UsbBoardMode::application && !pending) {
            produceOutput();
        }
        writeOutput();
        if (output.wantsUnplug() && scheduled.empty() && unsent.empty() && !pending) {
            lock.unlock();
            move(UsbBoardMode::unplugged, kUnplugAfterHalfPacket);
        }
        return changed;
    }

    // A real board's line goes with its last close, and with it what the service had not read yet; the
    // service's end of a pseudo-terminal keeps those bytes for its next open (a flush of the board's end does
    // not reach them), so that a measurement after a flash would read the old firmware's lines.
    void discardUnreadInput() {
        std::array<char, 128> name{};
        if (::ptsname_r(tty->master, name.data(), name.size()) != 0) {
            return;
        }
        const common::FileDescriptor serviceEnd(
            ::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (serviceEnd.valid()) {
            ::tcflush(serviceEnd.get(), TCIFLUSH);
        }
    }

    // Requires `mutex`.
    void endSession(std::uint32_t speed) {
        lastClosingSpeed = speed;
        state.speeds.push_back(speed);
        scheduled.clear();
        unsent.clear();
        input.clear();
        if (state.mode != UsbBoardMode::application) {
            return;
        }
        const auto now = Clock::now();
        if (awaitingSecondTouch && now <= secondTouchDeadline && speed == secondSpeed) {
            awaitingSecondTouch = false;
            recordEntry("1200+" + std::to_string(speed));
            return;
        }
        awaitingSecondTouch = false;
        if (speed != 1200) {
            return;
        }
        if (const auto second = secondTouchSpeed(state.kind)) {
            awaitingSecondTouch = true;
            secondSpeed = *second;
            secondTouchDeadline = now + options.secondTouchWindow;
            return;
        }
        recordEntry("1200");
    }

    // Requires `mutex`.
    void recordEntry(const std::string& entry, std::chrono::milliseconds leaveAfter = 0ms) {
        state.entries.push_back(entry);
        if (const auto target = reactionTo(state.kind, entry)) {
            const auto leaveAt = Clock::now() + leaveAfter;
            pending = PendingMove{*target, leaveAt, leaveAt + options.reenumerationDelay};
        }
    }

    // Requires `mutex`. True when a command was seen.
    bool readCommands() {
        std::array<char, 4096> buffer{};
        for (;;) {
            const ssize_t count = ::read(tty->master, buffer.data(), buffer.size());
            if (count <= 0) {
                break;
            }
            input.append(buffer.data(), static_cast<std::size_t>(count));
        }
        if (state.mode != UsbBoardMode::application || deaf) {
            input.clear();
            return false;
        }
        bool seen = false;
        for (;;) {
            const auto bootloader = input.find(kBootloaderCommand);
            const auto reset = input.find(kResetCommand);
            const auto threshold = input.find(kThresholdCommand);
            const auto thresholdEnd =
                threshold == std::string::npos ? std::string::npos : input.find(kThresholdEnd, threshold);
            const std::size_t first = std::min(
                {bootloader, reset, thresholdEnd == std::string::npos ? std::string::npos : threshold});
            if (first == std::string::npos) {
                break;
            }
            seen = true;
            if (first == bootloader) {
                input.erase(0, bootloader + kBootloaderCommand.size());
                queueNow("Bootloader mode\r\n");
                recordEntry("BOOTLOADER", kBootloaderAnswerGap);
            } else if (first == reset) {
                input.erase(0, reset + kResetCommand.size());
                recordEntry("RESET");
            } else {
                const auto valueStart = threshold + kThresholdCommand.size();
                state.thresholds.push_back(input.substr(valueStart, thresholdEnd - valueStart));
                input.erase(0, thresholdEnd + kThresholdEnd.size());
            }
        }
        if (input.size() > kInputBound) {
            input.erase(0, input.size() - 64);
        }
        return seen;
    }

    // Requires `mutex`.
    void queueNow(std::string_view text) { unsent.insert(unsent.end(), text.begin(), text.end()); }

    // Requires `mutex`.
    void produceOutput() {
        const auto now = Clock::now();
        if (scheduled.empty() && unsent.size() < kOutputBound && now >= nextBurst) {
            auto due = now;
            auto burst = output.nextBurst();
            if (!burst.empty()) {
                ++state.bursts;
            }
            for (auto& write : burst) {
                due += write.delay;
                scheduled.push_back(ScheduledWrite{due, std::move(write.bytes)});
            }
            nextBurst = due + output.personality().period;
        }
        while (!scheduled.empty() && scheduled.front().due <= now) {
            unsent.insert(unsent.end(), scheduled.front().bytes.begin(), scheduled.front().bytes.end());
            scheduled.pop_front();
        }
    }

    // Requires `mutex`.
    void writeOutput() {
        while (!unsent.empty()) {
            const ssize_t count = ::write(tty->master, unsent.data(), unsent.size());
            if (count <= 0) {
                return;  // the service has not read yet
            }
            unsent.erase(unsent.begin(), unsent.begin() + count);
        }
    }

    void waitForWork() {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kSampleInterval);
        {
            std::lock_guard lock(mutex);
            const auto now = Clock::now();
            const auto until = [&](Clock::time_point at) {
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                          std::max(at - now, Clock::duration(0))));
            };
            if (pending) {
                until(state.mode == UsbBoardMode::unplugged ? pending->returnAt : pending->leaveAt);
            }
            if (!tty && !pending) {
                wait = 1000ms;  // nothing to watch: only a command or the stop wakes the board
            }
        }
        pollfd wakeFd{wake.get(), POLLIN, 0};
        if (::poll(&wakeFd, 1, static_cast<int>(wait.count())) > 0) {
            drainWake();
        }
    }

    UsbTestbed& testbed;
    const UsbBoardSimulatorOptions& options;
    const std::function<void()> onChange;
    common::FileDescriptor wake;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex;
    UsbBoardSnapshot state;              // guarded by mutex
    std::optional<PendingMove> pending;  // guarded by mutex
    bool newFirmware = false;            // guarded by mutex
    FirmwareOutput output;               // guarded by mutex

    // Board thread only (and the destructor after the join), some also under mutex for simplicity.
    std::optional<UsbTestbed::Tty> tty;
    bool lineWasOpen = false;
    std::uint32_t sessionSpeed = 0;  // the line speed of the current open
    bool sessionSpeedSet = false;    // sessionSpeed was set by the service during this open
    bool everPlugged = false;
    std::uint32_t lastClosingSpeed = 0;
    bool awaitingSecondTouch = false;
    bool deaf = false;  // ignores bootloader, reset and threshold commands
    std::uint32_t secondSpeed = 0;
    Clock::time_point secondTouchDeadline;
    Clock::time_point nextBurst;
    std::deque<ScheduledWrite> scheduled;
    std::vector<std::uint8_t> unsent;
    std::string input;

    std::thread thread;  // last: starts after every member exists
};

// ---- the simulator

tl::expected<std::unique_ptr<UsbBoardSimulator>, std::string> UsbBoardSimulator::create(
    UsbBoardSimulatorOptions options) {
    auto testbed = UsbTestbed::create();
    if (!testbed) {
        return tl::unexpected(testbed.error());
    }
    return std::unique_ptr<UsbBoardSimulator>(new UsbBoardSimulator(options, std::move(*testbed)));
}

UsbBoardSimulator::UsbBoardSimulator(UsbBoardSimulatorOptions options_, std::unique_ptr<UsbTestbed> testbed_)
    : options(options_), testbed(std::move(testbed_)) {}

UsbBoardSimulator::~UsbBoardSimulator() {
    std::vector<std::unique_ptr<SimulatedUsbBoard>> stopping;
    {
        std::lock_guard lock(boardsMutex);
        stopping.swap(boardList);
    }
    stopping.clear();  // joins every board thread (they may still notify: boardsMutex is free)
}

std::string UsbBoardSimulator::umockdevDir() const {
    return testbed->root();
}

BoardId UsbBoardSimulator::plug(DeviceKind kind, UsbBoardMode mode, FirmwarePersonality firmware) {
    std::lock_guard lock(boardsMutex);
    const BoardId id = boardList.size();
    boardList.push_back(std::make_unique<SimulatedUsbBoard>(id, kind, mode, std::move(firmware), *testbed,
                                                            options, [this] { notifyChange(); }));
    return id;
}

void UsbBoardSimulator::unplug(BoardId board) {
    reenumerate(board, UsbBoardMode::unplugged);
}

void UsbBoardSimulator::reenumerate(BoardId board, UsbBoardMode mode) {
    std::optional<std::string> leaving;
    {
        std::lock_guard lock(boardsMutex);
        if (board >= boardList.size()) {
            return;
        }
        leaving = boardList[board]->snapshot().devicePath;
        boardList[board]->move(mode, 0ms);
    }
    if (leaving) {
        awaitMove(board, leaving, AwaitedMove::departure);
    }
}

void UsbBoardSimulator::awaitMove(BoardId board, const std::optional<std::string>& leaving,
                                  AwaitedMove awaited) const {
    // The board moves on its own thread at once; a busy machine may keep it from running for a while.
    const bool moved = waitUntil(
        [&](const std::vector<UsbBoardSnapshot>& all) {
            const auto& path = all.at(board).devicePath;
            return path != leaving && (awaited == AwaitedMove::departure || path.has_value());
        },
        kMoveBound);
    if (!moved) {
        simulatorLog("board simulator: board " + std::to_string(board) + " did not move from " +
                     leaving.value_or("its DFU mode"));
    }
}

void UsbBoardSimulator::ignoreCommands(BoardId board) {
    std::lock_guard lock(boardsMutex);
    if (board < boardList.size()) {
        boardList[board]->ignoreCommands();
    }
}

void UsbBoardSimulator::send(BoardId board, std::string_view text) {
    std::lock_guard lock(boardsMutex);
    if (board < boardList.size()) {
        boardList[board]->send(text);
    }
}

void UsbBoardSimulator::flashed(BoardId board, const std::filesystem::path& image, bool restart) {
    SimulatedUsbBoard* target = nullptr;
    {
        std::lock_guard lock(boardsMutex);
        if (board < boardList.size()) {
            target = boardList[board].get();  // boards live as long as the simulator
        }
    }
    if (target != nullptr) {
        const auto leaving = target->snapshot().devicePath;
        target->flashed(image, restart);
        if (restart) {
            // A real board restarts within a moment of its tool's end, far within what the service
            // waits for it: here the tool ends once the board is back.
            awaitMove(board, leaving, AwaitedMove::comeback);
        }
    }
}

std::vector<UsbBoardSnapshot> UsbBoardSimulator::boards() const {
    std::lock_guard lock(boardsMutex);
    std::vector<UsbBoardSnapshot> snapshots;
    for (const auto& board : boardList) {
        snapshots.push_back(board->snapshot());
    }
    return snapshots;
}

std::optional<UsbBoardSnapshot> UsbBoardSimulator::board(BoardId board) const {
    std::lock_guard lock(boardsMutex);
    if (board >= boardList.size()) {
        return std::nullopt;
    }
    return boardList[board]->snapshot();
}

bool UsbBoardSimulator::waitUntil(const std::function<bool(const std::vector<UsbBoardSnapshot>&)>& condition,
                                  std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(boardsMutex);
    for (;;) {
        const std::size_t seen = changeCount;
        lock.unlock();
        if (condition(boards())) {
            return true;
        }
        lock.lock();
        if (!changed.wait_until(lock, deadline, [&] { return changeCount != seen; })) {
            return false;
        }
    }
}

void UsbBoardSimulator::notifyChange() {
    {
        std::lock_guard lock(boardsMutex);
        ++changeCount;
    }
    changed.notify_all();
}

nlohmann::ordered_json toJson(const UsbBoardSnapshot& board) {
    nlohmann::ordered_json json;
    json["id"] = board.id;
    json["kind"] = common::rawValue(board.kind);
    json["mode"] = toString(board.mode);
    json["devicePath"] =
        board.devicePath ? nlohmann::ordered_json(*board.devicePath) : nlohmann::ordered_json();
    json["ids"] = board.ids ? nlohmann::ordered_json(device::toString(*board.ids)) : nlohmann::ordered_json();
    json["opens"] = board.opens;
    json["speeds"] = board.speeds;
    json["entries"] = board.entries;
    json["thresholds"] = board.thresholds;
    json["imagesFlashed"] = board.imagesFlashed;
    json["firmware"] = toJson(board.firmware);
    json["restarts"] = board.restarts;
    return json;
}

nlohmann::ordered_json UsbBoardSimulator::stateJson() const {
    nlohmann::ordered_json boardsJson = nlohmann::ordered_json::array();
    for (const auto& board : boards()) {
        boardsJson.push_back(toJson(board));
    }
    nlohmann::ordered_json json;
    json["usbBoards"] = std::move(boardsJson);
    return json;
}

}  // namespace brisel::test
