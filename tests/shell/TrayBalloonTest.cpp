#include <QtTest>

#include "TrayBalloon.h"

using namespace tallowdesk::shell;

// Fault guarded: the balloon was shown before the tray had placed the icon,
// so it pointed at the top-left corner of the screen.
class TrayBalloonTest : public QObject {
    Q_OBJECT
private slots:
    void theBalloonWaitsForTheIconsPlace_data() {
        QTest::addColumn<int>("placedAfterPolls");  // -1: never
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<int>("shown");
        QTest::newRow("placed already") << 0 << false << 1;
        QTest::newRow("placed a moment later") << 3 << false << 1;
        QTest::newRow("never placed: dropped") << -1 << false << 0;
        QTest::newRow("window back first") << 3 << true << 0;
    }
    void theBalloonWaitsForTheIconsPlace() {
        QFETCH(int, placedAfterPolls);
        QFETCH(bool, cancelled);
        QFETCH(int, shown);
        int asked = 0;
        int shows = 0;
        QRect shownAt;
        const auto geometry = [&] {
            const bool placed = placedAfterPolls >= 0 && asked++ >= placedAfterPolls;
            return placed ? QRect(1200, 780, 22, 22) : QRect();
        };
        TrayBalloon balloon(geometry, [&] { ++shows; });
        balloon.Request();
        if (cancelled) balloon.Cancel();
        // Polls end by themselves: the icon is placed, or the wait is over.
        QTRY_VERIFY_WITH_TIMEOUT(!balloon.Pending(),
                                 TrayBalloon::kPollMs * (TrayBalloon::kMaxPolls + 20));
        QCOMPARE(shows, shown);
    }
};

QTEST_GUILESS_MAIN(TrayBalloonTest)
#include "TrayBalloonTest.moc"
