#include "desktop/components/file_events/file_event_flags.h"

#include <array>
#include <string_view>
#include <utility>

namespace brisel::desktop::components {

namespace {

template <std::size_t Count>
std::string describeBits(std::uint32_t rawValue,
                         const std::array<std::pair<std::uint32_t, std::string_view>, Count>& names) {
    std::string text = "[";
    for (const auto& [bit, name] : names) {
        if ((rawValue & bit) != 0) {
            if (text.size() > 1) {
                text += ',';
            }
            text += '.';
            text += name;
        }
    }
    return text + "]";
}

constexpr std::array<std::pair<std::uint32_t, std::string_view>, 6> kCreateFlagNames{{
    {0x01, "useCFTypes"},
    {0x02, "noDefer"},
    {0x04, "watchRoot"},
    {0x08, "ignoreSelf"},
    {0x10, "fileEvents"},
    {0x20, "markSelf"},
}};

constexpr std::array<std::pair<std::uint32_t, std::string_view>, 22> kEventFlagNames{{
    {0x1, "mustScanSubDirs"},
    {0x2, "userDropped"},
    {0x4, "kernelDropped"},
    {0x8, "eventIdsWrapped"},
    {0x10, "historyDone"},
    {0x20, "rootChanged"},
    {0x40, "mount"},
    {0x80, "unmount"},
    {0x100, "itemCreated"},
    {0x200, "itemRemoved"},
    {0x400, "itemInodeMetaMod"},
    {0x800, "itemRenamed"},
    {0x1000, "itemModified"},
    {0x2000, "itemFinderInfoMod"},
    {0x4000, "itemChangeOwner"},
    {0x8000, "itemXattrMod"},
    {0x10000, "itemIsFile"},
    {0x20000, "itemIsDir"},
    {0x40000, "itemIsSymlink"},
    {0x80000, "ownEvent"},
    {0x100000, "itemIsHardlink"},
    {0x200000, "itemIsLastHardlink"},
}};

}  // namespace

std::string OrvikFSEventsCreateFlags::description() const {
    return describeBits(rawValue, kCreateFlagNames);
}

std::string OrvikFSEventsEventFlags::description() const {
    return describeBits(rawValue, kEventFlagNames);
}

}  // namespace brisel::desktop::components
