#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <fstream>
#include <stdexcept>

#include "dialogs/CExportProgressDlg.h"
#include "dialogs/CProgressDlgModal.h"
#include "dialogs/NameClashDlg.h"
#include "dialogs/TransferProgressDlg.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferOps.h"
#include "transfer/TransferProgressSink.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

// Transfer calls without a network: a download writes its URL as the file's
// bytes, or fails for a URL that says so.
class FakeOps final : public TransferOps {
public:
    void GetFeed(const std::string&, tinyxml2::XMLDocument&) override {
        throw std::runtime_error("no feeds here");
    }
    void DownloadEntry(const std::string& url, const std::string&,
                       const std::filesystem::path& path, const std::optional<std::string>&,
                       TransferProgressSink& sink) override {
        if (url == "fail") throw std::runtime_error("Error: Cannot connect to Google Docs.");
        std::ofstream(path, std::ios::binary) << url;
        sink.Progress(url.size(), 2048);
    }
    void UploadFile(const std::filesystem::path&, const std::string&, tinyxml2::XMLDocument&,
                    TransferProgressSink&) override {}
    void CreateFolder(const std::string&, const std::string&, tinyxml2::XMLDocument&) override {}
};

std::function<std::unique_ptr<TransferOps>()> Fake() {
    return [] { return std::make_unique<FakeOps>(); };
}

}  // namespace

// The transfer windows driven by the real loops over fake transfer calls.
class TransferDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { transferCancel = false; }

    void aFailedExportKeepsTheWindowWithItsRedText() {
        QTemporaryDir dir;
        CExportProgressDlg dialog({"fail", "Plan", "document", "pdf", dir.path().toStdString()},
                                  Fake(), nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Exporting..."));
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.Message(), QStringLiteral("File converting failed"),
                                  10000);
        QVERIFY(dialog.isVisible());
        QVERIFY(!transferCancel.load());
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancelButton")),
                          Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QVERIFY(!transferCancel.load());  // the export had ended: nothing to stop
    }

    void aGoodExportClosesByItself() {
        QTemporaryDir dir;
        CExportProgressDlg dialog({"bytes", "Plan", "document", "txt", dir.path().toStdString()},
                                  Fake(), nullptr);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 10000);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Plan.txt"))));
    }

    void theModalWindowWarnsWithItsOwnCaption() {
        QTemporaryDir dir;
        CProgressDlgModal dialog({FolderItem{"fail", "Broken", "file", 10},
                                  FolderItem{"good bytes", "Fine", "file", 10}},
                                 dir.path().toStdString(), Fake(), nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Transferring Progress "));
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.FinishBox(), 10000);
        QCOMPARE(dialog.FinishBox()->windowTitle(), QStringLiteral("Finished"));
        QCOMPARE(dialog.DetailLines(),
                 QStringList{
                     QStringLiteral("Broken  Failed!:    Error: Cannot connect to Google Docs.")});
        QVERIFY(dialog.isVisible());  // stays for the user to read
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("totalNumber"))->text(),
                 QStringLiteral("2"));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("nameText"))->text(),
                 QStringLiteral("Fine"));
        QTRY_COMPARE_WITH_TIMEOUT(dialog.findChild<QLabel*>(QStringLiteral("speedText"))->text(),
                                  QStringLiteral("2048 KB/s"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!transferBusy.load(), 10000);
        dialog.FinishBox()->close();
    }

    void theClashDialogAnswersWithTheButtonPressed_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<bool>("forAll");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("replaceText");
        QTest::newRow("replace a file") << QStringLiteral("replaceButton") << false << false
                                        << int(ClashChoice::Replace) << QStringLiteral("&Replace");
        QTest::newRow("merge a folder, for all")
            << QStringLiteral("replaceButton") << true << true << int(ClashChoice::Replace)
            << QStringLiteral("&Merge");
        QTest::newRow("keep both") << QStringLiteral("keepBothButton") << false << true
                                   << int(ClashChoice::KeepBoth) << QStringLiteral("&Replace");
        QTest::newRow("skip") << QStringLiteral("skipButton") << true << false
                              << int(ClashChoice::Skip) << QStringLiteral("&Merge");
        QTest::newRow("closed: skip")
            << QString() << false << true << int(ClashChoice::Skip) << QStringLiteral("&Replace");
    }
    void theClashDialogAnswersWithTheButtonPressed() {
        QFETCH(QString, button);
        QFETCH(bool, folder);
        QFETCH(bool, forAll);
        QFETCH(int, choice);
        QFETCH(QString, replaceText);
        NameClashDlg dialog({"/home/u/Reports/plan.txt", folder}, nullptr);
        dialog.show();
        QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("clashText"))
                    ->text()
                    .contains(QStringLiteral("\"plan.txt\" already exists in /home/u/Reports")));
        QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("replaceButton"))->text(),
                 replaceText);
        dialog.findChild<QCheckBox*>(QStringLiteral("forAllBox"))->setChecked(forAll);
        if (button.isEmpty())
            dialog.reject();
        else
            QTest::mouseClick(dialog.findChild<QPushButton*>(button), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(int(dialog.Answer().choice), choice);
        QCOMPARE(dialog.Answer().forAll, forAll);
    }

    void theBarCountsBytesBeyondTheRangeOfAnInt() {
        QTemporaryDir dir;
        CProgressDlgModal dialog({}, dir.path().toStdString(), Fake(), nullptr);
        auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progressBar"));
        const std::uint64_t twoGiB = 2ull << 30;
        dialog.SetRange(twoGiB);
        QVERIFY(bar->maximum() > 0);
        auto* figures = dialog.findChild<QLabel*>(QStringLiteral("figuresText"));
        QVERIFY(figures);
        QCOMPARE(figures->text(), QStringLiteral("0% done"));
        dialog.Progress(twoGiB / 2, 1);
        QCOMPARE(bar->value(), bar->maximum() / 2);
        QCOMPARE(figures->text(), QStringLiteral("50% done, 298 h 15 min left"));
        dialog.SetMarquee(true);
        QCOMPARE(bar->maximum(), 0);           // moving by itself
        QCOMPARE(figures->text(), QString());  // no size known, no share of it
        dialog.Progress(5, 1);
        QCOMPARE(bar->maximum(), 0);
    }
};

QTEST_MAIN(TransferDialogsTest)
#include "TransferDialogsTest.moc"
