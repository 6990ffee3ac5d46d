#include "LinkLabel.h"

#include <QAccessibleWidget>
#include <QDesktopServices>
#include <QTextDocument>
#include <QUrl>

namespace tallowdesk::shell {
namespace {

class LinkAccessible : public QAccessibleWidget {
public:
    explicit LinkAccessible(LinkLabel* label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            QTextDocument doc;
            doc.setHtml(static_cast<LinkLabel*>(widget())->text());
            return doc.toPlainText();
        }
        if (t == QAccessible::Value) return static_cast<LinkLabel*>(widget())->Url();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }
    void doAction(const QString& name) override {
        if (name == pressAction())
            static_cast<LinkLabel*>(widget())->Activate();
        else
            QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface* LinkFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(LinkLabel::staticMetaObject.className()))
        if (auto* label = qobject_cast<LinkLabel*>(object)) return new LinkAccessible(label);
    return nullptr;
}

}  // namespace

LinkLabel::LinkLabel(const QString& url, const QString& text, QWidget* parent)
    : QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url, text), parent), m_url(url) {
    static const bool installed = [] {
        QAccessible::installFactory(LinkFactory);
        return true;
    }();
    (void)installed;
    setTextInteractionFlags(Qt::TextBrowserInteraction);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QLabel::linkActivated, this, &LinkLabel::Activate);
}

void LinkLabel::Activate() {
    QDesktopServices::openUrl(QUrl(m_url));
}

}  // namespace tallowdesk::shell
