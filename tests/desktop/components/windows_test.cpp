// The Logs, Preferences and About windows on Qt's offscreen platform; each leaves a screenshot in the
// build's artefact folder.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/components/about_panel.h"
#include "desktop/components/general_preferences_view_controller.h"
#include "desktop/components/log_view_controller.h"
#include "support/event_wait.h"
#include "support/temporary_folder.h"

namespace brisel::desktop::components {
namespace {

namespace fs = std::filesystem;
using desktop_test::waitUntil;

void saveScreenshot(QWidget& window, const QString& name) {
    QDir().mkpath(QStringLiteral(BRISEL_ARTEFACT_DIR));
    EXPECT_TRUE(window.grab().save(QStringLiteral(BRISEL_ARTEFACT_DIR "/") + name));
}

QString readWhole(const fs::path& file) {
    QFile in(QString::fromStdString(file.string()));
    return in.open(QIODevice::ReadOnly) ? QString::fromUtf8(in.readAll()) : QString();
}

bool showsFile(const LogViewController& window, const fs::path& file) {
    return window.content() == readWhole(file);
}

TEST(LogsWindow, ShowsTheWholeFileFromTheStartAndFollowsIt) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "velko" / "desktop_client.log";
    fs::create_directories(log.parent_path());
    std::ofstream(log) << "service started\n<b>not bold</b> & <a href=\"x\">peer</a>\n";

    LogViewController window(log);
    window.show();
    EXPECT_TRUE(showsFile(window, log)) << "content at open, before any change";
    EXPECT_TRUE(window.content().contains(QStringLiteral("<b>not bold</b> & <a href=\"x\">peer</a>")));
    saveScreenshot(window, QStringLiteral("logs_window.png"));

