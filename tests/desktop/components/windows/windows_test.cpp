// The Logs, Preferences and About windows on Qt's offscreen platform; each leaves a screenshot in the
// build's artefact folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "desktop/components/file_events/file_event_watchers.h"
#include "desktop/components/logs/clipboard_copy.h"
#include "desktop/components/logs/log_lines_view.h"
#include "desktop/components/logs/log_view_controller.h"
#include "desktop/components/windows/about_panel.h"
#include "desktop/components/windows/general_preferences_view_controller.h"
#include "support/event_wait.h"
#include "support/file_contents.h"
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

// Lines "line 0" ... of `lineBytes` bytes each with their "\n" (at least 12).
QByteArray numberedLines(qsizetype count, qsizetype lineBytes = 12) {
    QByteArray bytes;
    bytes.reserve(count * lineBytes);
    for (qsizetype line = 0; line < count; ++line) {
        const QByteArray start = "line " + QByteArray::number(line) + " ";
        bytes += start + QByteArray(lineBytes - start.size() - 1, 'x') + '\n';
    }
    return bytes;
}

void press(LogLinesView& view, QPoint at, Qt::KeyboardModifiers modifiers) {
    QMouseEvent event(QEvent::MouseButtonPress, at, view.viewport()->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, modifiers);
    QCoreApplication::sendEvent(view.viewport(), &event);
}

void pressKey(LogLinesView& view, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QCoreApplication::sendEvent(&view, &event);
}

// Cuts the first `cut` bytes away and appends `appended`, as the service trims its log: the rest is
// written to another file that is renamed into place.
void trim(const fs::path& log, qsizetype cut, const std::string& appended) {
    const std::string text = test_support::readText(log);
    std::ofstream(log.string() + ".trimmed", std::ios::binary)
        << text.substr(static_cast<std::size_t>(cut)) << appended;
    fs::rename(log.string() + ".trimmed", log);
}

TEST(LogsWindow, ShowsTheWholeFileFromTheStartAndFollowsIt) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "velko" / "desktop_client.log";
    fs::create_directories(log.parent_path());
    std::ofstream(log) << "service started\n<b>not bold</b> & <a href=\"x\">peer</a>\n";

    LogViewController window(log);
    window.show();
    EXPECT_TRUE(waitUntil([&] { return showsFile(window, log); })) << "content at open, before any change";
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
    window.show();
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

TEST(LogsWindow, AHiddenWindowFreesItsTextAndReadsNothingUntilShownAgain) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "desktop_client.log";
    std::ofstream(log) << "service started\n";
    LogViewController window(log);
    EXPECT_EQ(window.reloadCount(), 0U) << "made but not shown yet";
    window.show();
    EXPECT_TRUE(waitUntil([&] { return showsFile(window, log) && window.showsEnd(); }));

    window.hide();
    const std::size_t reads = window.reloadCount();
    const OrvikFSEventStream* stream = OrvikFSEvents::watcher(&window);
    ASSERT_NE(stream, nullptr);
    const OrvikFSEventsEventID heard = stream->latestEventId();
    std::ofstream(log, std::ios::app) << "written while hidden\n";
    EXPECT_TRUE(waitUntil([&] { return !(stream->latestEventId() == heard); })) << "the window heard of it";
    EXPECT_TRUE(window.isStale());
    EXPECT_EQ(window.reloadCount(), reads);
    EXPECT_EQ(window.text().size(), 0);

    window.show();
    EXPECT_TRUE(waitUntil([&] { return showsFile(window, log) && window.showsEnd(); }));
    EXPECT_FALSE(window.isStale());
}

// While it lives, this process can open no more files: every descriptor below the lowered limit is
// taken, as when a watch meets the user's inotify instances used up.
class DescriptorsUsedUp {
  public:
    DescriptorsUsedUp() : filler(::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
        ::getrlimit(RLIMIT_NOFILE, &before);
        rlimit lowered = before;
        lowered.rlim_cur = static_cast<rlim_t>(filler) + 1;  // every descriptor below filler is open
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorsUsedUp() {
        ::setrlimit(RLIMIT_NOFILE, &before);
        ::close(filler);
    }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

  private:
    int filler;
    rlimit before{};
};

TEST(LogsWindow, WithoutAWatchShowsTheLogFollowsItOnATimerAndWatchesAgainWhenOpenedNext) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "desktop_client.log";
    std::ofstream(log) << "service started\n";
    {
        LogViewController firstWindow(log);  // fonts and the platform are loaded before files run out
        firstWindow.show();
        ASSERT_TRUE(waitUntil([&] { return showsFile(firstWindow, log); }));
    }
    // The undefined-behaviour sanitizer checks a type the first time it meets it, with a pipe: it meets
    // those of the log's warning here, before files run out.
    qWarning() << "Logs window: the file watch is to fail next";
    std::optional<LogViewController> window;
    {
        const DescriptorsUsedUp usedUp;
        window.emplace(log);
    }
    ASSERT_FALSE(window->watchesFile());
    EXPECT_EQ(OrvikFSEvents::watcher(&*window), nullptr);

