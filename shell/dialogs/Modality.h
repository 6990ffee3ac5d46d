#pragma once

#include <QString>
#include <optional>

class QDialog;
class QWidget;

namespace tallowdesk::shell {

// Every dialog the program runs in a loop of its own is modal to the window it
// was opened from, not to the whole program: the transfer windows, which have
// no owner, keep their Cancel and Background while a dialog is open over the
// main window. A dialog without an owner blocks the whole program, as before.
// UI thread.
void MakeModalToItsWindow(QDialog& dialog);
int ExecModalToItsWindow(QDialog& dialog);

// The message boxes and the folder picker of the commands, modal in the same way.
void ShowErrorBox(QWidget* parent, const QString& title, const QString& text);
void ShowWarningBox(QWidget* parent, const QString& title, const QString& text);
// Yes or No, No the default; true for Yes.
bool AskYesNo(QWidget* parent, const QString& title, const QString& text);
std::optional<QString> PickFolder(QWidget* parent, const QString& title);

}  // namespace tallowdesk::shell
