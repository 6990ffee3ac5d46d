#include <tinyxml2.h>

#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <future>

#include "Server.h"
#include "Store.h"
#include "Worker.h"
#include "dialogs/CShareMultiDlg.h"
#include "dialogs/CShareSingleDlg.h"
#include "dialogs/ShareDialogs.h"
#include "model/FeedCatalogue.h"
#include "service/GDataRequests.h"
#include "service/ServiceClient.h"
#include "service/Sharing.h"
#include "service/SignIn.h"
#include "settings/ServiceHosts.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

constexpr const char* kAlice = "alice@example.test";
constexpr const char* kBob = "bob@example.test";
constexpr const char* kCarol = "carol@example.test";
constexpr const char* kTeam = "team@groups.localhost";

using Rows = QList<QPair<QString, QString>>;

Rows PeopleRows(const QDialog& dialog) {
    Rows rows;
    const auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("peopleList"));
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        rows.append({list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1)});
    }
    return rows;
}

void SelectPerson(QDialog& dialog, const QString& address) {
    auto* list = dialog.findChild<QTreeWidget*>(QStringLiteral("peopleList"));
    const auto found = list->findItems(address, Qt::MatchExactly, 0);
    QVERIFY2(found.size() == 1, qPrintable(address));
    list->clearSelection();
    found.front()->setSelected(true);
}

QAction* MenuItem(QMenu* menu, const char* name) {
    return menu->findChild<QAction*>(QString::fromLatin1(name));
}

// Records the addresses the dialogs open instead of starting a browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

}  // namespace

// The sharing dialogs against the local document service in this process:
// every change is checked by a fresh read of the entry's rules.
class ShareDialogsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<server::Server> m_server;
    std::string m_host;
    std::shared_ptr<ServiceClient> m_alice;

    std::shared_ptr<ServiceClient> SignedIn(const char* email) {
        auto client = std::make_shared<ServiceClient>(email, std::string(email) + "-pw");
        ClientLogin(*client, "writely");
        return client;
    }

    std::shared_ptr<const DocEntry> Entry(const std::string& title, const char* owner = kAlice) {
        server::NewEntry fresh;
        fresh.kind = "document";
        fresh.title = title;
        const auto stored = m_server->GetStore().Create(owner, fresh);
        auto entry = std::make_shared<DocEntry>();
        entry->kind = "document";
        entry->shortId = stored.id;
        entry->title = title;
        entry->alternateHref = "https://" + m_host + "/document/d/" + stored.id + "/edit";
        return entry;
    }

    ShareContext Context() const {
        ShareContext context;
        context.service = ShareServiceFor(m_alice);
        context.groupsMailDomain = "groups.localhost";
        return context;
    }

    // "type:value=role" of every rule, read afresh from the service.
    QStringList FreshRules(const DocEntry& entry) {
        tinyxml2::XMLDocument feed;
        GetAcl(*m_alice, entry.shortId, entry.kind, feed);
        QStringList rules;
        for (const auto& rule : ParseAclFeed(feed)) {
            rules.append(QString::fromStdString(rule.scopeType.value_or("") + ":" +
                                                rule.scopeValue.value_or("") + "=" +
                                                rule.role.value_or("")));
        }
        return rules;
    }

    static bool WaitIdle(const CShareSingleDlg& dialog) {
        return QTest::qWaitFor([&] { return !dialog.Busy(); }, 20000);
    }

