// Message boxes whose every text shows as it is written, never as markup.
#pragma once

#include <QMessageBox>
#include <QString>

namespace brisel::desktop::components {

// Sets the box's informative text and shows it, and the box's main text, as plain text. A message box
// applies its text format to the main text only: its informative label reads anything that looks like
// markup as rich text, whose links open in another program. Texts from the network, from files or
// from the system go through here. Main thread.
void setPlainInformativeText(QMessageBox& box, const QString& informativeText);

}  // namespace brisel::desktop::components
