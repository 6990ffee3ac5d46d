#pragma once

#include <QMimeData>
#include <QStringList>
#include <functional>

namespace tallowdesk::shell {

// The data of rows dragged out of the list; also marks the drag as coming
// from the list. UI thread.
//
// With direct save (X11) it offers "XdndDirectSave0" first: a target that
// takes it names a folder and the rows are downloaded there under the
// program's own progress window, after the drop and without any loop inside
// the data request. For targets that only take a file list it also offers
// text/uri-list: uriList gives what a request gets now (the paths the rows
// will have while the target hovers; nothing, or the complete files, once
// the drop was sent). Nothing is downloaded while a target merely looks, and
// no target is ever handed a path to a file that is not complete.
//
// Without it (other platforms) it promises text/uri-list with the files the
// rows become; the first request runs fetch (which downloads the rows under
// a modal progress window) and then hands out the URLs.
class EntryDragData : public QMimeData {
    Q_OBJECT
public:
    EntryDragData(QStringList localPaths, std::function<void()> fetch);

    // destination reads the URL the target asked for; saveInto starts the
    // download into that folder and says whether it could.
    struct DirectSave {
        std::function<QByteArray()> destination;
        std::function<bool(const QString& folder)> saveInto;
        std::function<QByteArray()> uriList;  // none: direct save only
    };
    explicit EntryDragData(DirectSave save);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    bool Fetched() const { return m_fetched; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    QByteArray DirectSaveAnswer() const;

    QStringList m_paths;
    std::function<void()> m_fetch;
    DirectSave m_save;
    mutable bool m_fetched = false;
    mutable QByteArray m_saveAnswer;  // a target may ask twice: one download
};

}  // namespace tallowdesk::shell
