#include "X11DirectSave.h"

#include <xcb/xcb.h>

#include <QFileInfo>
#include <QGuiApplication>
#include <QHostInfo>
#include <QTimer>
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

int InputOpcode(xcb_connection_t* c) {
    const char* input = "XInputExtension";
    const Reply<xcb_query_extension_reply_t> ext(xcb_query_extension_reply(
        c, xcb_query_extension(c, static_cast<uint16_t>(std::strlen(input)), input), nullptr));
    return ext && ext->present ? ext->major_opcode : -1;
}

bool PrimaryButtonDown() {
    xcb_connection_t* c = Connection();
    if (!c) return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen) return false;
    const Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr));
    return reply && (reply->mask & XCB_BUTTON_MASK_1) != 0;
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

void UriListHold::Status(std::uint32_t target, bool accepts) {
    // After the drop the target only finishes; its word no longer counts.
    if (m_dropSent || m_waiting) return;
    if (m_requestSinceStatus) m_listReaders.insert(target);
    m_requestSinceStatus = false;
    m_target = target;
    m_accepted = accepts;
}

UriListHold::Release UriListHold::Released() {
    // Released over a target that did not accept: no drop is sent.
    if (m_dropSent || m_waiting || !m_accepted) return Release::Pass;
    if (m_listReaders.count(m_target) != 0 && !m_answered) {
        m_waiting = true;
        return Release::WaitForFiles;
    }
    m_dropSent = true;
    return Release::Pass;
}

UriListHold::Verdict UriListHold::Requested(bool buttonDown) {
    if (!buttonDown && !m_waiting && m_accepted) m_dropSent = true;
    if (!m_dropSent && !m_waiting) {
        m_requestSinceStatus = true;
        return Verdict::AnswerNow;
    }
    return m_answered ? Verdict::AnswerWithFiles : Verdict::Hold;
}

void UriListHold::Answered() {
    m_answered = true;
    if (m_waiting) {
        m_waiting = false;
        m_dropSent = true;
    }
}

X11UriListHandOver::X11UriListHandOver(std::function<void()> fetch,
                                       std::function<void(bool)> release, QByteArray hoverList)
    : m_fetch(std::move(fetch)), m_release(std::move(release)), m_hoverList(std::move(hoverList)) {
    xcb_connection_t* c = Connection();
    if (!c) return;
    m_inputOpcode = InputOpcode(c);
    m_statusAtom = Atom(c, "XdndStatus");
    m_selectionAtom = Atom(c, "XdndSelection");
    m_uriListAtom = Atom(c, "text/uri-list");
    qGuiApp->installNativeEventFilter(this);
}

X11UriListHandOver::~X11UriListHandOver() {
    if (qGuiApp) qGuiApp->removeNativeEventFilter(this);
    m_release = nullptr;  // the drag is over: nothing to send
    if (!m_done) Answer(QByteArray());
}

void X11UriListHandOver::Fetch() {
    if (m_fetchAsked || !m_fetch) return;
    m_fetchAsked = true;
    // Queued: never inside the event that asked.
    QTimer::singleShot(0, qGuiApp, m_fetch);
}

void X11UriListHandOver::Answer(const QByteArray& uriList) {
    m_done = true;
    m_answer = uriList;
    const bool waited = m_hold.Waiting();
    m_hold.Answered();
    for (const Request& r : m_held) AnswerRequest(r, m_answer);
    m_held.clear();
    if (waited && m_release)
        QTimer::singleShot(0, qGuiApp,
                           [release = m_release, drop = !uriList.isEmpty()] { release(drop); });
}

void X11UriListHandOver::AnswerRequest(const Request& request, const QByteArray& data) {
    xcb_connection_t* c = Connection();
    if (!c) return;
    // An old requestor names no property: the target atom stands for it.
    const xcb_atom_t property =
        request.property != XCB_ATOM_NONE ? request.property : request.target;
    const bool given = !data.isEmpty();
    if (given)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, request.target,
                            8, static_cast<uint32_t>(data.size()), data.constData());
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = given ? property : xcb_atom_t{XCB_ATOM_NONE};
    xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&notify));
    xcb_flush(c);
}

