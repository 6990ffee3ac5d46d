#include <QAction>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QtTest>
#include <chrono>
#include <set>
#include <thread>

#include "ActionHandler.h"
#include "AppState.h"
#include "CLeftView.h"
#include "CMainFrame.h"
#include "CTallowdeskView.h"
#include "EntryListModel.h"
#include "FakeFeeds.h"
#include "FakeShell.h"
#include "FolderTreeModel.h"
#include "Resources.h"
#include "VisibleText.h"
#include "dialogs/CMsgDlg.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
using fakes::Item;

namespace {

std::vector<Item> Page(const char* prefix, int n) {
    std::vector<Item> items;
    for (int i = 0; i < n; ++i) {
        const std::string name = prefix + std::to_string(i);
        items.push_back({"file", name, name});
    }
    return items;
}

QModelIndex TreeIndex(CLeftView* tree, const QString& text) {
    for (int r = 0; r < tree->model()->rowCount(); ++r) {
        const QModelIndex i = tree->model()->index(r, 0);
        if (i.data().toString() == text) return i;
    }
    return {};
}

QStringList Titles(const EntryListModel& model) {
    QStringList titles;
    for (int r = 0; r < model.rowCount(); ++r) titles << model.TitleAt(r);
    return titles;
}

// Whether an in-place editor is open in the view.
bool Editing(const QAbstractItemView* view) {
    for (const QLineEdit* e : view->viewport()->findChildren<QLineEdit*>())
        if (e->isVisible()) return true;
    return false;
}

const std::string kPage2 = "https://docs.test/feeds/default/private/full/page2";

}  // namespace

// Regression tests of the entry list's faults that the list commands depend on.
class ListFaultsTest : public QObject {
    Q_OBJECT
private:
    std::shared_ptr<fakes::FakeService> m_service;
    std::shared_ptr<AppState> m_state;

    void ServeTwoPages() {
        m_service->Serve(RootFolderUrl(), fakes::FeedXml(Page("a", 10), kPage2));
        m_service->Serve(kPage2, fakes::FeedXml(Page("b", 5)));
    }

private slots:
    void initTestCase() { fakes::StartFakeShell(); }

    void init() {
        m_service = std::make_shared<fakes::FakeService>();
        m_state = fakes::FakeState(m_service);
    }

