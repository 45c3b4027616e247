#include "desktop/components/crash_reports/crash_symbols.h"

#include <elfutils/libdwfl.h>

#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

namespace brisel::desktop::components {

namespace {

// Every object is reported with its file (dwfl_report_elf), so none is looked for.
int findNoObject(Dwfl_Module* /*module*/, void** /*userData*/, const char* /*moduleName*/,
                 Dwarf_Addr /*base*/, char** /*fileName*/, Elf** /*elf*/) {
    return -1;
}

// Separate debugging information by build ID under the standard folders only. libdw's standard
// search would end by asking the debuginfod servers in DEBUGINFOD_URLS, which can keep a start
// waiting on the network.
int findLocalDebugInfo(Dwfl_Module* module, void** userData, const char* moduleName, Dwarf_Addr base,
                       const char* fileName, const char* debugLink, GElf_Word debugLinkCrc,
                       char** debugInfoFileName) {
    return dwfl_build_id_find_debuginfo(module, userData, moduleName, base, fileName, debugLink, debugLinkCrc,
                                        debugInfoFileName);
}

char* noDebugInfoPath = nullptr;
const Dwfl_Callbacks kOfflineCallbacks{
    findNoObject,
    findLocalDebugInfo,
    dwfl_offline_section_address,
    &noDebugInfoPath,
};

using DwflSession = std::unique_ptr<Dwfl, decltype(&dwfl_end)>;

// The file that holds the symbols of the build of `frame`'s object: the object's own file, or its
// separate debugging file. None when the marker recorded no build id or no file has it.
std::optional<std::filesystem::path> fileOfTheBuild(const CrashFrame& frame,
                                                    const std::vector<std::filesystem::path>& debugFolders) {
    if (!frame.module || !frame.moduleBuildId || frame.moduleBuildId->size() < 4) {
        return std::nullopt;
    }
    const std::string& id = *frame.moduleBuildId;
    if (fileBuildId(*frame.module) == id) {
        return std::filesystem::path(*frame.module);
    }
    for (const std::filesystem::path& folder : debugFolders) {
        std::filesystem::path debugFile = folder / ".build-id" / id.substr(0, 2) / (id.substr(2) + ".debug");
        if (fileBuildId(debugFile) == id) {
            return debugFile;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> fileBuildId(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return std::nullopt;  // opening a FIFO could block for ever
    }
    const DwflSession session(dwfl_begin(&kOfflineCallbacks), &dwfl_end);
    if (!session) {
        return std::nullopt;
    }
    Dwfl_Module* module = dwfl_report_offline(session.get(), "", file.c_str(), -1);
    const unsigned char* bits = nullptr;
    GElf_Addr noteAddress = 0;
    const int length = module == nullptr ? -1 : dwfl_module_build_id(module, &bits, &noteAddress);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string digits;
    for (int byte = 0; byte < length; ++byte) {
        digits += "0123456789abcdef"[bits[byte] >> 4U];
        digits += "0123456789abcdef"[bits[byte] & 0xFU];
    }
    return digits;
}

bool symbolise(CrashMarker& marker, std::stop_token stop) {
    return symboliseFrom(marker, {"/usr/lib/debug"}, std::move(stop));
}

bool symboliseFrom(CrashMarker& marker, const std::vector<std::filesystem::path>& debugFolders,
                   std::stop_token stop) {
    const DwflSession session(dwfl_begin(&kOfflineCallbacks), &dwfl_end);
    if (!session) {
        return true;  // nothing can be named
    }
    dwfl_report_begin(session.get());
    std::map<std::string, bool> looked;  // objects by path: whether a file of their build was found
    for (const CrashFrame& frame : marker.frames) {
        if (!frame.module || looked.contains(*frame.module)) {
            continue;
        }
        const std::optional<std::filesystem::path> file = fileOfTheBuild(frame, debugFolders);
        looked.emplace(*frame.module, file.has_value());
        if (file) {
            dwfl_report_elf(session.get(), frame.module->c_str(), file->c_str(), -1, frame.moduleBias, false);
        }
    }
    dwfl_report_end(session.get(), nullptr, nullptr);
    for (std::size_t index = 0; index < marker.frames.size(); ++index) {
        if (stop.stop_requested()) {
            return false;
        }
        CrashFrame& frame = marker.frames[index];
        // A caller's address is the return address, just after its call: look up the call itself.
        const Dwarf_Addr address = index == 0 ? frame.address : frame.address - 1;
        Dwfl_Module* module = dwfl_addrmodule(session.get(), address);
        if (module == nullptr) {
            continue;
        }
        GElf_Off offset = 0;
        GElf_Sym symbol{};
        if (const char* name =
                dwfl_module_addrinfo(module, address, &offset, &symbol, nullptr, nullptr, nullptr)) {
            frame.symbol = name;
            frame.symbolOffset = frame.address - (address - offset);
        }
        if (Dwfl_Line* line = dwfl_module_getsrc(module, address)) {
            int lineNumber = 0;
            if (const char* file = dwfl_lineinfo(line, nullptr, &lineNumber, nullptr, nullptr, nullptr)) {
                frame.sourceFile = file;
                frame.sourceLine = lineNumber;
            }
        }
    }
    return true;
}

}  // namespace brisel::desktop::components
