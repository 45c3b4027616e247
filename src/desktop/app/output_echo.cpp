#include "desktop/app/output_echo.h"

#include <QStringDecoder>
#include <algorithm>

namespace brisel::desktop::app {

namespace {

// Where an unfinished multi-byte character begins at the end of `bytes`; bytes.size() when none.
qsizetype unfinishedCharacterStart(const QByteArray& bytes) {
    constexpr qsizetype kLongestCharacter = 4;
    for (qsizetype back = 1; back <= std::min(kLongestCharacter, bytes.size()); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0U) == 0x80U) {
            continue;  // a continuation byte: the lead is further back
        }
        const qsizetype length = (byte & 0xE0U) == 0xC0U   ? 2
                                 : (byte & 0xF0U) == 0xE0U ? 3
                                 : (byte & 0xF8U) == 0xF0U ? 4
                                                           : 1;
        return length > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

}  // namespace

std::optional<QString> OutputEcho::take(const QByteArray& chunk) {
    QByteArray bytes = heldBack + chunk;
    const qsizetype complete = unfinishedCharacterStart(bytes);
    heldBack = bytes.mid(complete);
    bytes.truncate(complete);
    if (bytes.isEmpty()) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        heldBack.clear();
        return std::nullopt;
    }
    return text;
}

}  // namespace brisel::desktop::app
