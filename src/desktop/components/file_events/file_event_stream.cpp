#include "desktop/components/file_events/file_event_stream.h"

#include <sys/inotify.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <system_error>
#include <utility>

#include "common/file_descriptor.h"

namespace brisel::desktop::components {

namespace fs = std::filesystem;

namespace {

// The identifier of the latest event of the process; shared by all streams.
std::atomic<std::uint64_t> latestProcessEventId{0};

constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::size_t kMaxExclusionPaths = 8;
// Folders that vanish while a watch is being placed are retried this often before giving up.
constexpr int kPlacementTries = 16;

std::string errnoText(int errorNumber) {
    return std::error_code(errorNumber, std::generic_category()).message();
}

OrvikFSEventsEventFlags flagsOf(std::uint32_t mask) {
    OrvikFSEventsEventFlags flags;
    if ((mask & IN_CREATE) != 0) {
        flags = flags | OrvikFSEventsEventFlags::itemCreated;
    }
    if ((mask & IN_DELETE) != 0) {
        flags = flags | OrvikFSEventsEventFlags::itemRemoved;
    }
    if ((mask & IN_MODIFY) != 0) {
        flags = flags | OrvikFSEventsEventFlags::itemModified;
    }
    if ((mask & (IN_MOVED_FROM | IN_MOVED_TO)) != 0) {
        flags = flags | OrvikFSEventsEventFlags::itemRenamed;
    }
    if ((mask & IN_ATTRIB) != 0) {
        flags = flags | OrvikFSEventsEventFlags::itemInodeMetaMod;
    }
    return flags | ((mask & IN_ISDIR) != 0 ? OrvikFSEventsEventFlags::itemIsDir
                                           : OrvikFSEventsEventFlags::itemIsFile);
}

bool isFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

bool isUnder(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              (folder.ends_with('/') || path[folder.size()] == '/'));
}

std::string describePaths(const std::vector<ReportedPath>& paths) {
    static constexpr std::array<char, 16> kHex{'0', '1', '2', '3', '4', '5', '6', '7',
                                               '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    std::string text = "[";
    for (const ReportedPath& path : paths) {
        if (text.size() > 1) {
            text += ", ";
        }
        if (const auto* decoded = std::get_if<std::string>(&path)) {
            text += '"' + *decoded + '"';
        } else {
            text += "<bytes ";
            for (const char byte : std::get<UndecodablePath>(path).bytes) {
                const auto value = static_cast<unsigned char>(byte);
                text += kHex[value >> 4U];
                text += kHex[value & 0xFU];
            }
            text += '>';
        }
    }
    return text + "]";
}

}  // namespace

OrvikFSEventsEventID OrvikFSEventsEventID::current() {
    return {latestProcessEventId.load()};
}

// The inotify side of a stream. Lives on the thread of the stream's event loop.
struct OrvikFSEventStream::Watch {
    // One followed path: the file, its folder, and the folder actually watched (the file's folder or,
    // while that is missing, its nearest existing ancestor).
    struct Target {
        fs::path file;
        fs::path folder;
        std::string name;
        int descriptor = -1;
        fs::path watched;
        bool rearm = false;
    };

    OrvikFSEventStream* owner = nullptr;
    common::FileDescriptor inotify;
    std::vector<Target> targets;
    OrvikFSEventsCreateFlags flags;
    double latency = 0;
    std::uint64_t since = 0;
    std::uint64_t latest = 0;
    std::vector<std::string> exclusions;
    bool started = false;
    bool invalidated = false;
    int delivering = 0;
    std::shared_ptr<const bool> alive = std::make_shared<const bool>(true);
    std::unique_ptr<QObject> loopContext;  // parent of the notifier and the latency timer
    QSocketNotifier* notifier = nullptr;
    QTimer* latencyTimer = nullptr;
    OrvikFSEventBatch pending;

    bool atFolder(const Target& target) const { return target.watched == target.folder; }

    // Watches the target's folder or nearest existing ancestor. Error: errno of a refused watch.
    std::optional<int> place(Target& target) {
        for (int attempt = 0; attempt < kPlacementTries; ++attempt) {
            fs::path folder = target.folder;
            while (!isFolder(folder) && folder.has_relative_path()) {
                folder = folder.parent_path();
            }
            const int descriptor = inotify_add_watch(inotify.get(), folder.c_str(), kWatchMask);
            if (descriptor < 0) {
                if (errno == ENOENT || errno == ENOTDIR) {
                    continue;  // vanished meanwhile: look again
                }
                return errno;
            }
            const int previous = std::exchange(target.descriptor, descriptor);
            target.watched = folder;
            target.rearm = false;
            if (previous >= 0 && previous != descriptor) {
                forget(previous);
            }
            return std::nullopt;
        }
        return ENOENT;
    }

