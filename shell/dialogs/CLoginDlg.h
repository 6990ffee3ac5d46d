#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <memory>

#include "../SessionEnd.h"
#include "../SignInFlow.h"
#include "../UiMessages.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tallowdesk {
class ServiceClient;
}

namespace tallowdesk::shell {

// What the sign-in dialog needs from the application.
struct LoginDependencies {
    SignInServices services = DefaultSignInServices();
    // Makes the client of one attempt (throws std::runtime_error).
    std::function<std::shared_ptr<ServiceClient>(const std::string& email,
                                                 const std::string& password)>
        makeClient;
    // The application stores the new client (the previous one goes first).
    std::function<void(std::shared_ptr<ServiceClient>)> clientCreated;
    // Starts the update check; empty until updates are supported.
    std::function<void()> startUpdateCheck;
    std::filesystem::path configPath;  // empty: the default Config.xml
    bool testConnection = true;
    // What the fields hold at opening: after a sign-out the password is not
    // filled in again, after a switch of account nothing is.
    LoginPrefill prefill = LoginPrefill::RememberedAccount;
};

// The modal sign-in dialog. Each OK makes a new client and runs the two
// sign-in workers on it; "Login Finished" closes the dialog with OK. It is
// the receiver of the sign-in workers' messages. UI thread.
class CLoginDlg : public QDialog, public SignInMessages {
    Q_OBJECT
public:
    explicit CLoginDlg(LoginDependencies deps, QWidget* parent = nullptr);

    QString StatusText() const;
    bool Busy() const { return m_busy; }

    // SignInMessages, called through a SignInPort.
    void LoginFinished() override;
    void SetStatusText(const std::string& text) override;
    void EnableButtons() override;
    SignInInput ReadInput() override;
    std::optional<std::string> AskCaptcha(const std::string& picturePath) override;

public slots:
    void accept() override;
    void reject() override;

private:
    void LoadRememberedUser();
    void TestConnection();
    void SetButtonsEnabled(bool on);

    LoginDependencies m_deps;
    QLineEdit* m_email;
    QLineEdit* m_password;
    QCheckBox* m_remember;
    QLabel* m_status;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    bool m_busy = false;
    bool m_offline = false;
};

// True when every service host is this machine (no outside network needed).
bool HostsAreLocal();

}  // namespace tallowdesk::shell