    struct Step {
        const char* label;
        std::function<void()> change;
        std::function<bool()> shown;
    };
    const auto startsWithReadError = [&] {
        return window.content().startsWith(QString::fromLatin1(LogViewController::kReadErrorPrefix));
    };
    const std::vector<Step> steps{
        {"an append", [&] { std::ofstream(log, std::ios::app) << "board attached\n"; },
         [&] {
             return showsFile(window, log);
         }},
        {"a delete", [&] { fs::remove(log); }, startsWithReadError},
        {"a re-creation", [&] { std::ofstream(log) << "service started again\n"; },
         [&] {
             return showsFile(window, log);
         }},
        {"bytes that are not UTF-8", [&] { std::ofstream(log, std::ios::app) << "bad \xff\xfe bytes\n"; },
         [&] {
             return window.content().endsWith(QStringLiteral("bad \uFFFD\uFFFD bytes\n"));
         }},
        {"the folder removed", [&] { fs::remove_all(log.parent_path()); }, startsWithReadError},
        {"the folder and file made again",
         [&] {
             fs::create_directories(log.parent_path());
             std::ofstream(log) << "third start\n";
         },
         [&] {
             return showsFile(window, log);
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        step.change();
        EXPECT_TRUE(waitUntil(step.shown));
    }
    EXPECT_TRUE(window.content().contains(QStringLiteral("third start")));
}

TEST(LogsWindow, ABurstOfTenThousandLinesIsReadAFewTimesNotPerLine) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "desktop_client.log";
    std::ofstream(log) << "start\n";
    LogViewController window(log);
    const std::size_t readsBefore = window.reloadCount();

    constexpr int kLines = 10000;
    std::thread writer([&log] {
        for (int line = 0; line < kLines; ++line) {
            std::ofstream(log, std::ios::app) << "line " << line << " of a busy service\n";  // one write each
        }
    });
    bool loopTurned = false;
    QTimer::singleShot(0, &window, [&loopTurned] { loopTurned = true; });
    EXPECT_TRUE(waitUntil([&] { return loopTurned; })) << "the event loop is stuck during the burst";
    writer.join();
    EXPECT_TRUE(waitUntil([&] { return showsFile(window, log); }));
    EXPECT_EQ(window.content().count(QLatin1Char('\n')), kLines + 1);
    EXPECT_LT(window.reloadCount() - readsBefore, 200U) << "reads were not gathered";
}

TEST(PreferencesWindow, EditsMarkTheWindowAndCloseAsksWhatToDo) {
    struct Row {
        const char* label;
        std::function<void(GeneralPreferencesViewController&)> edit;
        std::optional<SaveChangesAnswer> answer;  // none: the question must not come
        bool closes;
        bool relaunches;
    };
    const auto typing = [](GeneralPreferencesViewController& window) {
        auto* field = window.findChild<QLineEdit*>(QStringLiteral("nameField"));
        ASSERT_NE(field, nullptr);
        field->setFocus();
        field->insert(QStringLiteral("abc"));  // as typed: an edit, not a programmatic setText
    };
    const std::vector<Row> rows{
        {"unedited closes without asking", [](auto&) {}, std::nullopt, true, false},
        {"typed text, Cancel keeps it open", typing, SaveChangesAnswer::cancel, false, false},
        {"Reset, Don't Save closes", [](auto& window) { window.resetClicked(); }, SaveChangesAnswer::dontSave,
         true, false},
        {"Developer, Save relaunches and closes", [](auto& window) { window.developerClicked(); },
         SaveChangesAnswer::save, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        int relaunches = 0;
        int questions = 0;
        GeneralPreferencesViewController window([&] { ++relaunches; },
                                                [&](QWidget&) {
                                                    ++questions;
                                                    return row.answer.value_or(SaveChangesAnswer::cancel);
                                                });
        window.show();
        EXPECT_FALSE(window.isWindowModified());
        row.edit(window);
        EXPECT_EQ(window.isWindowModified(), row.answer.has_value());
        if (row.answer == SaveChangesAnswer::cancel) {
            saveScreenshot(window, QStringLiteral("preferences_window.png"));
        }
        EXPECT_EQ(window.close(), row.closes);
        EXPECT_EQ(questions, row.answer ? 1 : 0);
        EXPECT_EQ(relaunches, row.relaunches ? 1 : 0);
        EXPECT_EQ(window.isVisible(), !row.closes);
        EXPECT_EQ(window.isWindowModified(),
                  row.answer == SaveChangesAnswer::cancel || row.answer == SaveChangesAnswer::save);
    }
    int relaunches = 0;
    GeneralPreferencesViewController window([&] { ++relaunches; });
    window.saveClicked();
    EXPECT_EQ(relaunches, 1) << "Save relaunches";
}

TEST(AboutPanel, ShowsBuildBranchUnlessMasterAndCommit) {
    const std::string commit = "0123456789abcdef0123456789abcdef01234567";
    struct Row {
        std::optional<std::string_view> build;
        std::string_view branch;
        std::string expected;
    };
    for (const Row& row : std::vector<Row>{
             {"57", "master", "Build: 57\nCommit: " + commit},
             {"57", "release-1.2", "Build: 57\nBranch: release-1.2\nCommit: " + commit},
             {std::nullopt, "master", "Build: No build\nCommit: " + commit},
             {std::nullopt, "Master", "Build: No build\nBranch: Master\nCommit: " + commit},
         }) {
        EXPECT_EQ(aboutVersionText(row.build, row.branch, commit), row.expected);
    }
    const std::string thisBuild = aboutVersionText();
    EXPECT_TRUE(thisBuild.starts_with("Build: "));
    EXPECT_EQ(thisBuild.size() - thisBuild.rfind("\nCommit: ") - 9, 40U);

    AboutPanel panel(aboutVersionText("57", "develop", commit));
    panel.present();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.informativeText().toStdString(), aboutVersionText("57", "develop", commit));
    saveScreenshot(panel, QStringLiteral("about_panel.png"));
}

}  // namespace
}  // namespace brisel::desktop::components
