#include <QApplication>

#include "CTallowdeskApp.h"
#include "Resources.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    tallowdesk::shell::InitShellResources();
    tallowdesk::shell::CTallowdeskApp tallowdesk;
    if (!tallowdesk.InitInstance()) return 0;
    return QApplication::exec();
}
