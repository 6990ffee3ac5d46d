#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "PasswordKeyring.h"
#include "dialogs/CSettingDlg.h"
#include "settings/ConfigFile.h"

using tallowdesk::ConfigFile;
using tallowdesk::PasswordKeyring;
using tallowdesk::shell::CSettingDlg;
namespace fs = std::filesystem;

namespace {

// Runs act on the next modal dialog once it is shown.
void WhenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || qobject_cast<CSettingDlg*>(modal)) return;
        timer->stop();
        timer->deleteLater();
        act(modal);
    });
    timer->start();
}

}  // namespace

// The settings dialog's keyring box: its state from Config.xml, Cancel, and
// a keyring that cannot be reached (this process's session bus points
// nowhere), which must leave the password in Config.xml and say so.
class SettingsKeyringTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    fs::path m_config;
    std::shared_ptr<const PasswordKeyring> m_keyring =
        std::make_shared<const PasswordKeyring>(std::chrono::seconds(5));

    void Click(CSettingDlg& dialog, const char* button) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
    }
    QCheckBox* Box(CSettingDlg& dialog) {
        return dialog.findChild<QCheckBox*>(QStringLiteral("keyringCheck"));
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_config = fs::path(m_dir.path().toStdString()) / "Config.xml";
        fs::remove(m_config);
    }

    void boxFollowsConfig_data() {
        QTest::addColumn<bool>("inKeyring");
        QTest::newRow("Config.xml form") << false;
        QTest::newRow("keyring") << true;
    }
    void boxFollowsConfig() {
        QFETCH(bool, inKeyring);
        QVERIFY(ConfigFile(m_config).SetPasswordInKeyring(inKeyring));
        CSettingDlg dialog(m_config, m_keyring);
        QVERIFY(Box(dialog) != nullptr);
        QCOMPARE(Box(dialog)->isChecked(), inKeyring);
        QVERIFY(!Box(dialog)->text().isEmpty());
    }

    void offByDefault() {
        CSettingDlg dialog(m_config, m_keyring);
        QVERIFY(!Box(dialog)->isChecked());
    }

    void cancelStoresNothing() {
        QVERIFY(ConfigFile(m_config).SaveUser("ann@example.org", "s3cret"));
        CSettingDlg dialog(m_config, m_keyring);
        dialog.show();
        Box(dialog)->setChecked(true);
        Click(dialog, "cancelButton");
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        const ConfigFile config(m_config);
        QVERIFY(!config.GetPasswordInKeyring());
        QCOMPARE(config.GetSavedPassword(), std::optional<std::string>("s3cret"));
    }

    void unreachableKeyringChangesNothingAndSaysSo() {
        QVERIFY(ConfigFile(m_config).SaveUser("ann@example.org", "s3cret"));
        QString told;
        WhenModal([&told](QWidget* box) {
            auto* message = qobject_cast<QMessageBox*>(box);
            if (message) told = message->text();
            box->close();
        });
        CSettingDlg dialog(m_config, m_keyring);
        dialog.show();
        Box(dialog)->setChecked(true);
        Click(dialog, "okButton");
        QVERIFY2(!told.isEmpty(), "no message box");
        QVERIFY(told.contains(QStringLiteral("The password stays in the settings file.")));
        QVERIFY(!Box(dialog)->isChecked());
        const ConfigFile config(m_config);
        QVERIFY(!config.GetPasswordInKeyring());
        QCOMPARE(config.GetSavedPassword(), std::optional<std::string>("s3cret"));
    }
};

int main(int argc, char** argv) {
    // No Secret Service for this process: its session bus is a socket that
    // does not exist.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tallowdesk-test-bus");
    QApplication app(argc, argv);
    SettingsKeyringTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SettingsKeyringTest.moc"
