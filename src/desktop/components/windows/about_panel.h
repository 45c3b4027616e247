// The About panel: the application's name and its build, branch and commit.
#pragma once

#include <QMessageBox>

#include <optional>
#include <string>
#include <string_view>

namespace brisel::desktop::components {

// "Build: " + the build number (or "No build"); "\nBranch: " + the branch unless it is exactly
// "master"; then "\nCommit: " + the commit.
std::string aboutVersionText(std::optional<std::string_view> buildNumber, std::string_view branch,
                             std::string_view commit);

// The same text for this build (build_info.h); an empty build number counts as none.
std::string aboutVersionText();

// A modeless panel with the title "About Velko Brisel", the name and the version text, shown as plain
// text. Main thread.
class AboutPanel : public QMessageBox {
  public:
    explicit AboutPanel(const std::string& versionText = aboutVersionText(), QWidget* parent = nullptr);

    // Shows the panel (once made) and brings it to the front.
    void present();
};

}  // namespace brisel::desktop::components
