#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "ShareDialogs.h"
#include "ShareMessages.h"
#include "model/AclRule.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;

namespace tallowdesk::shell {

// "Sharing settings" of one entry: who has access (read from the entry's
// ACL feed), adding people, changing a person's role and removing a person,
// private or public on the web, and, for a public entry, its web address
// with mail and social-network links. Every request runs on a worker; one
// action at a time, and after each the rules are read again, so the list
// shows only what the service confirmed. Receiver of the sharing workers'
// messages. UI thread.
class CShareSingleDlg : public QDialog, public ShareSingleMessages {
    Q_OBJECT
public:
    CShareSingleDlg(std::shared_ptr<const DocEntry> entry, ShareContext context,
                    QWidget* parent = nullptr);

    QString StatusText() const;
    bool Busy() const { return m_busy; }
    bool IsPublic() const { return m_public; }
    const std::vector<AclRule>& Rules() const { return m_rules; }
    const ShareLinks& Links() const { return m_links; }
    // The "ShareSettings" menu with its items set for the selected person.
    QMenu* PreparePopup();

    // ShareSingleMessages
    void AclReceived(const tinyxml2::XMLDocument& feed) override;
    void AclUnreadable(const std::string& message) override;
    void RefreshAclList() override;
    void SetShareStatus(const std::string& text) override;
    void ShareActionFailed() override;
    void PeopleAdded(const std::string& remaining, const std::string& failures) override;

public slots:
    void accept() override;  // "Share": adds the people of the address box

private:
    QWidget* BuildLinkSection();
    void ShowLinkSection(bool shown);
    void VisibilityChosen(int index);
    const AclRule* SelectedRule() const;
    void ChangeSelectedRole(const char* role);
    void DeleteSelected();
    void StartAction(const QString& status);
    void SetBusy(bool busy);
    void LoadAcl();

    std::shared_ptr<const DocEntry> m_entry;
    ShareContext m_context;
    std::vector<AclRule> m_rules;
    ShareLinks m_links;
    bool m_public = false;
    bool m_aclRead = false;
    bool m_busy = false;
    std::string m_pendingFailures;

    QWidget* m_linkSection;
    QLineEdit* m_linkEdit;
    QComboBox* m_visibility;
    QTreeWidget* m_people;
    QLineEdit* m_addresses;
    QComboBox* m_role;
    QLabel* m_status;
    QPushButton* m_share;
    QMenu* m_menu;
    QAction* m_canView;
    QAction* m_canEdit;
    QAction* m_delete;
    QList<QLabel*> m_linkLabels;
};

}  // namespace tallowdesk::shell
