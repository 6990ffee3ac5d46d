#include <QtTest>

#include "ActionRules.h"
#include "CLeftView.h"
#include "Categories.h"
#include "Navigation.h"
#include "model/FeedCatalogue.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
using tallowdesk::test::CategoryUrl;

// Locations, the Go back history and the rules of command availability.
class NavigationTest : public QObject {
    Q_OBJECT
private slots:
    void startsOnTheRootFolderOverHttps() {
        const Navigation nav;
        QCOMPARE(nav.Current().title, std::string("Root Folder"));
        QVERIFY(nav.Current().url.rfind("https://", 0) == 0);
        QVERIFY(nav.Current().isFolder);
        QVERIFY(!nav.Current().noPaging);
        QCOMPARE(nav.History().Size(), std::size_t(1));
        QVERIFY(!nav.CanGoBack());
    }

    void categoriesSetFolderAndPagingFlags() {
        const CurrentLocation latest =
            LocationForNode(" Latest 100 items", CategoryUrl(" Latest 100 items"));
        QVERIFY(latest.noPaging);
        QVERIFY(latest.isFolder);
        const CurrentLocation trash = LocationForNode(" Trash", CategoryUrl(" Trash"));
        QVERIFY(!trash.isFolder);
        QVERIFY(!trash.noPaging);
        QVERIFY(LocationForNode(" Drawings", CategoryUrl(" Drawings")).isFolder);
        const CurrentLocation folder = LocationForNode("Reports", "https://x/folder%3Aa/contents");
        QVERIFY(folder.isFolder);
        QVERIFY(!folder.noPaging);
        QCOMPARE(folder.title, std::string("Reports"));
    }

    void selectingRecordsOnlyRealChanges() {
        Navigation nav;
        QVERIFY(!nav.SelectNode(true, "loading items...", ""));
        QVERIFY(!nav.SelectNode(false, "Root Folder", nav.Current().url));
        QVERIFY(nav.SelectNode(false, " Starred", CategoryUrl(" Starred")));
        QVERIFY(!nav.SelectNode(false, " Starred", CategoryUrl(" Starred")));  // already shown
        QCOMPARE(nav.History().Size(), std::size_t(2));
    }

    // Fault: the start was not in the history, so once the user left the
    // root folder (which has no tree node) it could not be shown again.
    void backReturnsToTheStart() {
        Navigation nav;
        nav.SelectNode(false, " Starred", CategoryUrl(" Starred"));
        QVERIFY(nav.CanGoBack());
        nav.SelectNode(false, " Trash", CategoryUrl(" Trash"));
        QVERIFY(nav.GoBack());
        QCOMPARE(nav.Current().title, std::string(" Starred"));
        QVERIFY(nav.GoBack());
        QCOMPARE(nav.Current().url, RootFolderUrl());
        QCOMPARE(nav.History().Size(), std::size_t(1));
        QVERIFY(!nav.CanGoBack());
        QVERIFY(!LocationHistory().CanGoBack());
    }

    void folderFeedsGetTheFolderSuffix() {
        QCOMPARE(FolderLoaderUrl("https://x/contents"), std::string("https://x/contents/-/folder"));
        QCOMPARE(FolderLoaderUrl("https://x/contents/"),
                 std::string("https://x/contents/-/folder"));
    }

    void availabilityFollowsState() {
        FrameState s;
        s.historySize = 1;
        s.selectedRows = 0;
        ActionAvailability a = ComputeAvailability(s);
        QVERIFY(!a.goBack);
        QVERIFY(a.refresh && a.search && a.upload);
        QVERIFY(!a.moveToTrash && !a.star);
        s.historySize = 2;
        s.selectedRows = 2;
        s.currentUrl = CategoryUrl(" Starred");
        a = ComputeAvailability(s);
        QVERIFY(a.goBack && a.moveToTrash && a.star);
        s.currentUrl = CategoryUrl(" Trash");
        QVERIFY(!ComputeAvailability(s).moveToTrash);  // nothing to trash in the trash
        s.processing = true;
        a = ComputeAvailability(s);
        QVERIFY(!a.refresh && !a.search && !a.upload);
        s.processing = false;
        s.transferBusy = true;
        QVERIFY(!ComputeAvailability(s).upload);
        s.treeActive = true;
        QVERIFY(!ComputeAvailability(s).listCommands);
        QVERIFY(!ComputeAvailability(s).arrange);
        s.iconStyle = true;
        QVERIFY(ComputeAvailability(s).arrange);
    }

    void starItemFollowsTheStarredCategory() {
        StarLabel star;
        QCOMPARE(star.Text(), QStringLiteral("Add star"));
        QCOMPARE(star.Update(CategoryUrl(" Trash")), QStringLiteral("Add star"));
        QCOMPARE(star.Update(CategoryUrl(" Starred")), QStringLiteral("UnStar"));
        QVERIFY(star.Unstar());
        QCOMPARE(star.Update(CategoryUrl(" Trash")), QStringLiteral("Star"));
        QVERIFY(!star.Unstar());
    }
};

QTEST_GUILESS_MAIN(NavigationTest)
#include "NavigationTest.moc"
