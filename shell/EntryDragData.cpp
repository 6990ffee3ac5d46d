#include "EntryDragData.h"

#include <QUrl>

#include "ClipboardFormats.h"

namespace tallowdesk::shell {

EntryDragData::EntryDragData(QStringList localPaths, std::function<void()> fetch)
    : m_paths(std::move(localPaths)), m_fetch(std::move(fetch)) {}

QStringList EntryDragData::formats() const {
    return {QStringLiteral("text/uri-list"), ListViewMimeType()};
}

bool EntryDragData::hasFormat(const QString& mimeType) const {
    return formats().contains(mimeType);
}

QVariant EntryDragData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType == ListViewMimeType()) return QByteArray(1, '\0');
    if (mimeType != QStringLiteral("text/uri-list")) return {};
    if (!m_fetched) {
        // Set first: the modal window's event loop may bring the next request.
        m_fetched = true;
        if (m_fetch) m_fetch();
    }
    QList<QUrl> urls;
    for (const QString& p : m_paths) urls << QUrl::fromLocalFile(p);
    if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) {
        QByteArray list;
        for (const QUrl& u : urls) list += u.toEncoded() + "\r\n";
        return list;
    }
    QVariantList variants;
    for (const QUrl& u : urls) variants << u;
    return variants;
}

}  // namespace tallowdesk::shell
