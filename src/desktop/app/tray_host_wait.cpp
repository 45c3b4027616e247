#include "desktop/app/tray_host_wait.h"

#include <xcb/xcb.h>

#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <utility>

namespace brisel::desktop::app {

namespace {

bool statusNotifierHostRegistered(const QDBusConnection& bus) {
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.kde.StatusNotifierWatcher")
         << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusReply<QDBusVariant> reply = QDBusConnection(bus).call(call, QDBus::Block, 1000);
    return reply.isValid() && reply.value().variant().toBool();
}

bool xembedTrayPresent() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return false;
    }
    static constexpr char kSelection[] = "_NET_SYSTEM_TRAY_S0";
    const auto atomCookie = xcb_intern_atom(connection, 0, sizeof(kSelection) - 1, kSelection);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, atomCookie, nullptr), &std::free);
    if (!atom) {
        return false;
    }
    const auto ownerCookie = xcb_get_selection_owner(connection, atom->atom);
    const std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr), &std::free);
    return owner && owner->owner != XCB_NONE;
}

}  // namespace

TrayHostWait::TrayHostWait(QDBusConnection sessionBus, std::chrono::milliseconds bound,
                           std::function<bool()> availability, std::function<void(bool)> onDone)
    : bus(std::move(sessionBus)),
      deadline(std::chrono::steady_clock::now() + bound),
      trayAvailable(std::move(availability)),
      done(std::move(onDone)) {
    poll.setInterval(std::chrono::milliseconds(100));
    connect(&poll, &QTimer::timeout, this, &TrayHostWait::check);
    QTimer::singleShot(0, this, &TrayHostWait::check);
}

bool TrayHostWait::trayHostPresent(const QDBusConnection& sessionBus) {
    return statusNotifierHostRegistered(sessionBus) || xembedTrayPresent();
}

void TrayHostWait::check() {
    if (!done) {
        return;
    }
    if (trayHostPresent(bus) || std::chrono::steady_clock::now() >= deadline) {
        poll.stop();
        std::exchange(done, nullptr)(trayAvailable());
        return;
    }
    if (!poll.isActive()) {
        poll.start();
    }
}

}  // namespace brisel::desktop::app
