#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tallowdesk::shell {

QStringList TranslationFolders() {
    return {QStringLiteral(":/i18n"), QCoreApplication::applicationDirPath() +
                                          QStringLiteral("/../share/tallowdesk/translations")};
}

bool InstallTranslations(QCoreApplication& app, const QLocale& locale, const QStringList& folders) {
    // Qt's own texts first: the program's translation, installed later, is
    // asked first and so wins where both have a text.
    auto* qt = new QTranslator(&app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;

    for (const QString& folder : folders) {
        auto* own = new QTranslator(&app);
        if (own->load(locale, QStringLiteral("tallowdesk"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(own);
            return true;
        }
        delete own;
    }
    return false;
}

}  // namespace tallowdesk::shell
