#include "desktop/components/logs/clipboard_copy.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMetaObject>
#include <QString>

namespace brisel::desktop::components {

void ClipboardCopy::copy(QByteArray utf8, Done done) {
    if (decoding) {
        waiting.emplace(std::move(utf8), std::move(done));
        return;
    }
    decode(std::move(utf8), std::move(done));
}

void ClipboardCopy::decode(QByteArray utf8, Done done) {
    decoding = true;
    if (decoder.joinable()) {
        decoder.join();  // the last decoding: it ended with handing its text over
    }
    decoder = std::jthread([this, utf8 = std::move(utf8), done = std::move(done)]() mutable {
        QString text = QString::fromUtf8(utf8);
        utf8.clear();
        QMetaObject::invokeMethod(
            &receiver,
            [this, text = std::move(text), done = std::move(done)] {
                QGuiApplication::clipboard()->setText(text);
                decoding = false;
                if (done) {
                    done();
                }
                if (waiting) {
                    auto [next, nextDone] = std::move(*std::exchange(waiting, std::nullopt));
                    decode(std::move(next), std::move(nextDone));
                }
            },
            Qt::QueuedConnection);
    });
}

}  // namespace brisel::desktop::components
