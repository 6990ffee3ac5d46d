#include "TrayBalloon.h"

namespace tallowdesk::shell {

TrayBalloon::TrayBalloon(std::function<QRect()> iconGeometry, std::function<void()> show,
                         QObject* parent)
    : QObject(parent), m_iconGeometry(std::move(iconGeometry)), m_show(std::move(show)) {
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &TrayBalloon::Poll);
}

void TrayBalloon::Request() {
    m_polls = 0;
    m_poll.stop();
    Poll();
    if (!m_iconGeometry().isEmpty()) return;
    m_poll.start();
}

void TrayBalloon::Cancel() {
    m_poll.stop();
}

void TrayBalloon::Poll() {
    if (!m_iconGeometry().isEmpty()) {
        m_poll.stop();
        m_show();
        return;
    }
    if (++m_polls > kMaxPolls) m_poll.stop();
}

}  // namespace tallowdesk::shell
