#include <QAbstractItemModelTester>
#include <QtTest>

#include "FolderTreeModel.h"
#include "model/FeedCatalogue.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

// The folder tree's nodes: categories on top, folders sorted below with a
// placeholder until read.
class FolderTreeModelTest : public QObject {
    Q_OBJECT
private slots:
    void categoriesStayAboveSortedFolders() {
        FolderTreeModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.AddCategories(CategoryTable());
        QCOMPARE(model.rowCount(), 10);
        model.AddFolder(kTreeRoot, QStringLiteral("beta"), "u/beta");
        model.AddFolder(kTreeRoot, QStringLiteral("Alpha"), "u/alpha");
        model.AddFolder(kTreeRoot, QStringLiteral("!first"), "u/first");
        QCOMPARE(model.rowCount(), 13);
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral(" Latest 100 items"));
        QCOMPARE(model.index(9, 0).data().toString(), QStringLiteral(" Drawings"));
        QStringList folders;
        for (int r = 10; r < 13; ++r) folders << model.index(r, 0).data().toString();
        QCOMPARE(folders, (QStringList{QStringLiteral("!first"), QStringLiteral("Alpha"),
                                       QStringLiteral("beta")}));
        QVERIFY(!(model.flags(model.index(0, 0)) &
                  Qt::ItemIsEditable));  // categories keep their labels
        QVERIFY(model.flags(model.index(10, 0)) & Qt::ItemIsEditable);
    }

    void aFolderIsReadOnceThroughItsPlaceholder() {
        FolderTreeModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        const TreeNodeId f = model.AddFolder(kTreeRoot, QStringLiteral("Reports"), "u/reports");
        const QModelIndex fi = model.IndexOf(f);
        QCOMPARE(model.rowCount(fi), 1);
        QCOMPARE(model.index(0, 0, fi).data().toString(), QStringLiteral("loading items..."));
        QCOMPARE(model.ImageOf(model.NodeAt(model.index(0, 0, fi))), int(kPlaceholderImage));
        QVERIFY(model.MarkExpanded(f));
        QVERIFY(!model.MarkExpanded(f));  // a second expansion reads nothing
        model.DeleteChildren(f);
        const TreeNodeId sub = model.AddFolder(f, QStringLiteral("2013"), "u/2013");
        model.SetImage(f, kFolderImage, kFolderImage);
        QCOMPARE(model.rowCount(fi), 1);
        QCOMPARE(model.FindByUrl("u/2013"), sub);
        QCOMPARE(model.FindByUrl("u/none"), kTreeRoot);
    }

    void deletingANodeForgetsItsChildren() {
        FolderTreeModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        const TreeNodeId f = model.AddFolder(kTreeRoot, QStringLiteral("A"), "u/a");
        const TreeNodeId sub = model.AddFolder(f, QStringLiteral("B"), "u/b");
        model.DeleteNode(f);
        QVERIFY(!model.Exists(f));
        QVERIFY(!model.Exists(sub));
        QCOMPARE(model.AddFolder(sub, QStringLiteral("C"), "u/c"), kTreeRoot);  // parent gone
        QCOMPARE(model.rowCount(), 0);
    }

    void editingOnlyAsksForARename() {
        FolderTreeModel model;
        const TreeNodeId f = model.AddFolder(kTreeRoot, QStringLiteral("A"), "u/a");
        QSignalSpy spy(&model, &FolderTreeModel::RenameRequested);
        QVERIFY(!model.setData(model.IndexOf(f), QStringLiteral("B"), Qt::EditRole));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("B"));
        QCOMPARE(model.TextOf(f), QStringLiteral("A"));  // changes when the service agreed
    }
};

QTEST_MAIN(FolderTreeModelTest)
#include "FolderTreeModelTest.moc"
