// What the service and the two desktop programs agree on: the port, the log file, the program file
// names and the session-bus names. Header-only and free of any link dependency, so that the desktop
// programs, which do not link the service library, can use it as well.
#pragma once

#include <cstdint>
#include <string_view>

namespace brisel::desktop_link {

// The service's websocket port on the local machine.
inline constexpr std::uint16_t kServicePort = 4751;

// The service's log: kLogFolder below the user's home folder, then kLogFileName.
inline constexpr std::string_view kLogFolder = ".local/share/velko";
inline constexpr std::string_view kLogFileName = "desktop_client.log";

// File names of the three programs. The application starts kServiceProgram from its own folder.
inline constexpr std::string_view kServiceProgram = "brisel_core";
inline constexpr std::string_view kApplicationProgram = "Velko Brisel";
inline constexpr std::string_view kLauncherProgram = "BriselLaunchHelper";

// Well-known session-bus names: a program that runs owns its name.
inline constexpr std::string_view kApplicationIdentifier = "com.Velko.Brisel";
inline constexpr std::string_view kLauncherIdentifier = "com.Velko.BriselLaunchHelper";
// Owned, beside kApplicationIdentifier, by an application that is on its way out: it keeps its name
// until its service has ended, and a start that finds the name held by such an owner waits for it.
inline constexpr std::string_view kQuittingApplicationIdentifier = "com.Velko.Brisel.Quitting";

// The broadcast signal that carries a notice between the programs: signal kNoticeSignal of interface
// kNoticeInterface on object kNoticeObjectPath, with two text arguments, the notice's name and its
// object (the identifier of the program that posts it).
inline constexpr std::string_view kNoticeObjectPath = "/com/Velko/Notices";
inline constexpr std::string_view kNoticeInterface = "com.Velko.Notices";
inline constexpr std::string_view kNoticeSignal = "notice";
// Posted by the application at launch when the launcher runs; the launcher then quits.
inline constexpr std::string_view kKillLauncherNotice = "killLauncher";

}  // namespace brisel::desktop_link
