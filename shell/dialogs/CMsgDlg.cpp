#include "CMsgDlg.h"

#include <QLabel>
#include <QVBoxLayout>

#include "Banner.h"

namespace tallowdesk::shell {

CMsgDlg::CMsgDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("processingDialog"));
    setWindowTitle(tr("Processing......"));
    setModal(false);
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(MakeBanner(this));
    m_line = new QLabel(tr("Processing....."), this);
    m_line->setObjectName(QStringLiteral("processingLine"));
    m_line->setAlignment(Qt::AlignCenter);
    m_line->setMinimumWidth(360);
    layout->addWidget(m_line);
    setFixedSize(sizeHint());
}

void CMsgDlg::SetLine(const QString& text) {
    m_line->setText(text);
}

QString CMsgDlg::Line() const {
    return m_line->text();
}

void CMsgDlg::ShowOverParent() {
    if (QWidget* p = parentWidget()) {
        const QRect area = p->window()->geometry();
        move(area.center() - rect().center());
    }
    show();
}

}  // namespace tallowdesk::shell
