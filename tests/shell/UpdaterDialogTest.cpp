#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <future>
#include <thread>

#include "CAutoUpdater.h"
#include "dialogs/CLoginDlg.h"
#include "dialogs/CUpdaterDlg.h"
#include "update/UpdateCheck.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

UpdateServices Services(UpdateCheckOutcome outcome, bool installable = true,
                        UpdateInstallResult install = UpdateInstallResult::Started) {
    UpdateServices services;
    services.check = [outcome] { return outcome; };
    services.installable = [installable] { return installable; };
    services.install = [install](const std::string&) { return install; };
    return services;
}

QString Text(const QDialog& d) {
    return d.findChild<QLabel*>(QStringLiteral("statusText"))->text();
}
QPushButton* Button(const QDialog& d, const char* name) {
    return d.findChild<QPushButton*>(QString::fromLatin1(name));
}

const QString kOffer = QStringLiteral("Version 99.0 is available now, upgrade to the new version?");

}  // namespace

// The updater dialog's states, with the update operations faked; the
// operations themselves are tested against the local service in core.
class UpdaterDialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void fromTheMenuItChecksFirstThenTellsWhatItFound_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("updateShown");
        QTest::newRow("newer") << int(UpdateCheckResult::Available) << kOffer << true;
        QTest::newRow("not newer")
            << int(UpdateCheckResult::NotNewer) << QStringLiteral("No updates available.") << false;
        QTest::newRow("404") << int(UpdateCheckResult::OpenFailed)
                             << QStringLiteral("No updates available.") << false;
        QTest::newRow("empty") << int(UpdateCheckResult::NothingRead)
                               << QStringLiteral("No updates available.") << false;
    }
    void fromTheMenuItChecksFirstThenTellsWhatItFound() {
        QFETCH(int, result);
        QFETCH(QString, text);
        QFETCH(bool, updateShown);
        std::promise<void> release;
        auto released = release.get_future().share();
        std::atomic<bool> onWorker{false};
        UpdateServices services;
        const auto ui = std::this_thread::get_id();
        services.check = [=, &onWorker] {
            onWorker = std::this_thread::get_id() != ui;
            released.wait_for(std::chrono::seconds(20));
            return UpdateCheckOutcome{UpdateCheckResult(result), "99.0"};
        };
        services.installable = [] { return true; };
        CUpdaterDlg dialog(services, std::nullopt);
        dialog.show();
        QCOMPARE(Text(dialog), QStringLiteral("Checking for updates ..."));
        QVERIFY(!Button(dialog, "updateButton")->isVisible());
        QVERIFY(dialog.findChild<QProgressBar*>()->isVisible());
        QCOMPARE(dialog.findChild<QProgressBar*>()->maximum(), 0);  // marquee
        QCOMPARE(Button(dialog, "cancelButton")->text(), QStringLiteral("Cancel"));
        release.set_value();
        QTRY_COMPARE_WITH_TIMEOUT(Text(dialog), text, 20000);
        QVERIFY(onWorker);
        QCOMPARE(Button(dialog, "updateButton")->isVisible(), updateShown);
        QVERIFY(!dialog.findChild<QProgressBar*>()->isVisible());
        QCOMPARE(Button(dialog, "cancelButton")->text(),
                 updateShown ? QStringLiteral("Cancel") : QStringLiteral("Close"));
    }

    void updateDownloadsOnAWorkerAndReportsTheEnd_data() {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::newRow("started")
            << int(UpdateInstallResult::Started)
            << QStringLiteral(
                   "Upgrade finished. You need to restart Tallowdesk for the changes to take "
                   "effect.");
        for (const auto failure :
             {UpdateInstallResult::OpenFailed, UpdateInstallResult::DownloadFailed,
              UpdateInstallResult::StartFailed, UpdateInstallResult::SignatureRefused,
              UpdateInstallResult::AlreadyRunning, UpdateInstallResult::NotNewer}) {
            QTest::newRow(QByteArray::number(int(failure)).constData())
                << int(failure) << QStringLiteral("Upgrade failed. You can try it again later.");
        }
    }
    void updateDownloadsOnAWorkerAndReportsTheEnd() {
        QFETCH(int, result);
        QFETCH(QString, text);
        std::promise<void> release;
        auto released = release.get_future().share();
        std::atomic<int> installs{0};
        UpdateServices services = Services({UpdateCheckResult::Available, "99.0"});
        std::string installed;
        services.install = [=, &installs, &installed](const std::string& version) {
            installed = version;
            ++installs;
            released.wait_for(std::chrono::seconds(20));
            return UpdateInstallResult(result);
        };
        CUpdaterDlg dialog(services, UpdateOffer{{UpdateCheckResult::Available, "99.0"}, true});
        dialog.show();
        QCOMPARE(Text(dialog), kOffer);
        QPushButton* update = Button(dialog, "updateButton");
        QVERIFY(update->isVisible());
        QTest::mouseClick(update, Qt::LeftButton);
        QCOMPARE(Text(dialog), QStringLiteral("Downloading new updates..."));
        QVERIFY(!update->isVisible());
        QVERIFY(dialog.findChild<QProgressBar*>()->isVisible());
        QVERIFY(dialog.Busy());
        update->click();  // hidden, and refused while the download runs
        release.set_value();
        QTRY_COMPARE_WITH_TIMEOUT(Text(dialog), text, 20000);
        QCOMPARE(installs.load(), 1);
        QCOMPARE(installed, std::string("99.0"));  // the version offered, which is signed with it
        QCOMPARE(Button(dialog, "cancelButton")->text(), QStringLiteral("Close"));
        QVERIFY(!dialog.findChild<QProgressBar*>()->isVisible());
    }

    void aProgramOfThePackageManagerIsNotReplaced() {
        CUpdaterDlg dialog(Services({UpdateCheckResult::Available, "99.0"}, false), std::nullopt);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(Text(dialog).contains(QStringLiteral("package manager")), 20000);
        QVERIFY(Text(dialog).startsWith(QStringLiteral("Version 99.0 is available now.")));
        QVERIFY(!Button(dialog, "updateButton")->isVisible());
        QCOMPARE(Button(dialog, "cancelButton")->text(), QStringLiteral("Close"));
    }

    void theSilentCheckShowsOnlyAnOffer() {
        CAutoUpdater silent(Services({UpdateCheckResult::OpenFailed, {}}));
        QSignalSpy quiet(&silent, &CAutoUpdater::UpdateOffered);
        silent.StartSilentCheck();
        QVERIFY(!quiet.wait(1500));
        QCOMPARE(QApplication::topLevelWidgets().count(), 0);

        CAutoUpdater offering(Services({UpdateCheckResult::Available, "99.0"}));
        QPointer<QDialog> dialog;
        connect(&offering, &CAutoUpdater::UpdateOffered, this, [&](QDialog* d) { dialog = d; });
        offering.StartSilentCheck();
        QTRY_VERIFY_WITH_TIMEOUT(dialog, 20000);
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Tallowdesk Updater"));
        // Regression: shown over the modal sign-in dialog, it must take input.
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        QCOMPARE(Text(*dialog), kOffer);
        QVERIFY(Button(*dialog, "updateButton")->isVisible());
        dialog->grab().save(QStringLiteral(TALLOWDESK_SCREENSHOT_DIR "/updater-offer.png"));
        Button(*dialog, "cancelButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.isNull(), 5000);  // deleted on close
    }

    void theSignInDialogChecksOnlyWhenTheSettingIsOn_data() {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("checks");
        QTest::newRow("on") << QByteArray("<autoupdatecheck>true</autoupdatecheck>") << 1;
        QTest::newRow("off") << QByteArray("<autoupdatecheck>false</autoupdatecheck>") << 0;
        QTest::newRow("unset") << QByteArray() << 1;
    }
    void theSignInDialogChecksOnlyWhenTheSettingIsOn() {
        QFETCH(QByteArray, config);
        QFETCH(int, checks);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("Config.xml")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<configure><user><email/><password/></user>" + config + "</configure>");
        file.close();
        int started = 0;
        LoginDependencies deps;
        deps.configPath = file.fileName().toStdString();
        deps.testConnection = false;
        deps.startUpdateCheck = [&started] { ++started; };
        CLoginDlg login(std::move(deps));
        QCOMPARE(started, checks);
    }
};

QTEST_MAIN(UpdaterDialogTest)
#include "UpdaterDialogTest.moc"
