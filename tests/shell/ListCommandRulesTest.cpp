#include <QtTest>

#include "ActionRules.h"
#include "Categories.h"
#include "ListContextMenu.h"
#include "model/FeedCatalogue.h"
#include "settings/ServiceHosts.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
using tallowdesk::test::CategoryUrl;

namespace {

QStringList Texts(const std::vector<ContextMenuItem>& items) {
    QStringList texts;
    for (const ContextMenuItem& i : items) {
        if (i.kind == ContextMenuItem::Kind::Separator)
            texts << QStringLiteral("-");
        else if (i.kind == ContextMenuItem::Kind::Submenu)
            texts << i.text + QLatin1Char('>') + QString::fromStdString(i.submenu);
        else
            texts << i.text;
    }
    return texts;
}

QStringList Split(const char* text) {
    return QString::fromUtf8(text).split(QLatin1Char('|'));
}

}  // namespace

// The list's context menu and the availability of its commands, case by case.
class ListCommandRulesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        ServiceHosts hosts = ServiceHosts::Defaults();
        hosts.docsHost = "docs.test";
        SetServiceHosts(hosts);
        ResetCategoryTable();
    }

    void contextMenu_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("isFolder");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("clipboard");
        QTest::addColumn<QStringList>("expected");
        const QString root = QString::fromStdString(RootFolderUrl());
        const QString starred = QString::fromStdString(CategoryUrl(" Starred"));
        const QString trash = QString::fromStdString(CategoryUrl(" Trash"));
        const QString docs = QString::fromStdString(CategoryUrl(" Documents"));
        const QString t = QStringLiteral("Root Folder");
        QTest::newRow("none in a folder")
            << 0 << false << t << root << true << QString() << false
            << Split("&Create Folder|&Search|&Refresh|&Upload...|-|&Views>VIEWS");
        QTest::newRow("none in a category: no upload")
            << 0 << false << QStringLiteral(" Documents") << docs << false << QString() << false
            << Split("&Create Folder|&Search|&Refresh|-|&Views>VIEWS");
        QTest::newRow("none, files on the clipboard")
            << 0 << false << t << root << true << QString() << true
            << Split("&Create Folder|&Search|&Refresh|&Upload...|-|&Paste\tCtrl+V|-|&Views>VIEWS");
        QTest::newRow("one document")
            << 1 << false << t << root << true << QStringLiteral("document") << false
            << Split(
                   "&Open|&Export to>DOWNLOADDOC|&Rename|Move to trash|Star|&Share...|-|"
                   "&Views>VIEWS");
        QTest::newRow("one drawing")
            << 1 << false << t << root << true << QStringLiteral("drawing") << false
            << Split(
                   "&Open|&Export to>DOWNLOADDRAW|&Rename|Move to "
                   "trash|Star|&Share...|-|&Views>VIEWS");
        QTest::newRow("one pdf: download, no export")
            << 1 << false << t << root << true << QStringLiteral("pdf") << false
            << Split("&Open|&Download...|&Rename|Move to trash|Star|&Share...|-|&Views>VIEWS");
        QTest::newRow("one file while a transfer runs")
            << 1 << true << t << root << true << QStringLiteral("file") << false
            << Split("&Open|&Rename|Move to trash|Star|&Share...|-|&Views>VIEWS");
        QTest::newRow("one in Starred") << 1 << false << QStringLiteral(" Starred") << starred
                                        << false << QStringLiteral("spreadsheet") << false
                                        << Split(
                                               "&Open|&Export to>DOWNLOADSPREADSHEET|&Rename|"
                                               "Move to trash|UnStar|&Share...|-|&Views>VIEWS");
        QTest::newRow("one in the Trash")
            << 1 << false << QStringLiteral(" Trash") << trash << false
            << QStringLiteral("presentation") << false
            << Split(
                   "&Open|&Export to>DOWNLOADPPT|&Rename|Rest&ore|Delete For&ever|&Share...|-|"
                   "&Views>VIEWS");
        QTest::newRow("several") << 3 << false << t << root << true << QString() << false
                                 << Split(
                                        "&Download...|Move to trash|Star|&Share...|-|&Views>VIEWS");
        QTest::newRow("several in Starred while a transfer runs")
            << 2 << true << QStringLiteral(" Starred") << starred << false << QString() << false
            << Split("Move to trash|UnStar|&Share...|-|&Views>VIEWS");
        QTest::newRow("several in the Trash")
            << 2 << false << QStringLiteral(" Trash") << trash << false << QString() << false
            << Split("&Download...|Rest&ore|Delete For&ever|&Share...|-|&Views>VIEWS");
        QTest::newRow("none in the Trash: empty it")
            << 0 << false << QStringLiteral(" Trash") << trash << false << QString() << false
            << Split("&Create Folder|&Search|&Refresh|Empty Trash|-|&Views>VIEWS");
    }
    void contextMenu() {
        QFETCH(int, selected);
        QFETCH(bool, busy);
        QFETCH(QString, title);
        QFETCH(QString, url);
        QFETCH(bool, isFolder);
        QFETCH(QString, type);
        QFETCH(bool, clipboard);
        QFETCH(QStringList, expected);
        ContextMenuState s;
        s.selected = selected;
        s.transferBusy = busy;
        s.currentTitle = title.toStdString();
        s.currentUrl = url.toStdString();
        s.isFolder = isFolder;
        s.firstType = type.toStdString();
        s.clipboardHasFiles = clipboard;
        QCOMPARE(Texts(ContextMenuItems(s)), expected);
    }

    void listCommandAvailability_data() {
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("processing");
        QTest::addColumn<bool>("treeActive");
        // open, rename, share, download, create folder
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing selected")
            << 0 << false << false << false << QStringLiteral("----C");
        QTest::newRow("one row") << 1 << false << false << false << QStringLiteral("ORSDC");
        QTest::newRow("rows while a transfer runs")
            << 2 << true << false << false << QStringLiteral("ORS-C");
        QTest::newRow("rows while listing")
            << 2 << false << true << false << QStringLiteral("ORSD-");
        QTest::newRow("the tree is active")
            << 2 << false << false << true << QStringLiteral("-----");
    }
    void listCommandAvailability() {
        QFETCH(int, selected);
        QFETCH(bool, busy);
        QFETCH(bool, processing);
        QFETCH(bool, treeActive);
        QFETCH(QString, expected);
        FrameState s;
        s.selectedRows = selected;
        s.transferBusy = busy;
        s.processing = processing;
        s.treeActive = treeActive;
        const ActionAvailability a = ComputeAvailability(s);
        const QString got = QString() + (a.open ? QLatin1Char('O') : QLatin1Char('-')) +
                            (a.rename ? QLatin1Char('R') : QLatin1Char('-')) +
                            (a.share ? QLatin1Char('S') : QLatin1Char('-')) +
                            (a.download ? QLatin1Char('D') : QLatin1Char('-')) +
                            (a.createFolder ? QLatin1Char('C') : QLatin1Char('-'));
        QCOMPARE(got, expected);
    }
};

QTEST_GUILESS_MAIN(ListCommandRulesTest)
#include "ListCommandRulesTest.moc"