private slots:
    // A worker left inside a request at exit would meet the TLS library's
    // freed state: every test ends with its workers done.
    void cleanup() {
        QVERIFY(QTest::qWaitFor([] { return RunningWorkers().load() == 0; }, 30000));
    }

    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        server::ServerOptions options;
        options.dataDir = m_dir.filePath(QStringLiteral("server")).toStdString();
        options.port = 0;
        options.passwordIterations = 1000;
        m_server = std::make_unique<server::Server>(options);
        for (const char* email : {kAlice, kBob, kCarol}) {
            m_server->AddUser(email, std::string(email) + "-pw");
        }
        m_server->GetStore().AddGroupMember(kTeam, kCarol);
        m_host = "localhost:" + std::to_string(m_server->Start());
        ServiceHosts hosts = ServiceHosts::Defaults();
        hosts.docsHost = hosts.accountsHost = m_host;
        hosts.caFile = m_server->CertPath();
        SetServiceHosts(hosts);
        ResetCategoryTable();
        m_alice = SignedIn(kAlice);
    }

    void showsEveryKindOfRuleWithTheOwnerFirst() {
        const auto entry = Entry("Quarterly plan");
        auto& store = m_server->GetStore();
        store.AddAclRule(entry->shortId, "user", kBob, "writer");
        store.AddAclRule(entry->shortId, "group", kTeam, "reader");
        store.AddAclRule(entry->shortId, "domain", "example.com", "reader");
        store.AddAclRule(entry->shortId, "default", "", "reader");

        CShareSingleDlg dialog(entry, Context());
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Sharing settings"));
        QCOMPARE(dialog.StatusText(), QStringLiteral("getting sharing information..."));
        QVERIFY(!dialog.findChild<QWidget*>(QStringLiteral("linkSection"))->isVisible());
        QVERIFY(WaitIdle(dialog));
        const Rows expected = {{QString::fromLatin1(kAlice), QStringLiteral("Is owner")},
                               {QString::fromLatin1(kBob), QStringLiteral("Can edit")},
                               {QString::fromLatin1(kTeam), QStringLiteral("Can view")},
                               {QStringLiteral("example.com"), QStringLiteral("Can view")}};
        QCOMPARE(PeopleRows(dialog), expected);
        QCOMPARE(dialog.StatusText(), QString());
        QVERIFY(dialog.IsPublic());
        QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("visibilityBox"))->currentIndex(), 1);
        QVERIFY(dialog.findChild<QWidget*>(QStringLiteral("linkSection"))->isVisible());
        QCOMPARE(dialog.findChild<QLineEdit*>(QStringLiteral("linkEdit"))->text(),
                 QString::fromStdString(*entry->alternateHref));
        const QString twitter = dialog.findChild<QLabel*>(QStringLiteral("twitterLink"))->text();
        QVERIFY2(twitter.startsWith(QStringLiteral("<a href=\"http://twitter.com/home?status="
                                                   "Quarterly%20plan%20-%20https%3A%2F%2F")),
                 qPrintable(twitter));
        QVERIFY(twitter.endsWith(QStringLiteral("\">Twitter</a>")));
        dialog.grab().save(QStringLiteral(TALLOWDESK_SCREENSHOT_DIR "/share-dialog.png"));

        // The owner's row offers nothing.
        SelectPerson(dialog, QString::fromLatin1(kAlice));
        QMenu* menu = dialog.PreparePopup();
        QVERIFY(menu);
        QCOMPARE(menu->objectName(), QStringLiteral("ShareSettings"));
        for (const char* item : {"canViewAction", "canEditAction", "deleteAction"}) {
            QVERIFY2(!MenuItem(menu, item)->isEnabled(), item);
        }
        SelectPerson(dialog, QString::fromLatin1(kBob));
        dialog.PreparePopup();
        QVERIFY(MenuItem(menu, "canViewAction")->isEnabled());
        QVERIFY(!MenuItem(menu, "canEditAction")->isEnabled());
        QVERIFY(MenuItem(menu, "deleteAction")->isEnabled());
    }

    void addsChangesRemovesAndSwitchesVisibility() {
        const auto entry = Entry("Budget");
        CShareSingleDlg dialog(entry, Context());
        dialog.show();
        QVERIFY(WaitIdle(dialog));
        QVERIFY(!dialog.IsPublic());
        QVERIFY(!dialog.findChild<QWidget*>(QStringLiteral("linkSection"))->isVisible());

        auto* addresses = dialog.findChild<QLineEdit*>(QStringLiteral("addressEdit"));
        addresses->setText(QStringLiteral("bob@example.test; team@groups.localhost, example.com"));
        dialog.findChild<QComboBox*>(QStringLiteral("roleBox"))->setCurrentIndex(1);  // Can View
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("shareButton")),
                          Qt::LeftButton);
        QCOMPARE(dialog.StatusText(), QStringLiteral("Adding users..."));
        QVERIFY(WaitIdle(dialog));
        QCOMPARE(FreshRules(*entry),
                 QStringList({QStringLiteral("user:alice@example.test=owner"),
                              QStringLiteral("user:bob@example.test=reader"),
                              QStringLiteral("group:team@groups.localhost=reader"),
                              QStringLiteral("domain:example.com=reader")}));
        QCOMPARE(PeopleRows(dialog).size(), 4);
        QCOMPARE(addresses->text(), QString());

        SelectPerson(dialog, QString::fromLatin1(kBob));
        QMenu* menu = dialog.PreparePopup();
        QVERIFY(MenuItem(menu, "canEditAction")->isEnabled());
        MenuItem(menu, "canEditAction")->trigger();
        QCOMPARE(dialog.StatusText(), QStringLiteral("Changing ..."));
        QVERIFY(WaitIdle(dialog));
        QVERIFY(FreshRules(*entry).contains(QStringLiteral("user:bob@example.test=writer")));
        QVERIFY(
            PeopleRows(dialog).contains({QString::fromLatin1(kBob), QStringLiteral("Can edit")}));

        SelectPerson(dialog, QString::fromLatin1(kTeam));
        MenuItem(dialog.PreparePopup(), "deleteAction")->trigger();
        QCOMPARE(dialog.StatusText(), QStringLiteral("Deleting ..."));
        QVERIFY(WaitIdle(dialog));
        QVERIFY(!FreshRules(*entry).join(QLatin1Char(' ')).contains(QString::fromLatin1(kTeam)));
        QCOMPARE(PeopleRows(dialog).size(), 3);

        auto* visibility = dialog.findChild<QComboBox*>(QStringLiteral("visibilityBox"));
        visibility->setCurrentIndex(1);
        emit visibility->activated(1);
        QCOMPARE(dialog.StatusText(), QStringLiteral("changing share permissions..."));
        QVERIFY(WaitIdle(dialog));
        QVERIFY(FreshRules(*entry).contains(QStringLiteral("default:=reader")));
        QVERIFY(dialog.IsPublic());
        QVERIFY(dialog.findChild<QWidget*>(QStringLiteral("linkSection"))->isVisible());
        QCOMPARE(PeopleRows(dialog).size(), 3);  // "default" has no row

        // Anyone signed in may now open it.
        auto bob = SignedIn(kBob);
        tinyxml2::XMLDocument seen;
        GetFeed(*bob, DocumentListUrl() + "/document%3A" + entry->shortId, seen);
        QVERIFY(seen.FirstChildElement("entry"));

        visibility->setCurrentIndex(0);
        emit visibility->activated(0);
        QVERIFY(WaitIdle(dialog));
        QVERIFY(!FreshRules(*entry).contains(QStringLiteral("default:=reader")));
        QVERIFY(!dialog.IsPublic());
        QVERIFY(!dialog.findChild<QWidget*>(QStringLiteral("linkSection"))->isVisible());
    }

    void aFailedAddressStaysInTheBoxWithItsReason() {
        const auto entry = Entry("Minutes");
        m_server->GetStore().AddAclRule(entry->shortId, "user", kBob, "reader");
        CShareSingleDlg dialog(entry, Context());
        dialog.show();
        QVERIFY(WaitIdle(dialog));
        auto* addresses = dialog.findChild<QLineEdit*>(QStringLiteral("addressEdit"));
        // bob already has a rule; carol is new.
        addresses->setText(QStringLiteral("bob@example.test carol@example.test"));
        dialog.accept();
        QVERIFY(WaitIdle(dialog));
        QCOMPARE(addresses->text(), QString::fromLatin1(kBob));
        QCOMPARE(dialog.StatusText(),
                 QStringLiteral(
                     "bob@example.test  failed: conflict : A rule for this scope already exists."));
        QVERIFY(FreshRules(*entry).contains(QStringLiteral("user:carol@example.test=writer")));
    }

    void aSecondActionIsRefusedWhileOneRuns() {
        const auto entry = Entry("Slow one");
        ShareContext context = Context();
        std::promise<void> release;
        auto released = release.get_future().share();
        auto adds = std::make_shared<std::atomic<int>>(0);
        const auto realAdd = context.service.addRule;
        context.service.addRule = [=](const std::string& a, const std::string& b,
                                      const std::string& c, const std::string& d,
                                      const std::string& e) {
            ++*adds;
            released.wait_for(std::chrono::seconds(20));
            realAdd(a, b, c, d, e);
        };
        CShareSingleDlg dialog(entry, context);
        dialog.show();
        QVERIFY(WaitIdle(dialog));
        dialog.findChild<QLineEdit*>(QStringLiteral("addressEdit"))
            ->setText(QString::fromLatin1(kBob));
        dialog.accept();
        QVERIFY(dialog.Busy());
        dialog.findChild<QLineEdit*>(QStringLiteral("addressEdit"))
            ->setText(QString::fromLatin1(kCarol));
        dialog.accept();
        auto* visibility = dialog.findChild<QComboBox*>(QStringLiteral("visibilityBox"));
        QVERIFY(!visibility->isEnabled());
        QVERIFY(!dialog.findChild<QPushButton*>(QStringLiteral("shareButton"))->isEnabled());
        SelectPerson(dialog, QString::fromLatin1(kAlice));
        release.set_value();
        QVERIFY(WaitIdle(dialog));
        QCOMPARE(adds->load(), 1);
        QCOMPARE(FreshRules(*entry).size(), 2);
    }

    void theMultiDialogSharesEveryEntryAndReportsPerEntry() {
        const auto first = Entry("Multi one");
        const auto second = Entry("Multi two");
        const auto foreign = Entry("Carol's notes", kCarol);  // alice may not share it
        m_server->GetStore().AddAclRule(foreign->shortId, "user", kAlice, "reader");
        CShareMultiDlg dialog({first, foreign, second}, Context());
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Sharing settings"));
        dialog.findChild<QLineEdit*>(QStringLiteral("addressEdit"))
            ->setText(QStringLiteral("bob@example.test, team@groups.localhost"));
        dialog.findChild<QComboBox*>(QStringLiteral("roleBox"))->setCurrentIndex(1);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("shareButton")),
                          Qt::LeftButton);
        QCOMPARE(dialog.StatusText(), QStringLiteral("processing..."));
        QVERIFY(QTest::qWaitFor([&] { return !dialog.Busy(); }, 20000));
        for (const auto& entry : {first, second}) {
            const QStringList rules = FreshRules(*entry);
            QVERIFY(rules.contains(QStringLiteral("user:bob@example.test=reader")));
            QVERIFY(rules.contains(QStringLiteral("group:team@groups.localhost=reader")));
        }
        QCOMPARE(dialog.StatusText(), QStringLiteral("Sharing failed for 1 of 3 items."));
        auto* report = dialog.findChild<QListWidget*>(QStringLiteral("reportList"));
        QCOMPARE(report->count(), 2);
        QVERIFY(report->item(0)->text().startsWith(
            QStringLiteral("Carol's notes: bob@example.test  failed: ")));
        QVERIFY(report->item(1)->text().startsWith(
            QStringLiteral("Carol's notes: team@groups.localhost  failed: ")));
        QVERIFY(dialog.isVisible());

        // A second account sees what was shared with it.
        auto bob = SignedIn(kBob);
        tinyxml2::XMLDocument list;
        GetFeed(*bob, DocumentListUrl(), list);
        tinyxml2::XMLPrinter text;
        list.Print(&text);
        QVERIFY(QByteArray(text.CStr()).contains("Multi one"));
        QVERIFY(!QByteArray(text.CStr()).contains("Carol&apos;s notes") &&
                !QByteArray(text.CStr()).contains("Carol's notes"));
    }

    void theMultiDialogClosesWhenEverythingWasShared() {
        CShareMultiDlg dialog({Entry("All one"), Entry("All two")}, Context());
        dialog.show();
        auto* addresses = dialog.findChild<QLineEdit*>(QStringLiteral("addressEdit"));
        addresses->setText(QStringLiteral("  "));
        dialog.accept();  // nothing to share
        QVERIFY(!dialog.Busy());
        QCOMPARE(dialog.StatusText(), QString());
        addresses->setText(QString::fromLatin1(kBob));
        dialog.accept();
        // A second press while the first runs would add bob twice, which the
        // service refuses, and the dialog would stay open with a failure.
        dialog.accept();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 20000);
        QVERIFY(!dialog.isVisible());
    }

    void linksEncodeTheTitleAndTheAddress() {
        ShareLinkHosts hosts;
        const ShareLinks links =
            BuildShareLinks("Q&A #2 plan", "https://docs.example/d/1?x=a&b", hosts);
        const std::string address = "https%3A%2F%2Fdocs.example%2Fd%2F1%3Fx%3Da%26b";
        const std::string title = "Q%26A%20%232%20plan";
        QCOMPARE(links.gmail,
                 "https://mail.google.com/mail/?view=cm&ui=2&cmid=0&fs=1&tearoff=1&body=" + title +
                     "%20-%20" + address);
        QCOMPARE(links.buzz, "http://www.google.com/buzz/post?message=" + title + "%20-%20" +
                                 address + "&url=" + address);
        QCOMPARE(links.facebook, "http://www.facebook.com/share.php?u=" + address + "&t=" + title);
        QCOMPARE(links.twitter, "http://twitter.com/home?status=" + title + "%20-%20" + address);
        QCOMPARE(shell::PercentEncode("\xC3\xA9-_.~"), std::string("%C3%A9-_.~"));

        const QString config = m_dir.filePath(QStringLiteral("Config.xml"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<configure><twitterhost>x.example</twitterhost></configure>");
        file.close();
        const ShareLinkHosts read = ReadShareLinkHosts(config.toStdString());
        QCOMPARE(read.twitter, std::string("x.example"));
        QCOMPARE(read.mail, std::string("mail.google.com"));
    }

    void aLinkOpensItsAddressUnchanged() {
        const auto entry = Entry("Open & share");
        m_server->GetStore().AddAclRule(entry->shortId, "default", "", "reader");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        CShareSingleDlg dialog(entry, Context());
        dialog.show();
        QVERIFY(WaitIdle(dialog));
        auto* facebook = dialog.findChild<QLabel*>(QStringLiteral("facebookLink"));
        emit facebook->linkActivated(QString::fromStdString(dialog.Links().facebook));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(catcher.urls.size(), 1);
        QCOMPARE(catcher.urls.front().toEncoded().toStdString(), dialog.Links().facebook);
        QVERIFY(dialog.Links().facebook.find("&t=Open%20%26%20share") != std::string::npos);
    }

    void addressesGetTheirScopeTypes() {
        const auto requests = ShareRequestsFor(
            "me@mail.example; team@groups.localhost, example.com you@mail.example\texample.de",
            "groups.localhost");
        QCOMPARE(requests.size(), std::size_t(5));
        const char* expected[][2] = {{"user", "me@mail.example"},
                                     {"group", "team@groups.localhost"},
                                     {"domain", "example.com"},
                                     {"user", "you@mail.example"},
                                     {"user", "example.de"}};
        for (std::size_t i = 0; i < requests.size(); ++i) {
            QCOMPARE(requests[i].scopeType, std::string(expected[i][0]));
            QCOMPARE(requests[i].address, std::string(expected[i][1]));
        }
    }

    void oneEntryOpensTheSingleDialogAndSeveralTheMulti() {
        QStringList opened;
        const auto closeIt = [&opened] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return false;
            opened.append(modal->objectName());
            static_cast<QDialog*>(modal)->reject();
            return true;
        };
        QTimer::singleShot(0, [&] { (void)QTest::qWaitFor(closeIt, 5000); });
        ShowShareDialog(nullptr, {Entry("Alone")}, Context());
        QTimer::singleShot(0, [&] { (void)QTest::qWaitFor(closeIt, 5000); });
        ShowShareDialog(nullptr, {Entry("Pair one"), Entry("Pair two")}, Context());
        QCOMPARE(opened, QStringList({QStringLiteral("shareSingleDialog"),
                                      QStringLiteral("shareMultiDialog")}));
    }
};

QTEST_MAIN(ShareDialogsTest)
#include "ShareDialogsTest.moc"
