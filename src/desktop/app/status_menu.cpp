#include "desktop/app/status_menu.h"

#include <QCursor>
#include <QDebug>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <utility>

namespace brisel::desktop::app {

namespace {

// The "V" of the menu-bar icon, drawn so that it needs no image file.
QIcon menuBarIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(size * 7 / 8);
        painter.setFont(font);
        painter.setPen(QColor(0x2e, 0x7d, 0xd1));
        painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("V"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

StatusMenu::StatusMenu(MenuHooks menuHooks)
    : hooks(std::move(menuHooks)), appMenu(std::make_unique<QMenu>()) {
    statusLine = appMenu->addAction(QString());
    statusLine->setEnabled(false);
    setStatusTitle(QString::fromUtf8(kStartingTitle));
    appMenu->addSeparator();
    connect(appMenu->addAction(QStringLiteral("Check for Updates")), &QAction::triggered, this,
            &StatusMenu::checkForUpdatesChosen);
    connect(appMenu->addAction(QStringLiteral("Preferences")), &QAction::triggered, this,
            [this] { hooks.preferences(); });
    connect(appMenu->addAction(QStringLiteral("Logs")), &QAction::triggered, this, [this] { hooks.logs(); });
    appMenu->addSeparator();
    openAtLoginItem = appMenu->addAction(QStringLiteral("Open at Login"));
    openAtLoginItem->setCheckable(true);
    connect(openAtLoginItem, &QAction::triggered, this, [this](bool checked) {
        // Qt flipped the mark already; it shows the setting only once the owner confirms it.
        openAtLoginItem->setChecked(!checked);
        emit openAtLoginChosen(checked);
    });
    connect(appMenu->addAction(QStringLiteral("About")), &QAction::triggered, this,
            [this] { hooks.about(); });
    appMenu->addSeparator();
    connect(appMenu->addAction(QStringLiteral("Quit")), &QAction::triggered, this, &StatusMenu::quitChosen);
    connect(appMenu.get(), &QMenu::aboutToShow, this, &StatusMenu::aboutToShow);
}

StatusMenu::~StatusMenu() = default;

void StatusMenu::show() {
    statusBarItem = std::make_unique<QSystemTrayIcon>(menuBarIcon());
    statusBarItem->setToolTip(QStringLiteral("Velko Brisel"));
    statusBarItem->setContextMenu(appMenu.get());
    connect(statusBarItem.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    displayMenu();
                }
            });
    statusBarItem->show();
}

void StatusMenu::setStatusTitle(const QString& title) {
    qInfo().noquote() << "Status:" << title;
    currentStatusTitle = title;
    // A title may carry names from the system (a program on the port): each "&" shows as written
    // instead of marking the next letter as the item's mnemonic.
    statusLine->setText(QString(title).replace(u'&', QStringLiteral("&&")));
}

void StatusMenu::setOpenAtLogin(bool on) {
    openAtLoginItem->setChecked(on);
}

void StatusMenu::displayMenu() {
    appMenu->popup(QCursor::pos());
}

}  // namespace brisel::desktop::app
