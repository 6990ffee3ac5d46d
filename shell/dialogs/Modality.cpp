#include "Modality.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace tallowdesk::shell {

void MakeModalToItsWindow(QDialog& dialog) {
    // A window-modal dialog blocks its owner's window and that window's
    // owners; windows without an owner, such as the transfer windows, stay
    // usable. Without an owner window-modal would block nothing.
    dialog.setWindowModality(dialog.parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
}

int ExecModalToItsWindow(QDialog& dialog) {
    MakeModalToItsWindow(dialog);
    return dialog.exec();
}

namespace {

int ExecBox(QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons, QMessageBox::StandardButton byDefault) {
    QMessageBox box(icon, title, text, buttons, parent);
    box.setDefaultButton(byDefault);
    return ExecModalToItsWindow(box);
}

}  // namespace

void ShowErrorBox(QWidget* parent, const QString& title, const QString& text) {
    ExecBox(QMessageBox::Critical, parent, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void ShowWarningBox(QWidget* parent, const QString& title, const QString& text) {
    ExecBox(QMessageBox::Warning, parent, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool AskYesNo(QWidget* parent, const QString& title, const QString& text) {
    return ExecBox(QMessageBox::Question, parent, title, text, QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QString> PickFolder(QWidget* parent, const QString& title) {
    QFileDialog dialog(parent, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (ExecModalToItsWindow(dialog) != QDialog::Accepted) return std::nullopt;
    const QString dir = dialog.selectedFiles().value(0);
    if (dir.isEmpty()) return std::nullopt;
    return dir;
}

}  // namespace tallowdesk::shell
