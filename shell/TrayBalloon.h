#pragma once

#include <QObject>
#include <QRect>
#include <QTimer>
#include <functional>

namespace tallowdesk::shell {

// Shows the tray's balloon only once the tray has placed the icon. Right
// after QSystemTrayIcon::show() the icon has no geometry yet (the tray embeds
// it a moment later) and a balloon shown then points at the top-left corner
// of the screen. A balloon still unplaced after the wait is dropped: the icon
// itself is in the tray. UI thread.
class TrayBalloon : public QObject {
    Q_OBJECT
public:
    // iconGeometry: where the tray put the icon (empty while unplaced);
    // show: shows the balloon.
    TrayBalloon(std::function<QRect()> iconGeometry, std::function<void()> show,
                QObject* parent = nullptr);
    // Shows the balloon now, or as soon as the icon is placed.
    void Request();
    // A balloon requested and not shown yet is dropped (the window came back).
    void Cancel();
    bool Pending() const { return m_poll.isActive(); }

    static constexpr int kPollMs = 50;
    static constexpr int kMaxPolls = 60;  // three seconds

private:
    void Poll();

    std::function<QRect()> m_iconGeometry;
    std::function<void()> m_show;
    QTimer m_poll;
    int m_polls = 0;
};

}  // namespace tallowdesk::shell