    // Removes the watch when no target uses it any more.
    void forget(int descriptor) {
        const bool used = std::any_of(targets.begin(), targets.end(),
                                      [descriptor](const Target& t) { return t.descriptor == descriptor; });
        if (!used) {
            inotify_rm_watch(inotify.get(), descriptor);
        }
    }

    void unplaceAll() {
        for (Target& target : targets) {
            const int descriptor = std::exchange(target.descriptor, -1);
            if (descriptor >= 0) {
                forget(descriptor);
            }
        }
    }

    void add(OrvikFSEventBatch& batch, const Target& target, OrvikFSEventsEventFlags eventFlags) {
        const bool fileLevel = flags.contains(OrvikFSEventsCreateFlags::fileEvents);
        std::string path = fileLevel ? target.file.string() : target.folder.string();
        if (std::any_of(exclusions.begin(), exclusions.end(),
                        [&path](const std::string& excluded) { return isUnder(path, excluded); })) {
            return;
        }
        batch.paths.emplace_back(std::move(path));
        batch.flags.push_back(fileLevel ? eventFlags.rawValue : 0);
        batch.ids.push_back(++latestProcessEventId);
        ++batch.eventCount;
    }

    // Reads what inotify has, follows moved folders and hands the batch on.
    void readEvents() {
        OrvikFSEventBatch batch;
        alignas(inotify_event) std::array<char, 64 * 1024> buffer{};
        for (;;) {
            const ssize_t length = ::read(inotify.get(), buffer.data(), buffer.size());
            if (length <= 0) {
                break;  // EAGAIN: drained
            }
            for (std::size_t offset = 0;
                 offset + sizeof(inotify_event) <= static_cast<std::size_t>(length);) {
                inotify_event event{};
                std::memcpy(&event, buffer.data() + offset, sizeof(event));
                const char* nameStart = buffer.data() + offset + sizeof(inotify_event);
                const std::string name =
                    event.len > 0 ? std::string(nameStart, ::strnlen(nameStart, event.len)) : "";
                offset += sizeof(inotify_event) + event.len;
                take(batch, event, name);
            }
        }
        if (!started) {
            return;
        }
        for (Target& target : targets) {
            if (!target.rearm) {
                continue;
            }
            const bool wasAtFolder = atFolder(target);
            if (place(target)) {
                continue;  // refused; the next event of an ancestor tries again
            }
            std::error_code error;
            if (!wasAtFolder && atFolder(target) && fs::exists(fs::symlink_status(target.file, error))) {
                // Created before the folder was watched: the folder's own events missed it.
                add(batch, target,
                    OrvikFSEventsEventFlags::itemCreated |
                        (isFolder(target.file) ? OrvikFSEventsEventFlags::itemIsDir
                                               : OrvikFSEventsEventFlags::itemIsFile));
            }
        }
        if (batch.eventCount == 0) {
            return;
        }
        if (latency <= 0) {
            deliverBatch(owner, batch);
            return;
        }
        pending.eventCount += batch.eventCount;
        std::move(batch.paths.begin(), batch.paths.end(), std::back_inserter(pending.paths));
        pending.flags.insert(pending.flags.end(), batch.flags.begin(), batch.flags.end());
        pending.ids.insert(pending.ids.end(), batch.ids.begin(), batch.ids.end());
        if (!latencyTimer->isActive()) {
            latencyTimer->start(static_cast<int>(latency * 1000));
        }
    }

    void take(OrvikFSEventBatch& batch, const inotify_event& event, const std::string& name) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) {
            for (Target& target : targets) {
                add(batch, target,
                    OrvikFSEventsEventFlags::mustScanSubDirs | OrvikFSEventsEventFlags::kernelDropped);
                target.rearm = true;
            }
            return;
        }
        for (Target& target : targets) {
            if (target.descriptor != event.wd) {
                continue;
            }
            if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
                target.rearm = true;     // the watched folder is gone or elsewhere: find it by name again
                target.watched.clear();  // whatever is found next is a new arrival
                if ((event.mask & IN_IGNORED) != 0) {
                    target.descriptor = -1;
                }
                continue;
            }
            if (atFolder(target)) {
                if (name == target.name) {
                    add(batch, target, flagsOf(event.mask));
                }
                continue;
            }
            const fs::path below = target.folder.lexically_relative(target.watched);
            if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0 && !below.empty() && name == *below.begin()) {
                target.rearm = true;  // one step closer to the file's folder
            }
        }
    }

    void flushPending() {
        if (pending.eventCount == 0) {
            return;
        }
        const OrvikFSEventBatch batch = std::exchange(pending, OrvikFSEventBatch{});
        deliverBatch(owner, batch);
    }
};

