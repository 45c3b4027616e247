#include "desktop/components/updates/appcast.h"

#include <QXmlStreamReader>

#include <charconv>

namespace brisel::desktop::components {

namespace {

std::optional<std::uint64_t> buildNumber(const QString& text) {
    const std::string digits = text.trimmed().toStdString();
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || value == 0) {
        return std::nullopt;
    }
    return value;
}

// Reads one <item>; the reader stands on its start element. None when the item offers no build.
std::optional<AppcastItem> readItem(QXmlStreamReader& reader) {
    AppcastItem item{};
    bool hasBuild = false;
    while (reader.readNextStartElement()) {
        const bool ours = reader.namespaceUri() == QLatin1String(kAppcastNamespace);
        if (reader.namespaceUri().isEmpty() && reader.name() == QLatin1String("title")) {
            item.title = reader.readElementText(QXmlStreamReader::SkipChildElements).toStdString();
        } else if (ours && reader.name() == QLatin1String("build")) {
            const auto build = buildNumber(reader.readElementText(QXmlStreamReader::SkipChildElements));
            hasBuild = build.has_value();
            item.build = build.value_or(0);
        } else if (ours && reader.name() == QLatin1String("version")) {
            item.version =
                reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed().toStdString();
        } else if (reader.namespaceUri().isEmpty() && reader.name() == QLatin1String("enclosure")) {
            const QUrl url(reader.attributes().value(QLatin1String("url")).toString().trimmed(),
                           QUrl::StrictMode);
            if (url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty()) {
                item.download = url;
            }
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (!hasBuild || item.download.isEmpty()) {
        return std::nullopt;
    }
    return item;
}

}  // namespace

tl::expected<std::vector<AppcastItem>, std::string> parseAppcast(const QByteArray& document) {
    QXmlStreamReader reader(document);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("rss")) {
        return tl::make_unexpected(reader.hasError() ? reader.errorString().toStdString()
                                                     : std::string("the feed is not an RSS document"));
    }
    std::vector<AppcastItem> items;
    while (reader.readNextStartElement()) {
        if (reader.name() != QLatin1String("channel")) {
            reader.skipCurrentElement();
            continue;
        }
        while (reader.readNextStartElement()) {
            if (reader.name() != QLatin1String("item")) {
                reader.skipCurrentElement();
                continue;
            }
            std::optional<AppcastItem> item = readItem(reader);
            if (item && items.size() < kMaxAppcastItems) {
                items.push_back(std::move(*item));
            }
        }
    }
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();  // the rest must be well-formed too
    }
    if (reader.hasError()) {
        return tl::make_unexpected("line " + std::to_string(reader.lineNumber()) + ": " +
                                   reader.errorString().toStdString());
    }
    return items;
}

std::optional<AppcastItem> newestItemAbove(const std::vector<AppcastItem>& items,
                                           std::uint64_t runningBuild) {
    const AppcastItem* newest = nullptr;
    for (const AppcastItem& item : items) {
        if (item.build > runningBuild && (newest == nullptr || item.build > newest->build)) {
            newest = &item;
        }
    }
    return newest == nullptr ? std::nullopt : std::optional<AppcastItem>(*newest);
}

}  // namespace brisel::desktop::components
