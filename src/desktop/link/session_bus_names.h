// Running programs on the session bus: a desktop program that runs owns its well-known name
// (common/desktop_link.h), so "is it running?" is "has the name an owner?". A name stays with its first
// owner until that one gives it up or ends: no later claim takes it over, so one instance of each
// program runs per session.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <optional>

namespace brisel::desktop::link {

enum class NameClaim {
    owned,          // this process owns the name now
    heldByAnother,  // another process owns it and keeps it
    noBus,          // no session bus, or the bus refused: the program runs without the name
};

// Claims `identifier` on `bus` for this process, never taking it from an owner and never waiting in
// line for it. Logs when the bus is missing or refuses. Main thread.
NameClaim claimIdentifier(QDBusConnection bus, const QString& identifier);

// Gives up `identifier` when this process owns it, so that a successor can claim it at once. Main
// thread.
void releaseIdentifier(QDBusConnection bus, const QString& identifier);

// Whether a process owns `identifier` on `bus`; false when the bus is not there. Main thread.
bool isRunning(QDBusConnection bus, const QString& identifier);

// What owns `identifier`, for a start that finds it held.
enum class NameOwner {
    none,      // nobody: the owner has just given it up
    running,   // a running program
    quitting,  // a program that also owns `quittingIdentifier`: it ends, and the name goes with it
};

// Who owns `identifier` on `bus`: whether its owner has claimed `quittingIdentifier` too. Without a bus
// the answer is `running`. Main thread.
NameOwner nameOwner(QDBusConnection bus, const QString& identifier, const QString& quittingIdentifier);

// The process id of the owner of `identifier`; none when it has no owner or the bus cannot tell.
// Main thread.
std::optional<qint64> ownerProcess(QDBusConnection bus, const QString& identifier);

}  // namespace brisel::desktop::link
