#include "desktop/components/file_events/file_event_watchers.h"

#include <QCoreApplication>
#include <QThread>

#include <cassert>
#include <map>
#include <memory>
#include <utility>

namespace brisel::desktop::components {

namespace {

using Registry = std::map<const void*, std::unique_ptr<OrvikFSEventStream>>;

Registry& registry() {
    static Registry streams;
    return streams;
}

void clearRegistry() {
    registry().clear();
}

bool onMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

}  // namespace

tl::expected<void, OrvikFSEventsError> OrvikFSEvents::addWatcher(std::vector<std::string> paths,
                                                                 const void* key,
                                                                 OrvikFSEventHandler handler) {
    assert(onMainThread());
    auto created = OrvikFSEventStream::create(std::move(paths), OrvikFSEventsEventID::sinceNow(), 0,
                                              kWatcherFlags, std::move(handler));
    if (!created) {
        return tl::make_unexpected(created.error());
    }
    std::unique_ptr<OrvikFSEventStream> stream = std::move(*created);
    stream->scheduleOnCurrentThread();
    if (auto started = stream->start(); !started) {
        return tl::make_unexpected(started.error());
    }
    static const bool clearedWithApplication = [] {
        // The streams' notifiers belong to the application's event loop: gone with it.
        qAddPostRoutine(clearRegistry);
        return true;
    }();
    (void)clearedWithApplication;
    // The replaced stream (if any) is destroyed here, which stops and invalidates it.
    registry()[key] = std::move(stream);
    return {};
}

void OrvikFSEvents::removeWatcher(const void* key) {
    assert(onMainThread());
    const auto found = registry().find(key);
    if (found == registry().end()) {
        return;
    }
    const std::unique_ptr<OrvikFSEventStream> stream = std::move(found->second);
    registry().erase(found);
}

const OrvikFSEventStream* OrvikFSEvents::watcher(const void* key) {
    const auto found = registry().find(key);
    return found == registry().end() ? nullptr : found->second.get();
}

}  // namespace brisel::desktop::components
