// The application's alerts and its status menu on Qt's offscreen platform.
#include "desktop/app/alerts.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>

#include "desktop/app/status_menu.h"
#include "support/event_wait.h"

namespace {

using namespace brisel::desktop::app;

// The message is the box's main text; a program's name in the text (anyone may name a process so)
// shows as written, never as a link.
TEST(MessageBoxAlerts, TheMessageIsTheMainTextAReasonShowsAsWrittenAndClosingAnswersTheLastButton) {
    const QString reason = QStringLiteral("port 4751 held by <a href=\"file:///\">helper</a>");
    MessageBoxAlerts alerts;
    int answered = 0;
    alerts.show({.style = AlertStyle::critical,
                 .message = QStringLiteral("Fatal Error"),
                 .informativeText = reason,
                 .buttons = {QStringLiteral("Relaunch"), QStringLiteral("Ignore")}},
                [&](int button) { answered = button; });
    QMessageBox* box = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        box = box != nullptr ? box : qobject_cast<QMessageBox*>(window);
    }
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Fatal Error") << "the message is the main text";
    EXPECT_EQ(box->windowTitle(), "Velko Brisel");
    EXPECT_EQ(box->informativeText(), reason);
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
    box->reject();
    EXPECT_TRUE(brisel::desktop_test::waitUntil([&] { return answered != 0; }));
    EXPECT_EQ(answered, kFirstButton + 1) << "closing answers the last button";
}

// A status title that names a program keeps its "&": the menu shows it instead of taking a mnemonic.
TEST(StatusMenu, AnAmpersandInAStatusTitleShowsAsWritten) {
    StatusMenu statusMenu({});
    const QString title = QStringLiteral("Brisel Server not running: port 4751 is in use by R&D (process 7)");
    statusMenu.setStatusTitle(title);
    EXPECT_EQ(statusMenu.statusTitle(), title);
    const QAction* line = statusMenu.menu().actions().front();
    EXPECT_TRUE(QKeySequence::mnemonic(line->text()).isEmpty()) << line->text().toStdString();
    EXPECT_EQ(line->iconText(), title) << "the text shown";
}

}  // namespace
