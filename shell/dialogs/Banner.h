#pragma once

class QWidget;

namespace tallowdesk::shell {

// The strip with the program's mark and name across the top of its dialogs.
QWidget* MakeBanner(QWidget* parent);

}  // namespace tallowdesk::shell
