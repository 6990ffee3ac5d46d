#pragma once

#include <QIcon>
#include <QString>

namespace tallowdesk::shell {

// Registers the icons compiled into the shell library; call once after the
// QApplication exists (a static library's resources are not registered on
// their own).
void InitShellResources();

// The program's icon in all its sizes (ours, whatever the icon theme).
QIcon AppIcon();

// Entry image index (see EntryIconIndex) and folder-tree image: the icon
// theme's picture when it has one, else the bundled one.
QIcon EntryIcon(int index);
QIcon TreeImage(int image);

}  // namespace tallowdesk::shell
