#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>

#include "Resources.h"
#include "dialogs/CLoginDlg.h"
#include "service/ServiceClient.h"
#include "settings/ConfigFile.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

struct Fake {
    std::atomic<int> logins{0};
    std::string failWith;  // empty: success
    std::vector<SignInInput> remembered;
    std::vector<std::shared_ptr<ServiceClient>> clients;
};

LoginDependencies Deps(std::shared_ptr<Fake> fake, const std::filesystem::path& config) {
    LoginDependencies deps;
    deps.configPath = config;
    deps.testConnection = false;
    deps.makeClient = [](const std::string& email, const std::string& password) {
        return std::make_shared<ServiceClient>(email, password);
    };
    deps.clientCreated = [fake](std::shared_ptr<ServiceClient> c) {
        fake->clients.push_back(std::move(c));
    };
    deps.services.clientLogin = [fake](ServiceClient&, std::string_view,
                                       std::optional<std::string_view>,
                                       std::optional<std::string_view>) {
        ++fake->logins;
        if (!fake->failWith.empty()) throw std::runtime_error(fake->failWith);
    };
    deps.services.cookieSignIn = [](ServiceClient&) {};
    deps.services.rememberUser = [fake](const SignInInput& in) { fake->remembered.push_back(in); };
    deps.services.warnCookieFailure = [] {};
    return deps;
}

template <typename T>
T* Find(QWidget& dialog, const char* name) {
    T* w = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!w) qFatal("no widget %s", name);
    return w;
}

}  // namespace

// The sign-in dialog: remembered account, the OK sequence, retries, Cancel.
class LoginDialogTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::filesystem::path Config() const {
        return m_dir.filePath(QStringLiteral("Config.xml")).toStdString();
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        InitShellResources();
    }

    void aRememberedAccountFillsTheDialog() {
        {
            ConfigFile config(Config());
            QVERIFY(config.SaveUser("ann@example.com", "pa55word"));
        }
        auto fake = std::make_shared<Fake>();
        CLoginDlg dialog(Deps(fake, Config()));
        QCOMPARE(Find<QLineEdit>(dialog, "emailEdit")->text(), QStringLiteral("ann@example.com"));
        QCOMPARE(Find<QLineEdit>(dialog, "passwordEdit")->text(), QStringLiteral("pa55word"));
        QVERIFY(Find<QCheckBox>(dialog, "rememberCheck")->isChecked());
        QCOMPARE(Find<QLineEdit>(dialog, "passwordEdit")->echoMode(), QLineEdit::Password);
        dialog.show();
        dialog.grab().save(QStringLiteral(TALLOWDESK_SCREENSHOT_DIR "/tallowdesk-login.png"));
        ConfigFile(Config()).ClearUser();
    }

    // After Sign Out the password is not offered again (it was forgotten,
    // and a keyring may still be dropping it); after Switch Account nothing
    // of the remembered account is.
    void theDialogAfterASignOutOffersWhatWasKept_data() {
        QTest::addColumn<int>("prefill");
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("ticked");
        const QString ann = QStringLiteral("ann@example.com");
        QTest::newRow("at start") << int(LoginPrefill::RememberedAccount) << ann
                                  << QStringLiteral("pa55word") << true;
        QTest::newRow("signed out")
            << int(LoginPrefill::AccountNameOnly) << ann << QString() << true;
        QTest::newRow("switching") << int(LoginPrefill::Empty) << QString() << QString() << false;
    }
    void theDialogAfterASignOutOffersWhatWasKept() {
        QFETCH(int, prefill);
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(bool, ticked);
        {
            // The password still in the file: the dialog alone decides.
            ConfigFile config(Config());
            QVERIFY(config.SaveUser("ann@example.com", "pa55word"));
        }
        auto fake = std::make_shared<Fake>();
        LoginDependencies deps = Deps(fake, Config());
        deps.prefill = static_cast<LoginPrefill>(prefill);
        CLoginDlg dialog(std::move(deps));
        QCOMPARE(Find<QLineEdit>(dialog, "emailEdit")->text(), email);
        QCOMPARE(Find<QLineEdit>(dialog, "passwordEdit")->text(), password);
        QCOMPARE(Find<QCheckBox>(dialog, "rememberCheck")->isChecked(), ticked);
        ConfigFile(Config()).ClearUser();
    }

    void okSignsInAndClosesTheDialog() {
        auto fake = std::make_shared<Fake>();
        CLoginDlg dialog(Deps(fake, Config()));
        dialog.show();
        Find<QLineEdit>(dialog, "emailEdit")->setText(QStringLiteral("bob@example.com"));
        Find<QLineEdit>(dialog, "passwordEdit")->setText(QString(70, QLatin1Char('p')));
        Find<QCheckBox>(dialog, "rememberCheck")->setChecked(true);
        QTest::mouseClick(Find<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        QCOMPARE(Find<QLabel>(dialog, "statusLabel")->text(),
                 QStringLiteral("                    Logging in...   "));
        QVERIFY(!Find<QPushButton>(dialog, "okButton")->isEnabled());
        QVERIFY(!Find<QPushButton>(dialog, "cancelButton")->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 10000);
        QCOMPARE(fake->logins.load(), 2);
        QCOMPARE(fake->remembered.size(), std::size_t(1));
        // Regression: only the first 63 characters used to be remembered, so a
        // longer password failed at the next start.
        QCOMPARE(fake->remembered[0].password, std::string(70, 'p'));
        QVERIFY(fake->clients.back());
        QCOMPARE(fake->clients.back()->Credentials().password.value_or(""), std::string(70, 'p'));
    }

    void aFailedAttemptCanBeRetriedWithANewClient() {
        auto fake = std::make_shared<Fake>();
        fake->failWith = "Error: The username or password you entered is incorrect.";
        CLoginDlg dialog(Deps(fake, Config()));
        dialog.show();
        QTest::mouseClick(Find<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Find<QPushButton>(dialog, "okButton")->isEnabled(), 10000);
        QCOMPARE(dialog.StatusText(), QString::fromStdString(fake->failWith));
        QVERIFY(Find<QPushButton>(dialog, "cancelButton")->isEnabled());
        QVERIFY(dialog.isVisible());
        fake->failWith.clear();
        QTest::mouseClick(Find<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 10000);
        // Each attempt dropped the previous client first, then made its own.
        QCOMPARE(fake->clients.size(), std::size_t(4));
        QVERIFY(!fake->clients[2]);
        QVERIFY(fake->clients[1] != fake->clients[3]);
    }

    void cancelIsRefusedWhileSigningIn() {
        auto fake = std::make_shared<Fake>();
        CLoginDlg dialog(Deps(fake, Config()));
        dialog.show();
        dialog.accept();  // OK
        dialog.reject();  // ignored: the workers report to this dialog
        QVERIFY(dialog.isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 10000);
        CLoginDlg idle(Deps(fake, Config()));
        idle.show();
        QTest::mouseClick(Find<QPushButton>(idle, "cancelButton"), Qt::LeftButton);
        QCOMPARE(idle.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(LoginDialogTest)
#include "LoginDialogTest.moc"
