#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <vector>

namespace tallowdesk::shell {

// The X Direct Save hand-over of a drag out of the list, the one place that
// talks to the X server itself. The source names the file in the
// "XdndDirectSave0" property of the window that owns the drag selection; a
// target that takes direct saves (thunar, pcmanfm) writes the URL it wants
// the file at into the same property and then asks for the
// "XdndDirectSave0" type, and the source writes the file itself. All calls
// are UI thread and do nothing off X11.
class X11DirectSave {
public:
    // Whether the program runs on an X server.
    static bool Available();
    // Names the file the drag would save; true when the property was written.
    static bool OfferName(const QByteArray& name);
    // The URL a target wrote into the property (empty when none).
    static QByteArray Destination();
    // Removes the property once a drag is over.
    static void Withdraw();
};

// The local folder a target's direct-save URL points into: the folder that
// holds the named file, when the URL is a local file URL whose folder
// exists. Nothing for anything else (a web address, a missing folder).
std::optional<QString> DirectSaveFolder(const QByteArray& url);

inline constexpr const char* kDirectSaveType = "XdndDirectSave0";

// The time a selection request is taken at. X timestamps count the server's
// milliseconds; some clients put their clock's seconds there instead
// (pcmanfm asks for drag data with time(NULL)). Qt moves its own idea of the
// server's time forward to any request time, so one such request leaves it
// far ahead of the server: every later selection it claims is then refused
// by the server (a time later than the server's own), and the next drag out
// still has the last drag source's data (pcmanfm's own drag) under it.
// A time more than a minute past the latest the server told (latestServer,
// 0 for none yet) is no server time: the request counts as "now".
std::uint32_t PlausibleRequestTime(std::uint32_t requestTime, std::uint32_t latestServer);

// Keeps the server times of the program's input events and puts the rule
// above on every selection request before Qt reads it. One for the program,
// installed for its life; UI thread; does nothing off X11.
class X11RequestTimeGuard : public QAbstractNativeEventFilter {
public:
    X11RequestTimeGuard();
    ~X11RequestTimeGuard() override;
    X11RequestTimeGuard(const X11RequestTimeGuard&) = delete;
    X11RequestTimeGuard& operator=(const X11RequestTimeGuard&) = delete;
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    std::uint32_t m_latest = 0;
    int m_inputOpcode = -1;
    bool m_installed = false;
};

// When a target that only takes a file list gets it. While the pointer
// hovers, a target may ask for the list to judge the drop: it is answered at
// once, and nothing is downloaded. Once the button went up over a target that
// accepted, the drop has been sent: a request then is held until the files
// are complete, so the target never gets a path to a file that is not there.
// A target that read the list while hovering may copy from that list at the
// drop without asking again (pcmanfm does): over such a target the release
// waits, the files are fetched first, and only then is the drop sent.
class UriListHold {
public:
    enum class Verdict { AnswerNow, Hold, AnswerWithFiles };
    enum class Release { Pass, WaitForFiles };
    // The target's status message (its window, whether it takes the drop).
    void Status(std::uint32_t target, bool accepts);
    // The left button went up; whether the drop must wait for the files.
    Release Released();
    // A request for the list, with the button still down or not.
    Verdict Requested(bool buttonDown);
    // The files are complete; a waiting release may go on now.
    void Answered();
    bool DropSent() const { return m_dropSent; }
    bool Waiting() const { return m_waiting; }

private:
    std::uint32_t m_target = 0;
    bool m_accepted = false;
    bool m_dropSent = false;
    bool m_answered = false;
    bool m_waiting = false;
    bool m_requestSinceStatus = false;
    std::set<std::uint32_t> m_listReaders;  // targets that read the list while hovering
};

// The X11 side of UriListHold for one drag out: watches the target's status
// messages and the button release, and holds the target's text/uri-list
// requests after the drop; the first held request asks for the files once
// (queued, never inside the request). UI thread; does nothing off X11.
class X11UriListHandOver : public QAbstractNativeEventFilter {
public:
    // fetch starts the download of the files; release sends the drop that
    // waited for them (true) or cancels it when none could be had (false).
    // hoverList: what a request gets while the pointer hovers (the paths
    // the rows will have). Those requests are answered here, not by Qt:
    // pcmanfm stamps them with a time Qt would take for the server's.
    X11UriListHandOver(std::function<void()> fetch, std::function<void(bool drop)> release,
                       QByteArray hoverList);
    ~X11UriListHandOver() override;  // refuses requests still held
    X11UriListHandOver(const X11UriListHandOver&) = delete;
    X11UriListHandOver& operator=(const X11UriListHandOver&) = delete;

    // Answers every held request with this list; an empty list refuses.
    void Answer(const QByteArray& uriList);
    // Whether the drop was sent and the files are not handed over yet.
    bool Pending() const { return m_hold.DropSent() && !m_done; }
    // Whether the drop was sent or waits for the files: the target may still
    // ask for them.
    bool DropStarted() const { return m_hold.DropSent() || m_hold.Waiting() || m_done; }
    // The list handed over at the drop, once the files are complete.
    std::optional<QByteArray> Given() const {
        return m_done ? std::optional<QByteArray>(m_answer) : std::nullopt;
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Request {
        std::uint32_t requestor, selection, target, property, time;
    };
    void AnswerRequest(const Request& request, const QByteArray& data);

    UriListHold m_hold;
    void Fetch();

    std::function<void()> m_fetch;
    std::function<void(bool)> m_release;
    QByteArray m_hoverList;
    bool m_fetchAsked = false;
    bool m_done = false;
    QByteArray m_answer;
    std::vector<Request> m_held;
    std::uint32_t m_statusAtom = 0, m_selectionAtom = 0, m_uriListAtom = 0;
    int m_inputOpcode = -1;  // XInput, through which Qt reads the buttons
};

}  // namespace tallowdesk::shell
