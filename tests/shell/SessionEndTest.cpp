#include <tinyxml2.h>

#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include "RememberedPassword.h"
#include "ServiceCalls.h"
#include "SessionEnd.h"
#include "TempDir.h"
#include "settings/ConfigFile.h"
#include "transfer/TransferOps.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
namespace fs = std::filesystem;

Q_DECLARE_METATYPE(tallowdesk::shell::SessionEndKind)

namespace {

// Calls that count what reaches them.
ServiceCalls CountingCalls(std::shared_ptr<int> reached) {
    ServiceCalls c;
    c.getFeed = [reached](const std::string&, tinyxml2::XMLDocument&) { ++*reached; };
    c.renameEntry = [reached](const std::string&, const std::string&) { ++*reached; };
    c.trashEntry = [reached](const std::string&) { ++*reached; };
    c.restoreEntry = [reached](const std::string&) { ++*reached; };
    c.deleteForever = [reached](const std::string&) { ++*reached; };
    c.setStarred = [reached](const std::string&, bool) { ++*reached; };
    c.createFolder = [reached](const std::string&, const std::string&, tinyxml2::XMLDocument&) {
        ++*reached;
    };
    c.transferOps = [reached]() -> std::unique_ptr<TransferOps> {
        ++*reached;
        return nullptr;
    };
    c.quotaText = [reached]() -> std::optional<std::string> {
        ++*reached;
        return std::string("You are currently using 1.00 MB.");
    };
    return c;
}

using Call = std::function<void(const ServiceCalls&)>;

}  // namespace

// Signing out: when it is refused, what the settings keep, and that the
// signed-out account's calls stop.
class SessionEndTest : public QObject {
    Q_OBJECT
private slots:
    void aRunningTransferKeepsTheAccount_data() {
        QTest::addColumn<SessionEndKind>("kind");
        QTest::addColumn<bool>("transferBusy");
        QTest::addColumn<int>("exports");
        QTest::addColumn<QString>("says");  // empty: allowed
        const auto out = SessionEndKind::SignOut;
        const auto sw = SessionEndKind::SwitchAccount;
        QTest::newRow("idle, sign out") << out << false << 0 << QString();
        QTest::newRow("idle, switch") << sw << false << 0 << QString();
        QTest::newRow("download or upload, sign out") << out << true << 0 << "then sign out.";
        QTest::newRow("download or upload, switch") << sw << true << 0 << "then switch account.";
        // Exports do not raise transferBusy; a cancelled one still winds down.
        QTest::newRow("an export") << out << false << 1 << "then sign out.";
        QTest::newRow("two exports, switch") << sw << false << 2 << "then switch account.";
        QTest::newRow("both") << out << true << 1 << "then sign out.";
    }
    void aRunningTransferKeepsTheAccount() {
        QFETCH(SessionEndKind, kind);
        QFETCH(bool, transferBusy);
        QFETCH(int, exports);
        QFETCH(QString, says);
        const QString refusal = SessionEndRefusal(kind, SessionActivity{transferBusy, exports});
        if (says.isEmpty()) {
            QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
        } else {
            QVERIFY(refusal.startsWith(QStringLiteral("Files are still being transferred.")));
            QVERIFY2(refusal.endsWith(says), qPrintable(refusal));
        }
    }

    void signingOutKeepsTheNameAndSwitchingKeepsThePassword() {
        const SessionEndPlan out = PlanSessionEnd(SessionEndKind::SignOut);
        QVERIFY(out.forgetPassword);
        QVERIFY(out.prefill == LoginPrefill::AccountNameOnly);
        const SessionEndPlan sw = PlanSessionEnd(SessionEndKind::SwitchAccount);
        QVERIFY(!sw.forgetPassword);
        QVERIFY(sw.prefill == LoginPrefill::Empty);
    }

