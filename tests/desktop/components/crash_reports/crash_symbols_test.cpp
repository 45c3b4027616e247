// Naming crash frames from local files, with a debug-information server named in the environment.
#include "desktop/components/crash_reports/crash_symbols.h"

#include <dlfcn.h>
#include <link.h>

#include <gtest/gtest.h>

#include <memory>

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
    marker.frames.push_back(frame);
    EXPECT_TRUE(symbolise(marker));
    EXPECT_EQ(marker.frames[0].symbol, "velkoFrameWithoutDebugInfo");
    EXPECT_EQ(marker.frames[0].sourceFile, std::nullopt);
    EXPECT_EQ(debugInfoServer.connections(), 0U);

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_FALSE(symbolise(marker, stopped.get_token()));
}

}  // namespace
}  // namespace brisel::desktop::components
