#include "desktop/app/alerts.h"

#include <QAbstractButton>
#include <QDebug>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "desktop/components/windows/plain_message_box.h"

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
    qInfo().noquote() << "Alert:" << alert.message;
    // Owned by Qt from here on: deleted when closed.
    auto box = std::make_unique<QMessageBox>(iconOf(alert.style), alert.message, QString());
    components::setPlainInformativeText(*box, alert.informativeText);
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
