#pragma once

#include <QLocale>
#include <QStringList>

class QCoreApplication;

namespace tallowdesk::shell {

// Where the program's translations are looked for, in order: the ones built
// into the program (":/i18n"), then the installed folder beside it
// (<prefix>/share/tallowdesk/translations), where a translator can add one.
QStringList TranslationFolders();

// Installs the translations of the locale into the application: the
// program's own ("tallowdesk_<language>.qm" from the first folder that has
// one) and Qt's (standard buttons of message boxes). Returns whether the
// program's own was found; without one the built-in English texts stay.
// Call on the UI thread, before any window is made.
bool InstallTranslations(QCoreApplication& app, const QLocale& locale = QLocale(),
                         const QStringList& folders = TranslationFolders());

}  // namespace tallowdesk::shell
