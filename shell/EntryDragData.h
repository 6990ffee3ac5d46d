#pragma once

#include <QMimeData>
#include <QStringList>
#include <functional>

namespace tallowdesk::shell {

// The data of rows dragged out of the list. It promises text/uri-list with
// the files the rows become, but the files only exist once a target asks for
// that list at the drop: the first request runs fetch (which downloads the
// rows under a modal progress window) and then hands out the URLs. A drag
// that ends where nothing accepts, or is cancelled, never asks, so nothing
// is downloaded. Also marks the drag as coming from the list. UI thread.
class EntryDragData : public QMimeData {
    Q_OBJECT
public:
    EntryDragData(QStringList localPaths, std::function<void()> fetch);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    bool Fetched() const { return m_fetched; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QStringList m_paths;
    std::function<void()> m_fetch;
    mutable bool m_fetched = false;
};

}  // namespace tallowdesk::shell
