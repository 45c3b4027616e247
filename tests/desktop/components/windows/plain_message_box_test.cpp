// Texts from the feed and the build show as they are written in the update alerts and the About panel.
#include "desktop/components/windows/plain_message_box.h"

#include <gtest/gtest.h>

#include <QLabel>

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

}  // namespace
}  // namespace brisel::desktop::components
