#include <QtTest>

#include "SingleInstance.h"

using namespace tallowdesk::shell;

// One program per session; a second start calls the first forward.
class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void theSecondStartCallsTheFirstForward() {
        const QString name =
            QStringLiteral("tallowdesk-test-%1").arg(QCoreApplication::applicationPid());
        auto first = std::make_unique<SingleInstance>(name);
        QVERIFY(first->Claim());
        SingleInstance second(name);
        QVERIFY(!second.Claim());
        QSignalSpy forward(first.get(), &SingleInstance::ComeForwardRequested);
        QVERIFY(second.AskFirstToComeForward());
        QVERIFY(forward.wait(10000));

        first.reset();  // the first program ended
        SingleInstance third(name);
        QVERIFY(third.Claim());
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
