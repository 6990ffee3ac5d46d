#include <QLocale>
#include <QtTest>

#include "TransferFigures.h"

using namespace tallowdesk::shell;

// The figures a person reads beside the fixed texts: share done, time left,
// sizes in the locale's units.
class TransferFiguresTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void shareAndTimeLeftOfTheCurrentFile_data() {
        QTest::addColumn<qulonglong>("done");
        QTest::addColumn<qulonglong>("total");
        QTest::addColumn<qulonglong>("rate");  // bytes per millisecond
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown size") << 10ull << 0ull << 5ull << QString();
        QTest::newRow("no rate yet") << 0ull << 1000ull << 0ull << QStringLiteral("0% done");
        QTest::newRow("a quarter, one second")
            << 250ull << 1000ull << 1ull << QStringLiteral("25% done, 1 s left");
        QTest::newRow("rounded down, never 100 early")
            << 999999ull << 1000000ull << 1000ull << QStringLiteral("99% done, 1 s left");
        QTest::newRow("all there") << 1000ull << 1000ull << 7ull << QStringLiteral("100% done");
        QTest::newRow("more than announced")
            << 1500ull << 1000ull << 7ull << QStringLiteral("100% done");
        QTest::newRow("minutes") << 0ull << 185000ull << 1ull
                                 << QStringLiteral("0% done, 3 min 05 s left");
        QTest::newRow("hours") << 0ull << 7620000ull << 1ull
                               << QStringLiteral("0% done, 2 h 07 min left");
        QTest::newRow("beyond 32 bits")
            << (3ull << 32) << (6ull << 32) << 1000000ull << QStringLiteral("50% done, 13 s left");
    }
    void shareAndTimeLeftOfTheCurrentFile() {
        QFETCH(qulonglong, done);
        QFETCH(qulonglong, total);
        QFETCH(qulonglong, rate);
        QFETCH(QString, text);
        QCOMPARE(ProgressFiguresText(done, total, rate), text);
    }

    void sizesInUnitsWithTheLocalesGrouping_data() {
        QTest::addColumn<QString>("quota");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << QString() << QString();
        QTest::newRow("zero") << QStringLiteral("0") << QStringLiteral("0 bytes");
        QTest::newRow("small") << QStringLiteral("999") << QStringLiteral("999 bytes");
        QTest::newRow("kilobytes")
            << QStringLiteral("18564") << QStringLiteral("18.6 kB (18,564 bytes)");
        QTest::newRow("megabytes")
            << QStringLiteral("1203000") << QStringLiteral("1.2 MB (1,203,000 bytes)");
        QTest::newRow("beyond 32 bits")
            << QStringLiteral("5000000000") << QStringLiteral("5.0 GB (5,000,000,000 bytes)");
    }
    void sizesInUnitsWithTheLocalesGrouping() {
        QFETCH(QString, quota);
        QFETCH(QString, text);
        const std::optional<std::string> q =
            quota.isNull() ? std::nullopt : std::optional<std::string>(quota.toStdString());
        QCOMPARE(HumanSizeText(q), text);
    }
};

QTEST_GUILESS_MAIN(TransferFiguresTest)
#include "TransferFiguresTest.moc"
