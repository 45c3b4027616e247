#include "desktop/link/session_bus_names.h"

#include <QDBusConnectionInterface>
#include <QDebug>

namespace brisel::desktop::link {

bool claimIdentifier(QDBusConnection bus, const QString& identifier, NameHandover handover) {
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    if (names == nullptr) {
        qWarning().noquote() << "No session bus; running without the name" << identifier;
        return false;
    }
    const auto reply = names->registerService(identifier, QDBusConnectionInterface::ReplaceExistingService,
                                              handover == NameHandover::allowReplacement
                                                  ? QDBusConnectionInterface::AllowReplacement
                                                  : QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        qWarning().noquote() << "Cannot own the session-bus name" << identifier << reply.error().message();
        return false;
    }
    return true;
}

bool isRunning(QDBusConnection bus, const QString& identifier) {
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    if (names == nullptr) {
        return false;
    }
    const auto reply = names->isServiceRegistered(identifier);
    return reply.isValid() && reply.value();
}

}  // namespace brisel::desktop::link
