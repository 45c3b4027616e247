// The application's alerts as message boxes on Qt's offscreen platform.
#include "desktop/app/alerts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

#include "support/event_wait.h"

namespace {

using namespace brisel::desktop::app;

// A program's name in the text (anyone may name a process so) shows as written, never as a link.
TEST(MessageBoxAlerts, AReasonFromTheSystemShowsAsWrittenAndClosingAnswersTheLastButton) {
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
    EXPECT_EQ(box->informativeText(), reason);
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
    }
    box->reject();
    EXPECT_TRUE(brisel::desktop_test::waitUntil([&] { return answered != 0; }));
    EXPECT_EQ(answered, kFirstButton + 1) << "closing answers the last button";
}

}  // namespace
