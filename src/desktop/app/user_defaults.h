// The application's two user-defaults flags, kept with QSettings in the user's configuration folder
// (organisation "Velko", application "Brisel").
#pragma once

#include <QSettings>
#include <QString>
#include <memory>

namespace brisel::desktop::app {

// The launcher is registered as login item.
inline constexpr const char* kLaunchAtStartKey = "launchAtStartKey";
// The first-launch notice was shown.
inline constexpr const char* kHasPresentedInitialHelpWindowKey = "hasPresentedInitialHelpWindowKey";

// The application's settings store.
std::unique_ptr<QSettings> openUserDefaults();

// Whether `key` has a value at all, whatever the value (a first run is a missing key).
bool userDefaultsHasKey(const QSettings& defaults, const QString& key);

}  // namespace brisel::desktop::app
