#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "ActionHandler.h"
#include "AppState.h"
#include "CLeftView.h"
#include "CMainFrame.h"
#include "CTallowdeskView.h"
#include "Categories.h"
#include "EntryListModel.h"
#include "FakeFeeds.h"
#include "FakeShell.h"
#include "MenuTexts.h"
#include "Resources.h"
#include "dialogs/CMsgDlg.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
using fakes::Item;
using test::CategoryUrl;

namespace {

QModelIndex TreeIndex(CLeftView* tree, const QString& text, const QModelIndex& parent = {}) {
    for (int r = 0; r < tree->model()->rowCount(parent); ++r) {
        const QModelIndex i = tree->model()->index(r, 0, parent);
        if (i.data().toString() == text) return i;
    }
    return {};
}

constexpr const char* kSentence = "You are currently using 12.34 MB.";

}  // namespace

// The main window against a fake document service: tree and list filled,
// locations, history, availability, the tree's own commands.
class MainWindowTest : public QObject {
    Q_OBJECT
private:
    std::shared_ptr<fakes::FakeService> m_service;
    QStringList m_errors;  // the error boxes' texts
    std::shared_ptr<AppState> m_state;
    std::unique_ptr<CMainFrame> m_frame;

    CTallowdeskView* List() const { return m_frame->List(); }
    CLeftView* Tree() const { return m_frame->Tree(); }
    int Rows() const { return List()->Model()->rowCount(); }
    void WaitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!List()->Processing(), 10000); }
    void Select(const QModelIndex& index) {
        Tree()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        WaitIdle();
    }

