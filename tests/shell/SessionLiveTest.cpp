#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "ActionHandler.h"
#include "AppState.h"
#include "CLeftView.h"
#include "CMainFrame.h"
#include "CTallowdeskApp.h"
#include "CTallowdeskView.h"
#include "Categories.h"
#include "DemoService.h"
#include "DownloadGate.h"
#include "EntryListModel.h"
#include "FolderTreeModel.h"
#include "ListCommands.h"
#include "Resources.h"
#include "Server.h"
#include "Store.h"
#include "TempDir.h"
#include "Worker.h"
#include "dialogs/TransferProgressDlg.h"
#include "model/FeedCatalogue.h"
#include "service/ServiceClient.h"
#include "settings/ConfigFile.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferOps.h"
#include "transfer/TransferProgressSink.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
using tallowdesk::test::CategoryUrl;
namespace fs = std::filesystem;

namespace {

constexpr const char* kBob = "bob@tallowdesk.test";
constexpr const char* kBobPassword = "bob-pass-1";

using Gate = tallowdesk::test::DownloadGate;
using tallowdesk::test::GatedOps;

template <typename T>
T* Find(QWidget& dialog, const char* name) {
    T* w = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!w) qFatal("no widget %s", name);
    return w;
}

// What the next sign-in dialog showed when it opened.
struct Offered {
    QString email;
    QString password;
    bool remember = false;
    bool seen = false;
    bool passwordInSettings = false;  // Config.xml still held one then
};

// Types into the next sign-in dialog that opens (modal or not) and presses
// OK, or Cancel when email is empty.
void AnswerNextSignIn(const fs::path& config, std::shared_ptr<Offered> offered, QString email,
                      QString password, bool remember) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* dialog = qobject_cast<CLoginDlg*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || dialog->Busy()) return;
        timer->stop();
        timer->deleteLater();
        offered->email = Find<QLineEdit>(*dialog, "emailEdit")->text();
        offered->password = Find<QLineEdit>(*dialog, "passwordEdit")->text();
        offered->remember = Find<QCheckBox>(*dialog, "rememberCheck")->isChecked();
        offered->passwordInSettings = ConfigFile(config).HasSavedPassword();
        offered->seen = true;
        if (email.isEmpty()) {
            QTest::mouseClick(Find<QPushButton>(*dialog, "cancelButton"), Qt::LeftButton);
            return;
        }
        Find<QLineEdit>(*dialog, "emailEdit")->setText(email);
        Find<QLineEdit>(*dialog, "passwordEdit")->setText(password);
        Find<QCheckBox>(*dialog, "rememberCheck")->setChecked(remember);
        QTest::mouseClick(Find<QPushButton>(*dialog, "okButton"), Qt::LeftButton);
    });
    timer->start();
}

std::string QuotaSentence(server::Server& service, const char* email) {
    char used[64];
    std::snprintf(used, sizeof used, "%.2f",
                  static_cast<double>(service.GetStore().UsageBytes(email)) / (1024.0 * 1024.0));
    return std::string("You are currently using ") + used + " MB.";
}

}  // namespace

