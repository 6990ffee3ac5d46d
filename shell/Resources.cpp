#include "Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitTallowdeskResources() {
    Q_INIT_RESOURCE(tallowdesk);
}

namespace tallowdesk::shell {

void InitShellResources() {
    InitTallowdeskResources();
}

QIcon AppIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/tallowdesk/app16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/tallowdesk/app32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/tallowdesk/app.png"), QSize(48, 48));
    return icon;
}

}  // namespace tallowdesk::shell