    void theRememberedPasswordGoesTheNameStays_data() {
        QTest::addColumn<QString>("email");     // remembered before; empty: none
        QTest::addColumn<bool>("password");     // a password in Config.xml before
        QTest::addColumn<bool>("inKeyring");    // the keyring option
        QTest::addColumn<bool>("keyringGoes");  // the caller must empty the keyring
        QTest::newRow("in the file") << "ann@example.test" << true << false << false;
        QTest::newRow("in the keyring") << "ann@example.test" << false << true << true;
        // A file from before the option moved it: both places emptied.
        QTest::newRow("file and keyring") << "ann@example.test" << true << true << true;
        QTest::newRow("name only") << "ann@example.test" << false << false << false;
        QTest::newRow("nothing remembered") << "" << false << false << false;
    }
    void theRememberedPasswordGoesTheNameStays() {
        QFETCH(QString, email);
        QFETCH(bool, password);
        QFETCH(bool, inKeyring);
        QFETCH(bool, keyringGoes);
        test::TempDir dir;
        const fs::path path = dir.Path() / "Config.xml";
        {
            ConfigFile config(path);  // made with the empty layout
            QVERIFY(config.SetPasswordInKeyring(inKeyring));
            if (!email.isEmpty()) {
                QVERIFY(config.SaveUser(email.toStdString(), "s3cret pass"));
                if (!password) QVERIFY(config.ForgetPassword());
            }
        }
        const auto before = fs::last_write_time(path);
        ConfigFile config(path);
        const PasswordForget forget = ForgetRememberedPassword(config);
        QVERIFY2(forget.ok, forget.message.c_str());

        const ConfigFile after(path);
        QCOMPARE(QString::fromStdString(after.GetSavedEmail().value_or("")), email);
        QVERIFY(!after.HasSavedPassword());
        QVERIFY(!after.GetSavedPassword().has_value());
        QCOMPARE(after.GetPasswordInKeyring(), inKeyring);
        QCOMPARE(forget.keyringAccount.has_value(), keyringGoes);
        if (keyringGoes) QCOMPARE(QString::fromStdString(*forget.keyringAccount), email);
        // Nothing to forget: the file is not written at all.
        if (email.isEmpty()) QVERIFY(fs::last_write_time(path) == before);
    }

    // A malformed settings file is left alone, and that is no failure.
    void anUnreadableFileIsLeftAlone() {
        test::TempDir dir;
        const fs::path path = dir.Path() / "Config.xml";
        const std::string junk = "<configure><user><email>ann@x</email><password>";
        std::ofstream(path) << junk;
        ConfigFile config(path);
        const PasswordForget forget = ForgetRememberedPassword(config);
        QVERIFY(forget.ok);
        QVERIFY(!forget.keyringAccount);
        std::ifstream in(path);
        QCOMPARE(std::string(std::istreambuf_iterator<char>(in), {}), junk);
    }

    void theSignedOutAccountsCallsStop_data() {
        QTest::addColumn<Call>("call");
        auto doc = std::make_shared<tinyxml2::XMLDocument>();
        auto d = [doc]() -> tinyxml2::XMLDocument& { return *doc; };
        QTest::newRow("feed") << Call([d](const ServiceCalls& c) { c.getFeed("u", d()); });
        QTest::newRow("rename") << Call([](const ServiceCalls& c) { c.renameEntry("e", "t"); });
        QTest::newRow("trash") << Call([](const ServiceCalls& c) { c.trashEntry("id"); });
        QTest::newRow("restore") << Call([](const ServiceCalls& c) { c.restoreEntry("e"); });
        QTest::newRow("delete") << Call([](const ServiceCalls& c) { c.deleteForever("id"); });
        QTest::newRow("star") << Call([](const ServiceCalls& c) { c.setStarred("e", true); });
        QTest::newRow("folder") << Call(
            [d](const ServiceCalls& c) { c.createFolder("t", "p", d()); });
        QTest::newRow("transfer") << Call([](const ServiceCalls& c) { c.transferOps(); });
    }
    void theSignedOutAccountsCallsStop() {
        QFETCH(Call, call);
        auto reached = std::make_shared<int>(0);
        auto ended = std::make_shared<std::atomic<bool>>(false);
        const ServiceCalls calls = SessionServiceCalls(CountingCalls(reached), ended);
        call(calls);
        QCOMPARE(*reached, 1);
        ended->store(true);
        try {
            call(calls);
            QFAIL("a call went out after the sign-out");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("The user must be logged in."));
        }
        QCOMPARE(*reached, 1);
    }

    void theQuotaOfASignedOutAccountIsNotRead() {
        auto reached = std::make_shared<int>(0);
        auto ended = std::make_shared<std::atomic<bool>>(false);
        const ServiceCalls calls = SessionServiceCalls(CountingCalls(reached), ended);
        QVERIFY(calls.quotaText().has_value());
        ended->store(true);
        QVERIFY(!calls.quotaText().has_value());
        QCOMPARE(*reached, 1);
    }
};

QTEST_GUILESS_MAIN(SessionEndTest)
#include "SessionEndTest.moc"
