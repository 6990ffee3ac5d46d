#include <QAbstractItemModelTester>
#include <QtTest>

#include "EntryListModel.h"
#include "FakeFeeds.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {
DocEntryPtr Make(const fakes::Item& it) {
    return std::make_shared<const DocEntry>(fakes::Parse(it));
}

QStringList Names(const EntryListModel& m) {
    QStringList names;
    for (int r = 0; r < m.rowCount(); ++r) names << m.index(r, 0).data().toString();
    return names;
}
}  // namespace

// The entry list's rows, filled page by page as the listing worker parses them.
class EntryListModelTest : public QObject {
    Q_OBJECT
private slots:
    void rowsFollowThePagesInOrder() {
        EntryListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        model.AppendPage(
            {Make({"folder", "Reports", "f1"}),
             Make({"document", "Plan", "d1", "0", "2013-04-02T10:20:30.000Z", "Bob"})});
        model.AppendPage({nullptr});  // nothing to show: no insertion
        model.AppendPage({Make({"file", "photo.png", "p1", "2048", "2013-04-02T10:20:30.000Z",
                                "Ann", "image/png"}),
                          nullptr});
        // One insertion per page, never one per row.
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(0).at(1).toInt(), 0);
        QCOMPARE(inserted.at(0).at(2).toInt(), 1);
        QCOMPARE(inserted.at(1).at(1).toInt(), 2);
        QCOMPARE(inserted.at(1).at(2).toInt(), 2);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.columnCount(), 5);
        QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("Plan"));
        QCOMPARE(model.index(1, 1).data().toString(), QStringLiteral("document"));
        QCOMPARE(model.index(1, 3).data().toString(), QStringLiteral("Bob"));
        QCOMPARE(model.index(1, 4).data().toString(), QStringLiteral("2013-04-02 10:20:30"));
        QCOMPARE(model.index(0, 2).data().toString(), QString());  // folders show no size
        QVERIFY(!model.index(2, 2).data().toString().isEmpty());
        QCOMPARE(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("Last Modified"));
    }

    void sortingKeepsFoldersFirstAndReverses() {
        EntryListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.AppendPage({Make({"file", "b.txt", "1", "1000"}), Make({"folder", "zz", "f"}),
                          Make({"file", "a.txt", "2", "999"})});
        model.sort(0, Qt::AscendingOrder);
        QCOMPARE(Names(model), (QStringList{QStringLiteral("zz"), QStringLiteral("a.txt"),
                                            QStringLiteral("b.txt")}));
        model.sort(0, Qt::DescendingOrder);
        QCOMPARE(Names(model), (QStringList{QStringLiteral("b.txt"), QStringLiteral("a.txt"),
                                            QStringLiteral("zz")}));
        model.sort(2, Qt::AscendingOrder);
        QCOMPARE(Names(model), (QStringList{QStringLiteral("zz"), QStringLiteral("a.txt"),
                                            QStringLiteral("b.txt")}));
    }

    // Rows added after a sort are merged in: whatever came and went between
    // two sorts, the order is the one a full sort gives.
    void laterRowsAreSortedIntoTheRowsInOrder() {
        EntryListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        const auto names = [](std::initializer_list<const char*> n) {
            QStringList l;
            for (const char* s : n) l << QString::fromLatin1(s);
            return l;
        };
        model.AppendPage({Make({"file", "c", "1"}), Make({"file", "a", "2"})});
        model.sort(0, Qt::AscendingOrder);
        model.AppendPage({Make({"file", "d", "3"}), Make({"file", "b", "4"})});
        model.sort(0, Qt::AscendingOrder);
        QCOMPARE(Names(model), names({"a", "b", "c", "d"}));
        model.RemoveRowAt(0);
        model.AppendPage({Make({"file", "a2", "5"}), Make({"file", "e", "6"})});
        model.sort(0, Qt::AscendingOrder);
        QCOMPARE(Names(model), names({"a2", "b", "c", "d", "e"}));
        model.InsertAtTop(Make({"file", "cc", "7"}));
        model.sort(0, Qt::AscendingOrder);
        QCOMPARE(Names(model), names({"a2", "b", "c", "cc", "d", "e"}));
        model.sort(0, Qt::DescendingOrder);
        QCOMPARE(Names(model), names({"e", "d", "cc", "c", "b", "a2"}));
        model.AppendPage({Make({"file", "bb", "8"})});
        model.sort(0, Qt::DescendingOrder);
        QCOMPARE(Names(model), names({"e", "d", "cc", "c", "bb", "b", "a2"}));
    }

    void rowsAreFoundRemovedAndRenamed() {
        EntryListModel model;
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        const DocEntryPtr reports = Make({"folder", "Reports", "f1"});
        model.AppendPage({reports, Make({"file", "a", "x1"})});
        QCOMPARE(model.FindRowByResourceId("file:x1"), 1);
        QCOMPARE(model.FindRowByResourceId("file:none"), -1);
        QCOMPARE(model.FindRowByEditHref("https://docs.test/edit/f1"), 0);
        model.RenameByContentSrc(fakes::ContentsUrl("f1"), QStringLiteral("Old reports"));
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Old reports"));
        model.RemoveRowAt(model.FindRowByResourceId("file:none"));  // no such row: nothing
        QCOMPARE(model.rowCount(), 2);
        model.RemoveRowAt(model.FindRowByResourceId("file:x1"));
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.RowOf(reports.get()), 0);
        model.InsertAtTop(Make({"document", "New", "n1"}));
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("New"));
        model.Clear();
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_MAIN(EntryListModelTest)
#include "EntryListModelTest.moc"
