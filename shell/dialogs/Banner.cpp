#include "Banner.h"

#include <QLabel>

namespace tallowdesk::shell {

QWidget* MakeBanner(QWidget* parent) {
    auto* banner = new QLabel(QStringLiteral("Tallowdesk"), parent);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setFixedHeight(56);
    banner->setStyleSheet(QStringLiteral(
        "QLabel#banner { border-image: url(:/tallowdesk/banner.png) 0 0 0 0 stretch stretch;"
        " color: white; font-weight: bold; font-size: 18px; padding-left: 56px; }"));
    return banner;
}

}  // namespace tallowdesk::shell
