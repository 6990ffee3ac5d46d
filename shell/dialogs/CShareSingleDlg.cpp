#include "CShareSingleDlg.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace tallowdesk::shell {

namespace {

// Item data of a row: the index of its rule in the dialog's list.
constexpr int kRuleIndexRole = Qt::UserRole + 1;

QString StatusStyle() {
    return QStringLiteral("color: rgb(0, 0, 255); background: transparent;");
}

QString Anchor(const std::string& url, const char* name) {
    return QStringLiteral("<a href=\"") + QString::fromStdString(url).toHtmlEscaped() +
           QStringLiteral("\">") + QString::fromLatin1(name) + QStringLiteral("</a>");
}

}  // namespace

CShareSingleDlg::CShareSingleDlg(std::shared_ptr<const DocEntry> entry, ShareContext context,
                                 QWidget* parent)
    : QDialog(parent), m_entry(std::move(entry)), m_context(std::move(context)) {
    setObjectName(QStringLiteral("shareSingleDialog"));
    setWindowTitle(tr("Sharing settings"));
    auto* body = new QVBoxLayout(this);
    body->setSizeConstraint(QLayout::SetFixedSize);

    m_linkSection = BuildLinkSection();
    body->addWidget(m_linkSection);

    auto* permissions = new QGroupBox(tr("Permissions"), this);
    permissions->setObjectName(QStringLiteral("permissionsGroup"));
    auto* inner = new QVBoxLayout(permissions);
    auto* visibilityTitle = new QLabel(tr("Select to change the visibility options:"), this);
    inner->addWidget(visibilityTitle);
    m_visibility = new QComboBox(this);
    m_visibility->setObjectName(QStringLiteral("visibilityBox"));
    visibilityTitle->setBuddy(m_visibility);
    m_visibility->setAccessibleName(tr("Visibility"));
    m_visibility->addItem(
        tr("Private - Only the people listed below can access. Sign-in required."));
    m_visibility->addItem(
        tr("Public on the web - Anyone on the Internet can find and access. No sign-in required."));
    inner->addWidget(m_visibility);

    m_people = new QTreeWidget(this);
    m_people->setObjectName(QStringLiteral("peopleList"));
    m_people->setColumnCount(2);
    m_people->setHeaderLabels({tr("User"), tr("Description")});
    m_people->setColumnWidth(0, 220);
    m_people->setColumnWidth(1, 160);
    m_people->setRootIsDecorated(false);
    m_people->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_people->setSelectionMode(QAbstractItemView::SingleSelection);
    m_people->setContextMenuPolicy(Qt::CustomContextMenu);
    m_people->setMinimumSize(400, 150);
    m_people->setAccessibleName(tr("People with access"));
    inner->addWidget(m_people);

    auto* addTitle = new QLabel(
        tr("Add people (email addresses, groups, or domains...), seperated by \",\":"), this);
    inner->addWidget(addTitle);
    auto* addRow = new QHBoxLayout;
    m_addresses = new QLineEdit(this);
    m_addresses->setObjectName(QStringLiteral("addressEdit"));
    addTitle->setBuddy(m_addresses);
    m_addresses->setAccessibleName(tr("Add people"));
    m_addresses->setMaxLength(1023);
    m_role = new QComboBox(this);
    m_role->setObjectName(QStringLiteral("roleBox"));
    m_role->addItems({tr("Can Edit"), tr("Can View")});
    m_role->setCurrentIndex(0);
    m_role->setAccessibleName(tr("Permission of the people added"));
    // The boxes' drop-down lists are read on their own.
    m_role->view()->setAccessibleName(m_role->accessibleName());
    m_visibility->view()->setAccessibleName(m_visibility->accessibleName());
    addRow->addWidget(m_addresses, 1);
    addRow->addWidget(m_role);
    inner->addLayout(addRow);
    body->addWidget(permissions);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setStyleSheet(StatusStyle());
    m_status->setWordWrap(true);
    body->addWidget(m_status);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_share = new QPushButton(tr("Share"), this);
    m_share->setObjectName(QStringLiteral("shareButton"));
    m_share->setDefault(true);
    auto* close = new QPushButton(tr("Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    buttons->addWidget(m_share);
    buttons->addWidget(close);
    body->addLayout(buttons);

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("ShareSettings"));
    m_canView = m_menu->addAction(tr("Can View"));
    m_canView->setObjectName(QStringLiteral("canViewAction"));
    m_canEdit = m_menu->addAction(tr("Can Edit"));
    m_canEdit->setObjectName(QStringLiteral("canEditAction"));
    m_delete = m_menu->addAction(tr("Delete"));
    m_delete->setObjectName(QStringLiteral("deleteAction"));

    // Tab goes down the dialog as it is drawn: the link section, the
    // visibility, the people, the addresses and their role, the buttons.
    setTabOrder(m_linkEdit, m_linkLabels.front());
    for (int i = 1; i < m_linkLabels.size(); ++i) setTabOrder(m_linkLabels[i - 1], m_linkLabels[i]);
    setTabOrder(m_linkLabels.back(), m_visibility);
    setTabOrder(m_visibility, m_people);
    setTabOrder(m_people, m_addresses);
    setTabOrder(m_addresses, m_role);
    setTabOrder(m_role, m_share);
    setTabOrder(m_share, close);

    connect(m_share, &QPushButton::clicked, this, &CShareSingleDlg::accept);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_visibility, &QComboBox::activated, this, &CShareSingleDlg::VisibilityChosen);
    connect(m_people, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (QMenu* menu = PreparePopup()) menu->popup(m_people->viewport()->mapToGlobal(pos));
    });
    connect(m_canView, &QAction::triggered, this, [this] { ChangeSelectedRole("reader"); });
    connect(m_canEdit, &QAction::triggered, this, [this] { ChangeSelectedRole("writer"); });
    connect(m_delete, &QAction::triggered, this, &CShareSingleDlg::DeleteSelected);

    ShowLinkSection(false);
    m_status->setText(tr("getting sharing information..."));
    SetBusy(true);
    LoadAcl();
}

