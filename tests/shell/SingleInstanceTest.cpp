#include <QtTest>

#include "SingleInstance.h"

using namespace tallowdesk::shell;

// One program per session; a second start calls the first forward.
class SingleInstanceTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    static QString Name(const char* tag) {
        return QStringLiteral("tallowdesk-test-%1-%2")
            .arg(QCoreApplication::applicationPid())
            .arg(QLatin1String(tag));
    }

    // A runtime folder of its own, mode 0700 like the session's.
    QString MakeRuntimeDir(const QString& relative) {
        const QString path = m_dir.filePath(relative);
        if (!QDir().mkpath(path)) return {};
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path));
        return path;
    }

    static void SecondStartCallsFirstForward(const QString& name) {
        auto first = std::make_unique<SingleInstance>(name);
        QVERIFY2(first->Claim(), qPrintable(first->Error()));
        SingleInstance second(name);
        QVERIFY(!second.Claim());
        QVERIFY(second.Error().isEmpty());
        QSignalSpy forward(first.get(), &SingleInstance::ComeForwardRequested);
        QVERIFY(second.AskFirstToComeForward());
        QVERIFY(forward.wait(10000));

        first.reset();  // the first program ended
        SingleInstance third(name);
        QVERIFY(third.Claim());
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    void theSecondStartCallsTheFirstForward() {
        QVERIFY(!MakeRuntimeDir(QStringLiteral("run")).isEmpty());
        SecondStartCallsFirstForward(Name("short"));
    }

    // Regression: a runtime folder deeper than the 107 bytes of a Unix socket
    // path made listen() fail unnoticed, and a second start found nobody.
    void aDeepRuntimeFolderStillReachesTheFirst() {
        const QString deep = MakeRuntimeDir(QStringLiteral("%1/%2/%3")
                                                .arg(QString(70, QLatin1Char('a')))
                                                .arg(QString(70, QLatin1Char('b')))
                                                .arg(QString(70, QLatin1Char('c'))));
        QVERIFY(!deep.isEmpty());
        QVERIFY(deep.size() > 200);
        SecondStartCallsFirstForward(Name("deep"));
    }

    // Regression: Claim() reported success although nothing listened.
    void aFailedListenIsNotAClaim() {
        const QString run = MakeRuntimeDir(QStringLiteral("blocked"));
        QVERIFY(!run.isEmpty());
        const QString name = Name("blocked");
        // A folder where the socket belongs: it cannot be removed or bound.
        QVERIFY(QDir().mkpath(run + QLatin1Char('/') + name + QStringLiteral(".socket/x")));
        SingleInstance first(name);
        QVERIFY(!first.Claim());
        QVERIFY(!first.Error().isEmpty());

        // The lock went back: once the way is clear the claim succeeds.
        QVERIFY(
            QDir(run + QLatin1Char('/') + name + QStringLiteral(".socket")).removeRecursively());
        SingleInstance again(name);
        QVERIFY2(again.Claim(), qPrintable(again.Error()));
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
