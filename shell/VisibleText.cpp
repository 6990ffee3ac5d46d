#include "VisibleText.h"

#include <algorithm>

namespace tallowdesk::shell {

QString VisibleText(const QString& text) {
    const auto needsMapping = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F);
    };
    if (std::none_of(text.begin(), text.end(), needsMapping)) return text;
    QString shown;
    shown.reserve(text.size() + 8);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            shown += QChar(static_cast<char16_t>(0x2400 + u));
        else if (u == 0x7F)
            shown += QChar(static_cast<char16_t>(0x2421));
        else if (u > 0x7F && u <= 0x9F)
            shown += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

}  // namespace tallowdesk::shell
