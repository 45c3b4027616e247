#include "desktop/components/updates/appcast.h"

#include <QDebug>
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

// The first field of an item that is longer than its cap.
struct OversizedField {
    const char* name;
    qsizetype length;
    qsizetype cap;
};

// `text` when it fits `cap`; otherwise notes the field in `oversized` (the first one stays).
QString capped(QString text, const char* name, qsizetype cap, std::optional<OversizedField>& oversized) {
    if (text.size() <= cap) {
        return text;
    }
    if (!oversized) {
        oversized = OversizedField{name, text.size(), cap};
    }
    return {};
}

// Reads one <item>; the reader stands on its start element. None when the item offers no build or
// a field is oversized (then logged; `position` counts the channel's items from 1).
std::optional<AppcastItem> readItem(QXmlStreamReader& reader, std::size_t position) {
    AppcastItem item{};
    bool hasBuild = false;
    std::optional<OversizedField> oversized;
    const auto elementText = [&reader] {
        return reader.readElementText(QXmlStreamReader::SkipChildElements);
    };
    while (reader.readNextStartElement()) {
        const bool ours = reader.namespaceUri() == QLatin1String(kAppcastNamespace);
        if (reader.namespaceUri().isEmpty() && reader.name() == QLatin1String("title")) {
            item.title = capped(elementText(), "title", kMaxAppcastTitleLength, oversized).toStdString();
        } else if (ours && reader.name() == QLatin1String("build")) {
            const auto build =
                buildNumber(capped(elementText().trimmed(), "build", kMaxAppcastBuildLength, oversized));
            hasBuild = build.has_value();
            item.build = build.value_or(0);
        } else if (ours && reader.name() == QLatin1String("version")) {
            item.version =
                capped(elementText().trimmed(), "version", kMaxAppcastVersionLength, oversized).toStdString();
        } else if (reader.namespaceUri().isEmpty() && reader.name() == QLatin1String("enclosure")) {
            const QUrl url(capped(reader.attributes().value(QLatin1String("url")).toString().trimmed(),
                                  "enclosure url", kMaxAppcastDownloadLength, oversized),
                           QUrl::StrictMode);
            if (url.isValid() && url.scheme() == QLatin1String("https") && !url.host().isEmpty()) {
                item.download = url;
            }
            reader.skipCurrentElement();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (oversized) {
        qWarning().noquote() << QStringLiteral(
                                    "Update feed: item %1 is left out, its %2 is %3 characters long and at "
                                    "most %4 are taken; the feed's publisher must shorten it")
                                    .arg(position)
                                    .arg(QLatin1String(oversized->name))
                                    .arg(oversized->length)
                                    .arg(oversized->cap);
        return std::nullopt;
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
    std::size_t position = 0;
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
            if (items.size() >= kMaxAppcastItems) {
                reader.skipCurrentElement();
                continue;
            }
            std::optional<AppcastItem> item = readItem(reader, ++position);
            if (item) {
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
