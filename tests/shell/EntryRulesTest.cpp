#include <QtTest>

#include "EntryRules.h"
#include "FakeFeeds.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

// Sort order, icons and status text of the entry list.
class EntryRulesTest : public QObject {
    Q_OBJECT
private slots:
    void foldersComeFirstByNameSizeAndAuthor() {
        const DocEntry folder = fakes::Parse({"folder", "zeta", "f1"});
        const DocEntry doc =
            fakes::Parse({"document", "alpha", "d1", "5", "2013-01-01T00:00:00Z", "Aaron"});
        for (int column : {0, 2, 3})
            QVERIFY2(CompareEntries(&folder, &doc, column) < 0,
                     qPrintable(QString::number(column)));
        // Type and date have no folder rule.
        QVERIFY(CompareEntries(&folder, &doc, 1) > 0);  // "folder" > "document"
    }

    void sizesCompareAsNumbers() {
        const DocEntry small = fakes::Parse({"file", "a", "1", "999"});
        const DocEntry large = fakes::Parse({"file", "b", "2", "1000"});
        QVERIFY(CompareEntries(&small, &large, 2) < 0);
        QVERIFY(CompareEntries(&large, &small, 2) > 0);
    }

    void datesGiveTheDifferenceInSeconds() {
        const DocEntry a = fakes::Parse({"file", "a", "1", "0", "2013-04-02T10:20:30.000Z"});
        const DocEntry b = fakes::Parse({"file", "b", "2", "0", "2013-04-02T10:19:00.000Z"});
        QCOMPARE(CompareEntries(&a, &b, 4), 90);
        QCOMPARE(CompareEntries(&b, &a, 4), -90);
        DocEntry broken = b;
        broken.updated = "not a time";
        QCOMPARE(CompareEntries(&a, &broken, 4), 0);
    }

    void unknownColumnsAndMissingRecordsCompareEqual() {
        const DocEntry a = fakes::Parse({"file", "a", "1"});
        const DocEntry b = fakes::Parse({"file", "b", "2"});
        QCOMPARE(CompareEntries(&a, &b, 5), 0);
        QCOMPARE(CompareEntries(&a, &b, -1), 0);
        QCOMPARE(CompareEntries(nullptr, &b, 0), 0);
        QCOMPARE(CompareEntries(&a, nullptr, 0), 0);
    }

    void iconsFollowKindThenContentType_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("themeName");
        const auto row = [](const char* name, const char* kind, const char* type, int icon,
                            const char* theme) {
            QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromLatin1(type) << icon
                                << QString::fromLatin1(theme);
        };
        row("folder", "folder", "", 0, "folder");
        row("document", "document", "", 2, "x-office-document");
        row("spreadsheet", "spreadsheet", "", 3, "x-office-spreadsheet");
        row("presentation", "presentation", "", 4, "x-office-presentation");
        row("pdf", "pdf", "", 8, "application-pdf");
        row("drawing", "drawing", "", 10, "x-office-drawing");
        row("image", "file", "image/png", 9, "image-x-generic");
        row("docx", "file",
            "application/vnd.openxmlformats-officedocument.wordprocessingml.document", 5,
            "x-office-document");
        row("doc", "file", "application/msword", 5, "x-office-document");
        row("xls", "file", "application/vnd.ms-excel", 6, "x-office-spreadsheet");
        row("xlsx", "file", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", 6,
            "x-office-spreadsheet");
        row("ppt", "file", "application/vnd.ms-powerpoint", 7, "x-office-presentation");
        row("pptx", "file",
            "application/vnd.openxmlformats-officedocument.presentationml.presentation", 7,
            "x-office-presentation");
        // "image" is tested first, even inside another type's name.
        row("image before office", "file", "image/vnd.ms-excel", 9, "image-x-generic");
        row("plain file", "file", "text/plain", 1, "text-x-generic");
        row("file without type", "file", "", 1, "text-x-generic");
        row("unknown kind", "form", "image/png", 1, "text-x-generic");
    }
    void iconsFollowKindThenContentType() {
        QFETCH(QString, kind);
        QFETCH(QString, type);
        QFETCH(int, icon);
        QFETCH(QString, themeName);
        DocEntry e;
        e.kind = kind.toStdString();
        if (!type.isEmpty()) e.contentType = type.toStdString();
        QCOMPARE(EntryIconIndex(e), icon);
        QCOMPARE(EntryIconThemeName(EntryIconIndex(e)), themeName);
    }

    // Every index in range is a row of the table above.
    void indicesOutsideTheTableHaveNoThemeName() {
        QVERIFY(EntryIconThemeName(-1).isEmpty());
        QVERIFY(EntryIconThemeName(kEntryIconCount).isEmpty());
    }

    void statusTextCountsRowsOrSelection() {
        QCOMPARE(StatusText(0, 0), QStringLiteral("0 item"));
        QCOMPARE(StatusText(1, 0), QStringLiteral("1 item"));
        QCOMPARE(StatusText(12, 0), QStringLiteral("12 items"));
        QCOMPARE(StatusText(12, 1), QStringLiteral("1 item selected"));
        QCOMPARE(StatusText(12, 3), QStringLiteral("3 items selected"));
    }

    void secondClickOnAColumnReversesIt() {
        SortState s;
        s.Click(0);
        QVERIFY(s.Ascending());
        s.Click(0);
        QVERIFY(!s.Ascending());
        s.Click(2);
        QVERIFY(s.Ascending());
        QCOMPARE(s.Column(), 2);
    }
};

QTEST_GUILESS_MAIN(EntryRulesTest)
#include "EntryRulesTest.moc"
