// The application's two user-defaults flags, kept with QSettings in the user's configuration folder
// (organisation "Velko", application "Brisel").
#pragma once

#include <QSettings>
#include <QString>
#include <memory>
#include <optional>

namespace brisel::desktop::app {

// The launcher is registered as login item.
inline constexpr const char* kLaunchAtStartKey = "launchAtStartKey";
// The first-launch notice was shown.
inline constexpr const char* kHasPresentedInitialHelpWindowKey = "hasPresentedInitialHelpWindowKey";

// The application's settings store.
std::unique_ptr<QSettings> openUserDefaults();

// Whether `key` has a value at all, whatever the value (a first run is a missing key).
bool userDefaultsHasKey(const QSettings& defaults, const QString& key);

// Why the settings file of `defaults` cannot be written (its folder cannot be made or written in, or
// the file cannot be opened for writing), with the system's reason; none when it can. Leaves the file
// as it is.
std::optional<QString> userDefaultsWriteProblem(const QSettings& defaults);

}  // namespace brisel::desktop::app
