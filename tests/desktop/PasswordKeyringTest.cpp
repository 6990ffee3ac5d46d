// The remembered password in a real Secret Service (gnome-keyring-daemon on
// the test's own session bus, see with_keyring.sh), and the switch that moves
// it between Config.xml and the keyring. absentService runs with no bus.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "PasswordKeyring.h"
#include "RememberedPassword.h"
#include "settings/ConfigFile.h"

using tallowdesk::ConfigFile;
using tallowdesk::PasswordKeyring;
using Status = PasswordKeyring::Status;

Q_DECLARE_METATYPE(Status)

namespace {

const std::string kEmail = "alice@home.test";
const std::string kPassword = "s3cret \xC3\xBC\"<&>";

bool Run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000)) return false;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool LockLoginKeyring() {
    return Run(QStringLiteral("gdbus"),
               {QStringLiteral("call"), QStringLiteral("--session"), QStringLiteral("--dest"),
                QStringLiteral("org.freedesktop.secrets"), QStringLiteral("--object-path"),
                QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("--method"),
                QStringLiteral("org.freedesktop.Secret.Service.Lock"),
                QStringLiteral("['/org/freedesktop/secrets/collection/login']")});
}

QByteArray FileText(const ConfigFile& config) {
    QFile f(QString::fromStdString(config.Path().string()));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class PasswordKeyringTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    PasswordKeyring m_keyring{std::chrono::seconds(20)};
    int m_files = 0;

    // A Config.xml of its own with the account remembered in the compatible form.
    std::filesystem::path FreshConfig(bool remembered) {
        const auto path = std::filesystem::path(m_dir.path().toStdString()) /
                          ("Config" + std::to_string(++m_files) + ".xml");
        ConfigFile config(path);
        if (remembered) config.SaveUser(kEmail, kPassword);
        return path;
    }

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        m_keyring.Remove(kEmail);
    }

    void storeReadRemove() {
        QCOMPARE(m_keyring.Read(kEmail).status, Status::NotFound);
        QCOMPARE(m_keyring.Store(kEmail, kPassword).status, Status::Ok);
        QCOMPARE(m_keyring.Store("bob@home.test", "other").status, Status::Ok);
        const auto read = m_keyring.Read(kEmail);
        QCOMPARE(read.status, Status::Ok);
        QCOMPARE(read.password, kPassword);
        // A second store replaces the password instead of adding an item.
        QCOMPARE(m_keyring.Store(kEmail, "changed").status, Status::Ok);
        QCOMPARE(m_keyring.Read(kEmail).password, std::string("changed"));
        QCOMPARE(m_keyring.Remove(kEmail).status, Status::Ok);
        QCOMPARE(m_keyring.Read(kEmail).status, Status::NotFound);
        QCOMPARE(m_keyring.Remove(kEmail).status, Status::Ok);
        QCOMPARE(m_keyring.Read("bob@home.test").password, std::string("other"));
        m_keyring.Remove("bob@home.test");
    }

    void switchOnAndOff() {
        ConfigFile config(FreshConfig(true));
        QVERIFY(!config.GetPasswordInKeyring());

        auto moved = tallowdesk::SetPasswordInKeyring(config, m_keyring, true);
        QVERIFY2(moved.ok, moved.message.c_str());
        ConfigFile on(config.Path());
        QVERIFY(on.GetPasswordInKeyring());
        QCOMPARE(on.GetSavedEmail(), std::optional<std::string>(kEmail));
        QCOMPARE(on.GetSavedPassword(), std::optional<std::string>());
        QVERIFY(FileText(on).contains("<password/>") ||
                FileText(on).contains("<password></password>"));
        QCOMPARE(m_keyring.Read(kEmail).password, kPassword);
        const auto remembered = tallowdesk::ReadRememberedUser(on, m_keyring);
        QCOMPARE(remembered.password, std::optional<std::string>(kPassword));

        moved = tallowdesk::SetPasswordInKeyring(on, m_keyring, false);
        QVERIFY2(moved.ok, moved.message.c_str());
        ConfigFile off(config.Path());
        QVERIFY(!off.GetPasswordInKeyring());
        QCOMPARE(off.GetSavedPassword(), std::optional<std::string>(kPassword));
        QCOMPARE(m_keyring.Read(kEmail).status, Status::NotFound);
        QCOMPARE(tallowdesk::ReadRememberedUser(off, m_keyring).password,
                 std::optional<std::string>(kPassword));
    }

    void switchWithoutAccountOnlyFlipsTheOption() {
        ConfigFile config(FreshConfig(false));
        QVERIFY(tallowdesk::SetPasswordInKeyring(config, m_keyring, true).ok);
        QVERIFY(ConfigFile(config.Path()).GetPasswordInKeyring());
        QVERIFY(tallowdesk::SetPasswordInKeyring(config, m_keyring, false).ok);
        QVERIFY(!ConfigFile(config.Path()).GetPasswordInKeyring());
    }

    void rememberAndForgetWithTheOption() {
        ConfigFile config(FreshConfig(false));
        QVERIFY(config.SetPasswordInKeyring(true));
        const auto saved = tallowdesk::RememberUser(config, m_keyring, kEmail, kPassword);
        QVERIFY2(saved.ok, saved.message.c_str());
        QCOMPARE(ConfigFile(config.Path()).GetSavedEmail(), std::optional<std::string>(kEmail));
        QCOMPARE(ConfigFile(config.Path()).GetSavedPassword(), std::optional<std::string>());
        QCOMPARE(m_keyring.Read(kEmail).password, kPassword);

        tallowdesk::ForgetUser(config, m_keyring);
        QCOMPARE(ConfigFile(config.Path()).GetSavedEmail(), std::optional<std::string>());
        QCOMPARE(m_keyring.Read(kEmail).status, Status::NotFound);
    }

    // Locked: reading asks for the password instead of failing silently,
    // switching off refuses and keeps the password in the keyring, storing
    // says it is locked. Runs last: the test cannot unlock the keyring again
    // without a prompt.
    void lockedKeyring() {
        ConfigFile config(FreshConfig(true));
        QVERIFY(tallowdesk::SetPasswordInKeyring(config, m_keyring, true).ok);
        QVERIFY(LockLoginKeyring());

        QCOMPARE(m_keyring.Read(kEmail).status, Status::Locked);
        const auto remembered = tallowdesk::ReadRememberedUser(config, m_keyring);
        QCOMPARE(remembered.email, std::optional<std::string>(kEmail));
        QCOMPARE(remembered.password, std::optional<std::string>());
        QVERIFY2(remembered.message.find("locked") != std::string::npos,
                 remembered.message.c_str());

        const auto off = tallowdesk::SetPasswordInKeyring(config, m_keyring, false);
        QVERIFY(!off.ok);
        QVERIFY2(off.message.find("The password stays in the keyring.") != std::string::npos,
                 off.message.c_str());
        QVERIFY(ConfigFile(config.Path()).GetPasswordInKeyring());

        const auto stored = m_keyring.Store("bob@home.test", "other");
        QCOMPARE(stored.status, Status::Locked);

        // The refused switch removed nothing: the item is still there (locked,
        // not missing) and the file still names the account.
        QCOMPARE(m_keyring.Read(kEmail).status, Status::Locked);
        QCOMPARE(ConfigFile(config.Path()).GetSavedEmail(), std::optional<std::string>(kEmail));
    }

    // Run with no session bus: nothing is stored anywhere else and the
    // password stays in Config.xml.
    void absentService() {
        const auto stored = m_keyring.Store(kEmail, kPassword);
        QCOMPARE(stored.status, Status::Unavailable);
        QVERIFY2(stored.message.find("No system keyring is available") != std::string::npos,
                 stored.message.c_str());
        ConfigFile config(FreshConfig(true));
        const auto moved = tallowdesk::SetPasswordInKeyring(config, m_keyring, true);
        QVERIFY(!moved.ok);
        QVERIFY2(
            moved.message.find("The password stays in the settings file.") != std::string::npos,
            moved.message.c_str());
        ConfigFile after(config.Path());
        QVERIFY(!after.GetPasswordInKeyring());
        QCOMPARE(after.GetSavedPassword(), std::optional<std::string>(kPassword));
    }
};

QTEST_GUILESS_MAIN(PasswordKeyringTest)
#include "PasswordKeyringTest.moc"
