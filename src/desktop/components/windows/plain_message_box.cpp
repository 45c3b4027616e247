#include "desktop/components/windows/plain_message_box.h"

#include <QLabel>

namespace brisel::desktop::components {

void setPlainInformativeText(QMessageBox& box, const QString& informativeText) {
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(informativeText);
    // The informative label is made by the first non-empty informative text.
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
    }
}

}  // namespace brisel::desktop::components