QWidget* CShareSingleDlg::BuildLinkSection() {
    auto* section = new QWidget(this);
    section->setObjectName(QStringLiteral("linkSection"));
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Paste this link in email or IM:"), section));
    m_linkEdit = new QLineEdit(section);
    m_linkEdit->setObjectName(QStringLiteral("linkEdit"));
    m_linkEdit->setReadOnly(true);
    m_linkEdit->setAccessibleName(tr("Link"));
    layout->addWidget(m_linkEdit);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Or share the link using:"), section));
    const char* const sites[] = {"Gmail", "Buzz", "Facebook", "Twitter"};
    int site = 0;
    for (const char* name : {"gmailLink", "buzzLink", "facebookLink", "twitterLink"}) {
        auto* label = new QLabel(section);
        label->setObjectName(QString::fromLatin1(name));
        label->setAccessibleName(QString::fromLatin1(sites[site++]));
        label->setTextFormat(Qt::RichText);
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        // The address is already encoded: open it exactly as built.
        connect(label, &QLabel::linkActivated, this, [](const QString& url) {
            QDesktopServices::openUrl(QUrl::fromEncoded(url.toUtf8(), QUrl::StrictMode));
        });
        row->addWidget(label);
        m_linkLabels.append(label);
    }
    row->addStretch();
    layout->addLayout(row);
    return section;
}

void CShareSingleDlg::ShowLinkSection(bool shown) {
    if (shown) {
        const std::string address = m_entry->alternateHref.value_or("");
        m_linkEdit->setText(QString::fromStdString(address));
        m_links = BuildShareLinks(m_entry->title.value_or(""), address, m_context.linkHosts);
        m_linkLabels[0]->setText(Anchor(m_links.gmail, "Gmail"));
        m_linkLabels[1]->setText(Anchor(m_links.buzz, "Buzz"));
        m_linkLabels[2]->setText(Anchor(m_links.facebook, "Facebook"));
        m_linkLabels[3]->setText(Anchor(m_links.twitter, "Twitter"));
    }
    m_linkSection->setVisible(shown);
    // Hidden links are no stop for Tab nor for a screen reader.
    for (QLabel* label : m_linkLabels) label->setFocusPolicy(shown ? Qt::StrongFocus : Qt::NoFocus);
}

QString CShareSingleDlg::StatusText() const {
    return m_status->text();
}

void CShareSingleDlg::LoadAcl() {
    share_workers::LoadAcl(m_context.service, *m_entry, ShareSinglePort(this));
}

void CShareSingleDlg::SetBusy(bool busy) {
    m_busy = busy;
    m_share->setEnabled(!busy);
    m_visibility->setEnabled(!busy && m_aclRead);
}

void CShareSingleDlg::StartAction(const QString& status) {
    m_status->setText(status);
    SetBusy(true);
}

