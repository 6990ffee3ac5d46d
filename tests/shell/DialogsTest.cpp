#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include "Resources.h"
#include "dialogs/CAboutDlg.h"
#include "dialogs/CCaptchaDlg.h"
#include "dialogs/CMsgDlg.h"

using namespace tallowdesk::shell;

// The small dialogs: CAPTCHA picture placement, the about box's quota lines,
// the processing window.
class DialogsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        InitShellResources();
    }

    void theCaptchaIsCentredTenPixelsFromTheTop() {
        QImage picture(120, 40, QImage::Format_RGB32);
        picture.fill(Qt::red);
        const QString path = m_dir.filePath(QStringLiteral("Captcha.jpg"));
        QVERIFY(picture.save(path, "JPG"));
        CCaptchaDlg dialog(path, nullptr);
        QVERIFY(dialog.HasPicture());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Security Check"));
        dialog.show();
        QWidget* area = dialog.findChild<QWidget*>(QStringLiteral("captchaPicture"));
        QVERIFY(area);
        const QImage shot = area->grab().toImage();
        const int left = (area->width() - 120) / 2;
        const auto isRed = [&](int x, int y) {
            return qRed(shot.pixel(x, y)) > 200 && qGreen(shot.pixel(x, y)) < 60;
        };
        QVERIFY(isRed(left + 2, 12));
        QVERIFY(isRed(left + 117, 47));
        QVERIFY(!isRed(left + 2, 8));   // 10 px of space above
        QVERIFY(!isRed(left - 3, 20));  // and nothing left of the centred picture
        dialog.findChild<QLineEdit*>(QStringLiteral("answerEdit"))->setText(QStringLiteral("x7kq"));
        QCOMPARE(dialog.Answer(), QStringLiteral("x7kq"));
    }

    void anUnreadablePictureStillAsksForTheCode() {
        CCaptchaDlg dialog(m_dir.filePath(QStringLiteral("missing.jpg")), nullptr);
        QVERIFY(!dialog.HasPicture());
    }

    void theQuotaLinesShowOnlyForARealSentence() {
        CAboutDlg about(nullptr, nullptr);
        about.show();
        QLabel* quota = about.findChild<QLabel*>(QStringLiteral("quotaText"));
        QLabel* title = about.findChild<QLabel*>(QStringLiteral("quotaTitle"));
        QVERIFY(quota && title);
        QVERIFY(!quota->isVisible());
        about.ShowQuota("1GB");  // 3 bytes: nothing
        QVERIFY(!quota->isVisible());
        about.ShowQuota("2.1 GB (21%) of 10 GB used");
        QVERIFY(quota->isVisible());
        QVERIFY(title->isVisible());
        QCOMPARE(title->text(), QStringLiteral("Your Google account space informaiton:"));
    }

    void theAboutBoxAsksForTheQuotaOffTheUiThread() {
        QThread* askedOn = nullptr;
        CAboutDlg about(
            [&askedOn]() -> std::optional<std::string> {
                askedOn = QThread::currentThread();
                return std::string("1.5 GB of 7 GB used");
            },
            nullptr);
        about.show();
        QLabel* quota = about.findChild<QLabel*>(QStringLiteral("quotaText"));
        QTRY_VERIFY_WITH_TIMEOUT(quota->isVisible(), 10000);
        QCOMPARE(quota->text(), QStringLiteral("1.5 GB of 7 GB used"));
        QVERIFY(askedOn != QThread::currentThread());
    }

    void theProcessingWindowHasNoWayToBeClosed() {
        QWidget parent;
        CMsgDlg dialog(&parent);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Processing......"));
        QCOMPARE(dialog.Line(), QStringLiteral("Processing....."));
        QVERIFY(!dialog.isModal());
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
