#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>
#include <fstream>
#include <stdexcept>

#include "ListCommands.h"
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
    void UploadFile(const std::filesystem::path&, const std::string&, const std::string&,
                    tinyxml2::XMLDocument&, TransferProgressSink&) override {}
    void ReplaceContent(const std::filesystem::path&, const std::string&, tinyxml2::XMLDocument&,
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

    // "*.*" alone hid every name without a dot.
    void theUploadPickerListsEveryFile() {
        QTemporaryDir dir;
        for (const char* name : {"README", "Makefile", "a.txt", ".hidden"})
            std::ofstream(dir.filePath(QLatin1String(name)).toStdString()) << "x";
        QFileDialog dialog;
        SetUpUploadPicker(dialog);
        dialog.setDirectory(dir.path());
        dialog.show();
        QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))->currentText(),
                 QStringLiteral("All File(*.*)"));
        auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
        QVERIFY(view);
        const auto listed = [view] {
            QStringList names;
            const QModelIndex root = view->rootIndex();
            for (int r = 0; r < view->model()->rowCount(root); ++r)
                names << view->model()->index(r, 0, root).data().toString();
            names.sort();
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(listed(),
                                  (QStringList{QStringLiteral("Makefile"), QStringLiteral("README"),
                                               QStringLiteral("a.txt")}),
                                  10000);
    }

    // A range of 0..0 is a busy animation: it must not stand for an empty
    // file, nor go on once the transfer has ended.
    void theBarNeverMovesByItselfAfterTheEnd_data() {
        QTest::addColumn<bool>("marquee");
        QTest::addColumn<bool>("withDetails");
        QTest::newRow("empty upload") << false << false;
        QTest::newRow("empty upload, failed") << false << true;
        QTest::newRow("unknown size") << true << false;
        QTest::newRow("unknown size, failed") << true << true;
    }
    void theBarNeverMovesByItselfAfterTheEnd() {
        QFETCH(bool, marquee);
        QFETCH(bool, withDetails);
        QTemporaryDir dir;
        CProgressDlgModal dialog({}, dir.path().toStdString(), Fake(), nullptr);
        auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("progressBar"));
        if (marquee)
            dialog.SetMarquee(true);
        else
            dialog.SetRange(0);
        if (!marquee) QVERIFY(bar->maximum() > bar->minimum());
        dialog.Progress(0, 0);
        if (withDetails) dialog.AddTransferDetail(QStringLiteral("x  Failed!:  Unknown reason"));
        dialog.TransferFinished();
        QVERIFY(bar->maximum() > bar->minimum());
        if (dialog.FinishBox()) dialog.FinishBox()->close();
    }

    // The box ending a drag-out sat behind its own modal window's block.
    void theBoxEndingAModalTransferCanBeClicked() {
        QTemporaryDir dir;
        CProgressDlgModal dialog({FolderItem{"fail", "Broken", "file", 10}},
                                 dir.path().toStdString(), Fake(), nullptr);
        bool boxClosed = false;
        QTimer poll;
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [&] {
            QMessageBox* box = dialog.FinishBox();
            if (!box || !box->isVisible() || !box->windowHandle()) return;
            poll.stop();
            QPointer<QMessageBox> guard(box);
            QAbstractButton* ok = box->button(QMessageBox::Ok);
            // Through the window system's path, where modal blocking applies.
            QTest::mouseClick(box->windowHandle(), Qt::LeftButton, {},
                              ok->mapTo(box, ok->rect().center()));
            boxClosed = guard.isNull() || !guard->isVisible();
            static_cast<QDialog&>(dialog).reject();
        });
        poll.start();
        QTimer::singleShot(10000, &dialog, [&] { static_cast<QDialog&>(dialog).reject(); });
        dialog.exec();
        QVERIFY(boxClosed);
        QTRY_VERIFY_WITH_TIMEOUT(!transferBusy.load(), 10000);
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
