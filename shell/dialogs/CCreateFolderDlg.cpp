#include "CCreateFolderDlg.h"

#include <tinyxml2.h>

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppState.h"
#include "CLeftView.h"
#include "CTallowdeskView.h"
#include "DialogWorkers.h"
#include "model/FeedCatalogue.h"

namespace tallowdesk::shell {
namespace {

constexpr int kMaxNameUnits = 259;  // the block holds 260 units with its end

}  // namespace

CCreateFolderDlg::CCreateFolderDlg(std::shared_ptr<AppState> state,
                                   std::optional<std::string> parentUrl, CTallowdeskView* list,
                                   CLeftView* tree, ErrorBox errorBox, QWidget* parent)
    : QDialog(parent),
      m_state(std::move(state)),
      m_parentUrl(parentUrl.value_or(DocumentListUrl())),
      m_list(list),
      m_tree(tree),
      m_errorBox(std::move(errorBox)) {
    setObjectName(QStringLiteral("createFolderDialog"));
    setWindowTitle(tr("Please input the name of the folder"));
    auto* label = new QLabel(tr("Folder Name: "), this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("folderNameEdit"));
    m_edit->setMaxLength(kMaxNameUnits);
    label->setBuddy(m_edit);
    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));

    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(m_edit, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);
    setMinimumWidth(360);

    connect(m_ok, &QPushButton::clicked, this, &CCreateFolderDlg::OnOk);
    connect(m_cancel, &QPushButton::clicked, this, &CCreateFolderDlg::reject);
}

void CCreateFolderDlg::OnOk() {
    if (m_working) return;
    const QString name = m_edit->text().trimmed();
    if (name.isEmpty()) return;
    m_working = true;
    m_ok->setText(tr("Processing..."));
    m_ok->setEnabled(false);
    m_cancel->setEnabled(false);
    m_edit->setReadOnly(true);
    StartCreateFolderWorker(m_state->calls, name.toStdString(), m_parentUrl,
                            CreateFolderPort(this));
}

void CCreateFolderDlg::reject() {
    if (m_working) return;  // the worker's answer closes the dialog
    QDialog::reject();
}

void CCreateFolderDlg::closeEvent(QCloseEvent* event) {
    if (m_working) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CCreateFolderDlg::CreateNewFolderFinished(const tinyxml2::XMLDocument* reply) {
    m_working = false;
    if (!reply) {
        if (m_errorBox) m_errorBox(tr("Error"), tr("Create Folder Failed."));
        done(QDialog::Accepted);
        return;
    }
    const std::string& shown = m_state->navigation.Current().url;
    if (m_list && !IsCategoryUrl(shown) && shown == m_parentUrl)
        m_list->AddNewlyUploadedItem(*reply);

    const tinyxml2::XMLElement* entry = reply->FirstChildElement("entry");
    if (!entry) {
        done(QDialog::Accepted);
        return;
    }
    auto folder = std::make_shared<const DocEntry>(ParseEntry(*entry));
    m_state->folders.Append(folder);
    // The top-level folders hang at the tree's root; the document list and
    // the root folder's own feed both mean the top level.
    const bool atRoot = m_parentUrl == DocumentListUrl() || m_parentUrl == RootFolderUrl();
    if (m_tree)
        m_tree->AddFolderUnder(atRoot ? std::string() : m_parentUrl,
                               folder->title.value_or(std::string()), FolderContentsUrl(*folder));
    done(QDialog::Accepted);
}

}  // namespace tallowdesk::shell
