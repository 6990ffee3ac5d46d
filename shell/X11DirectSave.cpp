#include "X11DirectSave.h"

#include <xcb/xcb.h>

#include <QFileInfo>
#include <QGuiApplication>
#include <QHostInfo>
#include <QUrl>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace tallowdesk::shell {
namespace {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_connection_t* Connection() {
    if (!qGuiApp) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Qt keeps one hidden window that owns the drag selection; the target reads
// and writes the property of that window (the XdndEnter source).
xcb_window_t DragWindow(xcb_connection_t* c) {
    const xcb_atom_t selection = Atom(c, "XdndSelection");
    if (selection == XCB_ATOM_NONE) return XCB_WINDOW_NONE;
    const Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
    return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
}

}  // namespace

bool X11DirectSave::Available() {
    return Connection() != nullptr;
}

bool X11DirectSave::OfferName(const QByteArray& name) {
    xcb_connection_t* c = Connection();
    if (!c) return false;
    const xcb_window_t window = DragWindow(c);
    if (window == XCB_WINDOW_NONE) return false;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, Atom(c, kDirectSaveType),
                        Atom(c, "text/plain"), 8, static_cast<uint32_t>(name.size()),
                        name.constData());
    xcb_flush(c);
    return true;
}

QByteArray X11DirectSave::Destination() {
    xcb_connection_t* c = Connection();
    if (!c) return {};
    const xcb_window_t window = DragWindow(c);
    if (window == XCB_WINDOW_NONE) return {};
    // 64 KiB of text is far more than any path.
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, window, Atom(c, kDirectSaveType),
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, 16384),
                               nullptr));
    if (!reply || reply->format != 8) return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

void X11DirectSave::Withdraw() {
    xcb_connection_t* c = Connection();
    if (!c) return;
    const xcb_window_t window = DragWindow(c);
    if (window == XCB_WINDOW_NONE) return;
    xcb_delete_property(c, window, Atom(c, kDirectSaveType));
    xcb_flush(c);
}

std::optional<QString> DirectSaveFolder(const QByteArray& url) {
    // Some targets end the text with a NUL or a line break.
    QByteArray text = url;
    while (!text.isEmpty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r'))
        text.chop(1);
    const QUrl parsed = QUrl::fromEncoded(text, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != QStringLiteral("file")) return std::nullopt;
    // A host other than this machine is another machine's folder.
    const QString host = parsed.host();
    if (!host.isEmpty() && host != QStringLiteral("localhost") &&
        host != QHostInfo::localHostName())
        return std::nullopt;
    const QString path = parsed.path();
    if (!path.startsWith(u'/') || path.endsWith(u'/')) return std::nullopt;
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir() || !folder.isWritable()) return std::nullopt;
    return folder.absoluteFilePath();
}

}  // namespace tallowdesk::shell