    // Fault: in the icon and list styles a click selected a single cell of a
    // five-column model and the commands, which count rows, saw nothing.
    void aClickSelectsOneRowInEveryStyle_data() {
        QTest::addColumn<int>("style");
        QTest::newRow("large icons") << static_cast<int>(ListStyle::LargeIcons);
        QTest::newRow("small icons") << static_cast<int>(ListStyle::SmallIcons);
        QTest::newRow("list") << static_cast<int>(ListStyle::List);
        QTest::newRow("details") << static_cast<int>(ListStyle::Details);
    }
    void aClickSelectsOneRowInEveryStyle() {
        QFETCH(int, style);
        m_service->Serve(RootFolderUrl(), fakes::FeedXml(Page("f", 3)));
        m_service->Serve(RootSubFoldersUrl(), fakes::FeedXml({}));
        CMainFrame frame(m_state);
        frame.show();
        frame.Start();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.List()->Processing(), 10000);
        QCOMPARE(frame.List()->Model()->rowCount(), 3);
        frame.List()->SetStyle(static_cast<ListStyle>(style));
        QAbstractItemView* view = frame.List()->ActiveView();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        const QRect cell = view->visualRect(frame.List()->Model()->index(1, 0));
        QVERIFY(cell.isValid());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(frame.List()->SelectedCount(), 1);
        QCOMPARE(frame.List()->SelectedRows(), std::vector<int>{1});
        QCOMPARE(frame.StatusText(), QStringLiteral("1 item selected"));
        QVERIFY(frame.Actions()->moveToTrash->isEnabled());
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          view->visualRect(frame.List()->Model()->index(2, 0)).center());
        QCOMPARE(frame.StatusText(), QStringLiteral("2 items selected"));
    }

    // Fault: a notification appended everything from its first index to the
    // end of the list as it found it, so a notification handled after the
    // next page had arrived added that page, and the next one added it again.
    // The UI thread is held until both pages are in.
    void eachPageIsAddedOnceWhenTheWindowIsLate() {
        ServeTwoPages();
        CTallowdeskView view(m_state);
        view.show();
        view.RefreshList();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_state->listing.Busy() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // no events handled
        QVERIFY(!m_state->listing.Busy());
        QCOMPARE(m_state->entries.Size(), std::size_t(15));
        QTRY_VERIFY_WITH_TIMEOUT(!view.Processing(), 10000);
        QCOMPARE(view.Model()->rowCount(), 15);
        const QStringList titles = Titles(*view.Model());
        QCOMPARE(QSet<QString>(titles.begin(), titles.end()).size(), 15);
    }

    // Fault: an uploaded entry was appended to the end of the list, so the
    // running listing's next notification showed it a second time.
    void anUploadGoesToRowZeroWhileAListingRuns() {
        ServeTwoPages();
        m_service->Hold(kPage2);
        CTallowdeskView view(m_state);
        view.show();
        view.RefreshList();
        QTRY_COMPARE_WITH_TIMEOUT(view.Model()->rowCount(), 10, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(m_service->Waiting(kPage2), 10000);
        tinyxml2::XMLDocument reply;
        const std::string xml = fakes::EntryXml({"file", "uploaded.txt", "u1"});
        reply.Parse(xml.c_str());
        view.AddNewlyUploadedItem(reply);
        QCOMPARE(view.Model()->TitleAt(0), QStringLiteral("uploaded.txt"));
        QCOMPARE(m_state->entries.At(0)->title, std::optional<std::string>("uploaded.txt"));
        m_service->Release(kPage2);
        QTRY_VERIFY_WITH_TIMEOUT(!view.Processing(), 10000);
        QCOMPARE(view.Model()->rowCount(), 16);
        QCOMPARE(view.Model()->TitleAt(0), QStringLiteral("uploaded.txt"));
        QCOMPARE(view.Model()->TitleAt(1), QStringLiteral("a0"));
        QCOMPARE(view.Model()->TitleAt(15), QStringLiteral("b4"));
        QCOMPARE(Titles(*view.Model()).count(QStringLiteral("uploaded.txt")), 1);
    }

    // Fault: "&Rename" in the tree's menu made the node current, which also
    // listed the folder.
    void treeRenameOnlyEdits() {
        m_service->Serve(RootFolderUrl(), fakes::FeedXml({{"folder", "Reports", "r1"}}));
        m_service->Serve(RootSubFoldersUrl(), fakes::FeedXml({{"folder", "Reports", "r1"}}));
        CMainFrame frame(m_state);
        frame.show();
        frame.Start();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.List()->Processing(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(TreeIndex(frame.Tree(), QStringLiteral("Reports")).isValid(),
                                 10000);
        const std::string before = m_state->navigation.Current().url;
        const QModelIndex reports = TreeIndex(frame.Tree(), QStringLiteral("Reports"));
        const QPoint pos = frame.Tree()->visualRect(reports).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos,
                                frame.Tree()->viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(frame.Tree()->viewport(), &event);
        frame.Actions()->TreeFolderMenu()->hide();
        frame.Actions()->treeRename->trigger();
        QVERIFY(Editing(frame.Tree()));
        QCoreApplication::processEvents();
        QCOMPARE(m_state->navigation.Current().url, before);
        QVERIFY(!frame.List()->Processing());
        QCOMPARE(m_service->Count(fakes::ContentsUrl("r1")), std::size_t(0));
    }

    // Fault: Tab or F6 into the tree made its first node ("Latest 100 items")
    // current and the list left the root folder the user was looking at.
    void focusIntoTheTreeKeepsTheList_data() {
        QTest::addColumn<int>("reason");
        QTest::newRow("Tab") << static_cast<int>(Qt::TabFocusReason);
        QTest::newRow("F6 or the window") << static_cast<int>(Qt::OtherFocusReason);
        QTest::newRow("window activated") << static_cast<int>(Qt::ActiveWindowFocusReason);
    }
    void focusIntoTheTreeKeepsTheList() {
        QFETCH(int, reason);
        m_service->Serve(RootFolderUrl(), fakes::FeedXml({{"folder", "Reports", "r1"}}));
        m_service->Serve(RootSubFoldersUrl(), fakes::FeedXml({{"folder", "Reports", "r1"}}));
        CMainFrame frame(m_state);
        frame.show();
        frame.Start();
        QTRY_VERIFY_WITH_TIMEOUT(!frame.List()->Processing(), 10000);
        const std::string before = m_state->navigation.Current().url;
        QCOMPARE(before, RootFolderUrl());
        frame.Tree()->setFocus(static_cast<Qt::FocusReason>(reason));
        QFocusEvent in(QEvent::FocusIn, static_cast<Qt::FocusReason>(reason));
        QCoreApplication::sendEvent(frame.Tree(), &in);
        QCoreApplication::processEvents();
        QCOMPARE(m_state->navigation.Current().url, before);
        QVERIFY(!frame.List()->Processing());
    }

    // Fault: the message that ends a command carried a raw pointer to its
    // processing window; a window already gone was dereferenced.
    void theEndOfACommandIgnoresAWindowAlreadyGone() {
        CTallowdeskView view(m_state);
        auto* gone = new CMsgDlg(&view);
        const QPointer<QObject> goneGuard(gone);
        delete gone;
        auto* live = new CMsgDlg(&view);
        live->show();
        const QPointer<QObject> liveGuard(live);
        std::thread worker([port = ListViewPort(&view), goneGuard, liveGuard] {
            port.ExitActionThread(goneGuard);
            port.ExitActionThread(liveGuard);
        });
        QTRY_VERIFY_WITH_TIMEOUT(liveGuard.isNull(), 10000);
        worker.join();
    }

    // Fault: the list had no label editing and no drop target.
    void namesAreEditableAndTheListTakesDrops() {
        m_service->Serve(RootFolderUrl(), fakes::FeedXml(Page("f", 2)));
        CTallowdeskView view(m_state);
        view.show();
        view.RefreshList();
        QTRY_VERIFY_WITH_TIMEOUT(!view.Processing(), 10000);
        EntryListModel* model = view.Model();
        QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
        QVERIFY(!(model->flags(model->index(0, 1)) & Qt::ItemIsEditable));
        QSignalSpy wanted(&view, &CTallowdeskView::RenameWanted);
        // The edited text goes to the command; the row keeps its name.
        QVERIFY(!model->setData(model->index(1, 0), QStringLiteral("g"), Qt::EditRole));
        QCOMPARE(wanted.count(), 1);
        QCOMPARE(wanted.at(0).at(0).toInt(), 1);
        QCOMPARE(wanted.at(0).at(1).toString(), QStringLiteral("g"));
        QCOMPARE(model->TitleAt(1), QStringLiteral("f1"));

        view.Selection()->select(model->index(0, 0),
                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view.EditFirstSelected();
        QVERIFY(Editing(view.ActiveView()));

        QWidget* viewport = view.ActiveView()->viewport();
        QVERIFY(viewport->acceptDrops());
        QSignalSpy dropped(&view, &CTallowdeskView::Dropped);
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &drop);
        QCOMPARE(dropped.count(), 1);
        QMimeData text;
        text.setText(QStringLiteral("plain"));
        QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, {});
        QCoreApplication::sendEvent(viewport, &refused);
        QVERIFY(!refused.isAccepted());
    }

    // Titles with control characters: a label must not act on them.
    void controlCharactersAreShownVisibly_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << QStringLiteral("Report") << QStringLiteral("Report");
        QTest::newRow("line feed") << QStringLiteral("a\nb") << QStringLiteral("a\u240Ab");
        QTest::newRow("escape and cr")
            << QStringLiteral("\x1b[31mred\r") << QStringLiteral("\u241B[31mred\u240D");
        QTest::newRow("nul and del")
            << QString(QChar(0)) + QStringLiteral("x\x7f") << QStringLiteral("\u2400x\u2421");
        QTest::newRow("c1 control")
            << QStringLiteral("a") + QChar(0x9b) + QStringLiteral("b") << QStringLiteral("a\\x9bb");
        QTest::newRow("other unicode")
            << QStringLiteral("Caf\u00e9 \u65e5\u672c") << QStringLiteral("Caf\u00e9 \u65e5\u672c");
    }
    void controlCharactersAreShownVisibly() {
        QFETCH(QString, title);
        QFETCH(QString, shown);
        QCOMPARE(VisibleText(title), shown);

        DocEntry entry;
        entry.kind = "file";
        entry.title = title.toStdString();
        entry.authorName = title.toStdString();
        EntryListModel model;
        model.AppendPage({std::make_shared<const DocEntry>(entry)});
        QCOMPARE(model.index(0, 0).data().toString(), shown);
        QCOMPARE(model.index(0, 3).data().toString(), shown);

        FolderTreeModel tree;
        const TreeNodeId node = tree.AddFolder(kTreeRoot, title, "https://docs.test/x");
        QCOMPARE(tree.IndexOf(node).data().toString(), shown);
        QCOMPARE(tree.TextOf(node), title);  // the title itself is kept
    }
};

QTEST_MAIN(ListFaultsTest)
#include "ListFaultsTest.moc"
