#include "CSearchDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tallowdesk::shell {

CSearchDlg::CSearchDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("searchDialog"));
    setWindowTitle(tr("Search"));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("queryEdit"));
    // The processing line holds 255 characters with its prefix, quotes and
    // "...": a longer query is cut here rather than later.
    m_edit->setMaxLength(kMaxSearchQueryUnits);
    auto* label = new QLabel(tr("Search &for:"), this);
    label->setBuddy(m_edit);
    auto* search = new QPushButton(tr("Search"), this);
    search->setObjectName(QStringLiteral("searchButton"));
    search->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(search);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_edit);
    layout->addLayout(buttons);
    setMinimumWidth(320);
    connect(search, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString CSearchDlg::Query() const {
    return m_edit->text();
}

}  // namespace tallowdesk::shell