    window->show();
    EXPECT_TRUE(waitUntil([&] { return showsFile(*window, log); })) << "the log, not an error line";
    std::ofstream(log, std::ios::app) << "board attached\n";
    EXPECT_TRUE(waitUntil([&] { return showsFile(*window, log); })) << "followed without a watch";

    window->hide();
    window->show();
    EXPECT_TRUE(window->watchesFile()) << "tried again when opened next";
    EXPECT_NE(OrvikFSEvents::watcher(&*window), nullptr);
    std::ofstream(log, std::ios::app) << "board detached\n";
    EXPECT_TRUE(waitUntil([&] { return showsFile(*window, log); }));
}

TEST(LogsWindow, AppendsGrowthAndDropsATrimmedHeadInPlaceAndSwapsInWhatReplacedOrTruncatedTheFile) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "desktop_client.log";
    std::ofstream(log, std::ios::binary)
        << numberedLines(1000).toStdString();  // longer than the compared tail
    LogViewController window(log);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return showsFile(window, log); }));

    struct Step {
        const char* label;
        std::function<void()> change;
        bool inPlace;  // the shown bytes stay where they are: only the new ones were added
    };
    const std::vector<Step> steps{
        {"growth", [&] { std::ofstream(log, std::ios::app) << "board attached\n"; }, true},
        {"a trim: the rest renamed into place", [&] { trim(log, 6000, "after the trim\n"); }, true},
        {"a truncation", [&] { std::ofstream(log, std::ios::trunc) << "short\n"; }, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        const char* before = window.text().bytes().constData();
        step.change();
        EXPECT_TRUE(waitUntil([&] { return showsFile(window, log); }));
        EXPECT_EQ(window.text().bytes().constData() == before, step.inPlace);
    }

    fs::remove(log);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    EXPECT_TRUE(waitUntil([&] {
        return window.content() ==
               QString::fromLatin1(LogViewController::kReadErrorPrefix) + "Not a regular file";
    })) << "a FIFO at the log's path is refused, not waited on";
}

TEST(LogsWindow, ATrimKeepsThePlaceAndTheSelectionOnTheSameLines) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "desktop_client.log";
    std::ofstream(log, std::ios::binary) << numberedLines(20000).toStdString();  // 12 bytes a line
    LogViewController window(log);
    window.resize(600, 400);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return showsFile(window, log); }));
    LogLinesView& view = window.view();
    const int rowHeight = view.fontMetrics().lineSpacing();
    const auto select = [&](int firstRow, int lastRow) {
        press(view, QPoint(10, firstRow * rowHeight + rowHeight / 2), {});
        press(view, QPoint(10, lastRow * rowHeight + rowHeight / 2), Qt::ShiftModifier);
    };
    using Lines = std::optional<std::pair<qsizetype, qsizetype>>;
    struct Step {
        const char* label;
        int top;  // -1: at the end
        std::function<void()> select;
        qsizetype cut;
        int topAfter;  // -1: at the end
        Lines selectedAfter;
        const char* lineAtTop;
    };
    const std::vector<Step> steps{
        {"scrolled away, lines selected, 3000 lines and a half cut", 10000, [&] { select(5, 10); },
         3000 * 12 + 5, 7000, Lines({7005, 7010}), "line 10000 "},
        {"the selection and the lines in sight cut", 7000, [&] { select(0, 1); }, 9000 * 12 - 5, 0,
         std::nullopt, "line 12000 "},
        {"at the end", -1, [] {}, 12, -1, std::nullopt, nullptr},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        view.verticalScrollBar()->setValue(step.top < 0 ? view.verticalScrollBar()->maximum() : step.top);
        step.select();
        const char* before = window.text().bytes().constData();
        trim(log, step.cut, "after the trim\n");
        ASSERT_TRUE(waitUntil([&] { return showsFile(window, log); }));
        EXPECT_EQ(window.text().bytes().constData(), before) << "dropped in place, not read again";
        if (step.topAfter < 0) {
            EXPECT_TRUE(window.showsEnd());
        } else {
            EXPECT_EQ(view.verticalScrollBar()->value(), step.topAfter);
            EXPECT_TRUE(view.text().line(step.topAfter).startsWith(step.lineAtTop));
        }
        EXPECT_EQ(view.selectedLines(), step.selectedAfter);
    }
}

