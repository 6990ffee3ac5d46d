#pragma once

#include <QString>

namespace tallowdesk::shell {

// A title as the window may draw it. Titles come from the service and may hold
// control characters, which a label would swallow or act on (a line feed
// breaks the row, a carriage return or an escape hides text): C0 controls
// become their symbols of the U+2400 block (U+0000 -> U+2400 ... U+001F ->
// U+241F, DEL -> U+2421), C1 controls (U+0080..U+009F) become \xNN. Every
// other character is kept.
QString VisibleText(const QString& text);

}  // namespace tallowdesk::shell
