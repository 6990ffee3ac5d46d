#include <QtTest>

#include "CLeftView.h"
#include "EntryRules.h"
#include "FolderTreeModel.h"
#include "Resources.h"

using namespace tallowdesk::shell;

// The list and tree pictures come from the icon theme when it has them and
// from the bundled images otherwise, so the window never shows blank rows.
class IconsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    // A theme that knows only "folder", "folder-open" (blue) and
    // "x-office-document".
    void MakeTheme() {
        QDir root(m_dir.path());
        QVERIFY(root.mkpath(QStringLiteral("tiny/16x16/places")));
        QVERIFY(root.mkpath(QStringLiteral("tiny/16x16/mimetypes")));
        QFile index(root.filePath(QStringLiteral("tiny/index.theme")));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write(
            "[Icon Theme]\nName=tiny\nDirectories=16x16/places,16x16/mimetypes\n\n"
            "[16x16/places]\nSize=16\nContext=Places\nType=Fixed\n\n"
            "[16x16/mimetypes]\nSize=16\nContext=MimeTypes\nType=Fixed\n");
        index.close();
        QImage picture(16, 16, QImage::Format_ARGB32);
        picture.fill(Qt::green);
        QVERIFY(picture.save(root.filePath(QStringLiteral("tiny/16x16/places/folder.png"))));
        QVERIFY(picture.save(
            root.filePath(QStringLiteral("tiny/16x16/mimetypes/x-office-document.png"))));
        picture.fill(Qt::blue);
        QVERIFY(picture.save(root.filePath(QStringLiteral("tiny/16x16/places/folder-open.png"))));
    }

    static bool IsGreen(const QIcon& icon) {
        const QImage image = icon.pixmap(16, 16).toImage();
        const QRgb c = image.pixel(8, 8);
        return qGreen(c) > 200 && qRed(c) < 50 && qBlue(c) < 50;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        InitShellResources();
        MakeTheme();
    }

    void withoutAThemeEveryPictureIsBundled() {
        QIcon::setThemeSearchPaths({m_dir.path()});
        QIcon::setThemeName(QStringLiteral("no-such-theme"));
        QIcon::setFallbackThemeName(QStringLiteral("no-such-theme"));
        for (int i = 0; i < kEntryIconCount; ++i) {
            const QIcon icon = EntryIcon(i);
            QVERIFY2(!icon.pixmap(16, 16).isNull(), qPrintable(QString::number(i)));
            QVERIFY(!icon.pixmap(32, 32).isNull());
            QVERIFY(!IsGreen(icon));
        }
        for (int i = 0; i <= kPlaceholderImage; ++i)
            QVERIFY2(!TreeImage(i).pixmap(16, 16).isNull(), qPrintable(QString::number(i)));
    }

    void aThemePictureReplacesTheBundledOne() {
        QIcon::setThemeSearchPaths({m_dir.path()});
        QIcon::setThemeName(QStringLiteral("tiny"));
        QVERIFY(IsGreen(EntryIcon(0)));  // folder
        QVERIFY(IsGreen(EntryIcon(2)));  // document
        QVERIFY(IsGreen(EntryIcon(5)));  // an uploaded Word file looks like a document
        QVERIFY(IsGreen(TreeImage(kFolderImage)));
        QVERIFY(IsGreen(TreeImage(6)));  // the Documents category
        // What the theme lacks stays ours.
        QVERIFY(!EntryIcon(8).pixmap(16, 16).isNull());
        QVERIFY(!IsGreen(EntryIcon(8)));
        QVERIFY(!TreeImage(kPlaceholderImage).pixmap(16, 16).isNull());
        QVERIFY(!IsGreen(TreeImage(kPlaceholderImage)));
        // The program's own icon is never the theme's.
        QVERIFY(!IsGreen(AppIcon()));
    }

    void theTreeShowsTheOpenFolderWhenSelected() {
        QIcon::setThemeName(QStringLiteral("tiny"));
        FolderTreeModel model;
        std::vector<QIcon> images;
        for (int i = 0; i <= kPlaceholderImage; ++i) images.push_back(TreeImage(i));
        model.SetImages(images);
        const TreeNodeId folder = model.AddFolder(kTreeRoot, QStringLiteral("Reports"), "u");
        const QIcon icon = qvariant_cast<QIcon>(model.IndexOf(folder).data(Qt::DecorationRole));
        QVERIFY(IsGreen(icon));  // the theme's closed folder
        const QImage selected = icon.pixmap(QSize(16, 16), QIcon::Selected).toImage();
        QVERIFY(qBlue(selected.pixel(8, 8)) > 200 && qGreen(selected.pixel(8, 8)) < 50);
    }

    void everyTreeImageHasAThemeName() {
        for (int i = 0; i <= kPlaceholderImage; ++i) QVERIFY(!TreeImageThemeName(i).isEmpty());
        QCOMPARE(TreeImageThemeName(kFolderImage), QStringLiteral("folder"));
        QCOMPARE(TreeImageThemeName(kFolderOpenImage), QStringLiteral("folder-open"));
        QCOMPARE(TreeImageThemeName(5), QStringLiteral("user-trash"));
        QVERIFY(TreeImageThemeName(kPlaceholderImage + 1).isEmpty());
    }
};

QTEST_MAIN(IconsTest)
#include "IconsTest.moc"
