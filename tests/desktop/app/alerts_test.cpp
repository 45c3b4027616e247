// Alerts as message boxes on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

#include "desktop/app/alerts.h"
#include "support/event_wait.h"

namespace {

using namespace brisel::desktop::app;

// A program's name in the text (anyone may name a process so) shows as written, never as a link.
TEST(MessageBoxAlerts, TheInformativeTextIsPlainTextAndClosingAnswersTheLastButton) {
    MessageBoxAlerts alerts;
    int answer = 0;
    alerts.show({.style = AlertStyle::critical,
                 .message = "Fatal Error",
                 .informativeText = "port 4751 is in use by <a href=\"file:///\">x</a> (process 1)",
                 .buttons = {"Relaunch", "Ignore"}},
                [&answer](int button) { answer = button; });
    QMessageBox* box = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        box = box != nullptr ? box : qobject_cast<QMessageBox*>(widget);
    }
    ASSERT_NE(box, nullptr);
    const auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_NE(informative, nullptr);
    EXPECT_EQ(informative->textFormat(), Qt::PlainText);
    box->reject();
    EXPECT_TRUE(brisel::desktop_test::waitUntil([&] { return answer != 0; }));
    EXPECT_EQ(answer, kFirstButton + 1);
}

}  // namespace
