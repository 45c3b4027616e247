#include "desktop/link/session_bus_names.h"

#include <QDBusConnectionInterface>
#include <QDebug>

namespace brisel::desktop::link {

namespace {

QDBusConnectionInterface* namesOf(const QDBusConnection& bus) {
    return bus.isConnected() ? bus.interface() : nullptr;
}

}  // namespace

NameClaim claimIdentifier(QDBusConnection bus, const QString& identifier) {
    QDBusConnectionInterface* names = namesOf(bus);
    if (names == nullptr) {
        qWarning().noquote() << "No session bus; running without the name" << identifier;
        return NameClaim::noBus;
    }
    const auto reply = names->registerService(identifier, QDBusConnectionInterface::DontQueueService,
                                              QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        qWarning().noquote() << "Cannot own the session-bus name" << identifier << reply.error().message();
        return NameClaim::noBus;
    }
    return reply.value() == QDBusConnectionInterface::ServiceRegistered ? NameClaim::owned
                                                                        : NameClaim::heldByAnother;
}

void releaseIdentifier(QDBusConnection bus, const QString& identifier) {
    if (QDBusConnectionInterface* names = namesOf(bus)) {
        names->unregisterService(identifier);
    }
}

bool isRunning(QDBusConnection bus, const QString& identifier) {
    QDBusConnectionInterface* names = namesOf(bus);
    if (names == nullptr) {
        return false;
    }
    const auto reply = names->isServiceRegistered(identifier);
    return reply.isValid() && reply.value();
}

NameOwner nameOwner(QDBusConnection bus, const QString& identifier, const QString& quittingIdentifier) {
    QDBusConnectionInterface* names = namesOf(bus);
    if (names == nullptr) {
        return NameOwner::running;
    }
    const auto owner = names->serviceOwner(identifier);
    if (!owner.isValid() || owner.value().isEmpty()) {
        return NameOwner::none;
    }
    const auto quitting = names->serviceOwner(quittingIdentifier);
    return quitting.isValid() && quitting.value() == owner.value() ? NameOwner::quitting : NameOwner::running;
}

std::optional<qint64> ownerProcess(QDBusConnection bus, const QString& identifier) {
    QDBusConnectionInterface* names = namesOf(bus);
    if (names == nullptr) {
        return std::nullopt;
    }
    const auto reply = names->servicePid(identifier);
    return reply.isValid() ? std::optional<qint64>(reply.value()) : std::nullopt;
}

}  // namespace brisel::desktop::link
