#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>
#include <condition_variable>
#include <filesystem>
#include <fstream>
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
#include "ListCommands.h"
#include "ListContextMenu.h"
#include "MenuTexts.h"
#include "Resources.h"
#include "Server.h"
#include "Store.h"
#include "TempDir.h"
#include "dialogs/CProgressDlgModal.h"
#include "dialogs/TransferProgressDlg.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferOps.h"
#include "transfer/TransferProgressSink.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
using tallowdesk::test::CategoryUrl;
using tallowdesk::test::ReadAll;
namespace fs = std::filesystem;

namespace {

using Gate = tallowdesk::test::DownloadGate;
using tallowdesk::test::GatedOps;

QStringList SubmenuTexts(const QMenu& menu, const QString& title) {
    for (const QAction* a : menu.actions())
        if (a->menu() && a->text() == title) return MenuTexts(*a->menu());
    return {};
}

}  // namespace

// The list commands and the transfer windows against the local document
// service, started in this process on a free port.
class CommandsLiveTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<server::Server> m_server;
    std::shared_ptr<AppState> m_state;
    std::unique_ptr<CMainFrame> m_frame;
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
    std::shared_ptr<Gate> m_exportGate = std::make_shared<Gate>();  // holds "Meeting notes.txt"
    std::optional<QString> m_pickedFolder;
    QStringList m_pickedFiles;
    QStringList m_folderPrompts;
    std::vector<QUrl> m_opened;
    int m_transfersEnded = 0;
    QStringList m_errors;     // texts of the error boxes
    QStringList m_questions;  // texts of the questions asked
    bool m_answer = false;    // what the user answers them
    std::vector<ClashQuestion> m_clashQuestions;
    ClashAnswer m_folderAnswer{ClashChoice::Skip, false};
    ClashAnswer m_fileAnswer{ClashChoice::Skip, false};
    std::shared_ptr<std::atomic<int>> m_renames = std::make_shared<std::atomic<int>>(0);

    CTallowdeskView* List() const { return m_frame->List(); }
    ListCommands* Commands() const { return m_frame->Commands(); }
    void WaitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!List()->Processing(), 30000); }

    void Show(const std::string& url, const std::string& title, bool isFolder) {
        m_state->navigation.Open(CurrentLocation{url, title, false, isFolder});
        m_frame->Actions()->LocationChanged(url);
        List()->RefreshList();
        WaitIdle();
    }
    void ShowRoot() { Show(RootFolderUrl(), "Root Folder", true); }
    // Selects the rows with these titles; false when one is missing.
    bool SelectTitles(const QStringList& titles) {
        List()->Selection()->clearSelection();
        int found = 0;
        for (int r = 0; r < List()->Model()->rowCount(); ++r) {
            if (!titles.contains(List()->Model()->TitleAt(r))) continue;
            List()->Selection()->select(List()->Model()->index(r, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
            ++found;
        }
        return found == titles.size();
    }
    int RowOf(const QString& title) const {
        for (int r = 0; r < List()->Model()->rowCount(); ++r)
            if (List()->Model()->TitleAt(r) == title) return r;
        return -1;
    }
    // No command's processing window is left (the listing's own is hidden).
    bool NoProcessingWindow() const {
        for (const QDialog* d : List()->findChildren<QDialog*>(QStringLiteral("processingDialog")))
            if (d->isVisible()) return false;
        return true;
    }
    void WaitActionsDone() { QTRY_VERIFY_WITH_TIMEOUT(NoProcessingWindow(), 30000); }
    void WaitTransferEnd() { QTRY_VERIFY_WITH_TIMEOUT(!transferBusy.load(), 30000); }
    // Downloads the rows with these titles into dest through the command,
    // the name questions answered as the case set them; any detail line
    // fails the case.
    void DownloadRows(const QStringList& titles, const fs::path& dest) {
        m_clashQuestions.clear();
        m_pickedFolder = QString::fromStdString(dest.string());
        QVERIFY(SelectTitles(titles));
        QVERIFY(m_frame->Actions()->download->isEnabled());
        m_frame->Actions()->download->trigger();
        WaitTransferEnd();
        if (TransferProgressDlg* d = Commands()->LastTransferDialog())
            QFAIL(qPrintable(d->DetailLines().join(QLatin1Char('\n'))));
    }

    // Downloads the folder Tree (deep inside it a file of several chunks)
    // into dest with the gate armed; returns once the download holds at its
    // first progress report, its window in dialog.
    void StartHeldDownload(const QTemporaryDir& dest, QPointer<TransferProgressDlg>& dialog) {
        ShowRoot();
        m_pickedFolder = dest.path();
        QVERIFY(SelectTitles({QStringLiteral("Tree")}));
        m_gate->Arm();
        Commands()->Download();
        dialog = Commands()->LastTransferDialog();
        QVERIFY(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(m_gate->Reached(), 30000);
    }

    // A download held at the gate, "Meeting notes" selected and its export
    // to exportDest held at its first bytes once it starts.
    void StartHeldDownloadAndArmTheExport(QTemporaryDir& dest,
                                          QPointer<TransferProgressDlg>& dialog,
                                          QTemporaryDir& exportDest) {
        StartHeldDownload(dest, dialog);
        if (QTest::currentTestFailed()) return;
        QVERIFY(SelectTitles({QStringLiteral("Meeting notes")}));
        m_pickedFolder = exportDest.path();
        m_exportGate->Arm();
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        InitShellResources();
        m_server = StartDemoService(m_dir.filePath(QStringLiteral("server")));

        m_state = std::make_shared<AppState>();
        LoginDependencies deps = ApplicationLoginDependencies(m_state);
        deps.configPath = m_dir.filePath(QStringLiteral("Config.xml")).toStdString();
        deps.services.warnCookieFailure = [] { qWarning("cookie sign-in failed"); };
        QVERIFY(SignInDemo(std::move(deps)));

        // Renames are counted; downloads pass the gate (open unless armed).
        auto rename = m_state->calls.renameEntry;
        m_state->calls.renameEntry = [rename, count = m_renames](const std::string& h,
                                                                 const std::string& t) {
            ++*count;
            rename(h, t);
        };
        auto ops = m_state->calls.transferOps;
        m_state->calls.transferOps = [ops, gate = m_gate,
                                      exportGate = m_exportGate]() -> std::unique_ptr<TransferOps> {
            return std::make_unique<GatedOps>(
                std::make_unique<GatedOps>(ops(), exportGate, "Meeting notes.txt"), gate,
                "deep.txt");
        };

        CommandHooks hooks;
        hooks.pickFolder = [this](QWidget*, const QString& title) {
            m_folderPrompts << title;
            return m_pickedFolder;
        };
        hooks.pickFiles = [this](QWidget*) { return m_pickedFiles; };
        hooks.openUrl = [this](const QUrl& url) { m_opened.push_back(url); };
        hooks.transferEnded = [this] { ++m_transfersEnded; };
        hooks.errorBox = [this](const QString&, const QString& text) { m_errors << text; };
        hooks.confirm = [this](const QString&, const QString& text) {
            m_questions << text;
            return m_answer;
        };
        hooks.askClash = [this](QWidget*, const ClashQuestion& q) {
            m_clashQuestions.push_back(q);
            return q.folder ? m_folderAnswer : m_fileAnswer;
        };
        m_frame = std::make_unique<CMainFrame>(m_state, FrameHooks{}, std::move(hooks));
        m_frame->show();
        m_frame->Start();
        WaitIdle();
    }

    void init() {
        transferCancel = false;
        m_folderPrompts.clear();
        m_pickedFolder.reset();
        m_pickedFiles.clear();
        m_errors.clear();
        m_questions.clear();
        m_answer = false;
    }

    void openingAFolderListsItAndADocumentOpensItsPage() {
        ShowRoot();
        const int before = List()->Model()->rowCount();
        QVERIFY(SelectTitles({QStringLiteral("Meeting notes")}));
        Commands()->Open();
        QCOMPARE(m_opened.size(), std::size_t(1));
        QVERIFY(m_opened.back().toString().contains(QStringLiteral("localhost")));
        QCOMPARE(List()->Model()->rowCount(), before);

        QVERIFY(SelectTitles({QStringLiteral("Projects")}));
        QVERIFY(m_frame->Actions()->open->isEnabled());
        m_frame->Actions()->open->trigger();
        WaitIdle();
        QCOMPARE(m_state->navigation.Current().title, std::string("Projects"));
        QVERIFY(RowOf(QStringLiteral("Garden Shed")) >= 0);
        QVERIFY(RowOf(QStringLiteral("Website")) >= 0);
        QVERIFY(m_frame->Actions()->back->isEnabled());
    }

    // The menu's rules are ListCommandRulesTest's table; here: the state is
    // read from the live rows, clipboard and location, and the submenus are
    // filled from the export table and the view styles.
    void theContextMenuFollowsTheRowsAndTheLocation() {
        ShowRoot();
        QVERIFY(SelectTitles({QStringLiteral("Office floor plan")}));
        std::unique_ptr<QMenu> menu = Commands()->ContextMenu();
        QCOMPARE(MenuTexts(*menu).join(QLatin1Char('|')),
                 QStringLiteral("&Open|&Export to|&Rename|Move to trash|Star|&Share...|-|&Views"));
        QCOMPARE(SubmenuTexts(*menu, QStringLiteral("&Export to")).join(QLatin1Char('|')),
                 QStringLiteral("JPEG|PDF|PNG|SVG"));
        QCOMPARE(SubmenuTexts(*menu, QStringLiteral("&Views")).join(QLatin1Char('|')),
                 QStringLiteral("Large Icons|Small Icons|List|Details"));
        QVERIFY(SelectTitles({QStringLiteral("Invoice 2041.pdf")}));
        QCOMPARE(MenuTexts(*Commands()->ContextMenu()).value(1), QStringLiteral("&Download..."));

        List()->Selection()->clearSelection();
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(m_dir.path())});
        QGuiApplication::clipboard()->setMimeData(data);
        QVERIFY(MenuTexts(*Commands()->ContextMenu()).contains(QStringLiteral("&Paste\tCtrl+V")));
        QGuiApplication::clipboard()->clear();

        Show(CategoryUrl(" Trash"), " Trash", false);
        QVERIFY(List()->Model()->rowCount() >= 2);
        List()->Selection()->select(
            QItemSelection(List()->Model()->index(0, 0), List()->Model()->index(1, 0)),
            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(MenuTexts(*Commands()->ContextMenu()).join(QLatin1Char('|')),
                 QStringLiteral("&Download...|Rest&ore|Delete For&ever|&Share...|-|&Views"));
    }

    void renamingToTheSameTextSendsNothing() {
        ShowRoot();
        const int row = RowOf(QStringLiteral("readme.txt"));
        QVERIFY(row >= 0);
        Commands()->Rename(row, QStringLiteral("readme.txt"));
        QCoreApplication::processEvents();
        QCOMPARE(m_renames->load(), 0);

        Commands()->Rename(row, QStringLiteral("read me first.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(List()->Model()->TitleAt(row),
                                  QStringLiteral("read me first.txt"), 30000);
        QCOMPARE(m_renames->load(), 1);
        ShowRoot();  // the service has the new name
        QVERIFY(RowOf(QStringLiteral("read me first.txt")) >= 0);
        QCOMPARE(RowOf(QStringLiteral("readme.txt")), -1);
    }

    // Two renames of one row were both sent; the row showed whichever reply
    // came last.
    void aRowIsRenamedOnceAtATime() {
        ShowRoot();
        const int row = RowOf(QStringLiteral("read me first.txt"));
        QVERIFY(row >= 0);
        const int renames = m_renames->load();
        Commands()->Rename(row, QStringLiteral("first name.txt"));
        Commands()->Rename(row, QStringLiteral("second name.txt"));
        WaitActionsDone();
        QCOMPARE(m_renames->load(), renames + 1);
        QCOMPARE(List()->Model()->TitleAt(row), QStringLiteral("first name.txt"));
        // Free again once the reply is in.
        Commands()->Rename(row, QStringLiteral("read me first.txt"));
        WaitActionsDone();
        QCOMPARE(m_renames->load(), renames + 2);
        ShowRoot();
        QVERIFY(RowOf(QStringLiteral("read me first.txt")) >= 0);
    }

    // F2 then Enter on a long title renamed it to its first 127 characters.
    void aLongTitleIsNeverCut_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("errors");
        const QString title = QStringLiteral("long ") + QString(150, QLatin1Char('x'));
        QTest::newRow("left as it was") << title << 0;
        QTest::newRow("changed, still too long") << title + QStringLiteral("y") << 1;
    }
    void aLongTitleIsNeverCut() {
        QFETCH(QString, typed);
        QFETCH(int, errors);
        const QString title = QStringLiteral("long ") + QString(150, QLatin1Char('x'));
        ShowRoot();
        int row = RowOf(title);
        if (row < 0) {  // the service takes long titles: give one row such a name
            const DocEntryPtr e =
                List()->Model()->EntryAt(RowOf(QStringLiteral("read me first.txt")));
            QVERIFY(e);
            m_state->calls.renameEntry(*e->editHref, title.toStdString());
            ShowRoot();
            row = RowOf(title);
        }
        QVERIFY(row >= 0);
        m_errors.clear();
        const int renames = m_renames->load();
        Commands()->Rename(row, typed);
        QCoreApplication::processEvents();
        QCOMPARE(m_renames->load(), renames);
        QCOMPARE(m_errors.size(), errors);
        QVERIFY(NoProcessingWindow());
        ShowRoot();
        QVERIFY(RowOf(title) >= 0);  // the service still has the whole title
    }
    void restoreTheLongTitle() {
        ShowRoot();
        const int row = RowOf(QStringLiteral("long ") + QString(150, QLatin1Char('x')));
        QVERIFY(row >= 0);
        m_state->calls.renameEntry(*List()->Model()->EntryAt(row)->editHref, "read me first.txt");
        ShowRoot();
        QVERIFY(RowOf(QStringLiteral("read me first.txt")) >= 0);
    }

    void unstarRemovesRowsOnlyFromStarred() {
        Show(CategoryUrl(" Starred"), " Starred", false);
        QVERIFY(SelectTitles({QStringLiteral("Meeting notes"), QStringLiteral("Budget 2026")}));
        QVERIFY(m_frame->Actions()->star->isEnabled());
        QCOMPARE(m_frame->Actions()->star->text(), QStringLiteral("UnStar"));
        m_frame->Actions()->star->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("Meeting notes")), -1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("Budget 2026")), -1, 30000);

        // Elsewhere: starring and unstarring keep the rows.
        ShowRoot();
        const int rows = List()->Model()->rowCount();
        QVERIFY(SelectTitles({QStringLiteral("Quarterly review")}));
        Commands()->Star();
        WaitActionsDone();
        Show(CategoryUrl(" Starred"), " Starred", false);
        QVERIFY(RowOf(QStringLiteral("Quarterly review")) >= 0);
        ShowRoot();
        QVERIFY(SelectTitles({QStringLiteral("Quarterly review")}));
        Commands()->Unstar();
        WaitActionsDone();
        Show(CategoryUrl(" Starred"), " Starred", false);
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("Quarterly review")), -1, 30000);
        ShowRoot();
        QCOMPARE(List()->Model()->rowCount(), rows);
    }

    void severalRowsGoToTheTrash() {
        ShowRoot();
        QVERIFY(SelectTitles({QStringLiteral("backup.zip"), QStringLiteral("Invoice 2041.pdf")}));
        m_frame->Actions()->moveToTrash->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("backup.zip")), -1, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("Invoice 2041.pdf")), -1, 30000);
        WaitActionsDone();  // the processing window went with the last key
        Show(CategoryUrl(" Trash"), " Trash", false);
        QVERIFY(RowOf(QStringLiteral("backup.zip")) >= 0);
        QVERIFY(RowOf(QStringLiteral("Invoice 2041.pdf")) >= 0);
    }

    // Refused by the service: the rows stay, and the user reads what was
    // refused and the service's reason (both used to be silent).
    void refusalsAreShownWithTheServicesReason() {
        Show(CategoryUrl(" Shared with me"), " Shared with me", false);
        QVERIFY(SelectTitles({QStringLiteral("Sales figures")}));
        Commands()->Trash();
        QTRY_COMPARE_WITH_TIMEOUT(m_errors.size(), 1, 30000);
        QVERIFY2(m_errors.front().startsWith(
                     QStringLiteral("\"Sales figures\" was not moved to the trash.\n")),
                 qPrintable(m_errors.front()));
        QVERIFY2(m_errors.front().contains(QStringLiteral("Only the owner")),
                 qPrintable(m_errors.front()));
        QVERIFY(RowOf(QStringLiteral("Sales figures")) >= 0);

        const int row = RowOf(QStringLiteral("Sales figures"));
        Commands()->Rename(row, QStringLiteral("My figures"));
        QTRY_COMPARE_WITH_TIMEOUT(m_errors.size(), 2, 30000);
        QVERIFY2(m_errors.back().startsWith(QStringLiteral("\"Sales figures\" was not renamed.\n")),
                 qPrintable(m_errors.back()));
        QVERIFY2(m_errors.back().contains(QStringLiteral("permission")),
                 qPrintable(m_errors.back()));
        QCOMPARE(List()->Model()->TitleAt(row), QStringLiteral("Sales figures"));
    }

    // Out of the trash and back in its two folders; then gone for good, but
    // only once the user has said yes.
    void restoreAndDeleteForeverRoundTrips() {
        Show(CategoryUrl(" All items(folders included)"), " All items(folders included)", false);
        QVERIFY(SelectTitles({QStringLiteral("Shed plan")}));
        Commands()->Trash();
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("Shed plan")), -1, 30000);
        WaitActionsDone();

        Show(CategoryUrl(" Trash"), " Trash", false);
        QVERIFY(SelectTitles({QStringLiteral("Shed plan")}));
        m_frame->UpdateActions();
        QVERIFY(m_frame->Actions()->restore->isEnabled());
        m_frame->Actions()->restore->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("Shed plan")), -1, 30000);
        WaitActionsDone();
        QVERIFY(m_errors.isEmpty());
        Show(CategoryUrl(" Trash"), " Trash", false);
        QCOMPARE(RowOf(QStringLiteral("Shed plan")), -1);
        ShowRoot();
        QVERIFY(SelectTitles({QStringLiteral("Projects")}));
        Commands()->Open();
        WaitIdle();
        QVERIFY(SelectTitles({QStringLiteral("Garden Shed")}));
        Commands()->Open();
        WaitIdle();
        QVERIFY(RowOf(QStringLiteral("Shed plan")) >= 0);
        QVERIFY(RowOf(QStringLiteral("Materials")) >= 0);

        // A folder comes back into the tree as well.
        const auto topNode = [this] {
            const QAbstractItemModel* tree = m_frame->Tree()->model();
            for (int r = 0; r < tree->rowCount(); ++r)
                if (tree->index(r, 0).data().toString() == QStringLiteral("Old stuff")) return true;
            return false;
        };
        QVERIFY(!topNode());
        Show(CategoryUrl(" Trash"), " Trash", false);
        QVERIFY(SelectTitles({QStringLiteral("Old stuff")}));
        Commands()->Restore();
        QTRY_VERIFY_WITH_TIMEOUT(topNode(), 30000);
        WaitActionsDone();

        Show(CategoryUrl(" Trash"), " Trash", false);
        QVERIFY(SelectTitles({QStringLiteral("obsolete.txt")}));
        m_answer = false;
        Commands()->DeleteForever();
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions.front().contains(QStringLiteral("\"obsolete.txt\" forever")));
        Show(CategoryUrl(" Trash"), " Trash", false);
        QVERIFY(RowOf(QStringLiteral("obsolete.txt")) >= 0);  // no means no
        QVERIFY(SelectTitles({QStringLiteral("obsolete.txt")}));
        m_answer = true;
        Commands()->DeleteForever();
        QTRY_COMPARE_WITH_TIMEOUT(RowOf(QStringLiteral("obsolete.txt")), -1, 30000);
        WaitActionsDone();
        Show(CategoryUrl(" Trash"), " Trash", false);
        QCOMPARE(RowOf(QStringLiteral("obsolete.txt")), -1);
        Show(CategoryUrl(" All items(folders included)"), " All items(folders included)", false);
        QCOMPARE(RowOf(QStringLiteral("obsolete.txt")), -1);
        QVERIFY(m_errors.isEmpty());
    }

    void uploadsSeveralFilesAndAFolderTreeThenDownloadsThemBack() {
        ShowRoot();
        const fs::path local = fs::path(m_dir.path().toStdString()) / "local";
        test::WriteAll(local / "one.txt", "first file\n");
        test::WriteAll(local / "two.bin", std::string("\0\1\2binary", 9));
        test::WriteAll(local / "three.csv", "a,b\n1,2\n");
        m_pickedFiles = {QString::fromStdString((local / "one.txt").string()),
                         QString::fromStdString((local / "two.bin").string()),
                         QString::fromStdString((local / "three.csv").string())};
        QVERIFY(m_frame->Actions()->upload->isEnabled());
        const int ended = m_transfersEnded;
        m_frame->Actions()->upload->trigger();
        QVERIFY(transferBusy.load());
        QVERIFY(!m_frame->Actions()->upload->isEnabled());
        WaitTransferEnd();
        QCOMPARE(m_transfersEnded, ended + 1);  // the quota is read again
        if (TransferProgressDlg* d = Commands()->LastTransferDialog())
            QFAIL(qPrintable(d->DetailLines().join(QLatin1Char('\n'))));
        QCOMPARE(List()->Model()->TitleAt(0), QStringLiteral("three.csv"));
        QCOMPARE(List()->Model()->TitleAt(2), QStringLiteral("one.txt"));

        // A three-level tree, uploaded as a folder.
        const fs::path tree = local / "Tree";
        test::WriteAll(tree / "top.txt", "top\n");
        test::WriteAll(tree / "Middle" / "mid.txt", "middle\n");
        test::WriteAll(tree / "Middle" / "Deep" / "deep.txt", std::string(300000, 'x'));
        Commands()->StartUpload({UploadSource{tree, true}});
        WaitTransferEnd();
        QTRY_VERIFY_WITH_TIMEOUT(RowOf(QStringLiteral("Tree")) >= 0, 30000);

        const fs::path back = fs::path(m_dir.path().toStdString()) / "back";
        fs::create_directories(back);
        DownloadRows({QStringLiteral("Tree"), QStringLiteral("one.txt"), QStringLiteral("two.bin")},
                     back);
        QCOMPARE(m_folderPrompts, QStringList{QStringLiteral("Select the folder:")});
        QCOMPARE(ReadAll(back / "one.txt"), ReadAll(local / "one.txt"));
        QCOMPARE(ReadAll(back / "two.bin"), ReadAll(local / "two.bin"));
        QCOMPARE(ReadAll(back / "Tree" / "top.txt"), std::string("top\n"));
        QCOMPARE(ReadAll(back / "Tree" / "Middle" / "mid.txt"), std::string("middle\n"));
        QCOMPARE(ReadAll(back / "Tree" / "Middle" / "Deep" / "deep.txt"), std::string(300000, 'x'));

        // Into a folder that is gone: one detail line; the window stays with
        // its red sentence and the warning box.
        m_pickedFolder = QString::fromStdString((back / "gone").string());
        QVERIFY(SelectTitles({QStringLiteral("Tree")}));
        Commands()->Download();
        WaitTransferEnd();
        TransferProgressDlg* dialog = Commands()->LastTransferDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->DetailLines(), QStringList{QStringLiteral("Folder creation failed.")});
        QVERIFY(dialog->findChild<QLabel*>(QStringLiteral("errorText"))->isVisible());
        auto* details = dialog->findChild<QPushButton*>(QStringLiteral("detailsButton"));
        QVERIFY(details->isVisible());
        QCOMPARE(details->text(), QStringLiteral("Show details"));
        QVERIFY(!dialog->DetailsShown());
        QTest::mouseClick(details, Qt::LeftButton);
        QVERIFY(dialog->DetailsShown());
        QCOMPARE(details->text(), QStringLiteral("Hide details"));
        QVERIFY(dialog->FinishBox());
        QCOMPARE(dialog->FinishBox()->windowTitle(), QStringLiteral("Warning"));
        QCOMPARE(dialog->FinishBox()->text(), TransferFinishedWithErrorsText());
        dialog->grab().save(QStringLiteral(TALLOWDESK_SCREENSHOT_DIR "/tallowdesk-transfer.png"));
        dialog->FinishBox()->close();
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cancelButton")),
                          Qt::LeftButton);
        QVERIFY(!transferCancel.load());  // closing after the end stops nothing
    }

    // Fault guarded: a folder downloaded again failed with "Folder already
    // exists.", and a file downloaded again replaced the local one unasked.
    void downloadingAgainAsksAndFollowsTheChoice() {
        ShowRoot();
        QTemporaryDir destDir;
        const fs::path dest = destDir.path().toStdString();
        const auto download = [&] {
            DownloadRows({QStringLiteral("Tree"), QStringLiteral("one.txt")}, dest);
        };
        const auto names = [](const fs::path& dir) {
            QStringList n;
            for (const auto& e : fs::directory_iterator(dir))
                n << QString::fromStdString(e.path().filename().string());
            n.sort();
            return n;
        };
        download();
        QVERIFY(m_clashQuestions.empty());  // nothing was there yet
        test::WriteAll(dest / "one.txt", "mine\n");
        test::WriteAll(dest / "Tree" / "top.txt", "my top\n");

        m_folderAnswer = {ClashChoice::KeepBoth, false};
        m_fileAnswer = {ClashChoice::KeepBoth, false};
        download();
        QCOMPARE(m_clashQuestions.size(), std::size_t(2));
        QCOMPARE(m_clashQuestions[0].path, dest / "Tree");
        QVERIFY(m_clashQuestions[0].folder);
        QCOMPARE(m_clashQuestions[1].path, dest / "one.txt");
        QCOMPARE(names(dest),
                 (QStringList{QStringLiteral("Tree"), QStringLiteral("Tree (2)"),
                              QStringLiteral("one (2).txt"), QStringLiteral("one.txt")}));
        QCOMPARE(ReadAll(dest / "one.txt"), std::string("mine\n"));
        QCOMPARE(ReadAll(dest / "one (2).txt"), std::string("first file\n"));
        QCOMPARE(ReadAll(dest / "Tree" / "top.txt"), std::string("my top\n"));
        QCOMPARE(ReadAll(dest / "Tree (2)" / "Middle" / "Deep" / "deep.txt"),
                 std::string(300000, 'x'));

        // Merge the folder, replace every file: asked once per kind.
        m_folderAnswer = {ClashChoice::Replace, true};
        m_fileAnswer = {ClashChoice::Replace, true};
        download();
        QCOMPARE(m_clashQuestions.size(), std::size_t(2));
        QCOMPARE(names(dest).size(), 4);
        QCOMPARE(names(dest / "Tree"),
                 (QStringList{QStringLiteral("Middle"), QStringLiteral("top.txt")}));
        QCOMPARE(ReadAll(dest / "Tree" / "top.txt"), std::string("top\n"));
        QCOMPARE(ReadAll(dest / "one.txt"), std::string("first file\n"));

        // Skip: nothing local changes, nothing is added.
        test::WriteAll(dest / "one.txt", "mine again\n");
        m_folderAnswer = {ClashChoice::Skip, false};
        m_fileAnswer = {ClashChoice::Skip, false};
        download();
        QCOMPARE(m_clashQuestions.size(), std::size_t(2));
        QCOMPARE(names(dest).size(), 4);
        QCOMPARE(ReadAll(dest / "one.txt"), std::string("mine again\n"));
    }

    // The guard against folder cycles skipped every folder met a second
    // time: a folder filed in two folders, or selected beside its own parent,
    // was downloaded at one place only. (The service refuses real cycles.)
    void aFolderReachedTwiceIsDownloadedAtEachPlace_data() {
        QTest::addColumn<bool>("besideItsParent");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("filed in two parents")
            << false
            << QStringList{QStringLiteral("Parent one/Filed twice/inside.txt"),
                           QStringLiteral("Parent two/Filed twice/inside.txt")};
        QTest::newRow("selected beside its own parent")
            << true
            << QStringList{QStringLiteral("Parent one/Filed twice/inside.txt"),
                           QStringLiteral("Filed twice/inside.txt")};
    }
    void aFolderReachedTwiceIsDownloadedAtEachPlace() {
        QFETCH(bool, besideItsParent);
        QFETCH(QStringList, files);
        server::Store& store = m_server->GetStore();
        const auto add = [&](const std::string& kind, const std::string& title,
                             std::vector<std::string> parents,
                             std::optional<std::string> content = std::nullopt) {
            server::NewEntry e;
            e.kind = kind;
            e.title = title;
            e.mime = content ? "text/plain" : "";
            e.parents = std::move(parents);
            e.content = std::move(content);
            return store.Create(server::kDemoEmail, e).id;
        };
        const std::string one = add("folder", "Parent one", {});
        const std::string two = add("folder", "Parent two", {});
        const std::string twice = add("folder", "Filed twice", {one});
        store.AddParent(twice, two);
        const std::string inside = add("file", "inside.txt", {twice}, "in both\n");
        if (besideItsParent)
            Show(CategoryUrl(" All items(folders included)"), " All items(folders included)",
                 false);
        else
            ShowRoot();
        QTemporaryDir dest;
        DownloadRows(besideItsParent
                         ? QStringList{QStringLiteral("Parent one"), QStringLiteral("Filed twice")}
                         : QStringList{QStringLiteral("Parent one"), QStringLiteral("Parent two")},
                     dest.path().toStdString());
        for (const std::string& id : {inside, twice, one, two}) store.Delete(id);
        for (const QString& file : files)
            QCOMPARE(ReadAll(fs::path(dest.filePath(file).toStdString())),
                     std::string("in both\n"));
    }

    // Fault guarded: a file uploaded again made a silent duplicate.
    void uploadingANameAgainAsksAndFollowsTheChoice() {
        ShowRoot();
        const fs::path file = fs::path(m_dir.path().toStdString()) / "up" / "clash.txt";
        const auto upload = [&](const std::string& bytes) {
            m_clashQuestions.clear();
            test::WriteAll(file, bytes);
            Commands()->StartUpload({UploadSource{file, false}});
            WaitTransferEnd();
            if (TransferProgressDlg* d = Commands()->LastTransferDialog())
                QFAIL(qPrintable(d->DetailLines().join(QLatin1Char('\n'))));
        };
        upload("first\n");
        QVERIFY(m_clashQuestions.empty());
        QTRY_VERIFY_WITH_TIMEOUT(RowOf(QStringLiteral("clash.txt")) >= 0, 30000);

        m_fileAnswer = {ClashChoice::KeepBoth, false};
        upload("second\n");
        QCOMPARE(m_clashQuestions.size(), std::size_t(1));
        QCOMPARE(m_clashQuestions[0].path, fs::path("Root Folder") / "clash.txt");
        QVERIFY(!m_clashQuestions[0].folder);
        QTRY_VERIFY_WITH_TIMEOUT(RowOf(QStringLiteral("clash (2).txt")) >= 0, 30000);

        m_fileAnswer = {ClashChoice::Replace, false};
        upload("third\n");
        QCOMPARE(m_clashQuestions.size(), std::size_t(1));
        WaitIdle();
        QTemporaryDir back;
        DownloadRows({QStringLiteral("clash.txt"), QStringLiteral("clash (2).txt")},
                     back.path().toStdString());
        QCOMPARE(ReadAll(fs::path(back.path().toStdString()) / "clash.txt"),
                 std::string("third\n"));
        QCOMPARE(ReadAll(fs::path(back.path().toStdString()) / "clash (2).txt"),
                 std::string("second\n"));
        int rows = 0;
        for (int r = 0; r < List()->Model()->rowCount(); ++r)
            if (List()->Model()->TitleAt(r).startsWith(QStringLiteral("clash"))) ++rows;
        QCOMPARE(rows, 2);  // replaced in place, no third row
        m_fileAnswer = {ClashChoice::Skip, false};
    }

    void theTreeDownloadsTheFolderClickedOn() {
        const QAbstractItemModel* tree = m_frame->Tree()->model();
        QModelIndex photos;
        for (int r = 0; r < tree->rowCount(); ++r)
            if (tree->index(r, 0).data().toString() == QStringLiteral("Photos"))
                photos = tree->index(r, 0);
        QVERIFY(photos.isValid());
        const QPoint pos = m_frame->Tree()->visualRect(photos).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos,
                                m_frame->Tree()->viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(m_frame->Tree()->viewport(), &event);
        m_frame->Actions()->TreeFolderMenu()->hide();
        QTemporaryDir dest;
        m_pickedFolder = dest.path();
        m_frame->Actions()->treeDownload->trigger();
        QCOMPARE(m_folderPrompts, QStringList{QStringLiteral("Select the folder:")});
        WaitTransferEnd();
        const fs::path photosDir = fs::path(dest.path().toStdString()) / "Photos";
        QVERIFY(fs::exists(photosDir / "sunset.png"));
        QCOMPARE(ReadAll(photosDir / "Photo credits.txt"), std::string("All photos: Demo User.\n"));
    }

    void aSecondTransferIsRefusedWhileOneRuns() {
        ShowRoot();
        const fs::path local = fs::path(m_dir.path().toStdString()) / "again.txt";
        test::WriteAll(local, "again\n");
        m_pickedFiles = {QString::fromStdString(local.string())};
        Commands()->Upload();
        QVERIFY(transferBusy.load());
        TransferProgressDlg* first = Commands()->LastTransferDialog();
        // No events were handled: the upload cannot have ended yet.
        QVERIFY(SelectTitles({QStringLiteral("Meeting notes")}));
        m_pickedFolder = m_dir.path();
        Commands()->Download();
        Commands()->Upload();
        Commands()->Paste();
        QVERIFY(m_folderPrompts.isEmpty());
        QCOMPARE(Commands()->LastTransferDialog(), first);
        QVERIFY(!MenuTexts(*Commands()->ContextMenu()).contains(QStringLiteral("&Download...")));
        QVERIFY(!m_frame->Actions()->download->isEnabled());
        WaitTransferEnd();
    }

    void exportsOneDocumentOfEachKind_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("contains");
        QTest::newRow("document") << QStringLiteral("Meeting notes") << 32807
                                  << QStringLiteral("Meeting notes.txt")
                                  << QStringLiteral("ship the new list view");
        QTest::newRow("presentation")
            << QStringLiteral("Quarterly review") << 40078 << QStringLiteral("Quarterly review.txt")
            << QStringLiteral("Hiring");
        QTest::newRow("spreadsheet")
            << QStringLiteral("Budget 2026") << 32816 << QStringLiteral("Budget 2026.csv")
            << QStringLiteral("Travel,450,620");
        QTest::newRow("drawing") << QStringLiteral("Office floor plan") << 32825
                                 << QStringLiteral("Office floor plan.svg")
                                 << QStringLiteral("<rect");
    }
    void exportsOneDocumentOfEachKind() {
        QFETCH(QString, title);
        QFETCH(int, command);
        QFETCH(QString, file);
        QFETCH(QString, contains);
        ShowRoot();
        QVERIFY(SelectTitles({title}));
        QTemporaryDir dest;
        m_pickedFolder = dest.path();
        Commands()->Run(command);  // modal until the export has ended
        QCOMPARE(m_folderPrompts, QStringList{QStringLiteral("Select the  folder to save to:")});
        const std::string bytes = ReadAll(fs::path(dest.filePath(file).toStdString()));
        QVERIFY2(QString::fromStdString(bytes).contains(contains), bytes.c_str());
    }

    // Fault guarded: a native document that the service cannot convert (no
    // LibreOffice there) ended in two error windows, the service's reason
    // missing, and the box saying so opened under the progress window (a
    // window of its own, which a window manager may stack anywhere).
    void aConversionTheServiceCannotDoEndsInOneBoxOverTheProgressWindow() {
        ShowRoot();
        QTemporaryDir dest;
        m_pickedFolder = dest.path();
        m_errors.clear();
        QVERIFY(SelectTitles({QStringLiteral("Meeting notes")}));
        // The service in this process looks for its converter on this PATH.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_dir.filePath(QStringLiteral("no-office")).toLocal8Bit());
        Commands()->Download();
        WaitTransferEnd();
        qputenv("PATH", path);
        TransferProgressDlg* dialog = Commands()->LastTransferDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->DetailLines().size(), 1);
        QVERIFY2(dialog->DetailLines().front().contains(
                     QStringLiteral("Converting to doc needs LibreOffice on the server.")),
                 qPrintable(dialog->DetailLines().front()));
        QVERIFY(m_errors.isEmpty());
        QList<QMessageBox*> boxes;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) boxes << box;
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.front(), dialog->FinishBox());
        QVERIFY(!boxes.front()->isModal());
        // Stacked over the progress window by every window manager: its
        // transient, not a window of its own.
        QVERIFY(boxes.front()->windowHandle());
        QCOMPARE(boxes.front()->windowHandle()->transientParent(), dialog->windowHandle());
        QVERIFY(fs::is_empty(fs::path(dest.path().toStdString())));  // no file half written
        boxes.front()->close();
        dialog->close();
    }

    void cancelStopsADownloadAndLeavesNoFile() {
        QTemporaryDir dest;
        QPointer<TransferProgressDlg> guard;
        StartHeldDownload(dest, guard);
        if (QTest::currentTestFailed()) return;
        QTest::mouseClick(guard->findChild<QPushButton*>(QStringLiteral("cancelButton")),
                          Qt::LeftButton);
        QVERIFY(transferCancel.load());
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 10000);  // closed at once
        m_gate->Open();
        WaitTransferEnd();
        const fs::path deep = fs::path(dest.path().toStdString()) / "Tree" / "Middle" / "Deep";
        QVERIFY(!fs::exists(deep / "deep.txt"));
        if (fs::exists(deep)) QVERIFY(fs::is_empty(deep));  // no partial file either
        m_gate->Disarm();
    }

    // Export and a drag start cleared the one cancel flag: a download just
    // cancelled ran on with no window.
    void aCancelOutlivesTheNextCommand_data() {
        QTest::addColumn<bool>("drag");
        QTest::newRow("export") << false;
        QTest::newRow("drag start") << true;
    }
    void aCancelOutlivesTheNextCommand() {
        QFETCH(bool, drag);
        QTemporaryDir dest;
        QPointer<TransferProgressDlg> dialog;
        StartHeldDownload(dest, dialog);
        if (QTest::currentTestFailed()) return;
        dialog->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
        QVERIFY(transferCancel.load());

        QVERIFY(SelectTitles({QStringLiteral("Meeting notes")}));
        QTemporaryDir exportDest;
        m_pickedFolder = exportDest.path();
        bool stillCancelled = false;
        if (drag) {
            std::unique_ptr<QMimeData> data(Commands()->MakeDragData());
            stillCancelled = transferCancel.load();
            m_gate->Open();
        } else {
            // Looked at inside the export window's own loop.
            QTimer::singleShot(0, this, [&] {
                stillCancelled = transferCancel.load();
                m_gate->Open();
            });
            Commands()->Run(32807);  // export as text, modal until it ends
            // Started once the cancelled download had ended, and not stopped.
            QVERIFY(QFile::exists(exportDest.filePath(QStringLiteral("Meeting notes.txt"))));
        }
        WaitTransferEnd();
        QVERIFY(stillCancelled);
        QVERIFY(!fs::exists(fs::path(dest.path().toStdString()) / "Tree" / "Middle" / "Deep" /
                            "deep.txt"));
        m_gate->Disarm();
    }

    // The end of an export beside a download just cancelled cleared the
    // Cancel before the download saw it: the download ran on with no window.
    void anExportEndingBesideACancelledDownloadLeavesItsCancel() {
        QTemporaryDir dest;
        QPointer<TransferProgressDlg> dialog;
        QTemporaryDir exportDest;
        StartHeldDownloadAndArmTheExport(dest, dialog, exportDest);
        if (QTest::currentTestFailed()) return;
        bool cancelled = false;
        bool exportEnded = false;
        bool stillCancelled = false;
        // Inside the export window's loop: the export holds at its first
        // bytes while the download is cancelled, then ends.
        QTimer::singleShot(0, this, [&] {
            QDeadlineTimer deadline(30000);
            while (!m_exportGate->Reached() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (dialog) dialog->findChild<QPushButton*>(QStringLiteral("cancelButton"))->click();
            cancelled = transferCancel.load();
            m_exportGate->Open();
            while (exportsRunning.load() > 0 && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            exportEnded = exportsRunning.load() == 0;  // its end was handled before this
            stillCancelled = transferCancel.load();
            m_gate->Open();
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
        });
        Commands()->Run(32807);  // export as text, modal until it is closed
        WaitTransferEnd();
        m_exportGate->Disarm();
        m_gate->Disarm();
        QVERIFY(cancelled);
        QVERIFY(exportEnded);
        QVERIFY(stillCancelled);
        QVERIFY(!fs::exists(fs::path(dest.path().toStdString()) / "Tree" / "Middle" / "Deep" /
                            "deep.txt"));
    }

    // A cancelled export still winding down lost its Cancel when a download
    // beside it ended: the export went on and wrote its file.
    void aDownloadEndingBesideACancelledExportLeavesItsCancel() {
        QTemporaryDir dest;
        QPointer<TransferProgressDlg> dialog;
        QTemporaryDir exportDest;
        StartHeldDownloadAndArmTheExport(dest, dialog, exportDest);
        if (QTest::currentTestFailed()) return;
        QTimer::singleShot(0, this, [&] {
            QDeadlineTimer deadline(30000);
            while (!m_exportGate->Reached() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
        });
        Commands()->Run(32807);  // returns once its window is cancelled
        const bool exportHeld = m_exportGate->Reached() && exportsRunning.load() == 1;
        QVERIFY(transferCancel.load());
        m_gate->Open();
        WaitTransferEnd();  // the download has ended, its window with it
        const bool stillCancelled = transferCancel.load();
        m_exportGate->Open();
        QTRY_COMPARE_WITH_TIMEOUT(exportsRunning.load(), 0, 30000);
        m_exportGate->Disarm();
        m_gate->Disarm();
        QVERIFY(exportHeld);
        QVERIFY2(stillCancelled, "the export still running lost its Cancel");
    }

    // A dialog the program runs over the main window (an export, the
    // create-folder, search and About dialogs) blocked every other window of
    // the program, the running download's Cancel with them.
    void aDownloadCanBeCancelledWhileADialogIsOpen_data() {
        QTest::addColumn<QString>("command");
        QTest::newRow("export") << QStringLiteral("export");
        QTest::newRow("create folder") << QStringLiteral("create folder");
        QTest::newRow("search") << QStringLiteral("search");
        QTest::newRow("about") << QStringLiteral("about");
    }
    void aDownloadCanBeCancelledWhileADialogIsOpen() {
        QFETCH(QString, command);
        QTemporaryDir dest;
        QPointer<TransferProgressDlg> dialog;
        StartHeldDownload(dest, dialog);
        if (QTest::currentTestFailed()) return;
        QVERIFY(SelectTitles({QStringLiteral("Meeting notes")}));
        QTemporaryDir exportDest;
        m_pickedFolder = exportDest.path();

        // Inside the dialog's own loop: click Cancel, let the download run
        // to its end, then close the dialog. A watchdog closes it whatever
        // happens, so that no case can hang.
        QString modal;
        bool cancelled = false;
        bool ended = false;
        auto closeModal = [] {
            for (int i = 0; i < 5 && QApplication::activeModalWidget(); ++i)
                if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                    d->reject();
        };
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, this, closeModal);
        watchdog.start(45000);
        QTimer::singleShot(0, this, [&] {
            if (QWidget* w = QApplication::activeModalWidget()) modal = w->objectName();
            if (dialog) {
                auto* cancel = dialog->findChild<QPushButton*>(QStringLiteral("cancelButton"));
                // Through the window system's path, where modal blocking applies.
                QTest::mouseClick(dialog->windowHandle(), Qt::LeftButton, {},
                                  cancel->mapTo(dialog.data(), cancel->rect().center()));
            }
            cancelled = transferCancel.load();
            m_gate->Open();
            QDeadlineTimer deadline(30000);
            while (transferBusy.load() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            ended = !transferBusy.load();
            closeModal();
        });
        if (command == QLatin1String("export")) {
            Commands()->Run(32807);  // export as text, modal until it is closed
        } else if (command == QLatin1String("create folder")) {
            Commands()->CreateFolder();
        } else if (command == QLatin1String("search")) {
            Commands()->Search();
        } else {
            m_frame->Actions()->about->trigger();
        }
        watchdog.stop();
        QVERIFY2(!modal.isEmpty(), "the command opened no modal dialog");
        QVERIFY2(cancelled, qPrintable(QStringLiteral("Cancel did not respond beside ") + modal));
        QVERIFY(ended);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 10000);  // closed at once
        // The file held at the gate is not there, nor any hidden partial file.
        const fs::path root(dest.path().toStdString());
        QVERIFY(!fs::exists(root / "Tree" / "Middle" / "Deep" / "deep.txt"));
        for (const auto& item : fs::recursive_directory_iterator(root))
            QVERIFY2(!item.path().filename().string().starts_with("."), item.path().c_str());
        m_gate->Disarm();
    }

    void theModalVariantDownloadsAndEndsItsLoop() {
        ShowRoot();
        QVERIFY(SelectTitles({QStringLiteral("one.txt")}));
        const DocEntryPtr e = List()->SelectedEntries().front();
        QTemporaryDir dest;
        CProgressDlgModal dialog({FolderItem{*e->contentSrc, *e->title, e->kind, e->QuotaBytes()}},
                                 dest.path().toStdString(), m_state->calls.transferOps,
                                 m_frame.get());
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(ReadAll(fs::path(dest.filePath(QStringLiteral("one.txt")).toStdString())),
                 std::string("first file\n"));
        WaitTransferEnd();
    }

    // Exit must raise the flag the transfer loops read (it raised one of the
    // shell's own, and a running download went on to the end). Last: Exit
    // ends the event loops for good.
    void exitDuringATransferCancelsIt() {
        QTemporaryDir dest;
        QPointer<TransferProgressDlg> dialog;
        StartHeldDownload(dest, dialog);
        if (QTest::currentTestFailed()) return;
        const fs::path deepFolder =
            fs::path(dest.path().toStdString()) / "Tree" / "Middle" / "Deep";
        const auto hiddenParts = [&] {
            int n = 0;
            for (const auto& e : fs::directory_iterator(deepFolder))
                if (e.path().filename().string().find(".tdpart-") != std::string::npos) ++n;
            return n;
        };
        QCOMPARE(hiddenParts(), 1);  // the download is on its way
        m_frame->Exit();
        QVERIFY(transferCancel.load());
        // Gone at once: the thread is not waited for at exit.
        QCOMPARE(hiddenParts(), 0);
        m_gate->Open();
        WaitTransferEnd();
        QVERIFY(!fs::exists(fs::path(dest.path().toStdString()) / "Tree" / "Middle" / "Deep" /
                            "deep.txt"));
    }

    // Last: everything the Trash lists goes, after one question.
    void emptyTrashDeletesEverythingInIt() {
        Show(CategoryUrl(" Trash"), " Trash", false);
        const int rows = List()->Model()->rowCount();
        QVERIFY(rows >= 2);
        m_answer = false;
        Commands()->Run(kCmdEmptyTrash);
        QCOMPARE(m_questions.size(), 1);
        QVERIFY(m_questions.front().contains(QString::number(rows)));
        QCOMPARE(List()->Model()->rowCount(), rows);
        m_answer = true;
        Commands()->Run(kCmdEmptyTrash);
        QTRY_COMPARE_WITH_TIMEOUT(List()->Model()->rowCount(), 0, 30000);
        WaitActionsDone();
        Show(CategoryUrl(" Trash"), " Trash", false);
        QCOMPARE(List()->Model()->rowCount(), 0);
        QVERIFY(m_errors.isEmpty());
    }

    // A box a case left open would outlive the case, and at exit the
    // application.
    void cleanup() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w)) box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void cleanupTestCase() {
        m_frame.reset();
        m_state.reset();
        m_server.reset();
    }
};

QTEST_MAIN(CommandsLiveTest)
#include "CommandsLiveTest.moc"
