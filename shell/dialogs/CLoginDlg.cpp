#include "CLoginDlg.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInformation>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <stdexcept>

#include "Banner.h"
#include "CCaptchaDlg.h"
#include "LinkLabel.h"
#include "RememberedPassword.h"
#include "Resources.h"
#include "settings/ConfigFile.h"

namespace tallowdesk::shell {
namespace {

bool IsLocalHost(const std::string& hostAndPort) {
    const QString host =
        QUrl(QStringLiteral("https://") + QString::fromStdString(hostAndPort)).host().toLower();
    return host == QLatin1String("localhost") || host.startsWith(QLatin1String("127.")) ||
           host == QLatin1String("::1");
}

}  // namespace

bool HostsAreLocal() {
    return IsLocalHost(Hosts().docsHost) && IsLocalHost(Hosts().accountsHost);
}

CLoginDlg::CLoginDlg(LoginDependencies deps, QWidget* parent)
    : QDialog(parent), m_deps(std::move(deps)) {
    // The account is remembered in the same settings file it is read from.
    if (m_deps.services.configPath.empty()) m_deps.services.configPath = m_deps.configPath;
    setObjectName(QStringLiteral("loginDialog"));
    setWindowTitle(QStringLiteral("Tallowdesk"));
    setWindowIcon(AppIcon());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    layout->addWidget(MakeBanner(this));

    auto* body = new QVBoxLayout;
    body->setContentsMargins(16, 4, 16, 0);
    layout->addLayout(body);
    body->addWidget(new QLabel(tr("Sign in with your Google Account "), this));
    auto* form = new QFormLayout;
    m_email = new QLineEdit(this);
    m_email->setObjectName(QStringLiteral("emailEdit"));
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("passwordEdit"));
    m_password->setEchoMode(QLineEdit::Password);
    // Mnemonics, so that Alt+E and Alt+P move between the fields.
    form->addRow(tr("&Email: "), m_email);
    form->addRow(tr("&Password:"), m_password);
    body->addLayout(form);
    m_remember = new QCheckBox(tr("&Remember me"), this);
    m_remember->setObjectName(QStringLiteral("rememberCheck"));
    body->addWidget(m_remember);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("statusLabel"));
    m_status->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255); background: transparent;"));
    m_status->setWordWrap(true);
    m_status->setMinimumHeight(m_status->fontMetrics().height() * 2);
    body->addWidget(m_status);

    auto* buttons = new QHBoxLayout;
    m_ok = new QPushButton(tr("OK"), this);
    m_ok->setObjectName(QStringLiteral("okButton"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    body->addLayout(buttons);

    auto* signUp = new QHBoxLayout;
    signUp->addWidget(new QLabel(tr("Don't have a Google Account?"), this));
    auto* link = new LinkLabel(
        QString::fromStdString(AccountsPageUrl(Hosts().accountsHost, "/accounts/NewAccount")),
        tr("Create one now"), this);
    link->setObjectName(QStringLiteral("createAccountLink"));
    signUp->addWidget(link);
    signUp->addStretch();
    body->addLayout(signUp);

    connect(m_ok, &QPushButton::clicked, this, &CLoginDlg::accept);
    connect(m_cancel, &QPushButton::clicked, this, &CLoginDlg::reject);

    LoadRememberedUser();
    TestConnection();
    if (m_deps.startUpdateCheck) {
        ConfigFile config =
            m_deps.configPath.empty() ? ConfigFile() : ConfigFile(m_deps.configPath);
        if (config.GetAutoUpdateCheck()) m_deps.startUpdateCheck();
    }
}

void CLoginDlg::LoadRememberedUser() {
    if (m_deps.prefill == LoginPrefill::Empty) return;
    ConfigFile config = m_deps.configPath.empty() ? ConfigFile() : ConfigFile(m_deps.configPath);
    const std::optional<std::string> email = config.GetSavedEmail();
    if (!email || email->empty()) return;
    m_email->setText(QString::fromStdString(*email));
    m_remember->setChecked(true);
    // The keyring may still be dropping the signed-out password: not asked.
    if (m_deps.prefill == LoginPrefill::AccountNameOnly) {
        m_password->setFocus(Qt::OtherFocusReason);
        return;
    }
    try {
        // From the keyring when the user chose it; a locked one says so.
        const RememberedUser user = ReadRememberedUser(config, PasswordKeyring());
        m_password->setText(QString::fromStdString(user.password.value_or("")));
        if (!user.message.empty()) m_status->setText(QString::fromStdString(user.message));
    } catch (const std::runtime_error& e) {
        // The remembered password is lost; the user types it again.
        m_status->setText(QString::fromUtf8(e.what()));
    }
}

void CLoginDlg::TestConnection() {
    // Only meaningful when a service lives elsewhere; without a platform
    // report we assume a connection.
    if (!m_deps.testConnection || HostsAreLocal()) return;
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    const QNetworkInformation* info = QNetworkInformation::instance();
    if (info && info->reachability() == QNetworkInformation::Reachability::Disconnected) {
        m_status->setText(tr("Internet connection is not available."));
        m_ok->setEnabled(false);
        m_offline = true;
    }
}

void CLoginDlg::SetButtonsEnabled(bool on) {
    m_ok->setEnabled(on && !m_offline);
    m_cancel->setEnabled(on);
}

void CLoginDlg::accept() {
    if (m_busy || m_offline) return;
    m_status->setText(tr("                    Logging in...   "));
    m_busy = true;
    SetButtonsEnabled(false);
    const std::string email = m_email->text().toStdString();
    const std::string password = m_password->text().toStdString();
    std::shared_ptr<ServiceClient> client;
    try {
        m_deps.clientCreated(nullptr);  // the previous attempt's client goes first
        client = m_deps.makeClient(email, password);
    } catch (const std::exception& e) {
        m_status->setText(QString::fromUtf8(e.what()));
        EnableButtons();
        return;
    }
    m_deps.clientCreated(client);
    StartSignInWorkers(SignInPort(this), std::move(client), m_deps.services);
}

void CLoginDlg::reject() {
    if (m_busy) return;  // a sign-in runs; Cancel comes back with the buttons
    QDialog::reject();
}

QString CLoginDlg::StatusText() const {
    return m_status->text();
}

void CLoginDlg::LoginFinished() {
    m_busy = false;
    QDialog::accept();
}

void CLoginDlg::SetStatusText(const std::string& text) {
    m_status->setText(QString::fromStdString(text));
}

void CLoginDlg::EnableButtons() {
    m_busy = false;
    SetButtonsEnabled(true);
}

SignInInput CLoginDlg::ReadInput() {
    SignInInput input;
    input.email = m_email->text().toStdString();
    input.password = m_password->text().toStdString();
    input.remember = m_remember->isChecked();
    return input;
}

std::optional<std::string> CLoginDlg::AskCaptcha(const std::string& picturePath) {
    CCaptchaDlg captcha(QString::fromStdString(picturePath), this);
    if (captcha.exec() != QDialog::Accepted) return std::nullopt;
    return captcha.Answer().toStdString();
}

}  // namespace tallowdesk::shell
