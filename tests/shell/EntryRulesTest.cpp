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

    // Fault guarded: names compared code unit by code unit put "Banana"
    // before "apple", "Éclair" after "zebra" and "log-10" before "log-9".
    void namesCompareAsAPersonExpects_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        const char* const rows[][3] = {
            {"case", "apple", "Banana"},
            {"case in a longer name", "report march", "Report May"},
            {"accent", "\u00c9clair", "eggs"},
            {"accent inside", "caf\u00e9s", "cafeteria"},
            {"numbers by value", "log-9", "log-10"},
            {"leading zeros", "v007", "v10"},
            {"large numbers", "scan 99999999999999999999", "scan 100000000000000000000"},
            {"prefix first", "plan", "plan 2"},
            {"digits before letters", "2 notes", "notes"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString::fromUtf8(r[1]) << QString::fromUtf8(r[2]);
    }
    void namesCompareAsAPersonExpects() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QVERIFY(NaturalCompare(first, second) < 0);
        QVERIFY(NaturalCompare(second, first) > 0);
        const DocEntry a = fakes::Parse({"file", first.toStdString(), "1"});
        const DocEntry b = fakes::Parse({"file", second.toStdString(), "2"});
        QVERIFY(CompareEntries(&a, &b, 0) < 0);
        QVERIFY(EntryBefore(a, b, 0, true));
        QVERIFY(EntryBefore(b, a, 0, false));
    }

    void namesDifferingOnlyInCaseOrAccentStillHaveAnOrder() {
        // Equal to a reader, but not the same name: never 0, and both ways agree.
        for (const auto& [x, y] :
             {std::pair{"Plan", "plan"}, std::pair{"resume", "r\u00e9sum\u00e9"},
              std::pair{"v7", "v007"}}) {
            const int c = NaturalCompare(QString::fromUtf8(x), QString::fromUtf8(y));
            QVERIFY2(c != 0, x);
            QCOMPARE(NaturalCompare(QString::fromUtf8(y), QString::fromUtf8(x)), -c);
        }
        QCOMPARE(NaturalCompare(QStringLiteral("same"), QStringLiteral("same")), 0);
    }

    // Fault guarded: rows with equal keys came out in whatever order the
    // service sent them, so every refresh could shuffle them.
    void tiesGoByNameThenByIdInEveryColumn_data() {
        QTest::addColumn<int>("column");
        for (int c = 0; c < kColumnCount; ++c) QTest::newRow(qPrintable(QString::number(c))) << c;
    }
    void tiesGoByNameThenByIdInEveryColumn() {
        QFETCH(int, column);
        // Same kind, size, author and time; two share a name.
        const std::vector<DocEntry> entries = {
            fakes::Parse({"file", "b", "id2", "10", "2013-01-01T00:00:00Z", "Ann"}),
            fakes::Parse({"file", "a", "id9", "10", "2013-01-01T00:00:00Z", "Ann"}),
            fakes::Parse({"file", "b", "id1", "10", "2013-01-01T00:00:00Z", "Ann"}),
        };
        std::vector<int> order = {0, 1, 2};
        QStringList first;
        do {
            std::vector<int> sorted = order;
            std::stable_sort(sorted.begin(), sorted.end(), [&](int x, int y) {
                return EntryBefore(entries[static_cast<std::size_t>(x)],
                                   entries[static_cast<std::size_t>(y)], column, true);
            });
            QStringList ids;
            for (int i : sorted)
                ids << QString::fromStdString(entries[static_cast<std::size_t>(i)].shortId);
            if (first.isEmpty()) first = ids;
            QCOMPARE(ids, first);
        } while (std::next_permutation(order.begin(), order.end()));
        QCOMPARE(first, (QStringList{QStringLiteral("id9"), QStringLiteral("id1"),
                                     QStringLiteral("id2")}));
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