// Sign Out and Switch Account through the application object against the
// local document service: the window of the next account shows nothing of
// the one before, the settings keep what each command promises, and a
// running download keeps its account.
class SessionLiveTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<server::Server> m_server;
    std::unique_ptr<CTallowdeskApp> m_app;
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
    std::optional<QString> m_pickedFolder;
    QStringList m_errors;
    int m_quits = 0;

    fs::path ConfigPath() const {
        return m_dir.filePath(QStringLiteral("Config.xml")).toStdString();
    }
    CMainFrame* Frame() const { return m_app->Frame(); }
    CTallowdeskView* List() const { return Frame()->List(); }
    QStringList Titles() const {
        QStringList titles;
        for (int r = 0; r < List()->Model()->rowCount(); ++r) titles << List()->Model()->TitleAt(r);
        titles.sort();
        return titles;
    }
    QStringList TreeTitles() const {
        QStringList titles;
        const QAbstractItemModel* m = Frame()->Tree()->model();
        for (int r = 0; r < m->rowCount(); ++r) titles << m->index(r, 0).data().toString();
        return titles;
    }
    // A new window is up and has listed its first place. The old one is
    // watched by a guard: once it is deleted, the new window may well be
    // made at its very address.
    void WaitForWindow(const QPointer<CMainFrame>& old) {
        QTRY_VERIFY_WITH_TIMEOUT(
            Frame() && (old.isNull() || Frame() != old.data()) && Frame()->isVisible(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!List()->Processing(), 30000);
    }
    void ShowStarred() {
        m_app->State()->navigation.Open(
            CurrentLocation{CategoryUrl(" Starred"), " Starred", false, false});
        List()->RefreshList();
        QTRY_VERIFY_WITH_TIMEOUT(!List()->Processing(), 30000);
    }
    std::string SignedInEmail() const {
        return m_app->State()->client ? m_app->State()->client->Credentials().email.value_or("")
                                      : std::string();
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        InitShellResources();
        m_server = StartDemoService(m_dir.filePath(QStringLiteral("server")));
        m_server->AddUser(kBob, kBobPassword);
        server::NewEntry plans;
        plans.kind = "folder";
        plans.title = "Bob's plans";
        m_server->GetStore().Create(kBob, plans);
        server::NewEntry notes;
        notes.kind = "file";
        notes.title = "bob-notes.txt";
        notes.mime = "text/plain";
        notes.content = std::string(300 * 1024, 'b');
        m_server->GetStore().Create(kBob, notes);

        m_app = std::make_unique<CTallowdeskApp>();
        SessionHooks hooks;
        hooks.configPath = ConfigPath();
        hooks.login = [](LoginDependencies& deps) {
            deps.testConnection = false;
            deps.services.warnCookieFailure = [] { qWarning("cookie sign-in failed"); };
        };
        hooks.commands = [this] {
            CommandHooks c;
            c.pickFolder = [this](QWidget*, const QString&) { return m_pickedFolder; };
            c.errorBox = [this](const QString&, const QString& text) { m_errors << text; };
            c.askClash = [](QWidget*, const ClashQuestion&) {
                return ClashAnswer{ClashChoice::Skip, false};
            };
            return c;
        };
        hooks.signedIn = [gate = m_gate](AppState& state) {
            auto ops = state.calls.transferOps;
            state.calls.transferOps = [ops, gate]() -> std::unique_ptr<TransferOps> {
                return std::make_unique<GatedOps>(ops(), gate);
            };
        };
        hooks.quit = [this] { ++m_quits; };
        m_app->SetSessionHooks(std::move(hooks));

        auto offered = std::make_shared<Offered>();
        AnswerNextSignIn(ConfigPath(), offered, QString::fromLatin1(server::kDemoEmail),
                         QString::fromLatin1(server::kDemoPassword), true);
        QVERIFY(m_app->StartSession());
        WaitForWindow({});
        QCOMPARE(SignedInEmail(), std::string(server::kDemoEmail));
        QVERIFY(Titles().contains(QStringLiteral("Projects")));
    }

    void init() { m_errors.clear(); }

    // The demo account with some history, a star and its quota; then Sign
    // Out and Bob: his root, his tree, his quota, no history, no stars.
    void signingOutShowsTheNextAccountOnly() {
        QVERIFY(ConfigFile(ConfigPath()).HasSavedPassword());
        m_app->State()->navigation.Open(
            CurrentLocation{RootFolderUrl(), "Root Folder", false, true});
        List()->RefreshList();
        QTRY_VERIFY_WITH_TIMEOUT(!List()->Processing(), 30000);
        ShowStarred();
        QVERIFY(!Titles().isEmpty());  // the demo account has starred items
        QTRY_COMPARE_WITH_TIMEOUT(
            Frame()->QuotaLabel()->text(),
            QString::fromStdString(QuotaSentence(*m_server, server::kDemoEmail)), 30000);
        QVERIFY(TreeTitles().contains(QStringLiteral("Projects")));

        const QPointer<CMainFrame> old = Frame();
        auto offered = std::make_shared<Offered>();
        AnswerNextSignIn(ConfigPath(), offered, QString::fromLatin1(kBob),
                         QString::fromLatin1(kBobPassword), false);
        Frame()->Actions()->signOut->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(offered->seen, 30000);
        // The name stays for the next sign-in, the password is gone.
        QCOMPARE(offered->email, QString::fromLatin1(server::kDemoEmail));
        QCOMPARE(offered->password, QString());
        QVERIFY(offered->remember);
        QVERIFY(!offered->passwordInSettings);
        WaitForWindow(old);

        QCOMPARE(SignedInEmail(), std::string(kBob));
        QCOMPARE(m_app->State()->navigation.Current().url, RootFolderUrl());
        QCOMPARE(Titles(),
                 QStringList({QStringLiteral("Bob's plans"), QStringLiteral("bob-notes.txt")}));
        QVERIFY(!Frame()->Actions()->back->isEnabled());  // no history of the demo account
        QTRY_VERIFY_WITH_TIMEOUT(TreeTitles().contains(QStringLiteral("Bob's plans")), 30000);
        QVERIFY(!TreeTitles().contains(QStringLiteral("Projects")));
        const QString bobQuota = QString::fromStdString(QuotaSentence(*m_server, kBob));
        QVERIFY(bobQuota != QString::fromStdString(QuotaSentence(*m_server, server::kDemoEmail)));
        QTRY_COMPARE_WITH_TIMEOUT(Frame()->QuotaLabel()->text(), bobQuota, 30000);
        ShowStarred();
        QCOMPARE(Titles(), QStringList());
        // Bob did not tick "Remember me": nothing is remembered any more.
        QVERIFY(!ConfigFile(ConfigPath()).GetSavedEmail());
    }

    // A download runs: neither command ends the session, the download ends
    // whole, and afterwards the session can end.
    void aRunningDownloadKeepsTheAccount() {
        const fs::path dest = m_dir.filePath(QStringLiteral("downloads")).toStdString();
        fs::create_directories(dest);
        m_app->State()->navigation.Open(
            CurrentLocation{RootFolderUrl(), "Root Folder", false, true});
        List()->RefreshList();
        QTRY_VERIFY_WITH_TIMEOUT(!List()->Processing(), 30000);
        int row = -1;
        for (int r = 0; r < List()->Model()->rowCount(); ++r)
            if (List()->Model()->TitleAt(r) == QStringLiteral("bob-notes.txt")) row = r;
        QVERIFY(row >= 0);
        List()->Selection()->select(
            List()->Model()->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_pickedFolder = QString::fromStdString(dest.string());
        m_gate->Arm();
        CMainFrame* frame = Frame();
        frame->Actions()->download->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(m_gate->Reached(), 30000);
        QVERIFY(transferBusy.load());

        frame->Actions()->signOut->trigger();
        frame->Actions()->switchAccount->trigger();
        QCoreApplication::processEvents();
        QCOMPARE(m_errors.size(), 2);
        QVERIFY2(m_errors[0].endsWith(QStringLiteral("then sign out.")), qPrintable(m_errors[0]));
        QVERIFY2(m_errors[1].endsWith(QStringLiteral("then switch account.")),
                 qPrintable(m_errors[1]));
        QTest::qWait(200);  // nothing queued ends the session later either
        QCOMPARE(Frame(), frame);
        QVERIFY(frame->isVisible());
        QVERIFY(!m_app->LoginDialog());
        QCOMPARE(SignedInEmail(), std::string(kBob));

        m_gate->Open();
        QTRY_VERIFY_WITH_TIMEOUT(!transferBusy.load(), 30000);
        if (TransferProgressDlg* d = frame->Commands()->LastTransferDialog())
            QVERIFY2(d->DetailLines().isEmpty(),
                     qPrintable(d->DetailLines().join(QLatin1Char('\n'))));
        QCOMPARE(test::ReadAll(dest / "bob-notes.txt"), std::string(300 * 1024, 'b'));
    }

    // Bob signs in with "Remember me"; Switch Account opens an empty dialog
    // and keeps his password; Cancel there ends the program.
    void switchingKeepsThePasswordAndCancelEnds() {
        const QPointer<CMainFrame> old = Frame();
        auto first = std::make_shared<Offered>();
        AnswerNextSignIn(ConfigPath(), first, QString::fromLatin1(kBob),
                         QString::fromLatin1(kBobPassword), true);
        Frame()->Actions()->switchAccount->trigger();
        WaitForWindow(old);
        QVERIFY(first->email.isEmpty());
        QCOMPARE(ConfigFile(ConfigPath()).GetSavedPassword().value_or(""),
                 std::string(kBobPassword));

        auto second = std::make_shared<Offered>();
        AnswerNextSignIn(ConfigPath(), second, QString(), QString(), false);  // Cancel
        Frame()->Actions()->switchAccount->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_quits, 1, 30000);
        QCOMPARE(second->email, QString());
        QCOMPARE(second->password, QString());
        QVERIFY(!second->remember);
        QVERIFY(second->passwordInSettings);
        QVERIFY(!Frame());
        const ConfigFile config(ConfigPath());
        QCOMPARE(config.GetSavedEmail().value_or(""), std::string(kBob));
        QCOMPARE(config.GetSavedPassword().value_or(""), std::string(kBobPassword));
    }

    void cleanupTestCase() {
        m_app.reset();
        // No worker may still be inside a TLS request when the process ends.
        QTRY_COMPARE_WITH_TIMEOUT(RunningWorkers().load(), 0, 30000);
    }
};

QTEST_MAIN(SessionLiveTest)
#include "SessionLiveTest.moc"