tl::expected<std::unique_ptr<OrvikFSEventStream>, OrvikFSEventsError> OrvikFSEventStream::create(
    std::vector<std::string> paths, OrvikFSEventsEventID since, double latency,
    OrvikFSEventsCreateFlags flags, OrvikFSEventHandler handler) {
    if (paths.empty()) {
        return tl::make_unexpected(
            OrvikFSEventsError{OrvikFSEventsErrorCode::cannotCreateStream, "no paths"});
    }
    std::unique_ptr<OrvikFSEventStream> stream(
        new OrvikFSEventStream(std::move(paths), since, latency, flags, std::move(handler)));
    if (!stream->rawref->inotify.valid()) {
        return tl::make_unexpected(
            OrvikFSEventsError{OrvikFSEventsErrorCode::cannotCreateStream, errnoText(errno)});
    }
    return stream;
}

OrvikFSEventStream::OrvikFSEventStream(std::vector<std::string> paths, OrvikFSEventsEventID since,
                                       double latency, OrvikFSEventsCreateFlags flags,
                                       OrvikFSEventHandler eventHandler)
    : rawref(std::make_unique<Watch>()), handler(std::move(eventHandler)) {
    rawref->owner = this;
    rawref->inotify.reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    rawref->flags = flags | OrvikFSEventsCreateFlags::useCFTypes;
    rawref->latency = latency > 0 ? latency : 0;  // NaN and negatives: at once
    rawref->since = since == OrvikFSEventsEventID::sinceNow() ? latestProcessEventId.load() : since.rawValue;
    rawref->latest = rawref->since;
    for (const std::string& path : paths) {
        std::error_code error;
        fs::path file = fs::absolute(fs::path(path), error).lexically_normal();
        if (!file.has_filename() && file.has_relative_path()) {
            file = file.parent_path();  // "folder/" names the folder
        }
        Watch::Target target;
        target.folder = file.parent_path();
        target.name = file.filename().string();
        target.file = std::move(file);
        rawref->targets.push_back(std::move(target));
    }
}

OrvikFSEventStream::~OrvikFSEventStream() {
    invalidate();
}

OrvikFSEventsCreateFlags OrvikFSEventStream::creationFlags() const {
    return rawref->flags;
}

OrvikFSEventsEventID OrvikFSEventStream::latestEventId() const {
    return {rawref->latest};
}

std::vector<std::string> OrvikFSEventStream::pathsBeingWatched() const {
    std::vector<std::string> paths;
    for (const Watch::Target& target : rawref->targets) {
        paths.push_back(target.file.string());
    }
    return paths;
}

void OrvikFSEventStream::scheduleOnCurrentThread() {
    if (rawref->invalidated || rawref->loopContext) {
        return;
    }
    rawref->loopContext = std::make_unique<QObject>();
    Watch* watch = rawref.get();
    // Both are children of loopContext, which owns them.
    watch->notifier =
        new QSocketNotifier(watch->inotify.get(), QSocketNotifier::Read, watch->loopContext.get());
    watch->notifier->setEnabled(watch->started);
    QObject::connect(watch->notifier, &QSocketNotifier::activated, watch->loopContext.get(),
                     [watch] { watch->readEvents(); });
    watch->latencyTimer = new QTimer(watch->loopContext.get());
    watch->latencyTimer->setSingleShot(true);
    QObject::connect(watch->latencyTimer, &QTimer::timeout, watch->loopContext.get(),
                     [watch] { watch->flushPending(); });
}

void OrvikFSEventStream::unschedule() {
    if (!rawref->loopContext) {
        return;
    }
    rawref->notifier->setEnabled(false);
    rawref->latencyTimer->stop();
    rawref->notifier = nullptr;
    rawref->latencyTimer = nullptr;
    if (rawref->delivering > 0) {
        rawref->loopContext.release()->deleteLater();  // its signal is being handled right now
    } else {
        rawref->loopContext.reset();
    }
}

