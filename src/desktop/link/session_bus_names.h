// Running programs on the session bus: a desktop program that runs owns its well-known name
// (common/desktop_link.h), so "is it running?" is "has the name an owner?".
#pragma once

#include <QDBusConnection>
#include <QString>

namespace brisel::desktop::link {

// Whether the name is replaced when a newer instance claims it.
enum class NameHandover { keep, allowReplacement };

// Claims `identifier` on `bus` for this process. With `allowReplacement` a later claim by another
// instance takes the name over (a relaunched application takes it from the old one); a claim
// replaces an instance that allowed it. Returns false (and logs why) when the bus is not there or the
// name stays with another process. Main thread.
bool claimIdentifier(QDBusConnection bus, const QString& identifier, NameHandover handover);

// Whether a process owns `identifier` on `bus`; false when the bus is not there. Main thread.
bool isRunning(QDBusConnection bus, const QString& identifier);

}  // namespace brisel::desktop::link
