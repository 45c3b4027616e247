// Reading the appcast: fields over their caps.
#include "desktop/components/updates/appcast.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace brisel::desktop::components {
namespace {

QStringList warnings;  // what the handler below saw (main thread)

// Each field at its cap is taken; longer (up to what froze the tray) leaves the item out with a warning
// that names it, while the feed's other item stays.
TEST(Appcast, AnItemWithAFieldOverItsCapIsLeftOutAndLogged) {
    const std::string build = "<velko:build>58</velko:build>";
    const std::string enclosure = "<enclosure url=\"https://d.org/58\"/>";
    struct Row {
        const char* field;
        qsizetype cap;
        std::string item;                              // "@" stands for the field's text
        std::function<std::string(std::size_t)> text;  // of a length
    };
    const std::vector<Row> rows{
        {"title", kMaxAppcastTitleLength, "<title>@</title>" + build + enclosure,
         [](std::size_t length) {
             return std::string(length, 't');
         }},
        {"build", kMaxAppcastBuildLength, "<velko:build>@</velko:build>" + enclosure,
         [](std::size_t length) {
             return std::string(length - 2, '0') + "58";
         }},
        {"version", kMaxAppcastVersionLength, build + "<velko:version> @\n</velko:version>" + enclosure,
         [](std::size_t length) {
             return std::string(length, '1');
         }},
        {"enclosure url", kMaxAppcastDownloadLength, build + "<enclosure url=\"@\"/>",
         [](std::size_t length) {
             return "https://d.org/" + std::string(length - 14, 'a');
         }},
    };
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtWarningMsg) {
                warnings << message;
            }
        });
    for (const Row& row : rows) {
        for (const auto length : {row.cap, row.cap + 1, qsizetype{900 * 1024}}) {
            SCOPED_TRACE(std::string(row.field) + " of " + std::to_string(length));
            std::string item = row.item;
            item.replace(item.find('@'), 1, row.text(static_cast<std::size_t>(length)));
            warnings.clear();
            const auto items = parseAppcast(
                QByteArray::fromStdString("<rss xmlns:velko=\"urn:velko:update\"><channel><item>" + item +
                                          "</item><item><velko:build>3</velko:build><enclosure "
                                          "url=\"https://d.org/3\"/></item></channel></rss>"));
            ASSERT_TRUE(items) << items.error();
            const bool fits = length == row.cap;
            ASSERT_EQ(items->size(), fits ? 2U : 1U);
            EXPECT_EQ(items->front().build, fits ? 58U : 3U);
            const QString refusal = QStringLiteral(
                "Update feed: item 1 is left out, its %1 is %2 characters long and at most %3 are taken; the "
                "feed's publisher must shorten it");
            EXPECT_EQ(warnings,
                      fits ? QStringList() : QStringList(refusal.arg(row.field).arg(length).arg(row.cap)));
        }
    }
    qInstallMessageHandler(previous);
}

}  // namespace
}  // namespace brisel::desktop::components
