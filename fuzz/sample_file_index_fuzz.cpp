// Feeds arbitrary names to the collection folder's sample file checks: they must never read out of
// bounds, and the index of an accepted name must come back from the segment or temporary name written
// for it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "device/samples/sample_file.h"
#include "workflows/collection/sample_file_index.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    const auto index = brisel::workflows::sampleFileIndex(name);
    if (index && brisel::workflows::sampleFileIndex(brisel::device::segmentFileName(*index)) != index) {
        std::abort();
    }
    const auto temporary = brisel::device::temporaryFileFirstPacketIndex(name);
    if (temporary && brisel::device::temporaryFileFirstPacketIndex(
                         brisel::device::temporarySampleFileName(1733650000.5, *temporary)) != temporary) {
        std::abort();
    }
    return 0;
}
