#include "desktop/components/crash_symbols.h"

#include <elfutils/libdwfl.h>

#include <map>
#include <memory>
#include <string>

namespace brisel::desktop::components {

namespace {

char* noDebugInfoPath = nullptr;
const Dwfl_Callbacks kOfflineCallbacks{
    dwfl_build_id_find_elf,
    dwfl_standard_find_debuginfo,
    dwfl_offline_section_address,
    &noDebugInfoPath,
};

using DwflSession = std::unique_ptr<Dwfl, decltype(&dwfl_end)>;

}  // namespace

void symbolise(CrashMarker& marker) {
    const DwflSession session(dwfl_begin(&kOfflineCallbacks), &dwfl_end);
    if (!session) {
        return;
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
}

}  // namespace brisel::desktop::components
