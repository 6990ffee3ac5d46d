#pragma once

#include <QLabel>

namespace tallowdesk::shell {

// A label holding one link that opens with the desktop's browser. Unlike a
// plain rich-text label it is a link for assistive technology: named by its
// text, focusable, and with a press action that opens the target. UI thread.
class LinkLabel : public QLabel {
    Q_OBJECT
public:
    LinkLabel(const QString& url, const QString& text, QWidget* parent);

    QString Url() const { return m_url; }
    // Opens the target, as a click on the link does.
    void Activate();

private:
    QString m_url;
};

}  // namespace tallowdesk::shell
