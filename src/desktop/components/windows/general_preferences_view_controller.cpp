#include "desktop/components/windows/general_preferences_view_controller.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace brisel::desktop::components {

GeneralPreferencesViewController::GeneralPreferencesViewController(Relaunch relaunchApplication,
                                                                   AskToSave ask, QWidget* parent)
    : QWidget(parent), relaunch(std::move(relaunchApplication)), askToSave(std::move(ask)) {
    setWindowTitle(QStringLiteral("Preferences[*]"));
    // Every widget below is owned by this window through its layouts.
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QStringLiteral("Changes take effect when Velko Brisel relaunches."), this);
    note->setTextFormat(Qt::PlainText);
    layout->addWidget(note);
    auto* fields = new QFormLayout;
    auto* name = new QLineEdit(this);
    name->setObjectName(QStringLiteral("nameField"));
    fields->addRow(QStringLiteral("Name:"), name);
    layout->addLayout(fields);
    auto* buttons = new QHBoxLayout;
    auto* reset = new QPushButton(QStringLiteral("Reset"), this);
    auto* developer = new QPushButton(QStringLiteral("Developer"), this);
    auto* save = new QPushButton(QStringLiteral("Save"), this);
    buttons->addWidget(reset);
    buttons->addWidget(developer);
    buttons->addStretch();
    buttons->addWidget(save);
    layout->addLayout(buttons);
    QObject::connect(name, &QLineEdit::textEdited, this, [this] { controlTextDidChange(); });
    QObject::connect(reset, &QPushButton::clicked, this, [this] { resetClicked(); });
    QObject::connect(developer, &QPushButton::clicked, this, [this] { developerClicked(); });
    QObject::connect(save, &QPushButton::clicked, this, [this] { saveClicked(); });
}

void GeneralPreferencesViewController::resetClicked() {
    setWindowModified(true);
}

void GeneralPreferencesViewController::developerClicked() {
    setWindowModified(true);
}

void GeneralPreferencesViewController::controlTextDidChange() {
    setWindowModified(true);
}

void GeneralPreferencesViewController::saveClicked() {
    if (relaunch) {
        relaunch();
    }
}

bool GeneralPreferencesViewController::windowShouldClose() {
    if (!isWindowModified()) {
        return true;
    }
    switch (askToSave(*this)) {
        case SaveChangesAnswer::save:
            saveClicked();
            return true;
        case SaveChangesAnswer::cancel:
            return false;
        case SaveChangesAnswer::dontSave:
            setWindowModified(false);
            return true;
    }
    return true;
}

SaveChangesAnswer GeneralPreferencesViewController::askWithAlert(QWidget& window) {
    QMessageBox alert(QMessageBox::Warning, QStringLiteral("Preferences"),
                      QStringLiteral("Do you want to save your changes?"), QMessageBox::NoButton, &window);
    alert.setTextFormat(Qt::PlainText);
    QPushButton* save = alert.addButton(QStringLiteral("Save"), QMessageBox::AcceptRole);
    QPushButton* cancel = alert.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    alert.addButton(QStringLiteral("Don't Save"), QMessageBox::DestructiveRole);
    alert.setDefaultButton(save);
    alert.exec();
    if (alert.clickedButton() == save) {
        return SaveChangesAnswer::save;
    }
    if (alert.clickedButton() == cancel) {
        return SaveChangesAnswer::cancel;
    }
    return SaveChangesAnswer::dontSave;
}

void GeneralPreferencesViewController::closeEvent(QCloseEvent* event) {
    if (windowShouldClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace brisel::desktop::components
