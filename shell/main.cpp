#include <QApplication>

#include "CTallowdeskApp.h"
#include "LocalServiceStarter.h"
#include "Resources.h"
#include "Translations.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Matches the installed desktop file, so docks group the window with it.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.tallowdesk.Tallowdesk"));
    tallowdesk::shell::InitShellResources();
    // The user's language where a translation exists, else the English texts.
    tallowdesk::shell::InstallTranslations(app);
    // The default settings name the service on this machine: start it if needed.
    tallowdesk::shell::EnsureLocalService(nullptr);
    tallowdesk::shell::CTallowdeskApp tallowdesk;
    if (!tallowdesk.InitInstance()) return 0;
    return QApplication::exec();
}
