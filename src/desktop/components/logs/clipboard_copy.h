// Puts a large text on the clipboard without decoding it on the main thread.
#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>
#include <optional>
#include <thread>
#include <utility>

namespace brisel::desktop::components {

// The bytes of a copy (UTF-8; bytes that are not UTF-8 become replacement characters) are decoded on a
// thread of its own; the clipboard is set, and `done` called, on the making thread once they are.
// Copies follow one another: one asked for while another is decoded waits for it, and of those that
// wait only the latest is made. The making thread must run a Qt event loop.
class ClipboardCopy {
  public:
    using Done = std::function<void()>;

    ClipboardCopy() = default;
    // Waits for a decoding in progress; copies not finished are dropped.
    ~ClipboardCopy() = default;
    ClipboardCopy(const ClipboardCopy&) = delete;
    ClipboardCopy& operator=(const ClipboardCopy&) = delete;

    void copy(QByteArray utf8, Done done);

  private:
    void decode(QByteArray utf8, Done done);

    QObject receiver;  // lives on the making thread; the decoded texts are addressed to it
    bool decoding = false;
    std::optional<std::pair<QByteArray, Done>> waiting;
    std::jthread decoder;  // last: joined before the members above go
};

}  // namespace brisel::desktop::components
