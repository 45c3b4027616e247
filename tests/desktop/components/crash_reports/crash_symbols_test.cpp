// Naming crash frames from local files, with a debug-information server named in the environment.
#include "desktop/components/crash_reports/crash_symbols.h"

#include <dlfcn.h>
#include <link.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/raw_tcp_server.h"
#include "support/temporary_folder.h"

namespace brisel::desktop::components {
namespace {

// An object without debugging information leaves its frame with the symbol-table name alone; the
// server in DEBUGINFOD_URLS is never asked for the missing information.
TEST(CrashSymbols, FramesAreNamedFromLocalFilesOnly) {
    const brisel::test::RawTcpServer debugInfoServer(
        {{brisel::test::RawExchange::Reading::headerOnly,
          "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}});
    const test_support::ScopedEnvironment servers("DEBUGINFOD_URLS", debugInfoServer.baseUrl());
    const test_support::ScopedEnvironment quickly("DEBUGINFOD_TIMEOUT", "5");

    const std::unique_ptr<void, int (*)(void*)> object(::dlopen(BRISEL_FRAME_WITHOUT_DEBUG_INFO, RTLD_NOW),
                                                       &::dlclose);
    ASSERT_NE(object, nullptr) << ::dlerror();
    void* const function = ::dlsym(object.get(), "velkoFrameWithoutDebugInfo");
    Dl_info info{};
    link_map* loaded = nullptr;
    ASSERT_NE(::dladdr1(function, &info, reinterpret_cast<void**>(&loaded), RTLD_DL_LINKMAP), 0);

    CrashMarker marker;
    marker.signal = 11;
    CrashFrame frame;
    frame.address = reinterpret_cast<std::uintptr_t>(function);
    frame.module = info.dli_fname;
    frame.moduleStart = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    frame.moduleBias = loaded->l_addr;
    frame.moduleBuildId = fileBuildId(info.dli_fname);
    marker.frames.push_back(frame);
    EXPECT_TRUE(symbolise(marker));
    EXPECT_EQ(marker.frames[0].symbol, "velkoFrameWithoutDebugInfo");
    EXPECT_EQ(marker.frames[0].sourceFile, std::nullopt);
    EXPECT_EQ(debugInfoServer.connections(), 0U);

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_FALSE(symbolise(marker, stopped.get_token()));

    // Only from a file of the build that the marker recorded (the object's own or its separate
    // debugging file); otherwise the frame goes as object and address. Any other object stands for the
    // file that an update put at the object's path.
    const test_support::TemporaryFolder folder;
    const std::string id = frame.moduleBuildId.value_or("");
    const std::filesystem::path otherBuild = std::filesystem::read_symlink("/proc/self/exe");
    ASSERT_NE(fileBuildId(otherBuild), id);
    struct Row {
        const char* label;
        std::string format;    // the marker's first line
        std::string recorded;  // the module line's build id
        std::filesystem::path atThePath;
        bool debugFileInstalled;
        bool named;
    };
    for (const Row& row : std::vector<Row>{
             {"the file at the path is of the build", "velko-crash 2", id, info.dli_fname, false, true},
             {"another build at the path", "velko-crash 2", std::string(id.size(), 'f'), info.dli_fname,
              false, false},
             {"a marker of the earlier format", "velko-crash 1", "", info.dli_fname, false, false},
             {"no build id recorded", "velko-crash 2", "-", info.dli_fname, false, false},
             {"another build at the path, its debugging file installed", "velko-crash 2", id, otherBuild,
              true, true},
             {"another build at the path, no debugging file", "velko-crash 2", id, otherBuild, false, false},
         }) {
        SCOPED_TRACE(row.label);
        const std::filesystem::path debugFile =
            folder.path() / ".build-id" / id.substr(0, 2) / (id.substr(2) + ".debug");
        std::filesystem::remove_all(folder.path() / ".build-id");
        if (row.debugFileInstalled) {
            std::filesystem::create_directories(debugFile.parent_path());
            std::filesystem::copy_file(info.dli_fname, debugFile);
        }
        const auto hex = [](std::uintptr_t value) {
            std::ostringstream text;
            text << "0x" << std::hex << value;
            return text.str();
        };
        auto parsed = parseCrashMarker(row.format + "\nsignal 11\nmodule " + hex(frame.moduleStart) + " " +
                                       hex(frame.address + 1) + " " + hex(frame.moduleBias) + " " +
                                       (row.recorded.empty() ? "" : row.recorded + " ") +
                                       row.atThePath.string() + "\nframe " + hex(frame.address) + "\n");
        ASSERT_TRUE(parsed) << parsed.error();
        EXPECT_TRUE(symboliseFrom(*parsed, {folder.path()}));
        ASSERT_EQ(parsed->frames.size(), 1U);
        EXPECT_EQ(parsed->frames[0].symbol,
                  row.named ? std::optional<std::string>("velkoFrameWithoutDebugInfo") : std::nullopt);
        EXPECT_EQ(parsed->frames[0].module, row.atThePath.string()) << "sent as object and address";
    }
}

}  // namespace
}  // namespace brisel::desktop::components
