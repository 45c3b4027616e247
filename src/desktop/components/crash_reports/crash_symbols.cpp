#include "desktop/components/crash_reports/crash_symbols.h"

#include <elfutils/libdwfl.h>

#include <map>
#include <memory>
#include <string>

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

}  // namespace

bool symbolise(CrashMarker& marker, std::stop_token stop) {
    const DwflSession session(dwfl_begin(&kOfflineCallbacks), &dwfl_end);
    if (!session) {
        return true;  // nothing can be named
    }
    dwfl_report_begin(session.get());
    std::map<std::string, bool> reported;
    for (const CrashFrame& frame : marker.frames) {
        if (frame.module && reported.emplace(*frame.module, true).second) {
            dwfl_report_elf(session.get(), frame.module->c_str(), frame.module->c_str(), -1, frame.moduleBias,
                            false);
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