tl::expected<void, OrvikFSEventsError> OrvikFSEventStream::start() {
    if (rawref->invalidated || !rawref->loopContext) {
        return tl::make_unexpected(OrvikFSEventsError{OrvikFSEventsErrorCode::cannotStartStream,
                                                      rawref->invalidated ? "invalidated" : "not scheduled"});
    }
    if (rawref->started) {
        return {};
    }
    for (Watch::Target& target : rawref->targets) {
        if (const std::optional<int> refused = rawref->place(target)) {
            rawref->unplaceAll();
            return tl::make_unexpected(
                OrvikFSEventsError{OrvikFSEventsErrorCode::cannotStartStream, errnoText(*refused)});
        }
    }
    rawref->started = true;
    rawref->notifier->setEnabled(true);
    return {};
}

void OrvikFSEventStream::flushAsync() {
    if (rawref->loopContext) {
        Watch* watch = rawref.get();
        QTimer::singleShot(0, watch->loopContext.get(), [watch, alive = std::weak_ptr(watch->alive)] {
            watch->readEvents();
            if (!alive.expired()) {
                watch->flushPending();
            }
        });
    }
}

void OrvikFSEventStream::flushSync() {
    if (rawref->started) {
        Watch* watch = rawref.get();
        const std::weak_ptr<const bool> alive = watch->alive;
        watch->readEvents();
        if (!alive.expired()) {  // the handler may have destroyed this stream
            watch->flushPending();
        }
    }
}

void OrvikFSEventStream::stop() {
    if (!rawref->started) {
        return;
    }
    rawref->started = false;
    if (rawref->notifier != nullptr) {
        rawref->notifier->setEnabled(false);
    }
    rawref->unplaceAll();
    rawref->readEvents();  // drops what the removed watches left behind
    rawref->pending = {};
}

void OrvikFSEventStream::invalidate() {
    if (rawref->invalidated) {
        return;
    }
    stop();
    unschedule();
    rawref->invalidated = true;
    rawref->inotify.reset();
}

bool OrvikFSEventStream::setExclusionPaths(std::vector<std::string> paths) {
    if (paths.size() > kMaxExclusionPaths) {
        return false;
    }
    for (std::string& path : paths) {
        std::error_code error;
        path = fs::absolute(fs::path(path), error).lexically_normal().string();
    }
    rawref->exclusions = std::move(paths);
    return true;
}

std::string OrvikFSEventStream::description() const {
    std::string paths;
    for (const std::string& path : pathsBeingWatched()) {
        paths += (paths.empty() ? "" : ", ") + path;
    }
    return "OrvikFSEventStream { paths = [" + paths + "], flags = " + rawref->flags.description() +
           ", latency = " + std::to_string(rawref->latency) + ", since = " + std::to_string(rawref->since) +
           ", latest = " + std::to_string(rawref->latest) + ", state = " +
           (rawref->invalidated ? "invalidated"
            : rawref->started   ? "started"
                                : "stopped") +
           " }";
}

void OrvikFSEventStream::deliverBatch(void* context, const OrvikFSEventBatch& batch) {
    if (context == nullptr) {
        reportOrvikFSEventsIllogicalError(
            {OrvikFSEventsCriticalErrorCode::missingContextRawPointerValue, std::nullopt});
        return;
    }
    std::vector<std::string> paths;
    for (const ReportedPath& path : batch.paths) {
        const auto* text = std::get_if<std::string>(&path);
        if (text == nullptr) {
            reportOrvikFSEventsIllogicalError(
                {OrvikFSEventsCriticalErrorCode::unexpectedPathValueType,
                 "Cannot convert `" + describePaths(batch.paths) + "` into [String]."});
            return;
        }
        paths.push_back(*text);
    }
    if (batch.eventCount != paths.size() || batch.flags.size() < batch.eventCount ||
        batch.ids.size() < batch.eventCount) {
        reportOrvikFSEventsIllogicalError({OrvikFSEventsCriticalErrorCode::unmatchedEventParameterCounts,
                                           "Event count is `" + std::to_string(batch.eventCount) +
                                               "`, but path count is `" + std::to_string(paths.size()) +
                                               "`"});
        return;
    }
    auto* stream = static_cast<OrvikFSEventStream*>(context);
    Watch& watch = *stream->rawref;
    const std::weak_ptr<const bool> alive = watch.alive;
    const OrvikFSEventHandler handler = stream->handler;  // the stream may go away inside the handler
    ++watch.delivering;
    for (std::size_t index = 0; index < batch.eventCount; ++index) {
        watch.latest = batch.ids[index];
        if (handler) {
            handler(OrvikFSEventsEvent{paths[index], OrvikFSEventsEventFlags{batch.flags[index]},
                                       OrvikFSEventsEventID{batch.ids[index]}});
        }
        if (alive.expired()) {
            return;
        }
    }
    --watch.delivering;
}

}  // namespace brisel::desktop::components
