#pragma once

#include <QIcon>

namespace tallowdesk::shell {

// Registers the icons compiled into the shell library; call once after the
// QApplication exists (a static library's resources are not registered on
// their own).
void InitShellResources();

// The program's icon in all its sizes.
QIcon AppIcon();

}  // namespace tallowdesk::shell
