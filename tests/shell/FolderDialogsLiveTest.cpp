#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <QtTest>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ActionHandler.h"
#include "AppState.h"
#include "CLeftView.h"
#include "CMainFrame.h"
#include "CTallowdeskApp.h"
#include "CTallowdeskView.h"
#include "Categories.h"
#include "DemoService.h"
#include "EntryListModel.h"
#include "ListCommands.h"
#include "Resources.h"
#include "Server.h"
#include "TempDir.h"
#include "dialogs/CCreateFolderDlg.h"
#include "dialogs/CLoginDlg.h"
#include "dialogs/CMsgDlg.h"
#include "dialogs/CSettingDlg.h"
#include "dialogs/TransferProgressDlg.h"
#include "model/FeedCatalogue.h"
#include "settings/ConfigFile.h"
#include "settings/ServiceHosts.h"
#include "transfer/TransferFlags.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
using tallowdesk::test::CategoryUrl;
using tallowdesk::test::ReadAll;
namespace fs = std::filesystem;

namespace {

// Runs act on the next modal dialog once it is shown (the caller then
// enters the dialog's loop).
void WhenModal(std::function<void(QDialog*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start();
}

// Calls back for every widget about to be shown.
class ShowWatch final : public QObject {
public:
    explicit ShowWatch(std::function<void(QObject*)> shown) : m_shown(std::move(shown)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) m_shown(watched);
        return false;
    }

private:
    std::function<void(QObject*)> m_shown;
};

}  // namespace

