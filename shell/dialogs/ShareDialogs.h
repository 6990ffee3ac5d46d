#pragma once

#include <memory>
#include <vector>

#include "model/DocEntry.h"

class QWidget;

namespace tallowdesk::shell {

// Opens the sharing dialog for the entries, modally: the single-entry dialog
// for one, the multi-entry dialog for several (in row order); nothing for
// none. UI thread.
void ShowShareDialog(QWidget* parent, const std::vector<std::shared_ptr<const DocEntry>>& entries);

}  // namespace tallowdesk::shell
