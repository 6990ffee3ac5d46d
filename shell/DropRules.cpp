#include "DropRules.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMimeData>

#include "ClipboardFormats.h"

namespace tallowdesk::shell {
namespace {

QString TypeName(const char* type) {
    return QString::fromLatin1(type);
}

struct ListedFiles {
    QStringList files;
    QStringList unusable;  // the lines as they came
};

// One URL a line; lines may end in CR LF; "#" starts a comment.
ListedFiles FilesOfLines(const QList<QByteArray>& lines) {
    ListedFiles listed;
    for (const QByteArray& raw : lines) {
        // pcmanfm ends its lists with a NUL byte instead of a line break.
        QByteArray line = raw;
        while (line.endsWith('\0')) line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (url.isValid() && url.isLocalFile() && !url.toLocalFile().isEmpty())
            listed.files << url.toLocalFile();
        else
            listed.unusable << QString::fromUtf8(line);
    }
    return listed;
}

}  // namespace

QString RefusedDropText(const QString& place) {
    return QCoreApplication::translate(
               "CTallowdeskView", "Files cannot be dropped here: \"%1\" holds no files of its own.")
        .arg(place.trimmed());
}

namespace {

ListedFiles FilesOfUriList(const QByteArray& text) {
    return FilesOfLines(text.split('\n'));
}

ListedFiles FilesOfGnomeCopied(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    // The first line says "copy" or "cut"; a cut is uploaded like a copy,
    // the local files stay where they are.
    if (!lines.isEmpty()) {
        const QByteArray verb = lines.front().trimmed();
        if (verb == "copy" || verb == "cut") lines.removeFirst();
    }
    return FilesOfLines(lines);
}

// The richer of the two lists a file manager offers: GNOME's when it names
// files, else the URI list; nothing for the program's own rows.
ListedFiles FilesOf(const QMimeData* data) {
    if (!data) return {};
    if (data->hasFormat(ListViewMimeType()) || data->hasFormat(TreeViewMimeType())) return {};
    ListedFiles gnome;
    if (data->hasFormat(TypeName(kGnomeCopiedFilesType))) {
        gnome = FilesOfGnomeCopied(data->data(TypeName(kGnomeCopiedFilesType)));
        if (!gnome.files.isEmpty()) return gnome;
    }
    if (data->hasFormat(TypeName(kUriListType))) {
        ListedFiles list = FilesOfUriList(data->data(TypeName(kUriListType)));
        if (!list.files.isEmpty() || !list.unusable.isEmpty()) return list;
    }
    return gnome;
}

}  // namespace

bool AcceptsDrop(const DropOffer& offer) {
    if (offer.listBusy || offer.transferBusy) return false;
    if (offer.fromList || offer.fromTree) return false;
    if (offer.urls.isEmpty() || !offer.placeTakesFiles) return false;
    for (const QUrl& url : offer.urls)
        if (!url.isLocalFile()) return false;
    return true;
}

DropOffer DropOfferFrom(const QMimeData* data, bool listBusy, bool transferBusy) {
    DropOffer offer;
    offer.listBusy = listBusy;
    offer.transferBusy = transferBusy;
    if (!data) return offer;
    offer.fromList = data->hasFormat(ListViewMimeType());
    offer.fromTree = data->hasFormat(TreeViewMimeType());
    if (!offer.fromList && !offer.fromTree && data->hasUrls()) offer.urls = data->urls();
    return offer;
}

QStringList LocalFilesOfUriList(const QByteArray& text) {
    return FilesOfUriList(text).files;
}

QStringList LocalFilesOfGnomeCopied(const QByteArray& text) {
    return FilesOfGnomeCopied(text).files;
}

QStringList LocalFilesOf(const QMimeData* data) {
    return FilesOf(data).files;
}

std::vector<UploadSource> UploadSourcesOf(const QStringList& paths) {
    std::vector<UploadSource> sources;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists()) continue;
        sources.push_back(UploadSource{path.toStdString(), info.isDir()});
    }
    return sources;
}

CollectedFiles CollectDroppedFiles(const QMimeData* data) {
    const ListedFiles listed = FilesOf(data);
    CollectedFiles collected;
    for (const QString& line : listed.unusable)
        collected.unusable
            << QCoreApplication::translate("DropRules", "Not a local file: %1").arg(line);
    for (const QString& path : listed.files) {
        const QFileInfo info(path);
        if (!info.exists()) {
            collected.unusable
                << QCoreApplication::translate("DropRules", "No such file or folder: %1").arg(path);
            continue;
        }
        collected.sources.push_back(UploadSource{path.toStdString(), info.isDir()});
    }
    return collected;
}

}  // namespace tallowdesk::shell
