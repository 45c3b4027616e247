#include "desktop/components/windows/about_panel.h"

#include <QApplication>

#include "desktop/components/build_info.h"
#include "desktop/components/windows/plain_message_box.h"

namespace brisel::desktop::components {

std::string aboutVersionText(std::optional<std::string_view> buildNumber, std::string_view branch,
                             std::string_view commit) {
    std::string text = "Build: " + std::string(buildNumber.value_or("No build"));
    if (branch != "master") {
        text += "\nBranch: " + std::string(branch);
    }
    return text + "\nCommit: " + std::string(commit);
}

std::string aboutVersionText() {
    return aboutVersionText(build_info::kBuildNumber.empty()
                                ? std::nullopt
                                : std::optional<std::string_view>(build_info::kBuildNumber),
                            build_info::kBranch, build_info::kCommit);
}

AboutPanel::AboutPanel(const std::string& versionText, QWidget* parent) : QMessageBox(parent) {
    setWindowTitle(QStringLiteral("About Velko Brisel"));
    setText(QStringLiteral("Velko Brisel"));
    setPlainInformativeText(*this, QString::fromStdString(versionText));
    setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    setStandardButtons(QMessageBox::Ok);
    setModal(false);
}

void AboutPanel::present() {
    show();
    raise();
    activateWindow();
}

}  // namespace brisel::desktop::components
