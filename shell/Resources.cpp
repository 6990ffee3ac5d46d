#include "Resources.h"

#include <QtGlobal>

#include "EntryRules.h"
#include "FolderTreeModel.h"

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

namespace {

QIcon Themed(const QString& name, const QIcon& bundled) {
    return name.isEmpty() ? bundled : QIcon::fromTheme(name, bundled);
}

}  // namespace

QIcon EntryIcon(int index) {
    QIcon bundled;
    bundled.addFile(QStringLiteral(":/tallowdesk/entry16_%1.png").arg(index), QSize(16, 16));
    bundled.addFile(QStringLiteral(":/tallowdesk/entry32_%1.png").arg(index), QSize(32, 32));
    return Themed(EntryIconThemeName(index), bundled);
}

QIcon TreeImage(int image) {
    return Themed(TreeImageThemeName(image),
                  QIcon(QStringLiteral(":/tallowdesk/tree_%1.png").arg(image)));
}

}  // namespace tallowdesk::shell