TEST(LogsWindow, ACopyThatLeavesTheHeadOfTheSelectionOutSaysSoInTheStatusLine) {
    const test_support::TemporaryFolder root;
    const fs::path log = root.path() / "desktop_client.log";
    std::ofstream(log, std::ios::binary)
        << numberedLines(LogLinesView::kLargestCopy / 100 + 10, 100).toStdString();
    LogViewController window(log);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.text().size() > 0; }));
    pressKey(window.view(), Qt::Key_A, Qt::ControlModifier);
    pressKey(window.view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(desktop_test::waitUntilSees(
        [&] { return window.statusText(); },
        [](const QString& status) {
            return status == "Copied only the last 16 MiB of the selection: 167773 of its 167783 lines.";
        },
        "the status of a copy cut short"));
    press(window.view(), QPoint(10, 10), {});
    pressKey(window.view(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([&] { return window.statusText().isEmpty(); })) << "a whole copy clears it";
}

TEST(LogLinesView, FollowsTheEndUnlessScrolledAwayAndCopiesTheSelectedLines) {
    QByteArray bytes;
    for (int line = 0; line < 100000; ++line) {
        bytes += "line " + QByteArray::number(line) + (line == 7 ? " bad \xff byte" : "") + "\n";
    }
    bytes += QByteArray(100000, 'w');  // one long last line
    LogLinesView view;
    view.resize(600, 400);
    view.show();
    view.replaceText(LogText(bytes));
    EXPECT_TRUE(view.showsEnd()) << "an empty view follows the end";
    QCoreApplication::sendPostedEvents();  // lays out the scroll bars, which makes the viewport smaller
    EXPECT_TRUE(view.showsEnd());
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum());
    saveScreenshot(view, QStringLiteral("log_lines_end.png"));

    view.verticalScrollBar()->setValue(0);
    view.horizontalScrollBar()->setValue(0);
    view.appendText(LogText(QByteArray("\nappended\n")));
    EXPECT_EQ(view.verticalScrollBar()->value(), 0) << "scrolled away: stays";
    saveScreenshot(view, QStringLiteral("log_lines_start.png"));

    const int rowHeight = view.fontMetrics().lineSpacing();
    press(view, QPoint(10, 6 * rowHeight + rowHeight / 2), {});
    press(view, QPoint(10, 8 * rowHeight + 1), Qt::ShiftModifier);
    pressKey(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([] {
        return QGuiApplication::clipboard()->text() ==
               QStringLiteral("line 6\nline 7 bad \uFFFD byte\nline 8");
    }));
    pressKey(view, Qt::Key_A, Qt::ControlModifier);
    pressKey(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil(
        [&] { return QGuiApplication::clipboard()->text() == QString::fromUtf8(view.text().bytes()); }));

    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    view.replaceText(LogText(QByteArray("replaced\n")));
    EXPECT_TRUE(view.showsEnd());
    EXPECT_FALSE(view.selectedLines()) << "a new text has nothing selected";
}

TEST(ClipboardCopy, CopiesAskedForWhileOneIsDecodedWaitAndOnlyTheLatestIsMade) {
    ClipboardCopy clipboard;
    std::vector<std::string> done;
    for (const char* text : {"first", "second", "latest"}) {
        clipboard.copy(QByteArray(text), [&done, text] { done.emplace_back(text); });
    }
    ASSERT_TRUE(waitUntil([&] { return done.size() == 2; }));
    EXPECT_EQ(done, (std::vector<std::string>{"first", "latest"}));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("latest"));
}

TEST(LogLinesView, CopiesAtMostTheLastSixteenMebibytesOfASelectionFromALineStart) {
    constexpr qsizetype kLargest = LogLinesView::kLargestCopy;
    // Some 100 KB more than is copied, in lines of 100 bytes: the bound falls inside a line.
    const QByteArray lines = numberedLines(kLargest / 100 + 1000, 100);
    // The bound falls on the second byte of the "é".
    const QByteArray longLine = "start \xc3\xa9" + QByteArray(kLargest - 5, 'y') + " end";
    struct Row {
        const char* label;
        QByteArray text;    // all of it selected
        QByteArray copied;  // the end of the text from here on
        qsizetype copiedLines;
    };
    const std::vector<Row> rows{
        {"longer than the bound: the lines that start within it", lines, lines.last(kLargest / 100 * 100),
         kLargest / 100 + 1},
        {"one line longer than the bound: its end, from a character's start", "first\n" + longLine,
         longLine.last(kLargest - 1), 1},
        {"as long as the bound: all", "a\n" + lines.last(kLargest - 2), "a\n" + lines.last(kLargest - 2),
         LogText("a\n" + lines.last(kLargest - 2)).lineCount()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        LogLinesView view;
        std::optional<CopiedLines> reported;
        view.setCopyReport([&](const CopiedLines& copied) { reported = copied; });
        view.replaceText(LogText(row.text));
        pressKey(view, Qt::Key_A, Qt::ControlModifier);
        pressKey(view, Qt::Key_C, Qt::ControlModifier);
        ASSERT_TRUE(waitUntil([&] { return reported.has_value(); }));
        EXPECT_TRUE(QGuiApplication::clipboard()->text() == QString::fromUtf8(row.copied));
        EXPECT_EQ(reported->selected, view.text().lineCount());
        EXPECT_EQ(reported->copied, row.copiedLines);
        EXPECT_EQ(reported->whole, row.copied.size() == row.text.size());
    }
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
