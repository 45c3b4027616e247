// The echo of the service's output: chunks of bytes become text for the application's standard
// output. A multi-byte character split between two chunks is kept until its end arrives; a chunk
// that is not UTF-8 is dropped.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace brisel::desktop::app {

class OutputEcho {
  public:
    // The text of `chunk` with the bytes held back from the chunk before, less an unfinished character
    // at its end (held back for the next chunk). None when there is nothing to print or the bytes are
    // not UTF-8 (then they are dropped).
    std::optional<QString> take(const QByteArray& chunk);

  private:
    QByteArray heldBack;
};

}  // namespace brisel::desktop::app
