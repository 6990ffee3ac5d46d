#pragma once

#include <QDialog>
#include <filesystem>
#include <memory>

class QCheckBox;

namespace tallowdesk {
class PasswordKeyring;
}

namespace tallowdesk::shell {

// "Settings": the upload conversion, the update check and where the
// remembered password lives (Config.xml or the system keyring). Reads the
// file when made; OK stores the boxes, Cancel stores nothing. A keyring that
// refuses the move changes nothing and its message is shown in a box.
// UI thread.
class CSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSettingDlg(std::filesystem::path configPath, QWidget* parent = nullptr);
    // keyring: the one the move uses; the system's when null.
    CSettingDlg(std::filesystem::path configPath, std::shared_ptr<const PasswordKeyring> keyring,
                QWidget* parent = nullptr);
    ~CSettingDlg() override;

public slots:
    void accept() override;

private:
    std::filesystem::path m_configPath;
    QCheckBox* m_convert;
    QCheckBox* m_updateCheck;
    QCheckBox* m_keyringCheck;
    std::shared_ptr<const PasswordKeyring> m_keyring;
};

}  // namespace tallowdesk::shell
