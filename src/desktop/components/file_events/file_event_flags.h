// The option sets of the file-event stream: the flags a stream is created with and the flags each
// event carries. Bit for bit the values of the event-stream interface the tray application was first
// written against, so stored or logged raw values keep their meaning.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brisel::desktop::components {

// Flags a stream is created with.
struct OrvikFSEventsCreateFlags {
    std::uint32_t rawValue = 0;

    static const OrvikFSEventsCreateFlags none;
    static const OrvikFSEventsCreateFlags useCFTypes;
    static const OrvikFSEventsCreateFlags noDefer;
    static const OrvikFSEventsCreateFlags watchRoot;
    static const OrvikFSEventsCreateFlags ignoreSelf;
    static const OrvikFSEventsCreateFlags fileEvents;
    static const OrvikFSEventsCreateFlags markSelf;

    constexpr bool contains(OrvikFSEventsCreateFlags other) const {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    constexpr OrvikFSEventsCreateFlags operator|(OrvikFSEventsCreateFlags other) const {
        return {rawValue | other.rawValue};
    }
    friend constexpr bool operator==(OrvikFSEventsCreateFlags, OrvikFSEventsCreateFlags) = default;

    // The names of the members in the set, such as "[.noDefer,.fileEvents]"; "[]" when empty. Bits
    // without a member are not listed.
    std::string description() const;
};

inline constexpr OrvikFSEventsCreateFlags OrvikFSEventsCreateFlags::none{0x00};
inline constexpr OrvikFSEventsCreateFlags OrvikFSEventsCreateFlags::useCFTypes{0x01};
inline constexpr OrvikFSEventsCreateFlags OrvikFSEventsCreateFlags::noDefer{0x02};
inline constexpr OrvikFSEventsCreateFlags OrvikFSEventsCreateFlags::watchRoot{0x04};
inline constexpr OrvikFSEventsCreateFlags OrvikFSEventsCreateFlags::ignoreSelf{0x08};
inline constexpr OrvikFSEventsCreateFlags OrvikFSEventsCreateFlags::fileEvents{0x10};
inline constexpr OrvikFSEventsCreateFlags OrvikFSEventsCreateFlags::markSelf{0x20};

// Flags of one event.
struct OrvikFSEventsEventFlags {
    std::uint32_t rawValue = 0;

    static const OrvikFSEventsEventFlags none;
    static const OrvikFSEventsEventFlags mustScanSubDirs;
    static const OrvikFSEventsEventFlags userDropped;
    static const OrvikFSEventsEventFlags kernelDropped;
    static const OrvikFSEventsEventFlags eventIdsWrapped;
    static const OrvikFSEventsEventFlags historyDone;
    static const OrvikFSEventsEventFlags rootChanged;
    static const OrvikFSEventsEventFlags mount;
    static const OrvikFSEventsEventFlags unmount;
    static const OrvikFSEventsEventFlags itemCreated;
    static const OrvikFSEventsEventFlags itemRemoved;
    static const OrvikFSEventsEventFlags itemInodeMetaMod;
    static const OrvikFSEventsEventFlags itemRenamed;
    static const OrvikFSEventsEventFlags itemModified;
    static const OrvikFSEventsEventFlags itemFinderInfoMod;
    static const OrvikFSEventsEventFlags itemChangeOwner;
    static const OrvikFSEventsEventFlags itemXattrMod;
    static const OrvikFSEventsEventFlags itemIsFile;
    static const OrvikFSEventsEventFlags itemIsDir;
    static const OrvikFSEventsEventFlags itemIsSymlink;
    static const OrvikFSEventsEventFlags ownEvent;
    static const OrvikFSEventsEventFlags itemIsHardlink;
    static const OrvikFSEventsEventFlags itemIsLastHardlink;

    constexpr bool contains(OrvikFSEventsEventFlags other) const {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    constexpr OrvikFSEventsEventFlags operator|(OrvikFSEventsEventFlags other) const {
        return {rawValue | other.rawValue};
    }
    friend constexpr bool operator==(OrvikFSEventsEventFlags, OrvikFSEventsEventFlags) = default;

    // As OrvikFSEventsCreateFlags::description, e.g. "[.itemModified,.itemIsFile]".
    std::string description() const;
};

inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::none{0x0};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::mustScanSubDirs{0x1};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::userDropped{0x2};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::kernelDropped{0x4};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::eventIdsWrapped{0x8};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::historyDone{0x10};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::rootChanged{0x20};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::mount{0x40};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::unmount{0x80};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemCreated{0x100};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemRemoved{0x200};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemInodeMetaMod{0x400};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemRenamed{0x800};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemModified{0x1000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemFinderInfoMod{0x2000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemChangeOwner{0x4000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemXattrMod{0x8000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemIsFile{0x10000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemIsDir{0x20000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemIsSymlink{0x40000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::ownEvent{0x80000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemIsHardlink{0x100000};
inline constexpr OrvikFSEventsEventFlags OrvikFSEventsEventFlags::itemIsLastHardlink{0x200000};

}  // namespace brisel::desktop::components

template <>
struct std::hash<brisel::desktop::components::OrvikFSEventsCreateFlags> {
    std::size_t operator()(brisel::desktop::components::OrvikFSEventsCreateFlags flags) const noexcept {
        return std::hash<std::uint32_t>{}(flags.rawValue);
    }
};

template <>
struct std::hash<brisel::desktop::components::OrvikFSEventsEventFlags> {
    std::size_t operator()(brisel::desktop::components::OrvikFSEventsEventFlags flags) const noexcept {
        return std::hash<std::uint32_t>{}(flags.rawValue);
    }
};