bool X11UriListHandOver::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE: {
            const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (m->type == m_statusAtom && m->format == 32)
                m_hold.Status(m->data.data32[0], (m->data.data32[1] & 1) != 0);
            return false;
        }
        case XCB_BUTTON_PRESS:
        case XCB_MOTION_NOTIFY:
            return m_hold.Waiting();  // the drag stays where it was released
        case XCB_BUTTON_RELEASE: {
            const auto* b = reinterpret_cast<const xcb_button_release_event_t*>(event);
            if (m_hold.Waiting()) return true;
            if (b->detail != 1 || m_hold.Released() == UriListHold::Release::Pass) return false;
            Fetch();
            return true;
        }
        case XCB_GE_GENERIC: {
            const auto* g = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
            if (m_inputOpcode < 0 || g->extension != m_inputOpcode) return false;
            // XInput device events: 4 press, 5 release, 6 motion; the button
            // number follows the type, device and time.
            constexpr uint16_t kPress = 4, kRelease = 5, kMotion = 6;
            if (g->event_type == kPress || g->event_type == kMotion) return m_hold.Waiting();
            if (g->event_type != kRelease) return false;
            if (m_hold.Waiting()) return true;
            std::uint32_t button = 0;
            std::memcpy(&button, reinterpret_cast<const char*>(event) + 16, sizeof button);
            if (button != 1 || m_hold.Released() == UriListHold::Release::Pass) return false;
            Fetch();
            return true;
        }
        case XCB_SELECTION_REQUEST: {
            const auto* r = reinterpret_cast<const xcb_selection_request_event_t*>(event);
            if (r->selection != m_selectionAtom || r->target != m_uriListAtom) return false;
            const Request request{r->requestor, r->selection, r->target, r->property, r->time};
            // The pointer tells whether the button is up, whatever way the
            // release reached (or passed) this program.
            switch (m_hold.Requested(PrimaryButtonDown())) {
                case UriListHold::Verdict::AnswerNow:
                    // The future paths, no download. Answered here: Qt would
                    // take the request's time for the server's (see
                    // PlausibleRequestTime) and refuse a time it did not send.
                    AnswerRequest(request, m_hoverList);
                    return true;
                case UriListHold::Verdict::AnswerWithFiles:
                    AnswerRequest(request, m_answer);
                    return true;
                case UriListHold::Verdict::Hold:
                    m_held.push_back(request);
                    Fetch();
                    return true;
            }
            return false;
        }
        default:
            return false;
    }
}

std::uint32_t PlausibleRequestTime(std::uint32_t requestTime, std::uint32_t latestServer) {
    constexpr std::int32_t kSlackMs = 60000;
    if (requestTime == XCB_CURRENT_TIME || latestServer == XCB_CURRENT_TIME) return requestTime;
    // Compared as the server counts, across its wrap after 49 days.
    const auto ahead = static_cast<std::int32_t>(requestTime - latestServer);
    return ahead > kSlackMs ? std::uint32_t{XCB_CURRENT_TIME} : requestTime;
}

X11RequestTimeGuard::X11RequestTimeGuard() {
    xcb_connection_t* c = Connection();
    if (!c) return;
    m_inputOpcode = InputOpcode(c);
    qGuiApp->installNativeEventFilter(this);
    m_installed = true;
}

X11RequestTimeGuard::~X11RequestTimeGuard() {
    if (m_installed && qGuiApp) qGuiApp->removeNativeEventFilter(this);
}

bool X11RequestTimeGuard::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const auto keep = [this](std::uint32_t t) {
        if (t != XCB_CURRENT_TIME &&
            (m_latest == XCB_CURRENT_TIME || static_cast<std::int32_t>(t - m_latest) > 0))
            m_latest = t;
    };
    switch (event->response_type & 0x7f) {
        // Times the server itself stamped.
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE:
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE:
        case XCB_MOTION_NOTIFY:
            keep(reinterpret_cast<const xcb_button_press_event_t*>(event)->time);
            return false;
        case XCB_PROPERTY_NOTIFY:
            keep(reinterpret_cast<const xcb_property_notify_event_t*>(event)->time);
            return false;
        case XCB_GE_GENERIC: {
            const auto* g = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
            // XInput device events carry their time after the type and device.
            if (m_inputOpcode < 0 || g->extension != m_inputOpcode) return false;
            std::uint32_t t = 0;
            std::memcpy(&t, reinterpret_cast<const char*>(event) + 12, sizeof t);
            keep(t);
            return false;
        }
        case XCB_SELECTION_REQUEST: {
            // Mended in place: Qt reads this very event next.
            auto* r = reinterpret_cast<xcb_selection_request_event_t*>(event);
            r->time = PlausibleRequestTime(r->time, m_latest);
            return false;
        }
        default:
            return false;
    }
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
