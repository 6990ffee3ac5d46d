#include "CAboutDlg.h"

#include <QDesktopServices>
#include <QFont>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <memory>

#include "../Notifier.h"
#include "../Worker.h"
#include "LinkLabel.h"
#include "settings/ServiceHosts.h"

namespace tallowdesk::shell {
namespace {

QLabel* Link(const QString& url, const QString& text, QWidget* parent) {
    return new LinkLabel(url, text, parent);
}

}  // namespace

CAboutDlg::CAboutDlg(QuotaSource quota, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(tr("About Tallowdesk"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/tallowdesk/app32.png")));
    icon->setAccessibleName(tr("Tallowdesk logo"));
    top->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    top->addLayout(text, 1);
    layout->addLayout(top);

    QFont bold(QStringLiteral("Verdana"));
    bold.setPixelSize(14);
    bold.setBold(true);
    auto* name = new QLabel(QStringLiteral("Tallowdesk"), this);
    name->setObjectName(QStringLiteral("productName"));
    name->setFont(bold);
    auto* version = new QLabel(QStringLiteral(TALLOWDESK_VERSION), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    version->setFont(bold);
    text->addWidget(name);
    text->addWidget(version);

    const QString home = QStringLiteral("http://") + QString::fromStdString(Hosts().homeHost);
    auto* homeRow = new QHBoxLayout;
    auto* homeTitle = new QLabel(tr("Homepage:"), this);
    homeRow->addWidget(homeTitle);
    QLabel* homeLink = Link(home, home, this);
    homeTitle->setBuddy(homeLink);
    homeLink->setObjectName(QStringLiteral("homeLink"));
    homeRow->addWidget(homeLink);
    homeRow->addStretch();
    text->addLayout(homeRow);

    m_quotaTitle = new QLabel(tr("Your Google account space informaiton:"), this);
    m_quotaTitle->setObjectName(QStringLiteral("quotaTitle"));
    m_quota = new QLabel(this);
    m_quota->setObjectName(QStringLiteral("quotaText"));
    m_addStorage = Link(
        QString::fromStdString(AccountsPageUrl(Hosts().accountsHost, "/accounts/PurchaseStorage")),
        tr("Add storage"), this);
    m_addStorage->setObjectName(QStringLiteral("addStorageLink"));
    text->addWidget(m_quotaTitle);
    text->addWidget(m_quota);
    text->addWidget(m_addStorage);
    m_quotaTitle->hide();
    m_quota->hide();
    m_addStorage->hide();

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignRight);

    if (quota) {
        struct Block {
            QuotaSource quota;
            QPointer<CAboutDlg> dialog;
        };
        StartWorker(std::make_unique<Block>(Block{std::move(quota), this}), [](Block& b) {
            std::optional<std::string> sentence;
            try {
                sentence = b.quota();
            } catch (...) {
                return;  // quota failures are silent
            }
            if (!sentence) return;
            notifier::Post([dialog = b.dialog, text = *sentence] {
                if (dialog) dialog->ShowQuota(text);
            });
        });
    }
}

void CAboutDlg::ShowQuota(const std::string& text) {
    if (text.size() <= 3) return;
    m_quota->setText(QString::fromStdString(text));
    m_quota->show();
    m_addStorage->show();
    m_quotaTitle->show();
}

}  // namespace tallowdesk::shell
