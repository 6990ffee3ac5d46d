#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DialogMessages.h"

class QLineEdit;
class QPushButton;

namespace tallowdesk::shell {

class CLeftView;
class CTallowdeskView;
struct AppState;

// "Please input the name of the folder": asks for a name, creates the folder
// on a worker while both buttons are disabled, then puts the new folder at
// the top of the list (when the list shows its parent) and under its node in
// the tree, and closes. Cannot be closed while the worker runs. UI thread.
class CCreateFolderDlg : public QDialog, public CreateFolderMessages {
    Q_OBJECT
public:
    using ErrorBox = std::function<void(const QString& title, const QString& text)>;

    // parentUrl: the feed of the folder to create in; nothing means the
    // document list's root.
    CCreateFolderDlg(std::shared_ptr<AppState> state, std::optional<std::string> parentUrl,
                     CTallowdeskView* list, CLeftView* tree, ErrorBox errorBox,
                     QWidget* parent = nullptr);

    const std::string& ParentUrl() const { return m_parentUrl; }
    bool Working() const { return m_working; }

    void CreateNewFolderFinished(const tinyxml2::XMLDocument* reply) override;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnOk();

    std::shared_ptr<AppState> m_state;
    std::string m_parentUrl;
    QPointer<CTallowdeskView> m_list;
    QPointer<CLeftView> m_tree;
    ErrorBox m_errorBox;
    QLineEdit* m_edit;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_working = false;
};

}  // namespace tallowdesk::shell
