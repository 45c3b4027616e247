// The update feed comes from the network: any bytes must parse to items or an error, never crash.
#include <cstddef>
#include <cstdint>

#include "desktop/components/updates/appcast.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray document(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto items = brisel::desktop::components::parseAppcast(document);
    if (items) {
        for (const auto& item : *items) {
            if (item.build == 0 || item.download.scheme() != QLatin1String("https")) {
                __builtin_trap();  // the parser promised both
            }
        }
        (void)brisel::desktop::components::newestItemAbove(*items, 1);
    }
    return 0;
}