// The create-folder, search and settings dialogs, drops and Paste, against
// the local document service started in this process on a free port.
class FolderDialogsLiveTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<server::Server> m_server;
    std::shared_ptr<AppState> m_state;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_errors;
    int m_transfersEnded = 0;
    std::vector<std::string> m_feeds;  // every feed read, in order
    std::shared_ptr<std::atomic<bool>> m_failSearch = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int>> m_creates = std::make_shared<std::atomic<int>>(0);
    fs::path m_configPath;
    fs::path m_tempBase;

    CTallowdeskView* List() const { return m_frame->List(); }
    ListCommands* Commands() const { return m_frame->Commands(); }
    void WaitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!List()->Processing(), 30000); }
    void WaitTransferEnd() { QTRY_VERIFY_WITH_TIMEOUT(!transferBusy.load(), 30000); }

    void Show(const std::string& url, const std::string& title, bool isFolder) {
        m_state->navigation.Open(CurrentLocation{url, title, false, isFolder});
        m_frame->Actions()->LocationChanged(url);
        List()->RefreshList();
        WaitIdle();
    }
    void ShowRoot() { Show(RootFolderUrl(), "Root Folder", true); }
    DocEntryPtr FindRow(const QString& title) const {
        for (int r = 0; r < List()->Model()->rowCount(); ++r)
            if (List()->Model()->TitleAt(r) == title) return List()->Model()->EntryAt(r);
        return nullptr;
    }
    int RowTitled(const QString& title) const {
        for (int r = 0; r < List()->Model()->rowCount(); ++r)
            if (List()->Model()->TitleAt(r) == title) return r;
        return -1;
    }
    QStringList Titles() const {
        QStringList t;
        for (int r = 0; r < List()->Model()->rowCount(); ++r) t << List()->Model()->TitleAt(r);
        return t;
    }
    // The tree node titled title under the node of parentUrl (the root for "").
    bool TreeHas(const std::string& parentUrl, const QString& title) const {
        FolderTreeModel* m = m_frame->findChild<CLeftView*>()->Model();
        const QModelIndex parent =
            parentUrl.empty() ? QModelIndex() : m->IndexOf(m->FindByUrl(parentUrl));
        if (!parentUrl.empty() && !parent.isValid()) return false;
        for (int r = 0; r < m->rowCount(parent); ++r)
            if (m->index(r, 0, parent).data().toString() == title) return true;
        return false;
    }
    void SetConvert(bool on) {
        ConfigFile config(m_configPath);
        config.SetFileAutoConvert(on);
    }
    // Fills in the create-folder dialog with name and presses OK.
    void CreateFolderNamed(const QString& name, std::optional<std::string> parent) {
        WhenModal([name](QDialog* d) {
            d->findChild<QLineEdit*>(QStringLiteral("folderNameEdit"))->setText(name);
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("okButton")),
                              Qt::LeftButton);
        });
        Commands()->CreateFolderIn(std::move(parent));
    }
    void SearchFor(const QString& query) {
        WhenModal([query](QDialog* d) {
            d->findChild<QLineEdit*>(QStringLiteral("queryEdit"))->setText(query);
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("searchButton")),
                              Qt::LeftButton);
        });
        m_frame->Actions()->search->trigger();
    }
    void Screenshot(QWidget* w, const char* name) {
        w->grab().save(QStringLiteral(TALLOWDESK_SCREENSHOT_DIR "/") + QString::fromLatin1(name));
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        const QByteArray config = m_dir.filePath(QStringLiteral("config")).toUtf8();
        qputenv("XDG_CONFIG_HOME", config);
        qputenv("HOME", m_dir.path().toUtf8());
        m_configPath = ConfigFile::DefaultPath();
        m_tempBase = fs::path(m_dir.filePath(QStringLiteral("runtime")).toStdString());
        fs::create_directories(m_tempBase);
        InitShellResources();
        m_server = StartDemoService(m_dir.filePath(QStringLiteral("server")));

        m_state = std::make_shared<AppState>();
        LoginDependencies deps = ApplicationLoginDependencies(m_state);
        deps.configPath = m_configPath.string();
        QVERIFY(SignInDemo(std::move(deps)));

        // Feeds are recorded (on the UI thread) and searches can be made to fail.
        auto getFeed = m_state->calls.getFeed;
        m_state->calls.getFeed = [this, getFeed, fail = m_failSearch](const std::string& url,
                                                                      tinyxml2::XMLDocument& doc) {
            notifier::Post([this, url] { m_feeds.push_back(url); });
            if (*fail && url.find("?q=") != std::string::npos)
                throw std::runtime_error("search refused");
            getFeed(url, doc);
        };
        auto create = m_state->calls.createFolder;
        m_state->calls.createFolder = [create, count = m_creates](const std::string& title,
                                                                  const std::string& parent,
                                                                  tinyxml2::XMLDocument& reply) {
            ++*count;
            if (title == "refused by the service") throw std::runtime_error("no");
            create(title, parent, reply);
        };

        CommandHooks hooks;
        hooks.errorBox = [this](const QString& title, const QString& text) {
            m_errors << title + QStringLiteral(": ") + text;
        };
        hooks.dragTempBase = m_tempBase;
        hooks.transferEnded = [this] { ++m_transfersEnded; };
        m_frame = std::make_unique<CMainFrame>(m_state, FrameHooks{}, std::move(hooks));
        m_frame->show();
        m_frame->Start();
        WaitIdle();
    }

    void init() {
        m_errors.clear();
        transferCancel = false;
    }

    void aBlankNameDoesNothingAndKeepsTheDialogOpen() {
        ShowRoot();
        const int before = m_creates->load();
        bool stillOpen = false;
        QString okText;
        WhenModal([&](QDialog* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Please input the name of the folder"));
            d->findChild<QLineEdit*>(QStringLiteral("folderNameEdit"))
                ->setText(QStringLiteral("   "));
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("okButton")),
                              Qt::LeftButton);
            stillOpen = d->isVisible();
            okText = d->findChild<QPushButton*>(QStringLiteral("okButton"))->text();
            Screenshot(d, "create-folder-dialog.png");
            d->reject();
        });
        Commands()->CreateFolder();
        QVERIFY(stillOpen);
        QCOMPARE(okText, QStringLiteral("OK"));
        QCOMPARE(m_creates->load(), before);
    }

    void aFolderMadeInTheShownFolderTopsTheListAndJoinsTheTree() {
        ShowRoot();
        // Open Projects, whose node the tree holds.
        const DocEntryPtr projects = FindRow(QStringLiteral("Projects"));
        QVERIFY(projects);
        const std::string projectsUrl = FolderContentsUrl(*projects);
        QVERIFY(TreeHas("", QStringLiteral("Projects")));
        Show(projectsUrl, "Projects", true);

        CreateFolderNamed(QStringLiteral("  Drafts 2027  "), projectsUrl);
        QCOMPARE(List()->Model()->TitleAt(0), QStringLiteral("Drafts 2027"));
        QVERIFY(List()->Model()->EntryAt(0)->IsFolder());
        QVERIFY(TreeHas(projectsUrl, QStringLiteral("Drafts 2027")));
        QVERIFY(m_state->folders.FindByContentSrc(FolderContentsUrl(*List()->Model()->EntryAt(0))));
        // The service has it under Projects by the trimmed name.
        List()->RefreshList();
        WaitIdle();
        QVERIFY(FindRow(QStringLiteral("Drafts 2027")));
        QVERIFY(m_errors.isEmpty());
    }

    void aFolderMadeFromACategoryGoesToTheRoot() {
        Show(CategoryUrl(" Starred"), " Starred", false);
        const QStringList before = Titles();
        WhenModal([](QDialog* d) {
            d->findChild<QLineEdit*>(QStringLiteral("folderNameEdit"))
                ->setText(QStringLiteral("Top level 2027"));
            QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("okButton")),
                              Qt::LeftButton);
        });
        QVERIFY(m_frame->Actions()->createFolder->isEnabled());
        m_frame->Actions()->createFolder->trigger();  // the menu's command reaches the dialog
        QCOMPARE(Titles(), before);                   // a category never shows the new folder
        QVERIFY(TreeHas("", QStringLiteral("Top level 2027")));
        ShowRoot();
        QVERIFY(FindRow(QStringLiteral("Top level 2027")));
    }

    void aRefusedFolderSaysCreateFolderFailed() {
        ShowRoot();
        const int rows = List()->Model()->rowCount();
        CreateFolderNamed(QStringLiteral("refused by the service"), RootFolderUrl());
        QCOMPARE(m_errors, QStringList{QStringLiteral("Error: Create Folder Failed.")});
        QCOMPARE(List()->Model()->rowCount(), rows);
        QVERIFY(!TreeHas("", QStringLiteral("refused by the service")));
        QVERIFY(!QApplication::activeModalWidget());
    }

    void theSearchSendsJoinedWordsAndLeavesTheLocation() {
        ShowRoot();
        const CurrentLocation where = m_state->navigation.Current();
        const std::size_t history = m_state->navigation.History().Size();
        const QStringList rootTitles = Titles();
        m_feeds.clear();
        QString line;
        QMetaObject::Connection watch =
            connect(List(), &CTallowdeskView::ProcessingChanged, this, [&](bool on) {
                if (on) line = List()->ProcessingWindow()->Line();
            });
        SearchFor(QStringLiteral("  Budget  2026 "));
        disconnect(watch);
        QCOMPARE(line, QStringLiteral("Searching for \"Budget  2026\"..."));
        WaitIdle();
        QCoreApplication::processEvents();
        QVERIFY(!m_feeds.empty());
        QCOMPARE(m_feeds.back(), DocumentListUrl() + "?q=Budget%2B2026&showfolders=true");
        QCOMPARE(m_state->navigation.Current().url, where.url);
        QCOMPARE(m_state->navigation.History().Size(), history);
        // A one-word search lists what the service finds.
        SearchFor(QStringLiteral("Budget"));
        WaitIdle();
        QTRY_COMPARE(Titles(), QStringList{QStringLiteral("Budget 2026")});
        // Fault guarded: results looked like the last folder (its node still
        // highlighted, nothing saying they are results).
        auto* banner = List()->findChild<QLabel*>(QStringLiteral("searchResultsLabel"));
        QVERIFY(banner && banner->isVisible());
        QCOMPARE(banner->text(), QStringLiteral("Search results for \"Budget\""));
        auto* empty = List()->findChild<QLabel*>(QStringLiteral("emptyListText"));
        QVERIFY(empty && !empty->isVisible());
        // Fault guarded: an empty result was a blank list.
        SearchFor(QStringLiteral("nothing-matches-this"));
        WaitIdle();
        QTRY_VERIFY(empty->isVisible());
        QCOMPARE(empty->text(), QStringLiteral("No items match \"nothing-matches-this\"."));
        QVERIFY(m_frame->Actions()->refresh->isEnabled());
        m_frame->Actions()->refresh->trigger();
        WaitIdle();
        QCOMPARE(Titles(), rootTitles);
        QVERIFY(!banner->isVisible());
        QVERIFY(!empty->isVisible());

        // The tree's highlight leaves the folder the search started from.
        QTreeView* tree = m_frame->Tree();
        tree->selectionModel()->setCurrentIndex(tree->model()->index(0, 0),
                                                QItemSelectionModel::ClearAndSelect);
        WaitIdle();
        QVERIFY(tree->currentIndex().isValid());
        SearchFor(QStringLiteral("Budget"));
        WaitIdle();
        QVERIFY(!tree->currentIndex().isValid());
        QVERIFY(tree->selectionModel()->selectedIndexes().isEmpty());
    }

    void anEmptySearchStartsNothing() {
        ShowRoot();
        m_feeds.clear();
        SearchFor(QStringLiteral("    "));
        QCoreApplication::processEvents();
        QVERIFY(!List()->Processing());
        QVERIFY(m_feeds.empty());
        WhenModal([this](QDialog* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Search"));
            Screenshot(d, "search-dialog.png");
            d->reject();
        });
        m_frame->Actions()->search->trigger();
        QVERIFY(!List()->Processing());
    }

    void aFailedSearchSaysSoAndLeavesAnEmptyList() {
        ShowRoot();
        *m_failSearch = true;
        SearchFor(QStringLiteral("anything"));
        WaitIdle();
        *m_failSearch = false;
        QTRY_COMPARE(m_errors, QStringList{QStringLiteral("Error: Search failed.")});
        QCOMPARE(List()->Model()->rowCount(), 0);
        // Not "no match": the search never answered.
        QCOMPARE(List()->findChild<QLabel*>(QStringLiteral("emptyListText"))->text(),
                 QStringLiteral("Search failed."));
        QCOMPARE(m_state->entries.Size(), std::size_t(0));
        QVERIFY(!List()->ProcessingWindow()->isVisible());
        QVERIFY(m_frame->Actions()->refresh->isEnabled());
        m_frame->Actions()->refresh->trigger();
        WaitIdle();
        QVERIFY(FindRow(QStringLiteral("Projects")));
    }

    void settingsOkStoresBothAndCancelNothing() {
        SetConvert(true);
        ConfigFile(m_configPath).SetAutoUpdateCheck(true);
        {
            CSettingDlg dialog(m_configPath);
            dialog.show();
            auto* convert = dialog.findChild<QCheckBox*>(QStringLiteral("convertCheck"));
            auto* update = dialog.findChild<QCheckBox*>(QStringLiteral("updateCheck"));
            QVERIFY(convert->isChecked() && update->isChecked());
            Screenshot(&dialog, "settings-dialog.png");
            convert->setChecked(false);
            update->setChecked(false);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancelButton")),
                              Qt::LeftButton);
        }
        QVERIFY(ConfigFile(m_configPath).GetFileAutoConvert());
        QVERIFY(ConfigFile(m_configPath).GetAutoUpdateCheck());
        {
            CSettingDlg dialog(m_configPath);
            dialog.show();
            dialog.findChild<QCheckBox*>(QStringLiteral("convertCheck"))->setChecked(false);
            dialog.findChild<QCheckBox*>(QStringLiteral("updateCheck"))->setChecked(false);
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("okButton")),
                              Qt::LeftButton);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        const std::string stored = ReadAll(m_configPath);
        QVERIFY(stored.find("<fileautoconvert>false</fileautoconvert>") != std::string::npos);
        QVERIFY(stored.find("<autoupdatecheck>false</autoupdatecheck>") != std::string::npos);
        // The menu opens the same dialog on the same file.
        bool ticked = true;
        WhenModal([&](QDialog* d) {
            ticked = d->findChild<QCheckBox*>(QStringLiteral("convertCheck"))->isChecked();
            d->reject();
        });
        m_frame->Actions()->settings->trigger();
        QVERIFY(!ticked);
    }

    // Paste reads both formats file managers put on the clipboard; the
    // route of each upload follows "fileautoconvert".
    void pasteUploadsFromEachClipboardFormat_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("convert");
        QTest::addColumn<QString>("kind");
        QTest::newRow("gnome, stored")
            << QStringLiteral("x-special/gnome-copied-files") << false << QStringLiteral("file");
        QTest::newRow("uri list, converted")
            << QStringLiteral("text/uri-list") << true << QStringLiteral("document");
    }
    void pasteUploadsFromEachClipboardFormat() {
        QFETCH(QString, format);
        QFETCH(bool, convert);
        QFETCH(QString, kind);
        SetConvert(convert);
        ShowRoot();
        const QString name =
            QStringLiteral("pasted-%1.txt").arg(QTest::currentDataTag()[0] == 'g' ? 1 : 2);
        const QString path = m_dir.filePath(name);
        std::ofstream(path.toStdString()) << "pasted bytes\n";
        const QByteArray url = QUrl::fromLocalFile(path).toEncoded();
        auto* data = new QMimeData;
        data->setData(format, format.startsWith(QLatin1String("x-special"))
                                  ? QByteArray("copy\n") + url
                                  : url + "\r\n");
        QGuiApplication::clipboard()->setMimeData(data);
        m_frame->Actions()->paste->trigger();
        QVERIFY(transferBusy.load());
        WaitTransferEnd();
        QGuiApplication::clipboard()->clear();
        // A converted upload may drop the extension from the title.
        const QString stem = QFileInfo(name).completeBaseName();
        DocEntryPtr row;
        for (int r = 0; r < List()->Model()->rowCount() && !row; ++r)
            if (List()->Model()->TitleAt(r).startsWith(stem)) row = List()->Model()->EntryAt(r);
        QVERIFY(row);
        QCOMPARE(QString::fromStdString(row->kind), kind);
        SetConvert(false);
    }

    // A pasted path that is gone vanished without a word; now it is a line
    // of the transfer's details, and the paths still there are uploaded.
    void aPastedPathThatIsGoneGetsADetailLine_data() {
        QTest::addColumn<bool>("withAFileThere");
        QTest::newRow("beside a file that is there") << true;
        QTest::newRow("alone") << false;
    }
    void aPastedPathThatIsGoneGetsADetailLine() {
        QFETCH(bool, withAFileThere);
        ShowRoot();
        const QString there = m_dir.filePath(QStringLiteral("pasted-there.txt"));
        std::ofstream(there.toStdString()) << "still here\n";
        const QString gone = m_dir.filePath(QStringLiteral("pasted-gone.txt"));
        QByteArray list = QUrl::fromLocalFile(gone).toEncoded() + "\r\n";
        if (withAFileThere) list += QUrl::fromLocalFile(there).toEncoded() + "\r\n";
        auto* data = new QMimeData;
        data->setData(QStringLiteral("text/uri-list"), list);
        QGuiApplication::clipboard()->setMimeData(data);
        m_frame->Actions()->paste->trigger();
        QGuiApplication::clipboard()->clear();
        WaitTransferEnd();
        TransferProgressDlg* dialog = Commands()->LastTransferDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->DetailLines(),
                 QStringList{QStringLiteral("No such file or folder: ") + gone});
        if (dialog->FinishBox()) dialog->FinishBox()->close();
        dialog->close();
        if (withAFileThere)
            QTRY_VERIFY_WITH_TIMEOUT(FindRow(QStringLiteral("pasted-there.txt")), 30000);
    }

    // A category holds no files of its own: a drop there is refused and a
    // paste says why; nothing reaches the service. A folder takes them.
    void filesDroppedOrPastedGoOnlyWhereFilesAreKept() {
        Show(CategoryUrl(" Owned by me"), " Owned by me", false);
        const QString path = m_dir.filePath(QStringLiteral("dropped.txt"));
        std::ofstream(path.toStdString()) << "dropped bytes\n";
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(path)});
        QWidget* viewport = List()->ActiveView()->viewport();
        QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &refused);
        QVERIFY(!refused.isAccepted());
        auto* clip = new QMimeData;
        clip->setData(QStringLiteral("text/uri-list"), QUrl::fromLocalFile(path).toEncoded());
        QGuiApplication::clipboard()->setMimeData(clip);
        m_frame->Actions()->paste->trigger();
        QGuiApplication::clipboard()->clear();
        QVERIFY(!transferBusy.load());
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors.front().contains(QStringLiteral("Owned by me")));

        ShowRoot();
        QVERIFY(!FindRow(QStringLiteral("dropped.txt")));
        viewport = List()->ActiveView()->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(transferBusy.load());
        // A second drop while the upload runs is refused.
        QDragEnterEvent again(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &again);
        QVERIFY(!again.isAccepted());
        WaitTransferEnd();
        ShowRoot();
        QVERIFY(FindRow(QStringLiteral("dropped.txt")));
    }

    void rowsDraggedOutAreDownloadedOnlyWhenTheTargetAsks() {
        ShowRoot();
        List()->Selection()->clearSelection();
        for (int r = 0; r < List()->Model()->rowCount(); ++r) {
            const QString t = List()->Model()->TitleAt(r);
            if (t == QStringLiteral("readme.txt") || t == QStringLiteral("Photos"))
                List()->Selection()->select(
                    List()->Model()->index(r, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        QCOMPARE(List()->SelectedCount(), 2);
        const fs::path temp = m_tempBase / "tallowdeskTemp";
        std::unique_ptr<QMimeData> data(Commands()->MakeDragData());
        QVERIFY(data);
        QVERIFY(fs::is_directory(temp));
        QVERIFY(fs::is_empty(temp));  // nothing before the drop
        // A download with failures keeps its window open: close it then, and
        // keep what it listed.
        QStringList details;
        QTimer closer;
        closer.setInterval(50);
        connect(&closer, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<TransferProgressDlg*>(QApplication::activeModalWidget());
            if (!dialog || transferBusy.load()) return;
            details = dialog->DetailLines();
            static_cast<QDialog*>(dialog)->reject();
        });
        closer.start();
        const QList<QUrl> urls = data->urls();
        closer.stop();
        WaitTransferEnd();
        QVERIFY2(details.isEmpty(), qPrintable(details.join(QLatin1Char('|'))));
        QStringList names;
        for (const QUrl& u : urls) names << QFileInfo(u.toLocalFile()).fileName();
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("Photos"), QStringLiteral("readme.txt")}));
        const DocEntryPtr readme = FindRow(QStringLiteral("readme.txt"));
        QVERIFY(readme);
        QCOMPARE(static_cast<std::uint64_t>(fs::file_size(temp / "readme.txt")),
                 readme->QuotaBytes());
        // A folder arrives as its tree.
        QCOMPARE(ReadAll(temp / "Photos" / "Photo credits.txt"),
                 std::string("All photos: Demo User.\n"));
        QVERIFY(fs::file_size(temp / "Photos" / "sunset.png") > 0);

        // The next drag starts from an empty folder again.
        std::unique_ptr<QMimeData> next(Commands()->MakeDragData());
        QVERIFY(next);
        QVERIFY(fs::is_empty(temp));
    }

    // The drag's own window had a dead Background button and left the quota
    // as it was.
    void theDragOutWindowGoesToTheBackgroundAndEndsWithTheQuota() {
        ShowRoot();
        List()->Selection()->clearSelection();
        const int row = RowTitled(QStringLiteral("readme.txt"));
        QVERIFY(row >= 0);
        List()->Selection()->select(List()->Model()->index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
        std::unique_ptr<QMimeData> data(Commands()->MakeDragData());
        QVERIFY(data);
        bool clicked = false;
        ShowWatch watch([&](QObject* shown) {
            auto* dialog = qobject_cast<TransferProgressDlg*>(shown);
            if (!dialog || clicked) return;
            clicked = true;
            dialog->findChild<QPushButton*>(QStringLiteral("backgroundButton"))->click();
        });
        qApp->installEventFilter(&watch);
        const int ended = m_transfersEnded;
        const QList<QUrl> urls = data->urls();
        qApp->removeEventFilter(&watch);
        WaitTransferEnd();
        QVERIFY(clicked);
        QVERIFY(m_frame->isMinimized() || m_frame->isHidden());
        m_frame->showNormal();
        QCOMPARE(m_transfersEnded, ended + 1);
        QCOMPARE(urls.size(), 1);
    }

    void noDragWithoutATemporaryFolder() {
        ShowRoot();
        List()->Selection()->select(
            List()->Model()->index(0, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        fs::remove_all(m_tempBase);
        QVERIFY(!Commands()->MakeDragData());
        QCOMPARE(m_errors, QStringList{QStringLiteral("Error:  Cannot get/access temp path.")});
        fs::create_directories(m_tempBase);
    }

    void cleanupTestCase() {
        WaitTransferEnd();
        m_frame.reset();
    }
};

QTEST_MAIN(FolderDialogsLiveTest)
#include "FolderDialogsLiveTest.moc"
