// A second X client for the drag-and-drop check, standing in for a file
// manager:
//   dnd_peer target DIR    a window "DropTarget" that takes text/uri-list and
//                          copies the dropped files (folders as trees) into DIR,
//                          printing "dropped NAME" for each;
//   dnd_peer source PATH.. a window "DragSource" whose drag offers the paths
//                          as file URLs.
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <cstdio>

namespace {

bool CopyTree(const QString& from, const QString& to) {
    const QFileInfo info(from);
    if (!info.isDir()) return QFile::copy(from, to);
    if (!QDir().mkpath(to)) return false;
    const QDir dir(from);
    for (const QString& name :
         dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        if (!CopyTree(dir.filePath(name), QDir(to).filePath(name))) return false;
    return true;
}

class Target : public QLabel {
public:
    explicit Target(QString dest) : QLabel(QStringLiteral("drop here")), m_dest(std::move(dest)) {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("DropTarget"));
        setAlignment(Qt::AlignCenter);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasFormat(QStringLiteral("text/uri-list"))) e->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* e) override { e->acceptProposedAction(); }
    void dropEvent(QDropEvent* e) override {
        e->setDropAction(Qt::CopyAction);
        e->accept();
        for (const QUrl& url : e->mimeData()->urls()) {
            const QString from = url.toLocalFile();
            const QString name = QFileInfo(from).fileName();
            const bool ok = CopyTree(from, QDir(m_dest).filePath(name));
            std::printf("%s %s\n", ok ? "dropped" : "missing", qPrintable(name));
            std::fflush(stdout);
        }
    }

private:
    QString m_dest;
};

class Source : public QLabel {
public:
    explicit Source(QStringList paths)
        : QLabel(QStringLiteral("drag me")), m_paths(std::move(paths)) {
        setWindowTitle(QStringLiteral("DragSource"));
        setAlignment(Qt::AlignCenter);
    }

protected:
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!(e->buttons() & Qt::LeftButton)) return;
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const QString& p : m_paths) urls << QUrl::fromLocalFile(p);
        data->setUrls(urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction done = drag->exec(Qt::CopyAction);
        std::printf("drag ended %d\n", int(done));
        std::fflush(stdout);
    }

private:
    QStringList m_paths;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) return 2;
    QWidget* window = nullptr;
    if (args[1] == QStringLiteral("target"))
        window = new Target(args[2]);
    else
        window = new Source(args.mid(2));
    window->resize(240, 200);
    window->show();
    return app.exec();
}
