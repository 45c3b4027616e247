// Texts from the feed and the build show as they are written in the update alerts and the About panel,
// cut where they would not fit on the screen.
#include "desktop/components/windows/plain_message_box.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include <functional>
#include <memory>
#include <vector>

#include "desktop/components/updates/update_checker.h"
#include "desktop/components/windows/about_panel.h"

namespace brisel::desktop::components {
namespace {

constexpr const char* kLink = "<a href=\"file:///etc/passwd\">1.12</a>";

TEST(PlainMessageBox, MarkupFromTheFeedOrTheBuildShowsAsWrittenInEveryLabel) {
    using Kind = UpdateCheckOutcome::Kind;
    const QUrl download(QStringLiteral("https://downloads.example.org/v12"));
    struct Row {
        const char* label;
        std::function<std::unique_ptr<QMessageBox>()> make;
    };
    const std::vector<Row> rows{
        {"an offer whose version holds a link",
         [&] {
             return makeUpdateAlert({Kind::updateAvailable, AppcastItem{"", 12, kLink, download}, {}}, 10,
                                    {});
         }},
        {"a failure whose reason holds a link",
         [&] {
             return makeUpdateAlert({Kind::failed, std::nullopt, kLink}, 10, {});
         }},
        {"the About panel of a branch that holds a link",
         [&] {
             return std::make_unique<AboutPanel>(aboutVersionText("57", kLink, "0123"));
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const std::unique_ptr<QMessageBox> box = row.make();
        box->show();
        const auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        ASSERT_NE(informative, nullptr);
        EXPECT_TRUE(informative->text().contains(QString::fromLatin1(kLink)));
        for (const QLabel* label : box->findChildren<QLabel*>()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        }
    }
}

// An oversized text (a 900 KiB version from a feed, thousands of lines) is cut so that the alert and
// its buttons fit on the screen; a text within the bounds stays whole.
TEST(PlainMessageBox, AnOversizedTextIsCutSoThatTheAlertFitsOnTheScreen) {
    using Kind = UpdateCheckOutcome::Kind;
    const std::string version(900 * 1024, '7');
    QString lines;
    for (int line = 0; line < 5000; ++line) {
        lines += QStringLiteral("line %1 of a reason from the system\n").arg(line);
    }
    const QUrl download(QStringLiteral("https://downloads.example.org/v12"));
    const auto offer =
        makeUpdateAlert({Kind::updateAvailable, AppcastItem{"", 12, version, download}, {}}, 10, {});
    const auto failure = makeUpdateAlert({Kind::failed, std::nullopt, lines.toStdString()}, 10, {});
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (QMessageBox* box : {offer.get(), failure.get()}) {
        box->show();
        const QString shown = QString(box->informativeText()).remove(QChar(0x200B));
        EXPECT_LE(shown.size(), kMostAlertLength + 2);
        EXPECT_LE(shown.count(u'\n'), kMostAlertLines);
        EXPECT_TRUE(shown.contains(QChar(0x2026))) << "the cut is marked";
        EXPECT_LE(box->sizeHint().height(), screen.height());
        EXPECT_LE(box->sizeHint().width(), screen.width());
    }
    EXPECT_TRUE(QString(offer->informativeText())
                    .remove(QChar(0x200B))
                    .startsWith(QString::fromStdString(version.substr(0, 100))));
    EXPECT_TRUE(
        failure->informativeText().startsWith(QStringLiteral("line 0 of a reason from the system\nline 1")));

    // Whole texts, and a character of two code units at the cut.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString within = QStringLiteral("Build 12 is available.\nhttps://downloads.example.org/v12");
    EXPECT_EQ(fittedAlertText(within), within);
    const QString pairAtCut = QString(kMostAlertLength - 1, u' ') + emoji + QStringLiteral("tail");
    EXPECT_EQ(fittedAlertText(pairAtCut), QString(kMostAlertLength - 1, u' ') + QChar(0x2026));
}

}  // namespace
}  // namespace brisel::desktop::components
