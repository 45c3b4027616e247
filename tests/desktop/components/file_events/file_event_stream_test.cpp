// The file-event stream on real inotify in temporary folders.
#include "desktop/components/file_events/file_event_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "desktop/components/file_events/file_event_watchers.h"
#include "support/event_wait.h"
#include "support/temporary_folder.h"

namespace brisel::desktop::components {
namespace {

namespace fs = std::filesystem;
using desktop_test::waitUntil;
using Flags = OrvikFSEventsEventFlags;

void append(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::app) << text;
}

// Records every event of a handler.
struct Recorder {
    std::vector<OrvikFSEventsEvent> events;
    OrvikFSEventHandler handler() {
        return [this](const OrvikFSEventsEvent& event) {
            events.push_back(event);
        };
    }
    // Waits for an event about `path` with `flags`, among those after the first `from` events.
    bool waitFor(const fs::path& path, Flags flags, std::size_t from) {
        return waitUntil([&] {
            for (std::size_t index = from; index < events.size(); ++index) {
                if (events[index].path == path.string() && events[index].flag->contains(flags)) {
                    return true;
                }
            }
            return false;
        });
    }
    std::size_t countFor(const fs::path& path) const {
        return static_cast<std::size_t>(std::count_if(
            events.begin(), events.end(), [&](const auto& event) { return event.path == path.string(); }));
    }
};

TEST(FileEventStream, FollowsFilesByNameThroughReplaceDeleteAndRecreation) {
    const test_support::TemporaryFolder root;
    const fs::path early = root.path() / "early.log";
    const fs::path present = root.path() / "present";
    const fs::path missingFile = present / "missing.log";          // its folder exists
    const fs::path log = root.path() / "a" / "b" / "service.log";  // its folders do not
    fs::create_directories(present);
    append(early, "written before the start\n");

    Recorder recorder;
    const int key = 0;
    ASSERT_TRUE(OrvikFSEvents::addWatcher({early.string(), missingFile.string(), log.string()}, &key,
                                          recorder.handler()));
    EXPECT_EQ(OrvikFSEvents::watcher(&key)->creationFlags().rawValue, 0x13U);

    struct Step {
        const char* label;
        std::function<void()> change;
        fs::path path;
        Flags expected;
    };
    const std::vector<Step> steps{
        {"a missing file is created", [&] { append(missingFile, "x\n"); }, missingFile, Flags::itemCreated},
        {"missing folders, then the file",
         [&] {
             fs::create_directories(log.parent_path());
             append(log, "one\n");
         },
         log, Flags::itemCreated},
        {"an append names the file", [&] { append(log, "two\n"); }, log,
         Flags::itemModified | Flags::itemIsFile},
        {"an atomic replace",
         [&] {
             append(log.string() + ".tmp", "replaced\n");
             fs::rename(log.string() + ".tmp", log);
         },
         log, Flags::itemRenamed},
        {"an append after the replace", [&] { append(log, "three\n"); }, log, Flags::itemModified},
        {"a delete", [&] { fs::remove(log); }, log, Flags::itemRemoved},
        {"a re-creation", [&] { append(log, "again\n"); }, log, Flags::itemCreated},
        {"an append after the re-creation", [&] { append(log, "four\n"); }, log, Flags::itemModified},
        {"the folders removed and made again",
         [&] {
             fs::remove_all(root.path() / "a");
             fs::create_directories(log.parent_path());
             append(log, "five\n");
         },
         log, Flags::itemCreated},
        {"an append in the new folder", [&] { append(log, "six\n"); }, log, Flags::itemModified},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        const std::size_t before = recorder.events.size();
        step.change();
        EXPECT_TRUE(recorder.waitFor(step.path, step.expected, before));
    }
    // The change before the start would have been read before all of the above.
    EXPECT_EQ(recorder.countFor(early), 0U);
    std::uint64_t previousId = 0;
    for (const OrvikFSEventsEvent& event : recorder.events) {
        EXPECT_GT(event.ID->rawValue, previousId);
        previousId = event.ID->rawValue;
    }
    EXPECT_EQ(OrvikFSEvents::watcher(&key)->latestEventId(), OrvikFSEventsEventID{previousId});
    OrvikFSEvents::removeWatcher(&key);
}

TEST(FileEventStream, TheSameKeyReplacesAndRemovalStopsDelivery) {
    const test_support::TemporaryFolder root;
    const fs::path file = root.path() / "watched.log";
    Recorder first;
    Recorder second;
    Recorder sentinel;
    const int key = 0;
    const int sentinelKey = 0;
    ASSERT_TRUE(OrvikFSEvents::addWatcher({file.string()}, &key, first.handler()));
    ASSERT_TRUE(OrvikFSEvents::addWatcher({file.string()}, &key, second.handler()));
    ASSERT_TRUE(OrvikFSEvents::addWatcher({file.string()}, &sentinelKey, sentinel.handler()));

    append(file, "one\n");
    EXPECT_TRUE(second.waitFor(file, Flags::itemCreated, 0));
    EXPECT_TRUE(sentinel.waitFor(file, Flags::itemCreated, 0));
    EXPECT_TRUE(first.events.empty()) << "the replaced stream still delivers";

    OrvikFSEvents::removeWatcher(&key);
    EXPECT_EQ(OrvikFSEvents::watcher(&key), nullptr);
    const std::size_t delivered = second.events.size();
    const std::size_t sentinelBefore = sentinel.events.size();
    append(file, "two\n");
    EXPECT_TRUE(sentinel.waitFor(file, Flags::itemModified, sentinelBefore));
    EXPECT_EQ(second.events.size(), delivered);
    OrvikFSEvents::removeWatcher(&sentinelKey);
    OrvikFSEvents::removeWatcher(&sentinelKey);  // a second removal does nothing
}

TEST(FileEventStream, OptionSetsAreBitForBitAndDescribeTheirMembers) {
    struct Row {
        std::uint32_t raw;
        std::uint32_t expected;
    };
    for (const Row& row : std::vector<Row>{
             {OrvikFSEventsCreateFlags::none.rawValue, 0x00},
             {OrvikFSEventsCreateFlags::useCFTypes.rawValue, 0x01},
             {OrvikFSEventsCreateFlags::noDefer.rawValue, 0x02},
             {OrvikFSEventsCreateFlags::watchRoot.rawValue, 0x04},
             {OrvikFSEventsCreateFlags::ignoreSelf.rawValue, 0x08},
             {OrvikFSEventsCreateFlags::fileEvents.rawValue, 0x10},
             {OrvikFSEventsCreateFlags::markSelf.rawValue, 0x20},
             {Flags::mustScanSubDirs.rawValue, 0x1},
             {Flags::itemCreated.rawValue, 0x100},
             {Flags::itemRemoved.rawValue, 0x200},
             {Flags::itemRenamed.rawValue, 0x800},
             {Flags::itemModified.rawValue, 0x1000},
             {Flags::itemIsFile.rawValue, 0x10000},
             {Flags::itemIsDir.rawValue, 0x20000},
             {Flags::itemIsLastHardlink.rawValue, 0x200000},
         }) {
        EXPECT_EQ(row.raw, row.expected);
    }
    EXPECT_EQ(OrvikFSEventsCreateFlags::none.description(), "[]");
    EXPECT_EQ(OrvikFSEventsCreateFlags{0x13}.description(), "[.useCFTypes,.noDefer,.fileEvents]");
    EXPECT_EQ(OrvikFSEventsCreateFlags{0x2C}.description(), "[.watchRoot,.ignoreSelf,.markSelf]");
    EXPECT_EQ((Flags::itemModified | Flags::itemIsFile).description(), "[.itemModified,.itemIsFile]");
    EXPECT_EQ(Flags{0x20001}.description(), "[.mustScanSubDirs,.itemIsDir]");
    EXPECT_EQ(
        Flags{0x3FFFFF}.description(),
        "[.mustScanSubDirs,.userDropped,.kernelDropped,.eventIdsWrapped,.historyDone,.rootChanged,.mount,"
        ".unmount,.itemCreated,.itemRemoved,.itemInodeMetaMod,.itemRenamed,.itemModified,.itemFinderInfoMod,"
        ".itemChangeOwner,.itemXattrMod,.itemIsFile,.itemIsDir,.itemIsSymlink,.ownEvent,.itemIsHardlink,"
        ".itemIsLastHardlink]");
    EXPECT_EQ(std::hash<Flags>{}(Flags::itemCreated), std::hash<Flags>{}(Flags{0x100}));
    EXPECT_EQ(OrvikFSEventsEventID::sinceNow().rawValue, 0xFFFFFFFFFFFFFFFFULL);
}

TEST(FileEventStream, ImpossibleBatchesAreReportedAndDropped) {
    std::vector<OrvikFSEventsEvent> delivered;
    auto stream = OrvikFSEventStream::create(
        {"/nowhere/file"}, OrvikFSEventsEventID::sinceNow(), 0, OrvikFSEventsCreateFlags::fileEvents,
        [&](const OrvikFSEventsEvent& event) { delivered.push_back(event); });
    ASSERT_TRUE(stream);
    EXPECT_EQ((*stream)->creationFlags().rawValue, 0x11U);
    EXPECT_FALSE((*stream)->start()) << "an unscheduled stream cannot start";
    std::vector<OrvikFSEventsIllogicalErrorLog> reports;
    setOrvikFSEventsIllogicalErrorHandler(
        [&](const OrvikFSEventsIllogicalErrorLog& report) { reports.push_back(report); });

    struct Row {
        const char* label;
        void* context;
        OrvikFSEventBatch batch;
        std::optional<OrvikFSEventsCriticalErrorCode> code;
        std::string message;
    };
    const std::vector<Row> rows{
        {"no context",
         nullptr,
         {1, {std::string("/a")}, {0x1000}, {7}},
         OrvikFSEventsCriticalErrorCode::missingContextRawPointerValue,
         ""},
        {"a path that is not text",
         stream->get(),
         {2, {std::string("/a"), UndecodablePath{"/\xff"}}, {0, 0}, {8, 9}},
         OrvikFSEventsCriticalErrorCode::unexpectedPathValueType,
         "Cannot convert `[\"/a\", <bytes 2fff>]` into [String]."},
        {"more events than paths",
         stream->get(),
         {2, {std::string("/a")}, {0, 0}, {8, 9}},
         OrvikFSEventsCriticalErrorCode::unmatchedEventParameterCounts,
         "Event count is `2`, but path count is `1`"},
        {"a sound batch",
         stream->get(),
         {2, {std::string("/a"), std::string("/b")}, {0x1000, 0x100}, {10, 11}},
         std::nullopt,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        reports.clear();
        delivered.clear();
        OrvikFSEventStream::deliverBatch(row.context, row.batch);
        if (row.code) {
            ASSERT_EQ(reports.size(), 1U);
            EXPECT_EQ(reports[0].code, *row.code);
            EXPECT_EQ(reports[0].message.value_or(""), row.message);
            EXPECT_TRUE(delivered.empty());
        } else {
            EXPECT_TRUE(reports.empty());
            ASSERT_EQ(delivered.size(), 2U);
            EXPECT_EQ(delivered[1].path, "/b");
            EXPECT_EQ(delivered[1].flag, Flags::itemCreated);
            EXPECT_EQ(delivered[1].ID, OrvikFSEventsEventID{11});
        }
    }
    setOrvikFSEventsIllogicalErrorHandler(nullptr);
}

}  // namespace
}  // namespace brisel::desktop::components
