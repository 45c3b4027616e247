#include "desktop/components/crash_reports/crash_handler.h"

#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#define UNW_LOCAL_ONLY
#include <libunwind.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

namespace brisel::desktop::components {

namespace {

constexpr std::array<int, 5> kFatalSignals{SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE};

// Everything the handler reads is prepared before it is installed and never freed.
struct PreparedState {
    std::array<char, 4096> markerPath{};
    std::array<char, 256 * 1024> moduleLines{};  // "module ..." lines, truncated when there are very many
    std::size_t moduleLinesLength = 0;
    std::array<struct sigaction, kFatalSignals.size()> previous{};
    bool installed = false;
};
PreparedState prepared;
// The thread that writes the marker; 0 until a fatal signal arrives.
std::atomic<pid_t> crashingThread{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);
// How long another thread that crashes meanwhile lets the first one finish its marker.
constexpr int kOtherCrashWaitMilliseconds = 5000;
alignas(16) std::array<char, 64 * 1024> alternateStack{};

// --- async-signal-safe writing: write(2) and arithmetic only ---

void writeAll(int fd, const char* text, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, text, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

void writeText(int fd, const char* text) {
    writeAll(fd, text, ::strlen(text));
}

void writeHex(int fd, std::uintptr_t value) {
    std::array<char, 2 + 2 * sizeof(value)> digits{};
    std::size_t start = digits.size();
    do {
        digits[--start] = "0123456789abcdef"[value & 0xFU];
        value >>= 4U;
    } while (value != 0 && start > 2);
    digits[--start] = 'x';
    digits[--start] = '0';
    writeAll(fd, digits.data() + start, digits.size() - start);
}

void writeDecimal(int fd, unsigned value) {
    std::array<char, 12> digits{};
    std::size_t start = digits.size();
    do {
        digits[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    writeAll(fd, digits.data() + start, digits.size() - start);
}

// Only addresses: naming them (reading symbol tables) allocates, so it waits for the next start.
void writeFrames(int fd) {
    unw_context_t context;
    unw_cursor_t cursor;
    if (unw_getcontext(&context) != 0 || unw_init_local(&cursor, &context) != 0) {
        return;
    }
    for (int frame = 0; frame < kMaxCrashFrames && unw_step(&cursor) > 0; ++frame) {
        unw_word_t address = 0;
        if (unw_get_reg(&cursor, UNW_REG_IP, &address) != 0) {
            break;
        }
        writeText(fd, "frame ");
        writeHex(fd, address);
        writeText(fd, "\n");
    }
}

// Ends the process with the signal's own default action (a core dump where the system keeps them).
void endWithDefaultAction(int signalNumber) {
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    sigset_t own;
    sigemptyset(&own);
    sigaddset(&own, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &own, nullptr);
    ::raise(signalNumber);
}

long monotonicMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// The first thread's marker usually ends the process before this bound.
void waitForTheOtherCrash() {
    const long deadline = monotonicMilliseconds() + kOtherCrashWaitMilliseconds;
    for (long left = kOtherCrashWaitMilliseconds; left > 0; left = deadline - monotonicMilliseconds()) {
        ::poll(nullptr, 0, static_cast<int>(left));
    }
}

// Runs with every fatal signal blocked (see installCrashHandler): a fault inside it ends the process
// at once rather than coming back here.
void onFatalSignal(int signalNumber, siginfo_t* /*info*/, void* /*context*/) {
    const auto self = static_cast<pid_t>(::syscall(SYS_gettid));
    pid_t first = 0;
    if (!crashingThread.compare_exchange_strong(first, self)) {
        // Back in the handler on the thread that wrote (or writes) the marker: nothing more to write.
        // Another thread: it may still be writing; wait for it, but not for ever.
        if (first != self) {
            waitForTheOtherCrash();
        }
        endWithDefaultAction(signalNumber);
        return;
    }
    const int fd = ::open(prepared.markerPath.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        writeText(fd, "velko-crash 2\nsignal ");
        writeDecimal(fd, static_cast<unsigned>(signalNumber));
        writeText(fd, "\n");
        writeAll(fd, prepared.moduleLines.data(), prepared.moduleLinesLength);
        writeFrames(fd);
        ::fsync(fd);
        ::close(fd);
    }
    endWithDefaultAction(signalNumber);
}

// --- preparation (ordinary code) ---

void appendModuleLine(std::string_view line) {
    if (prepared.moduleLinesLength + line.size() > prepared.moduleLines.size()) {
        return;
    }
    std::memcpy(prepared.moduleLines.data() + prepared.moduleLinesLength, line.data(), line.size());
    prepared.moduleLinesLength += line.size();
}

// The GNU build id among the object's notes, in memory, as lowercase hexadecimal digits; "-" when it
// has none.
std::string buildId(const dl_phdr_info& info) {
    constexpr std::size_t kMaxBuildIdBytes = 64;
    for (ElfW(Half) index = 0; index < info.dlpi_phnum; ++index) {
        const ElfW(Phdr)& header = info.dlpi_phdr[index];
        if (header.p_type != PT_NOTE) {
            continue;
        }
        const std::size_t alignment = header.p_align == 8 ? 8 : 4;
        const auto* notes = reinterpret_cast<const unsigned char*>(info.dlpi_addr + header.p_vaddr);
        std::size_t offset = 0;
        const auto aligned = [alignment](std::size_t value) {
            return (value + alignment - 1) & ~(alignment - 1);
        };
        while (offset + sizeof(ElfW(Nhdr)) <= header.p_memsz) {
            ElfW(Nhdr) note{};
            std::memcpy(&note, notes + offset, sizeof(note));
            const std::size_t name = offset + sizeof(note);
            const std::size_t description = name + aligned(note.n_namesz);
            if (description < name || description + note.n_descsz > header.p_memsz) {
                break;
            }
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 &&
                std::memcmp(notes + name, "GNU", 4) == 0 && note.n_descsz > 0 &&
                note.n_descsz <= kMaxBuildIdBytes) {
                std::string digits;
                for (std::size_t byte = 0; byte < note.n_descsz; ++byte) {
                    digits += "0123456789abcdef"[notes[description + byte] >> 4U];
                    digits += "0123456789abcdef"[notes[description + byte] & 0xFU];
                }
                return digits;
            }
            offset = aligned(description + note.n_descsz);
        }
    }
    return "-";
}

std::string hex(std::uintptr_t value) {
    std::array<char, 2 + 2 * sizeof(value) + 1> text{};
    std::snprintf(text.data(), text.size(), "0x%jx", static_cast<std::uintmax_t>(value));
    return text.data();
}

int recordModule(dl_phdr_info* info, std::size_t /*size*/, void* /*data*/) {
    std::uintptr_t start = UINTPTR_MAX;
    std::uintptr_t end = 0;
    for (ElfW(Half) index = 0; index < info->dlpi_phnum; ++index) {
        const ElfW(Phdr)& header = info->dlpi_phdr[index];
        if (header.p_type == PT_LOAD) {
            start = std::min<std::uintptr_t>(start, info->dlpi_addr + header.p_vaddr);
            end = std::max<std::uintptr_t>(end, info->dlpi_addr + header.p_vaddr + header.p_memsz);
        }
    }
    std::string path = info->dlpi_name != nullptr ? info->dlpi_name : "";
    if (path.empty()) {
        std::array<char, 4096> self{};
        const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
        path = length > 0 ? std::string(self.data(), static_cast<std::size_t>(length)) : "";
    }
    if (start < end && !path.empty() && path.find('\n') == std::string::npos) {
        appendModuleLine("module " + hex(start) + " " + hex(end) + " " + hex(info->dlpi_addr) + " " +
                         buildId(*info) + " " + path + "\n");
    }
    return 0;
}

}  // namespace

tl::expected<void, std::string> installCrashHandler(const std::filesystem::path& markerPath) {
    uninstallCrashHandler();
    const std::string path = markerPath.string();
    if (path.size() + 1 > prepared.markerPath.size()) {
        return tl::make_unexpected(std::string("the crash marker's path is too long"));
    }
    std::memcpy(prepared.markerPath.data(), path.c_str(), path.size() + 1);
    prepared.moduleLinesLength = 0;
    dl_iterate_phdr(recordModule, nullptr);

    stack_t stack{};
    stack.ss_sp = alternateStack.data();
    stack.ss_size = alternateStack.size();
    ::sigaltstack(&stack, nullptr);  // without it only overflows go unreported

    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int fatal : kFatalSignals) {
        sigaddset(&action.sa_mask, fatal);
    }
    for (std::size_t index = 0; index < kFatalSignals.size(); ++index) {
        if (::sigaction(kFatalSignals[index], &action, &prepared.previous[index]) != 0) {
            const int error = errno;
            for (std::size_t undo = 0; undo < index; ++undo) {
                ::sigaction(kFatalSignals[undo], &prepared.previous[undo], nullptr);
            }
            return tl::make_unexpected("sigaction failed: " +
                                       std::error_code(error, std::generic_category()).message());
        }
    }
    prepared.installed = true;
    return {};
}

void uninstallCrashHandler() {
    if (!prepared.installed) {
        return;
    }
    for (std::size_t index = 0; index < kFatalSignals.size(); ++index) {
        ::sigaction(kFatalSignals[index], &prepared.previous[index], nullptr);
    }
    prepared.installed = false;
}

}  // namespace brisel::desktop::components
