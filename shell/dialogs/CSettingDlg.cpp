#include "CSettingDlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "Modality.h"
#include "PasswordKeyring.h"
#include "RememberedPassword.h"
#include "settings/ConfigFile.h"

namespace tallowdesk::shell {
namespace {

QLabel* GreyNote(const QString& text, QWidget* parent) {
    auto* note = new QLabel(text, parent);
    note->setWordWrap(true);
    QPalette palette = note->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    note->setPalette(palette);
    note->setAutoFillBackground(false);
    return note;
}

}  // namespace

CSettingDlg::CSettingDlg(std::filesystem::path configPath, QWidget* parent)
    : CSettingDlg(std::move(configPath), nullptr, parent) {}

CSettingDlg::~CSettingDlg() = default;

CSettingDlg::CSettingDlg(std::filesystem::path configPath,
                         std::shared_ptr<const PasswordKeyring> keyring, QWidget* parent)
    : QDialog(parent), m_configPath(std::move(configPath)), m_keyring(std::move(keyring)) {
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(tr("Settings"));

    auto* upload = new QGroupBox(tr("File upload setting"), this);
    m_convert =
        new QCheckBox(tr("Convert documents, presentations, spreadsheets,and drawings to the "
                         "corresponding Google Docs formats "),
                      upload);
    m_convert->setObjectName(QStringLiteral("convertCheck"));
    auto* uploadNote =
        GreyNote(tr("Note: Converting to Google Docs formats will  cause the uploading file "
                    "lose its original format.  \n\r"
                    "          If you just want to backup your files, do not enable this.\n\r"
                    "          If you want to edit and collaborate online, enable this. "),
                 upload);
    uploadNote->setObjectName(QStringLiteral("convertNote"));
    auto* uploadLayout = new QVBoxLayout(upload);
    uploadLayout->addWidget(m_convert);
    uploadLayout->addWidget(uploadNote);

    auto* update = new QGroupBox(tr("Update setting"), this);
    m_updateCheck = new QCheckBox(tr("Enable automatic update check.(recommended)"), update);
    m_updateCheck->setObjectName(QStringLiteral("updateCheck"));
    auto* updateNote =
        GreyNote(tr("Enabling this will check for updates  everytime Tallowdesk starts."), update);
    updateNote->setObjectName(QStringLiteral("updateNote"));
    auto* updateLayout = new QVBoxLayout(update);
    updateLayout->addWidget(m_updateCheck);
    updateLayout->addWidget(updateNote);

    auto* password = new QGroupBox(tr("Password setting"), this);
    m_keyringCheck = new QCheckBox(tr("Store the password in the system keyring"), password);
    m_keyringCheck->setObjectName(QStringLiteral("keyringCheck"));
    auto* passwordLayout = new QVBoxLayout(password);
    passwordLayout->addWidget(m_keyringCheck);

    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(upload);
    layout->addWidget(update);
    layout->addWidget(password);
    layout->addLayout(buttons);
    setMinimumWidth(560);
    connect(ok, &QPushButton::clicked, this, &CSettingDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    const ConfigFile config(m_configPath);
    m_convert->setChecked(config.GetFileAutoConvert());
    m_updateCheck->setChecked(config.GetAutoUpdateCheck());
    m_keyringCheck->setChecked(config.GetPasswordInKeyring());
}

void CSettingDlg::accept() {
    {
        ConfigFile config(m_configPath);
        config.SetFileAutoConvert(m_convert->isChecked());
        config.SetAutoUpdateCheck(m_updateCheck->isChecked());
        if (m_keyringCheck->isChecked() != config.GetPasswordInKeyring()) {
            if (!m_keyring) m_keyring = std::make_shared<const PasswordKeyring>();
            const PasswordMove moved =
                tallowdesk::SetPasswordInKeyring(config, *m_keyring, m_keyringCheck->isChecked());
            if (!moved.ok) {
                m_keyringCheck->setChecked(config.GetPasswordInKeyring());
                ShowWarningBox(this, QStringLiteral("Tallowdesk"),
                               QString::fromStdString(moved.message));
            }
        }
    }
    QDialog::accept();
}

}  // namespace tallowdesk::shell