void CShareSingleDlg::AclReceived(const tinyxml2::XMLDocument& feed) {
    m_rules = ParseAclFeed(feed);
    m_people->clear();
    bool isPublic = false;
    for (std::size_t i = 0; i < m_rules.size(); ++i) {
        const AclRule& rule = m_rules[i];
        if (rule.scopeType == "default") {
            isPublic = true;
            continue;
        }
        auto* row = new QTreeWidgetItem(m_people);
        row->setText(0, QString::fromStdString(rule.scopeValue.value_or("")));
        row->setText(1, QString::fromStdString(RoleShownText(rule.role)));
        row->setData(0, kRuleIndexRole, static_cast<qulonglong>(i));
    }
    m_public = isPublic;
    m_visibility->setCurrentIndex(isPublic ? 1 : 0);
    ShowLinkSection(isPublic);
    const bool firstRead = !m_aclRead;
    m_aclRead = true;
    // Failures of the last addition stay readable after the list is rebuilt.
    m_status->setText(QString::fromStdString(m_pendingFailures));
    m_pendingFailures.clear();
    SetBusy(false);
    // The visibility box, first on screen, was disabled while the rules were
    // read, so the focus fell to the list: put it where the Tab order starts,
    // whichever came first, the window or the rules.
    if (firstRead && (!focusWidget() || focusWidget() == m_people)) m_visibility->setFocus();
}

void CShareSingleDlg::AclUnreadable(const std::string& message) {
    m_status->setText(tr("The sharing settings cannot be read: ") +
                      QString::fromStdString(message));
    SetBusy(false);
}

void CShareSingleDlg::RefreshAclList() {
    SetBusy(true);
    LoadAcl();
}

void CShareSingleDlg::SetShareStatus(const std::string& text) {
    m_status->setText(QString::fromStdString(text));
}

void CShareSingleDlg::ShareActionFailed() {
    // The box shows what the service has, not what was asked for.
    m_visibility->setCurrentIndex(m_public ? 1 : 0);
    SetBusy(false);
}

void CShareSingleDlg::PeopleAdded(const std::string& remaining, const std::string& failures) {
    m_addresses->setText(QString::fromStdString(remaining));
    m_pendingFailures = failures;
}

void CShareSingleDlg::accept() {
    if (m_busy) return;
    const std::string role = m_role->currentIndex() == 0 ? "writer" : "reader";
    const std::string text = m_addresses->text().trimmed().toStdString();
    if (text.empty()) return;
    StartAction(tr("Adding users..."));
    share_workers::AddPeople(m_context.service, *m_entry, text, role, m_context.groupsMailDomain,
                             ShareSinglePort(this));
}

void CShareSingleDlg::VisibilityChosen(int index) {
    if (m_busy || !m_aclRead) {
        m_visibility->setCurrentIndex(m_public ? 1 : 0);
        return;
    }
    if (index == 1 && !m_public) {
        StartAction(tr("changing share permissions..."));
        share_workers::SetPublic(m_context.service, *m_entry, ShareSinglePort(this));
    } else if (index == 0 && m_public) {
        for (const AclRule& rule : m_rules) {
            if (rule.scopeType != "default") continue;
            StartAction(tr("changing share permissions..."));
            share_workers::SetPrivate(m_context.service, rule.editHref.value_or(""),
                                      ShareSinglePort(this));
            return;
        }
    }
}

const AclRule* CShareSingleDlg::SelectedRule() const {
    const QList<QTreeWidgetItem*> selected = m_people->selectedItems();
    if (selected.isEmpty()) return nullptr;
    const auto index = selected.front()->data(0, kRuleIndexRole).toULongLong();
    return index < m_rules.size() ? &m_rules[index] : nullptr;
}

QMenu* CShareSingleDlg::PreparePopup() {
    const AclRule* rule = SelectedRule();
    if (!rule) return nullptr;
    const bool free = !m_busy;
    m_canView->setEnabled(free && rule->role == "writer");
    m_canEdit->setEnabled(free && rule->role == "reader");
    m_delete->setEnabled(free && (rule->role == "writer" || rule->role == "reader"));
    return m_menu;
}

void CShareSingleDlg::ChangeSelectedRole(const char* role) {
    const AclRule* rule = SelectedRule();
    if (!rule || m_busy || rule->role == "owner" || rule->role == role) return;
    const AclRule copy = *rule;
    StartAction(tr("Changing ..."));
    share_workers::ChangeRole(m_context.service, copy, role, ShareSinglePort(this));
}

void CShareSingleDlg::DeleteSelected() {
    const AclRule* rule = SelectedRule();
    if (!rule || m_busy || rule->role == "owner") return;
    const std::string editHref = rule->editHref.value_or("");
    StartAction(tr("Deleting ..."));
    share_workers::DeleteRule(m_context.service, editHref, ShareSinglePort(this));
}

}  // namespace tallowdesk::shell
