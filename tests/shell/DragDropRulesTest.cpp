#include <QAbstractItemView>
#include <QMimeData>
#include <QTemporaryDir>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "AppState.h"
#include "CLeftView.h"
#include "CTallowdeskView.h"
#include "ClipboardFormats.h"
#include "DragTempFolder.h"
#include "DropRules.h"
#include "EntryDragData.h"
#include "EntryListModel.h"
#include "X11DirectSave.h"
#include "model/FeedCatalogue.h"
#include "transfer/TransferFlags.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;
namespace fs = std::filesystem;

// The decisions behind dragging rows out of the list, dropping files on it
// and pasting them, without a service.
class DragDropRulesTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString Touch(const QString& name) {
        const QString path = m_dir.filePath(name);
        std::ofstream(path.toStdString()) << "x";
        return path;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        qRegisterMetaType<const QMimeData*>();
    }

    void dropsAreJudged_data() {
        QTest::addColumn<bool>("listBusy");
        QTest::addColumn<bool>("transferBusy");
        QTest::addColumn<bool>("fromList");
        QTest::addColumn<bool>("fromTree");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<bool>("accepted");
        const QStringList files{QStringLiteral("file:///tmp/a.txt"),
                                QStringLiteral("file:///tmp/dir")};
        QTest::newRow("files from outside") << false << false << false << false << files << true;
        QTest::newRow("list loading") << true << false << false << false << files << false;
        QTest::newRow("transfer running") << false << true << false << false << files << false;
        QTest::newRow("rows of the list") << false << false << true << false << files << false;
        QTest::newRow("a tree folder") << false << false << false << true << files << false;
        QTest::newRow("web address")
            << false << false << false << false
            << QStringList{QStringLiteral("https://example.org/a.txt")} << false;
        QTest::newRow("files and a web address")
            << false << false << false << false
            << (files + QStringList{QStringLiteral("http://example.org/b")}) << false;
        QTest::newRow("no urls") << false << false << false << false << QStringList{} << false;
    }
    void dropsAreJudged() {
        QFETCH(bool, listBusy);
        QFETCH(bool, transferBusy);
        QFETCH(bool, fromList);
        QFETCH(bool, fromTree);
        QFETCH(QStringList, urls);
        QFETCH(bool, accepted);
        DropOffer offer{listBusy, transferBusy, fromList, fromTree, {}};
        for (const QString& u : urls) offer.urls << QUrl(u);
        QCOMPARE(AcceptsDrop(offer), accepted);
    }

    // Reading a drag of the list's own rows must not ask for their files:
    // asking is what downloads them.
    void judgingTheListsOwnRowsDownloadsNothing() {
        int fetches = 0;
        EntryDragData data({QStringLiteral("/tmp/x.doc")}, [&] { ++fetches; });
        const DropOffer offer = DropOfferFrom(&data, false, false);
        QVERIFY(offer.fromList);
        QVERIFY(!AcceptsDrop(offer));
        QVERIFY(LocalFilesOf(&data).isEmpty());
        QCOMPARE(fetches, 0);
        QVERIFY(!data.Fetched());
    }

    void dragDataDownloadsOnceWhenAskedForFiles() {
        int fetches = 0;
        const QStringList paths{QStringLiteral("/tmp/tallowdeskTemp/A.doc"),
                                QStringLiteral("/tmp/tallowdeskTemp/my folder")};
        EntryDragData data(paths, [&] { ++fetches; });
        QVERIFY(data.hasFormat(QStringLiteral("text/uri-list")));
        QVERIFY(data.hasFormat(ListViewMimeType()));
        QVERIFY(data.hasUrls());
        QCOMPARE(fetches, 0);
        const QList<QUrl> urls = data.urls();
        QCOMPARE(fetches, 1);
        QCOMPARE(urls, (QList<QUrl>{QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1])}));
        QCOMPARE(data.data(QStringLiteral("text/uri-list")),
                 QByteArray("file:///tmp/tallowdeskTemp/A.doc\r\n"
                            "file:///tmp/tallowdeskTemp/my%20folder\r\n"));
        QCOMPARE(fetches, 1);
        QCOMPARE(data.data(ListViewMimeType()).size(), 1);
    }

    // The folder a direct-save target names: only a local folder that exists.
    void directSaveFolderOfTargetsUrl_data() {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<bool>("usable");
        const QByteArray dir = QUrl::fromLocalFile(m_dir.path()).toEncoded();
        QTest::newRow("file in a folder") << dir + "/big.bin" << true;
        QTest::newRow("with NUL and line break")
            << dir + "/big.bin\n" + QByteArray(1, '\0') << true;
        QTest::newRow("localhost") << "file://localhost" + dir.mid(7) + "/a%20b.doc" << true;
        QTest::newRow("name only, before the target wrote") << QByteArray("big.bin") << false;
        QTest::newRow("web address") << QByteArray("https://example.org/x/big.bin") << false;
        QTest::newRow("missing folder") << dir + "/gone/big.bin" << false;
        QTest::newRow("other machine") << QByteArray("file://elsewhere.example/tmp/a") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void directSaveFolderOfTargetsUrl() {
        QFETCH(QByteArray, url);
        QFETCH(bool, usable);
        const std::optional<QString> folder = DirectSaveFolder(url);
        QCOMPARE(folder.has_value(), usable);
        if (usable) QCOMPARE(*folder, QFileInfo(m_dir.path()).absoluteFilePath());
    }

    // A target that asks while it hovers (before it wrote its folder) gets
    // an error and nothing starts; the request at the drop starts the one
    // download, and a second request does not start another.
    void directSaveStartsOneDownloadAtTheDrop() {
        QByteArray written = "big.bin";
        QStringList started;
        EntryDragData data(EntryDragData::DirectSave{[&] { return written; },
                                                     [&](const QString& folder) {
                                                         started << folder;
                                                         return true;
                                                     },
                                                     {}});
        QCOMPARE(data.formats(),
                 (QStringList{QStringLiteral("XdndDirectSave0"), ListViewMimeType()}));
        QVERIFY(!data.hasUrls());
        QCOMPARE(data.data(QStringLiteral("XdndDirectSave0")), QByteArray("E"));
        QVERIFY(started.isEmpty());
        written = QUrl::fromLocalFile(m_dir.filePath(QStringLiteral("big.bin"))).toEncoded();
        QCOMPARE(data.data(QStringLiteral("XdndDirectSave0")), QByteArray("S"));
        QCOMPARE(data.data(QStringLiteral("XdndDirectSave0")), QByteArray("S"));
        QCOMPARE(started, QStringList{QFileInfo(m_dir.path()).absoluteFilePath()});
    }

    // A list-only target: a request while it hovers is answered at once
    // (nothing downloads); a request after the drop is held until the files
    // are complete; a release over a target that read the list while
    // hovering waits for the files before the drop is sent; a release where
    // nobody accepted sends nothing.
    void fileListIsHeldOnlyAfterTheDrop_data() {
        // a/b: target 1/2 accepts, r: target 1 refuses, q: request (button
        // down), Q: request (button up), u: release, d: files complete.
        QTest::addColumn<QString>("events");
        // per q/Q: n now, h held, f the files; per u: p passes, w waits.
        QTest::addColumn<QString>("verdicts");
        QTest::newRow("hover asks") << "aq"
                                    << "n";
        QTest::newRow("asks only at the drop") << "aauQ"
                                               << "ph";
        QTest::newRow("asked twice at the drop") << "auQQ"
                                                 << "phh";
        QTest::newRow("files complete") << "auQdQ"
                                        << "phf";
        QTest::newRow("release seen only by the pointer") << "aQ"
                                                          << "h";
        QTest::newRow("read while hovering: waits") << "qauda"
                                                    << "nw";
        QTest::newRow("reader, then files") << "qauQdQ"
                                            << "nwhf";
        QTest::newRow("reader was another target") << "qabu"
                                                   << "np";
        QTest::newRow("released where refused") << "raruQ"
                                                << "pn";
        QTest::newRow("accepted, then refused") << "arQ"
                                                << "n";
        QTest::newRow("refused after the drop") << "aurQ"
                                                << "ph";
        QTest::newRow("released over nothing") << "uQ"
                                               << "pn";
        QTest::newRow("second release while waiting") << "qauu"
                                                      << "nwp";
    }
    void fileListIsHeldOnlyAfterTheDrop() {
        QFETCH(QString, events);
        QFETCH(QString, verdicts);
        UriListHold hold;
        QString got;
        for (const QChar c : events) {
            if (c == u'a') hold.Status(1, true);
            if (c == u'b') hold.Status(2, true);
            if (c == u'r') hold.Status(1, false);
            if (c == u'd') hold.Answered();
            if (c == u'u') got += hold.Released() == UriListHold::Release::Pass ? u'p' : u'w';
            if (c != u'q' && c != u'Q') continue;
            switch (hold.Requested(c == u'q')) {
                case UriListHold::Verdict::AnswerNow:
                    got += u'n';
                    break;
                case UriListHold::Verdict::Hold:
                    got += u'h';
                    break;
                case UriListHold::Verdict::AnswerWithFiles:
                    got += u'f';
                    break;
            }
        }
        QCOMPARE(got, verdicts);
    }

    // Both ways offered, direct save first; the list comes from uriList and
    // asking for it starts no download.
    // pcmanfm stamps its hover requests with its clock's seconds; taken as a
    // server time it put Qt's clock ahead and every later drag out failed.
    void requestTimesAheadOfTheServerCountAsNow_data() {
        QTest::addColumn<quint32>("request");
        QTest::addColumn<quint32>("latest");
        QTest::addColumn<quint32>("taken");
        QTest::newRow("a server time") << 5000u << 4900u << 5000u;
        QTest::newRow("slightly ahead") << 64000u << 5000u << 64000u;
        QTest::newRow("older than the latest") << 1000u << 900000u << 1000u;
        QTest::newRow("seconds since 1970") << 1796657509u << 912345u << 0u;
        QTest::newRow("more than a minute ahead") << 70001u << 10000u << 0u;
        QTest::newRow("now") << 0u << 912345u << 0u;
        QTest::newRow("no server time seen yet") << 1796657509u << 0u << 1796657509u;
        // The server's clock wraps after 49 days.
        QTest::newRow("across the wrap") << 100u << 0xFFFFFF00u << 100u;
        QTest::newRow("far across the wrap") << 0x000FFF00u << 0xFFFFFF00u << 0u;
    }
    void requestTimesAheadOfTheServerCountAsNow() {
        QFETCH(quint32, request);
        QFETCH(quint32, latest);
        QFETCH(quint32, taken);
        QCOMPARE(PlausibleRequestTime(request, latest), taken);
    }

    void directSaveAlsoOffersTheFileList() {
        QStringList started;
        QByteArray list = "file:///tmp/t/a.doc\r\nfile:///tmp/t/b%20c.txt\r\n";
        EntryDragData::DirectSave save{[] { return QByteArray(); },
                                       [&](const QString& folder) {
                                           started << folder;
                                           return true;
                                       },
                                       [&] { return list; }};
        EntryDragData data(save);
        QCOMPARE(data.formats(),
                 (QStringList{QStringLiteral("XdndDirectSave0"), QStringLiteral("text/uri-list"),
                              ListViewMimeType()}));
        QCOMPARE(data.urls(), (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/t/a.doc")),
                                           QUrl::fromLocalFile(QStringLiteral("/tmp/t/b c.txt"))}));
        list.clear();
        QVERIFY(data.urls().isEmpty());
        QVERIFY(started.isEmpty());
    }

    // Every entry that cannot be uploaded gets its own detail line; the
    // usable ones keep their order. "@" stands for the test's folder.
    void everyUnusableEntryGetsADetailLine_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("sources");
        QTest::addColumn<QStringList>("unusable");
        QTest::newRow("a gone file among two")
            << QStringLiteral("text/uri-list")
            << QStringLiteral("file://@/here.txt\r\nfile://@/gone.txt\r\nfile://@/dir\r\n")
            << QStringList{QStringLiteral("@/here.txt"), QStringLiteral("@/dir")}
            << QStringList{QStringLiteral("No such file or folder: @/gone.txt")};
        QTest::newRow("web address and a bad line")
            << QStringLiteral("text/uri-list")
            << QStringLiteral("https://example.org/x\nfile://@/here.txt\nrelative/path.txt")
            << QStringList{QStringLiteral("@/here.txt")}
            << QStringList{QStringLiteral("Not a local file: https://example.org/x"),
                           QStringLiteral("Not a local file: relative/path.txt")};
        QTest::newRow("gnome list of gone files only")
            << QStringLiteral("x-special/gnome-copied-files")
            << QStringLiteral("cut\nfile://@/gone.txt\nfile://@/gone2") << QStringList{}
            << QStringList{QStringLiteral("No such file or folder: @/gone.txt"),
                           QStringLiteral("No such file or folder: @/gone2")};
        QTest::newRow("gnome list naming no file")
            << QStringLiteral("x-special/gnome-copied-files")
            << QStringLiteral("copy\nsmb://server/share/a.txt") << QStringList{}
            << QStringList{QStringLiteral("Not a local file: smb://server/share/a.txt")};
        QTest::newRow("comments and blank lines are no entries")
            << QStringLiteral("text/uri-list")
            << QStringLiteral("# list\r\n\r\nfile://@/here.txt\r\n")
            << QStringList{QStringLiteral("@/here.txt")} << QStringList{};
    }
    void everyUnusableEntryGetsADetailLine() {
        QFETCH(QString, format);
        QFETCH(QString, text);
        QFETCH(QStringList, sources);
        QFETCH(QStringList, unusable);
        Touch(QStringLiteral("here.txt"));
        QDir(m_dir.path()).mkpath(QStringLiteral("dir"));
        const QString root = m_dir.path();
        QMimeData data;
        data.setData(format, QString(text).replace(u'@', root).toUtf8());
        const CollectedFiles got = CollectDroppedFiles(&data);
        QStringList paths;
        for (const UploadSource& s : got.sources) paths << QString::fromStdString(s.path);
        QCOMPARE(paths, sources.replaceInStrings(QStringLiteral("@"), root));
        QCOMPARE(got.unusable, unusable.replaceInStrings(QStringLiteral("@"), root));
    }

    void clipboardFormatsGiveLocalFiles_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("gnome copy")
            << QStringLiteral("x-special/gnome-copied-files")
            << QByteArray("copy\nfile:///home/u/a%20b.txt\nfile:///home/u/dir")
            << QStringList{QStringLiteral("/home/u/a b.txt"), QStringLiteral("/home/u/dir")};
        QTest::newRow("gnome cut with trailing line feed")
            << QStringLiteral("x-special/gnome-copied-files")
            << QByteArray("cut\nfile:///home/u/c.txt\n")
            << QStringList{QStringLiteral("/home/u/c.txt")};
        QTest::newRow("uri list with comment and CR LF")
            << QStringLiteral("text/uri-list")
            << QByteArray(
                   "# from a file manager\r\nfile:///tmp/%C3%A9t%C3%A9.txt\r\nfile:///tmp/b\r\n")
            << QStringList{QString::fromUtf8("/tmp/été.txt"), QStringLiteral("/tmp/b")};
        QTest::newRow("pcmanfm copy of three, NUL at the end")
            << QStringLiteral("x-special/gnome-copied-files")
            << QByteArray("copy\nfile:///h/a\nfile:///h/b\nfile:///h/c") + QByteArray(1, '\0')
            << QStringList{QStringLiteral("/h/a"), QStringLiteral("/h/b"), QStringLiteral("/h/c")};
        QTest::newRow("pcmanfm uri list, NUL at the end")
            << QStringLiteral("text/uri-list")
            << QByteArray("file:///h/a\r\nfile:///h/%C3%A9") + QByteArray(1, '\0')
            << QStringList{QStringLiteral("/h/a"), QString::fromUtf8("/h/é")};
        QTest::newRow("web addresses left out")
            << QStringLiteral("text/uri-list")
            << QByteArray("https://example.org/x\nfile:///tmp/kept\nftp://h/y\n")
            << QStringList{QStringLiteral("/tmp/kept")};
        QTest::newRow("plain text is no file list")
            << QStringLiteral("text/plain") << QByteArray("file:///tmp/a") << QStringList{};
    }
    void clipboardFormatsGiveLocalFiles() {
        QFETCH(QString, format);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, files);
        QMimeData data;
        data.setData(format, bytes);
        QCOMPARE(LocalFilesOf(&data), files);
    }

    void uploadSourcesSkipVanishedPaths() {
        const QString file = Touch(QStringLiteral("one.txt"));
        const QString dir = m_dir.filePath(QStringLiteral("sub"));
        QVERIFY(QDir().mkpath(dir));
        const std::vector<UploadSource> sources =
            UploadSourcesOf({file, m_dir.filePath(QStringLiteral("gone.txt")), dir});
        QCOMPARE(sources.size(), std::size_t(2));
        QCOMPARE(QString::fromStdString(sources[0].path.string()), file);
        QVERIFY(!sources[0].isDirectory);
        QCOMPARE(QString::fromStdString(sources[1].path.string()), dir);
        QVERIFY(sources[1].isDirectory);
    }

    void aSecondDragRemovesTheFirstFolder() {
        QTemporaryDir base;
        DragTempFolder temp(fs::path(base.path().toStdString()));
        const auto first = temp.Prepare();
        QVERIFY(first);
        QCOMPARE(*first, fs::path(base.path().toStdString()) / "tallowdeskTemp");
        std::ofstream(*first / "A.doc") << "old";
        fs::create_directories(*first / "folder" / "deep");
        const auto second = temp.Prepare();
        QVERIFY(second);
        QCOMPARE(*second, *first);
        QVERIFY(fs::is_directory(*second));
        QVERIFY(fs::is_empty(*second));
        // Only this user may look inside: the files are the user's documents.
        QCOMPARE(fs::status(*second).permissions() & fs::perms::all, fs::perms::owner_all);
    }

    // A folder of that name that cannot be removed (another user's, made
    // first) is never used, nor the suffixed name when that exists too.
    void aFolderMadeByOthersIsNeverUsed() {
        QTemporaryDir base;
        const fs::path root(base.path().toStdString());
        fs::create_directory(root / "tallowdeskTemp");
        fs::create_directory(root / "tallowdeskTempAAAAA");
        std::ofstream(root / "tallowdeskTempAAAAA" / "planted.doc") << "x";
        DragTempFolder temp(
            root, [] { return std::string("AAAAA"); }, [](const fs::path&) { return false; });
        const auto got = temp.Prepare();
        QVERIFY(got);
        QVERIFY(*got != root / "tallowdeskTemp" && *got != root / "tallowdeskTempAAAAA");
        QVERIFY(fs::is_empty(*got));
        QCOMPARE(fs::status(*got).permissions() & fs::perms::all, fs::perms::owner_all);
    }

    void aFolderThatCannotBeRemovedGetsASuffix() {
        QTemporaryDir base;
        const fs::path root(base.path().toStdString());
        fs::create_directories(root / "tallowdeskTemp");
        std::vector<fs::path> removed;
        const auto held = [&](const fs::path& p) {
            removed.push_back(p);
            return p.filename() != "tallowdeskTemp";  // held by someone else
        };
        DragTempFolder temp(
            root, [] { return std::string("Ab12x"); }, held);
        const auto got = temp.Prepare();
        QVERIFY(got);
        QCOMPARE(*got, root / "tallowdeskTempAb12x");
        QVERIFY(fs::is_directory(*got));
        // The next drag tries the suffixed folder of this one as well.
        const auto next = temp.Prepare();
        QVERIFY(next);
        QCOMPARE(removed,
                 (std::vector<fs::path>{root / "tallowdeskTemp", *got, root / "tallowdeskTemp"}));
    }

    void noBaseFolderMeansNoDrag() {
        QCOMPARE(DragTempFolder(std::nullopt).Prepare(), std::optional<fs::path>());
        QCOMPARE(DragTempFolder(fs::path(m_dir.filePath(QStringLiteral("missing")).toStdString()))
                     .Prepare(),
                 std::optional<fs::path>());
        QCOMPARE(DragTempFolder::RandomSuffix().size(), std::size_t(5));
    }

    // The list refuses while it is busy and shows it on the whole list.
    // Over a folder row the drop goes into that folder, which is drawn
    // highlighted while the drag is over it; elsewhere into the place shown.
    // A category (Trash, Starred, ...) holds no files: a drop there is
    // refused with a status line, while its folder rows still take files.
    void dropsGoIntoTheFolderUnderThePointer() {
        auto state = std::make_shared<AppState>();
        CTallowdeskView view(state);
        view.SetStyle(ListStyle::Details);
        view.resize(500, 300);
        view.show();
        auto folder = std::make_shared<DocEntry>();
        folder->kind = "folder";
        folder->title = "Inbox";
        folder->contentSrc = "https://docs.test/feeds/folder%3Ainbox/contents";
        auto file = std::make_shared<DocEntry>();
        file->kind = "file";
        file->title = "notes.txt";
        view.Model()->InsertAtTop(file);
        view.Model()->InsertAtTop(folder);  // row 0
        QAbstractItemView* list = view.ActiveView();
        QWidget* viewport = list->viewport();
        const QPoint onFolder = list->visualRect(view.Model()->index(0, 0)).center();
        const QPoint onFile = list->visualRect(view.Model()->index(1, 0)).center();
        const QPoint below(onFile.x(), onFile.y() + 120);
        QSignalSpy dropped(&view, &CTallowdeskView::Dropped);
        QSignalSpy status(&view, &CTallowdeskView::StatusTextChanged);
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(Touch(QStringLiteral("up.txt")))});
        // An enter at each place: the list judges enters and moves alike,
        // and Qt routes moves only to the widget the drag entered.
        const auto move = [&](QPoint at) {
            QDragEnterEvent e(at, Qt::CopyAction, &files, Qt::LeftButton, {});
            QCoreApplication::sendEvent(viewport, &e);
            return e.isAccepted() && e.dropAction() == Qt::CopyAction;
        };
        const auto drop = [&](QPoint at) {
            QDropEvent e(QPointF(at), Qt::CopyAction, &files, Qt::LeftButton, {});
            QCoreApplication::sendEvent(viewport, &e);
            return e.isAccepted();
        };

        QVERIFY(move(onFolder));
        QCOMPARE(view.Model()->DropRow(), 0);
        QVERIFY(move(onFile));
        QCOMPARE(view.Model()->DropRow(), -1);
        QVERIFY(move(onFolder));
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(viewport, &leave);
        QCOMPARE(view.Model()->DropRow(), -1);
        QVERIFY(move(onFolder));
        QVERIFY(drop(onFolder));
        QCOMPARE(view.Model()->DropRow(), -1);
        QVERIFY(move(onFile));
        QVERIFY(drop(onFile));
        QCOMPARE(dropped.count(), 2);
        QCOMPARE(dropped.at(0).at(1).toString(), QString::fromStdString(*folder->contentSrc));
        QCOMPARE(dropped.at(1).at(1).toString(), QString());

        QVERIFY(!CategoryTable().empty());
        CurrentLocation trash;
        trash.url = CategoryTable().back().url;
        trash.title = CategoryTable().back().label;
        state->navigation.Open(trash);
        status.clear();
        QVERIFY(!move(below));
        QVERIFY(!move(onFile));
        QVERIFY(!drop(onFile));
        QCOMPARE(dropped.count(), 2);
        QVERIFY(!status.isEmpty());
        QVERIFY(status.last().at(0).toString().contains(
            QStringLiteral("\"%1\"").arg(QString::fromStdString(trash.title).trimmed())));
        QVERIFY(move(onFolder));
        QVERIFY(drop(onFolder));
        QCOMPARE(dropped.count(), 3);
        QCOMPARE(dropped.at(2).at(1).toString(), QString::fromStdString(*folder->contentSrc));
    }

    // The tree's folder nodes take drops into their folder, highlighted while
    // the drag is over them; categories refuse with the list's status line.
    void treeFolderNodesTakeDrops() {
        auto state = std::make_shared<AppState>();
        CLeftView tree(state);
        tree.resize(300, 400);
        tree.show();
        tree.Model()->AddCategories(CategoryTable());
        const std::string title = "Inbox";
        const std::string url = "https://docs.test/feeds/folder%3Ainbox/contents";
        tree.AddFolderToTreeView(FolderNodeBlock{kTreeRoot, title, url});
        const TreeNodeId folder = tree.Model()->FindByUrl(url);
        QVERIFY(folder != kTreeRoot);
        const TreeNodeId trash = tree.Model()->FindByUrl(CategoryTable().back().url);
        QVERIFY(trash != kTreeRoot);
        QWidget* viewport = tree.viewport();
        const QPoint onFolder = tree.visualRect(tree.Model()->IndexOf(folder)).center();
        const QPoint onTrash = tree.visualRect(tree.Model()->IndexOf(trash)).center();
        QSignalSpy dropped(&tree, &CLeftView::Dropped);
        QSignalSpy status(&tree, &CLeftView::StatusTextChanged);
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(Touch(QStringLiteral("t.txt")))});
        QMimeData rows;
        rows.setData(ListViewMimeType(), QByteArray(1, '\0'));
        const auto enter = [&](QPoint at, QMimeData& data) {
            QDragEnterEvent e(at, Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(viewport, &e);
            return e.isAccepted() && e.dropAction() == Qt::CopyAction;
        };
        const auto drop = [&](QPoint at, QMimeData& data) {
            QDropEvent e(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(viewport, &e);
            return e.isAccepted();
        };
        const auto highlighted = [&](TreeNodeId n) {
            return tree.Model()->IndexOf(n).data(Qt::BackgroundRole).isValid();
        };

        QVERIFY(enter(onFolder, files));
        QCOMPARE(tree.Model()->DropNode(), folder);
        QVERIFY(highlighted(folder));
        QVERIFY(!enter(onTrash, files));
        QCOMPARE(tree.Model()->DropNode(), kTreeRoot);
        QVERIFY(!highlighted(folder));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.last().at(0).toString(),
                 QStringLiteral("Files cannot be dropped here: \"%1\" holds no files of its own.")
                     .arg(QString::fromStdString(CategoryTable().back().label).trimmed()));
        QVERIFY(!drop(onTrash, files));
        QVERIFY(enter(onFolder, files));
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(viewport, &leave);
        QCOMPARE(tree.Model()->DropNode(), kTreeRoot);
        // The list's own rows and a busy transfer are refused on a folder too.
        QVERIFY(!enter(onFolder, rows));
        transferBusy = true;
        QVERIFY(!enter(onFolder, files));
        QVERIFY(!drop(onFolder, files));
        transferBusy = false;
        QCOMPARE(dropped.count(), 0);
        QVERIFY(enter(onFolder, files));
        QVERIFY(drop(onFolder, files));
        QCOMPARE(tree.Model()->DropNode(), kTreeRoot);
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.at(0).at(1).toString(), QString::fromStdString(url));
    }

    void theListJudgesDragsOverIt() {
        auto state = std::make_shared<AppState>();
        CTallowdeskView view(state);
        view.resize(400, 300);
        view.show();
        QWidget* viewport = view.ActiveView()->viewport();
        QSignalSpy dropped(&view, &CTallowdeskView::Dropped);
        const auto enter = [&](QMimeData& data) {
            QDragEnterEvent e(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                              {});
            QCoreApplication::sendEvent(viewport, &e);
            return e.isAccepted() && e.dropAction() == Qt::CopyAction;
        };
        const auto drop = [&](QMimeData& data) {
            QDropEvent e(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(viewport, &e);
            return e.isAccepted();
        };
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(Touch(QStringLiteral("d.txt")))});
        QVERIFY(enter(files));

        view.BeginSearch(QStringLiteral("Searching for \"x\"..."));
        QVERIFY(!enter(files));
        QVERIFY(!drop(files));
        view.EndSearch();

        transferBusy = true;
        QVERIFY(!enter(files));
        QVERIFY(!drop(files));
        transferBusy = false;

        int fetches = 0;
        EntryDragData rows({QStringLiteral("/tmp/r.doc")}, [&] { ++fetches; });
        QVERIFY(!enter(rows));
        QVERIFY(!drop(rows));
        QCOMPARE(fetches, 0);

        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.org/page"))});
        QVERIFY(!enter(web));
        QCOMPARE(dropped.count(), 0);

        QVERIFY(enter(files));
        QVERIFY(drop(files));
        QCOMPARE(dropped.count(), 1);
    }
};

QTEST_MAIN(DragDropRulesTest)
#include "DragDropRulesTest.moc"
