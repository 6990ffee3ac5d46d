#pragma once

#include <QDialog>
#include <filesystem>

class QCheckBox;

namespace tallowdesk::shell {

// "Settings": the upload conversion and the update check of Config.xml.
// Reads the file when made; OK stores both boxes, Cancel stores nothing.
// UI thread.
class CSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSettingDlg(std::filesystem::path configPath, QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    std::filesystem::path m_configPath;
    QCheckBox* m_convert;
    QCheckBox* m_updateCheck;
};

}  // namespace tallowdesk::shell
