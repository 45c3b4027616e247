#include "desktop/app/alerts.h"

#include <QAbstractButton>
#include <QDebug>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

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
    box->setInformativeText(alert.informativeText);
    // The texts may carry what others wrote (a program's name): never rich text or links.
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
    }
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
