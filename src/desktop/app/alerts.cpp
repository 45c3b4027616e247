#include "desktop/app/alerts.h"

#include <QAbstractButton>
#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "common/desktop_link.h"
#include "desktop/components/windows/plain_message_box.h"
#include "desktop/link/link_text.h"

namespace brisel::desktop::app {

namespace {

QMessageBox::Icon iconOf(AlertStyle style) {
    switch (style) {
        case AlertStyle::informational:
            return QMessageBox::Information;
        case AlertStyle::warning:
            return QMessageBox::Warning;
        case AlertStyle::critical:
            return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void MessageBoxAlerts::show(const Alert& alert, Answer answer) {
    // Owned by Qt from here on: deleted when closed. The message is the box's main text; the window
    // title names the program.
    auto box = std::make_unique<QMessageBox>(iconOf(alert.style),
                                             link::qtText(desktop_link::kApplicationProgram), alert.message);
    components::setPlainInformativeText(*box, alert.informativeText);
    qInfo().noquote() << "Alert:"
                      << alert.message + QStringLiteral(": ") +
                             alert.informativeText.left(components::kMostAlertLength).replace(u'\n', u' ');
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    QList<QAbstractButton*> buttons;
    for (const QString& title : alert.buttons) {
        buttons.append(
            box->addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    }
    QMessageBox* shown = box.release();
    QObject::connect(shown, &QMessageBox::finished, shown, [shown, buttons, answer = std::move(answer)] {
        const qsizetype chosen = buttons.indexOf(shown->clickedButton());
        answer(kFirstButton + static_cast<int>(chosen >= 0 ? chosen : buttons.size() - 1));
    });
    shown->open();
}

}  // namespace brisel::desktop::app
