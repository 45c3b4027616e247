// The shared constants of common/desktop_link.h as Qt texts.
#pragma once

#include <QString>
#include <string_view>

namespace brisel::desktop::link {

inline QString qtText(std::string_view value) {
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

}  // namespace brisel::desktop::link
