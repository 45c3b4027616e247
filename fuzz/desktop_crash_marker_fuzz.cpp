// The crash marker is read back from disk at the next start: any bytes must parse or be refused,
// never crash, and the envelope made from a parsed marker must be built without fault.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "desktop/components/crash_reports/crash_envelope.h"
#include "desktop/components/crash_reports/crash_marker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto marker = brisel::desktop::components::parseCrashMarker(text);
    if (marker) {
        const auto dsn = brisel::desktop::components::CrashReportDsn::parse("https://k@127.0.0.1/1");
        (void)brisel::desktop::components::crashEnvelope(*dsn, *marker, QDateTime::currentDateTimeUtc(), "r",
                                                         "e", std::nullopt);
    }
    return 0;
}
