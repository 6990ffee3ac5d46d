#include "DropRules.h"

#include <QFileInfo>
#include <QMimeData>

#include "ClipboardFormats.h"

namespace tallowdesk::shell {
namespace {

QString TypeName(const char* type) {
    return QString::fromLatin1(type);
}

// One URL a line; lines may end in CR LF; "#" starts a comment.
QStringList LocalFilesOfLines(const QList<QByteArray>& lines) {
    QStringList files;
    for (const QByteArray& raw : lines) {
        // pcmanfm ends its lists with a NUL byte instead of a line break.
        QByteArray line = raw;
        while (line.endsWith('\0')) line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::StrictMode);
        if (url.isValid() && url.isLocalFile() && !url.toLocalFile().isEmpty())
            files << url.toLocalFile();
    }
    return files;
}

}  // namespace

bool AcceptsDrop(const DropOffer& offer) {
    if (offer.listBusy || offer.transferBusy) return false;
    if (offer.fromList || offer.fromTree) return false;
    if (offer.urls.isEmpty()) return false;
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
    return LocalFilesOfLines(text.split('\n'));
}

QStringList LocalFilesOfGnomeCopied(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    // The first line says "copy" or "cut"; a cut is uploaded like a copy,
    // the local files stay where they are.
    if (!lines.isEmpty()) {
        const QByteArray verb = lines.front().trimmed();
        if (verb == "copy" || verb == "cut") lines.removeFirst();
    }
    return LocalFilesOfLines(lines);
}

QStringList LocalFilesOf(const QMimeData* data) {
    if (!data) return {};
    if (data->hasFormat(ListViewMimeType()) || data->hasFormat(TreeViewMimeType())) return {};
    if (data->hasFormat(TypeName(kGnomeCopiedFilesType))) {
        const QStringList files =
            LocalFilesOfGnomeCopied(data->data(TypeName(kGnomeCopiedFilesType)));
        if (!files.isEmpty()) return files;
    }
    if (data->hasFormat(TypeName(kUriListType)))
        return LocalFilesOfUriList(data->data(TypeName(kUriListType)));
    return {};
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

}  // namespace tallowdesk::shell
