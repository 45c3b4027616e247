// Message boxes whose every text shows as it is written, never as markup, and whose informative text
// fits on the screen.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringView>

namespace brisel::desktop::components {

// The most of an informative text that a message box shows: lines, and characters in all. Within
// them the box with its buttons stays within a small screen.
inline constexpr qsizetype kMostAlertLines = 12;
inline constexpr qsizetype kMostAlertLength = 1000;
// The longest run of characters without a blank that a line shows without a place to wrap.
inline constexpr qsizetype kMostAlertRunLength = 40;

// `text` cut to the bounds above: "…" ends a line cut short, and "…" on a line of its own stands for
// lines left out; a longer run without a blank gets a zero-width space, where the line may
// wrap, after each kMostAlertRunLength characters. Any other text comes back as it is. Any thread.
QString fittedAlertText(QStringView text);

// Sets the box's informative text, cut by fittedAlertText, and shows it, and the box's main text, as
// plain text. A message box applies its text format to the main text only: its informative label reads
// anything that looks like markup as rich text, whose links open in another program. Every alert's
// informative text goes through here. Main thread.
void setPlainInformativeText(QMessageBox& box, const QString& informativeText);

}  // namespace brisel::desktop::components