private slots:
    void initTestCase() {
        fakes::StartFakeShell();

        m_service = std::make_shared<fakes::FakeService>();
        const std::vector<Item> rootFolders = {{"folder", "Reports", "r1"},
                                               {"folder", "Archive", "a1"}};
        std::vector<Item> root = rootFolders;
        root.push_back({"document", "Meeting notes", "d1", "0", "2013-04-01T09:00:00.000Z", "Ann"});
        root.push_back(
            {"spreadsheet", "Budget 2013", "s1", "0", "2013-03-12T15:30:00.000Z", "Bob"});
        root.push_back({"presentation", "Kick-off", "p1", "0", "2013-02-20T11:00:00.000Z", "Cleo"});
        root.push_back(
            {"file", "photo.jpg", "f1", "734003", "2013-01-05T08:15:00.000Z", "Ann", "image/jpeg"});
        root.push_back({"pdf", "Manual.pdf", "m1", "1203000", "2012-12-24T18:00:00.000Z", "Dan"});
        root.push_back({"file", "letter.docx", "w1", "23456", "2012-11-02T10:00:00.000Z", "Ann",
                        "application/vnd.openxmlformats-officedocument.wordprocessingml.document"});
        root.push_back({"drawing", "Floor plan", "g1", "0", "2012-10-10T10:10:10.000Z", "Eve"});
        m_service->Serve(RootFolderUrl(), fakes::FeedXml(root));
        m_service->Serve(RootSubFoldersUrl(), fakes::FeedXml(rootFolders));
        m_service->Serve(
            fakes::ContentsUrl("r1"),
            fakes::FeedXml({{"folder", "2013", "y1"}, {"document", "Q1 report", "q1"}}));
        m_service->Serve(FolderLoaderUrl(fakes::ContentsUrl("r1")),
                         fakes::FeedXml({{"folder", "2013", "y1"}}));
        m_service->Serve(fakes::ContentsUrl("y1"),
                         fakes::FeedXml({{"document", "Year plan", "y2"}}));
        m_service->Serve(CategoryUrl(" Starred"), fakes::FeedXml({{"document", "Plan", "d2"}}));
        m_service->Serve(CategoryUrl(" Trash"),
                         fakes::FeedXml({{"file", "old.txt", "t1"}, {"file", "older.txt", "t2"}}));

        m_service->SetQuota(std::string(kSentence));
        m_state = fakes::FakeState(m_service);
        CommandHooks hooks;
        hooks.errorBox = [this](const QString&, const QString& text) { m_errors << text; };
        m_frame = std::make_unique<CMainFrame>(m_state, FrameHooks{}, std::move(hooks));
        m_frame->show();
        m_frame->Start();
        WaitIdle();
        QTRY_COMPARE_WITH_TIMEOUT(Tree()->model()->rowCount(), 12, 10000);
    }

    void startsWithTheRootFolderListed() {
        QCOMPARE(Rows(), 9);
        QCOMPARE(m_frame->windowTitle(), QStringLiteral("Tallowdesk"));
        QCOMPARE(m_frame->StatusText(), QStringLiteral("9 items"));
        QVERIFY(!List()->ProcessingWindow()->isVisible());
        QCOMPARE(Tree()->model()->index(0, 0).data().toString(),
                 QStringLiteral(" Latest 100 items"));
        QCOMPARE(Tree()->model()->index(10, 0).data().toString(), QStringLiteral("Archive"));
        QVERIFY(!m_frame->Actions()->back->isEnabled());
        QVERIFY(m_frame->Actions()->refresh->isEnabled());
        QVERIFY(!m_frame->Actions()->moveToTrash->isEnabled());  // nothing selected
    }

    void theMenusAndToolbarHoldTheirCommandsInOrder() {
        QStringList menus;
        for (const QAction* m : m_frame->menuBar()->actions())
            menus << m->text() + QStringLiteral(": ") +
                         MenuTexts(*m->menu()).join(QLatin1Char('|'));
        const QStringList expected = {
            QStringLiteral("&File: &Go back|Up One &Level|&Refresh|-|&Open|&Upload...|"
                           "&Download...|-|S&witch Account...|Sign Ou&t|-|E&xit"),
            QStringLiteral("&Commands: Create &Folder|-|&Share...|S&earch...|Re&name|"
                           "Move to &trash|Add star|-|Rest&ore|Delete For&ever|Empty Trash"),
            QStringLiteral("&View: &Toolbar|&Status Bar|-|&Large Icons|S&mall Icons|L&ist|"
                           "&Details|-|&Arrange Icons|S&ort Items"),
            QStringLiteral("&Tools: &Settings..."),
            QStringLiteral("&Help: &Help Content|Check for &Updates|Get more Google &storage|-|"
                           "&About Tallowdesk..."),
        };
        QCOMPARE(menus, expected);
        QCOMPARE(m_frame->Actions()->open->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
        QCOMPARE(MenuTexts(*m_frame->Actions()->ViewStyleMenu()),
                 QStringList({QStringLiteral("&Large Icons"), QStringLiteral("S&mall Icons"),
                              QStringLiteral("L&ist"), QStringLiteral("&Details")}));
        QCOMPARE(MenuTexts(*m_frame->Actions()->TrayMenu()),
                 QStringList({QStringLiteral("Open"), QStringLiteral("Exit")}));

        QStringList buttons;
        const auto* bar = m_frame->findChild<QToolBar*>(QStringLiteral("mainToolBar"));
        for (QAction* a : bar->actions()) {
            if (a->isSeparator())
                buttons << QStringLiteral("-");
            else if (auto* w = bar->widgetForAction(a); w && !w->objectName().isEmpty())
                buttons << w->objectName();
            else
                buttons << a->iconText();
        }
        QCOMPARE(buttons.join(QLatin1Char('|')),
                 QStringLiteral("Back|Refresh|-|Open|Download|Upload|Share|Search|MoveToTrash|"
                                "viewStyleButton|helpButton"));
        QCOMPARE(m_frame->Actions()->back->statusTip(),
                 QStringLiteral("Go back to previous folder"));
        QCOMPARE(m_frame->Actions()->back->toolTip(), QStringLiteral("Go back"));
    }

    void theStatusBarShowsTheStorageSentence() {
        QLabel* quota = m_frame->QuotaLabel();
        QTRY_COMPARE_WITH_TIMEOUT(quota->text(), QString::fromLatin1(kSentence), 10000);
        QVERIFY(quota->minimumWidth() >=
                quota->fontMetrics().horizontalAdvance(QString(103, QLatin1Char(' '))));

        // Hiding and showing the window reads it again.
        const std::size_t before = m_service->Count("quota");
        m_frame->hide();
        m_frame->show();
        QTRY_COMPARE_WITH_TIMEOUT(m_service->Count("quota"), before + 2, 10000);

        // A failure keeps what is shown.
        m_service->SetQuota(std::nullopt, true);
        m_frame->RefreshQuota();
        QTRY_COMPARE_WITH_TIMEOUT(m_service->Count("quota"), before + 3, 10000);
        QTest::qWait(50);
        QCOMPARE(quota->text(), QString::fromLatin1(kSentence));

        // A page without the sentence empties the part.
        m_service->SetQuota(std::nullopt);
        m_frame->RefreshQuota();
        QTRY_VERIFY_WITH_TIMEOUT(quota->text().isEmpty(), 10000);

        m_service->SetQuota(std::string(200, 'x'));
        m_frame->RefreshQuota();
        QTRY_COMPARE_WITH_TIMEOUT(quota->text().size(), qsizetype(kQuotaTextLimit), 10000);

        m_service->SetQuota(std::string(kSentence));
        m_frame->RefreshQuota();
        QTRY_COMPARE_WITH_TIMEOUT(quota->text(), QString::fromLatin1(kSentence), 10000);
    }

    // Regression: a read started before the session cookies existed (at the
    // window's first show) could end after the one made once they did, and
    // its page without the sentence blanked the right one.
    void aLateStaleStorageReadKeepsTheNewerSentence() {
        struct Slow {
            std::mutex mutex;
            std::condition_variable released;
            bool open = false;
            std::atomic<int> calls{0};
            std::atomic<int> done{0};
        };
        auto slow = std::make_shared<Slow>();
        struct Restore {
            ServiceCalls& calls;
            decltype(ServiceCalls::quotaText) saved = calls.quotaText;
            ~Restore() { calls.quotaText = saved; }
        } restore{m_state->calls};
        m_state->calls.quotaText = [slow]() -> std::optional<std::string> {
            struct Done {
                Slow& s;
                ~Done() { ++s.done; }
            } done{*slow};
            if (slow->calls++ > 0) return std::string("You are currently using 2.00 MB.");
            std::unique_lock lock(slow->mutex);
            slow->released.wait_for(lock, std::chrono::seconds(10), [&] { return slow->open; });
            return std::nullopt;  // the page before the cookies: no sentence
        };
        m_frame->RefreshQuota();  // the stale one, held
        // Each read runs on a worker of its own: the second starts only once
        // the first is held, or it could be the one to arrive first.
        QTRY_COMPARE_WITH_TIMEOUT(slow->calls.load(), 1, 10000);
        m_frame->RefreshQuota();
        QLabel* quota = m_frame->QuotaLabel();
        QTRY_COMPARE_WITH_TIMEOUT(quota->text(), QStringLiteral("You are currently using 2.00 MB."),
                                  10000);
        {
            std::lock_guard lock(slow->mutex);
            slow->open = true;
        }
        slow->released.notify_all();
        QTRY_COMPARE_WITH_TIMEOUT(slow->done.load(), 2, 10000);
        QTest::qWait(50);  // its answer is delivered by now
        QCOMPARE(quota->text(), QStringLiteral("You are currently using 2.00 MB."));
        m_state->calls.quotaText = restore.saved;
        m_frame->RefreshQuota();
        QTRY_COMPARE_WITH_TIMEOUT(quota->text(), QString::fromLatin1(kSentence), 10000);
    }

    void theAboutBoxShowsTheStorageSentence() {
        QString shown;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!about || about->objectName() != QStringLiteral("aboutDialog")) return;
            auto* text = about->findChild<QLabel*>(QStringLiteral("quotaText"));
            if (!text->isVisible()) return;
            shown = text->text();
            QVERIFY(about->findChild<QLabel*>(QStringLiteral("addStorageLink"))->isVisible());
            about->accept();
        });
        poll.start(20);
        QTimer::singleShot(10000, this, [] {
            if (QWidget* w = QApplication::activeModalWidget()) w->close();
        });
        m_frame->Actions()->about->trigger();
        QCOMPARE(shown, QString::fromLatin1(kSentence));
    }

    void screenshot() {
        List()->SortByColumn(0);
        List()->Selection()->select(
            List()->Model()->index(3, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const QString path =
            QStringLiteral(TALLOWDESK_SCREENSHOT_DIR) + QStringLiteral("/tallowdesk-main.png");
        QVERIFY(m_frame->grab().save(path));
        QCOMPARE(m_frame->StatusText(), QStringLiteral("1 item selected"));
        QVERIFY(m_frame->Actions()->moveToTrash->isEnabled());
        List()->Selection()->clearSelection();
    }

    void clickingColumnHeadingsSorts() {
        auto* details = List()->findChild<QTreeView*>(QStringLiteral("entryDetailsView"));
        QHeaderView* header = details->header();
        const auto click = [header](int section) {
            const QPoint pos(header->sectionViewportPosition(section) + 5, header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, pos);
        };
        const auto titles = [this] {
            QStringList t;
            for (int r = 0; r < Rows(); ++r) t << List()->Model()->TitleAt(r);
            return t;
        };
        click(2);  // Size, ascending: folders first, then byte counts as numbers
        QStringList t = titles();
        QCOMPARE(t.mid(0, 2), QStringList({QStringLiteral("Archive"), QStringLiteral("Reports")}));
        QCOMPARE(t.mid(6), QStringList({QStringLiteral("letter.docx"), QStringLiteral("photo.jpg"),
                                        QStringLiteral("Manual.pdf")}));
        click(2);  // the same column again: descending
        QCOMPARE(titles().first(), QStringLiteral("Manual.pdf"));
        QCOMPARE(titles().last(), QStringLiteral("Archive"));
        click(4);  // another column starts ascending: oldest first
        QCOMPARE(titles().first(), QStringLiteral("Floor plan"));
        QCOMPARE(List()->Sort().Column(), 4);
        QVERIFY(List()->Sort().Ascending());
        QCOMPARE(m_frame->StatusText(), QStringLiteral("9 items"));
    }

    void categoriesAndFoldersBecomeLocations() {
        Select(TreeIndex(Tree(), QStringLiteral(" Starred")));
        QCOMPARE(Rows(), 1);
        QCOMPARE(m_state->navigation.Current().url, CategoryUrl(" Starred"));
        QCOMPARE(m_frame->Actions()->star->text(), QStringLiteral("UnStar"));
        QVERIFY(m_frame->Actions()->back->isEnabled());  // back to the root folder

        Select(TreeIndex(Tree(), QStringLiteral("Reports")));
        QCOMPARE(Rows(), 2);
        QVERIFY(m_state->navigation.Current().isFolder);
        QCOMPARE(m_frame->Actions()->star->text(), QStringLiteral("Star"));
        QVERIFY(m_frame->Actions()->back->isEnabled());

        m_frame->Actions()->back->trigger();
        WaitIdle();
        QCOMPARE(Rows(), 1);
        QCOMPARE(m_state->navigation.Current().title, std::string(" Starred"));
        // The start stays reachable: the root folder has no tree node.
        m_frame->Actions()->back->trigger();
        WaitIdle();
        QCOMPARE(m_state->navigation.Current().url, RootFolderUrl());
        QVERIFY(!m_frame->Actions()->back->isEnabled());
    }

    void nothingCanBeTrashedInTheTrash() {
        Select(TreeIndex(Tree(), QStringLiteral(" Trash")));
        QCOMPARE(Rows(), 2);
        List()->Selection()->select(
            List()->Model()->index(0, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QVERIFY(!m_frame->Actions()->moveToTrash->isEnabled());
        QVERIFY(m_frame->Actions()->star->isEnabled());
    }

    void aFolderIsReadOnItsFirstExpansionOnly() {
        const QModelIndex reports = TreeIndex(Tree(), QStringLiteral("Reports"));
        Tree()->expand(reports);
        QTRY_VERIFY_WITH_TIMEOUT(TreeIndex(Tree(), QStringLiteral("2013"), reports).isValid(),
                                 10000);
        QCOMPARE(Tree()->model()->rowCount(reports), 1);  // the placeholder went
        Tree()->collapse(reports);
        Tree()->expand(reports);
        QCoreApplication::processEvents();
        QCOMPARE(m_service->Count(FolderLoaderUrl(fakes::ContentsUrl("r1"))), std::size_t(1));
    }

    void sortAndUpByKeys() {
        // The View menu's sort commands act as the column headings do.
        m_frame->Actions()->sortBy[2]->trigger();
        QCOMPARE(List()->Sort().Column(), 2);
        QVERIFY(List()->Sort().Ascending());
        m_frame->Actions()->sortBy[2]->trigger();
        QVERIFY(!List()->Sort().Ascending());

        const QModelIndex reports = TreeIndex(Tree(), QStringLiteral("Reports"));
        Tree()->expand(reports);
        QTRY_VERIFY_WITH_TIMEOUT(TreeIndex(Tree(), QStringLiteral("2013"), reports).isValid(),
                                 10000);
        Select(TreeIndex(Tree(), QStringLiteral("2013"), reports));
        QCOMPARE(m_state->navigation.Current().title, std::string("2013"));
        m_frame->Actions()->up->trigger();
        WaitIdle();
        QCOMPARE(m_state->navigation.Current().title, std::string("Reports"));
        m_frame->Actions()->up->trigger();  // at the top: nothing above in the tree
        WaitIdle();
        QCOMPARE(m_state->navigation.Current().title, std::string("Reports"));
    }

    // Regression: a location chosen while a listing runs must not mix the
    // two locations' rows nor start a second worker.
    void aNewLocationDuringAListingShowsOnlyItsRows() {
        const std::string starred = CategoryUrl(" Starred");
        m_service->Hold(starred);
        Tree()->selectionModel()->setCurrentIndex(TreeIndex(Tree(), QStringLiteral(" Starred")),
                                                  QItemSelectionModel::ClearAndSelect);
        QTRY_VERIFY_WITH_TIMEOUT(m_service->Waiting(starred), 10000);
        QVERIFY(List()->Processing());
        QVERIFY(List()->ProcessingWindow()->isVisible());
        QCOMPARE(List()->ProcessingWindow()->Line(),
                 QStringLiteral("Getting file information for \" Starred \"... "));
        List()->ProcessingWindow()->grab().save(
            QStringLiteral(TALLOWDESK_SCREENSHOT_DIR "/tallowdesk-processing.png"));
        QVERIFY(!m_frame->Actions()->refresh->isEnabled());
        Tree()->selectionModel()->setCurrentIndex(TreeIndex(Tree(), QStringLiteral(" Trash")),
                                                  QItemSelectionModel::ClearAndSelect);
        m_service->Release(starred);
        WaitIdle();
        QCOMPARE(Rows(), 2);
        // The rows follow the order chosen earlier, not the feed's.
        QStringList titles{List()->Model()->TitleAt(0), List()->Model()->TitleAt(1)};
        titles.sort();
        QCOMPARE(titles, (QStringList{QStringLiteral("old.txt"), QStringLiteral("older.txt")}));
        QCOMPARE(m_state->entries.Size(), std::size_t(2));
    }

    void renamingAFolderRenamesItsNodeAndRows() {
        Select(TreeIndex(Tree(), QStringLiteral("Archive")));  // any location
        m_state->navigation.Open(RootLocation());
        List()->RefreshList();
        WaitIdle();
        const QModelIndex archive = TreeIndex(Tree(), QStringLiteral("Archive"));
        QVERIFY(!Tree()->model()->setData(archive, QStringLiteral("Old stuff"), Qt::EditRole));
        QTRY_VERIFY_WITH_TIMEOUT(TreeIndex(Tree(), QStringLiteral("Old stuff")).isValid(), 10000);
        QCOMPARE(m_service->Count("rename https://docs.test/edit/a1 Old stuff"), std::size_t(1));
        const int row = List()->Model()->FindRowByResourceId("folder:a1");
        QCOMPARE(List()->Model()->TitleAt(row), QStringLiteral("Old stuff"));
        // The same name again asks nothing.
        Tree()->model()->setData(TreeIndex(Tree(), QStringLiteral("Old stuff")),
                                 QStringLiteral("Old stuff"), Qt::EditRole);
        QCoreApplication::processEvents();
        QCOMPARE(m_service->Count("rename https://docs.test/edit/a1 Old stuff"), std::size_t(1));
    }

    void theTreeOffersTheShortMenuOutsideFolders() {
        QSignalSpy menus(Tree(), &CLeftView::ContextMenuWanted);
        const auto rightClick = [&](const QModelIndex& index) {
            const QPoint pos = index.isValid() ? Tree()->visualRect(index).center()
                                               : QPoint(5, Tree()->viewport()->height() - 5);
            QContextMenuEvent event(QContextMenuEvent::Mouse, pos,
                                    Tree()->viewport()->mapToGlobal(pos));
            QCoreApplication::sendEvent(Tree()->viewport(), &event);
        };
        rightClick(TreeIndex(Tree(), QStringLiteral(" Starred")));
        rightClick(QModelIndex());
        rightClick(TreeIndex(Tree(), QStringLiteral("Reports")));
        QCOMPARE(menus.count(), 3);
        QCOMPARE(menus.at(0).at(0).toBool(), false);
        QCOMPARE(menus.at(1).at(0).toBool(), false);
        QCOMPARE(menus.at(2).at(0).toBool(), true);
        m_frame->Actions()->TreeFolderMenu()->hide();
        m_frame->Actions()->TreeShortMenu()->hide();
    }

    void trashingAFolderRemovesItsNodeAndRow() {
        m_state->navigation.Open(RootLocation());
        List()->RefreshList();
        WaitIdle();
        QVERIFY(List()->Model()->FindRowByResourceId("folder:r1") >= 0);
        const QModelIndex reports = TreeIndex(Tree(), QStringLiteral("Reports"));
        const QPoint pos = Tree()->visualRect(reports).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos,
                                Tree()->viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(Tree()->viewport(), &event);
        m_frame->Actions()->TreeFolderMenu()->hide();
        m_frame->Actions()->treeMoveToTrash->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!TreeIndex(Tree(), QStringLiteral("Reports")).isValid(), 10000);
        QCOMPARE(m_service->Count("trash folder:r1"), std::size_t(1));
        QCOMPARE(List()->Model()->FindRowByResourceId("folder:r1"), -1);
    }

    void refreshTreeRebuildsTheTopLevel() {
        const std::size_t before = m_service->Count(RootSubFoldersUrl());
        m_frame->Actions()->refreshTree->trigger();
        m_frame->Actions()->refreshTree->trigger();  // a second press while busy does nothing
        QTRY_VERIFY_WITH_TIMEOUT(!m_state->treeBusy.load(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(Tree()->model()->rowCount(), 12, 10000);
        QCOMPARE(m_service->Count(RootSubFoldersUrl()), before + 1);
        QVERIFY(!TreeIndex(Tree(), QStringLiteral("Refreshing the tree...")).isValid());
    }

    void aFailedRefreshLeavesAnEmptyTreeUntilTheNextOne() {
        const std::string folders = RootSubFoldersUrl();
        m_service->Forget(folders);
        QSignalSpy errors(Tree(), &CLeftView::ErrorMessage);
        m_frame->Actions()->refreshTree->trigger();
        QVERIFY(errors.wait(10000));
        QCOMPARE(errors.at(0).at(0).toString(),
                 QStringLiteral("Error: Cannot connect to Google Docs."));
        QTRY_VERIFY_WITH_TIMEOUT(!m_state->treeBusy.load(), 10000);
        QCOMPARE(Tree()->model()->rowCount(), 0);

        m_service->Serve(folders, fakes::FeedXml({{"folder", "Archive", "a1"}}));
        m_frame->Actions()->refreshTree->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(Tree()->model()->rowCount(), 11, 10000);
    }

    // A failed read used to leave "loading items..." for good: it now says
    // why on the node and reads again on the next expansion.
    void aFolderThatCannotBeReadSaysWhyAndReadsAgain() {
        const std::string url = FolderLoaderUrl(fakes::ContentsUrl("a1"));
        const std::size_t before = m_service->Count(url);
        const QModelIndex archive = TreeIndex(Tree(), QStringLiteral("Archive"));
        Tree()->expand(archive);
        QTRY_COMPARE_WITH_TIMEOUT(m_service->Count(url), before + 1, 10000);
        const QString failed = QStringLiteral(
            "Not read (Error: Cannot connect to Google Docs.). Expand again or press F5.");
        QTRY_VERIFY_WITH_TIMEOUT(TreeIndex(Tree(), failed, archive).isValid(), 10000);

        m_service->Serve(url, fakes::FeedXml({{"folder", "Old papers", "o1"}}));
        Tree()->collapse(archive);
        Tree()->expand(archive);
        QTRY_VERIFY_WITH_TIMEOUT(TreeIndex(Tree(), QStringLiteral("Old papers"),
                                           TreeIndex(Tree(), QStringLiteral("Archive")))
                                     .isValid(),
                                 10000);
        QCOMPARE(m_service->Count(url), before + 2);
        QVERIFY(!TreeIndex(Tree(), failed, TreeIndex(Tree(), QStringLiteral("Archive"))).isValid());
        m_service->Forget(url);
    }

    void viewStylesSwitchInPlace() {
        m_frame->Actions()->largeIcons->trigger();
        QCOMPARE(List()->Style(), ListStyle::LargeIcons);
        QCOMPARE(List()->ActiveView()->objectName(), QStringLiteral("entryIconView"));
        QVERIFY(List()->ActiveView()->isVisible());
        m_frame->Actions()->details->trigger();
        QCOMPARE(List()->ActiveView()->objectName(), QStringLiteral("entryDetailsView"));
        QVERIFY(m_frame->Actions()->details->isChecked());
    }

    // Regression: the hidden view kept the rows, and assistive technology
    // read every cell of every row of it; in the icon styles each cell of a
    // row was an item of its own.
    void onlyTheShownViewHoldsTheRows() {
        auto* icons = List()->findChild<QAbstractItemView*>(QStringLiteral("entryIconView"));
        auto* details = List()->findChild<QTreeView*>(QStringLiteral("entryDetailsView"));
        details->header()->resizeSection(3, 123);
        const int rows = Rows();
        QVERIFY(rows >= 3);
        List()->ActiveView()->selectionModel()->select(
            List()->Model()->index(2, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const struct {
            QAction* style;
            QAbstractItemView* shown;
            QAbstractItemView* hidden;
            int columns;
        } cases[] = {
            {m_frame->Actions()->largeIcons, icons, details, 1},
            {m_frame->Actions()->smallIcons, icons, details, 1},
            {m_frame->Actions()->list, icons, details, 1},
            {m_frame->Actions()->details, details, icons, kColumnCount},
        };
        for (const auto& c : cases) {
            c.style->trigger();
            QCOMPARE(c.shown->model(), List()->Model());
            QVERIFY(c.hidden->model() != List()->Model());
            QCOMPARE(List()->Model()->columnCount(), c.columns);
            QCOMPARE(List()->SelectedRows(), std::vector<int>{2});  // the selection stays
            QCOMPARE(Rows(), rows);
        }
        QCOMPARE(details->header()->sectionSize(3), 123);  // the column widths too
        // A whole row is selected again, not only its name.
        QVERIFY(details->selectionModel()->isSelected(List()->Model()->index(2, 4)));
        List()->ActiveView()->clearSelection();
    }

    // Regression: the cell clicked became the current one, and a screen
    // reader announced its text ("Ann", "file") instead of the row's title.
    void theCurrentCellIsTheRowsName() {
        QItemSelectionModel* s = List()->ActiveView()->selectionModel();
        for (int column : {0, 3, 4}) {
            s->setCurrentIndex(List()->Model()->index(1, column), QItemSelectionModel::NoUpdate);
            QCOMPARE(s->currentIndex(), List()->Model()->index(1, 0));
        }
        QCOMPARE(Tree()->model()->index(0, 0).data(Qt::AccessibleTextRole).toString(),
                 QStringLiteral("Latest 100 items"));
    }

    // The desktop's keys for the commands, none of them one the program
    // already gives another command or one that two commands share.
    void commandsHaveTheirKeys() {
        ActionHandler* a = m_frame->Actions();
        const struct {
            QAction* action;
            const char* key;
        } cases[] = {
            {a->upload, "Ctrl+U"},
            {a->download, "Ctrl+Shift+S"},
            {a->createFolder, "Ctrl+Shift+N"},
            {a->search, "Ctrl+F"},
            {a->share, "Ctrl+Shift+H"},
            {a->star, "Ctrl+D"},
            {a->exit, "Ctrl+Q"},
            {a->up, "Alt+Up"},
        };
        for (const auto& c : cases)
            QVERIFY2(c.action->shortcuts().contains(QKeySequence(QString::fromLatin1(c.key))),
                     c.key);
        QVERIFY(a->up->shortcuts().contains(QKeySequence(Qt::Key_Backspace)));
        QVERIFY(!a->settings->shortcuts().isEmpty());
        // Keys of the framework's standard commands stay free.
        QStringList seen = {QStringLiteral("Ctrl+N"),    QStringLiteral("Ctrl+S"),
                            QStringLiteral("Ctrl+Z"),    QStringLiteral("Ctrl+X"),
                            QStringLiteral("Ctrl+C"),    QStringLiteral("Alt+Backspace"),
                            QStringLiteral("Shift+Del"), QStringLiteral("Ctrl+Ins"),
                            QStringLiteral("Ctrl+A"),    QStringLiteral("F2")};
        for (const QAction* action : m_frame->findChildren<QAction*>()) {
            for (const QKeySequence& key : action->shortcuts()) {
                const QString text = key.toString();
                QVERIFY2(!seen.contains(text),
                         qPrintable(action->objectName() + QLatin1Char(' ') + text));
                seen << text;
            }
        }
    }

    void f6MovesTheFocusBetweenPanes() {
        QApplication::setActiveWindow(m_frame.get());
        Tree()->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(m_frame.get()));
        m_frame->Actions()->nextPane->trigger();
        QVERIFY(List()->ActiveView()->hasFocus());
        m_frame->Actions()->nextPane->trigger();
        QVERIFY(Tree()->hasFocus());
    }

    void closingKeepsTheProgramRunning() {
        m_frame->close();
        QVERIFY(!m_frame->isVisible() || m_frame->isMinimized());
        m_frame->RestoreFromTray();
        QVERIFY(m_frame->isVisible());
    }

    void cleanupTestCase() { m_frame.reset(); }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
