#include "EntryDragData.h"

#include <QUrl>

#include "ClipboardFormats.h"
#include "X11DirectSave.h"

namespace tallowdesk::shell {

EntryDragData::EntryDragData(QStringList localPaths, std::function<void()> fetch)
    : m_paths(std::move(localPaths)), m_fetch(std::move(fetch)) {}

EntryDragData::EntryDragData(DirectSave save) : m_save(std::move(save)) {}

QStringList EntryDragData::formats() const {
    if (m_save.saveInto && m_save.uriList)
        return {QString::fromLatin1(kDirectSaveType), QStringLiteral("text/uri-list"),
                ListViewMimeType()};
    if (m_save.saveInto) return {QString::fromLatin1(kDirectSaveType), ListViewMimeType()};
    return {QStringLiteral("text/uri-list"), ListViewMimeType()};
}

bool EntryDragData::hasFormat(const QString& mimeType) const {
    return formats().contains(mimeType);
}

QByteArray EntryDragData::DirectSaveAnswer() const {
    if (!m_saveAnswer.isEmpty()) return m_saveAnswer;
    // "S" saved (the target only refreshes), "E" an error the target reports.
    const std::optional<QString> folder =
        DirectSaveFolder(m_save.destination ? m_save.destination() : QByteArray());
    // A target may ask while it hovers, before it wrote its folder: only a
    // started download is kept, so the request at the drop is answered anew.
    if (!folder || !m_save.saveInto(*folder)) return QByteArray("E");
    m_saveAnswer = QByteArray("S");
    return m_saveAnswer;
}

QVariant EntryDragData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType == ListViewMimeType()) return QByteArray(1, '\0');
    if (m_save.saveInto) {
        if (mimeType == QString::fromLatin1(kDirectSaveType)) return DirectSaveAnswer();
        if (mimeType == QStringLiteral("text/uri-list") && m_save.uriList) {
            const QByteArray list = m_save.uriList();
            if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) return list;
            QVariantList variants;
            for (const QByteArray& line : list.split('\n'))
                if (!line.trimmed().isEmpty()) variants << QUrl::fromEncoded(line.trimmed());
            return variants;
        }
        return {};
    }
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
