#include "DialogProgressSink.h"

#include "Notifier.h"

namespace tallowdesk::shell {

template <typename Fn>
void DialogProgressSink::Post(Fn fn) const {
    notifier::Post([guard = m_object, iface = m_iface, fn] {
        if (guard) fn(*iface);
    });
}

void DialogProgressSink::SetCurrentNumber(std::uint64_t n) {
    Post([n](TransferProgressMessages& d) { d.SetCurrentNumber(n); });
}

void DialogProgressSink::SetTotal(std::uint64_t n) {
    Post([n](TransferProgressMessages& d) { d.SetTotal(n); });
}

void DialogProgressSink::SetName(const std::string& text) {
    Post([t = QString::fromStdString(text)](TransferProgressMessages& d) { d.SetName(t); });
}

void DialogProgressSink::SetSizeText(const std::string& text) {
    Post([t = QString::fromStdString(text)](TransferProgressMessages& d) { d.SetSizeText(t); });
}

void DialogProgressSink::SetRange(std::uint64_t bytes) {
    Post([bytes](TransferProgressMessages& d) { d.SetRange(bytes); });
}

void DialogProgressSink::SetMarquee(bool on) {
    Post([on](TransferProgressMessages& d) { d.SetMarquee(on); });
}

void DialogProgressSink::Progress(std::uint64_t bytesDone, std::uint64_t rateBytesPerMs) {
    m_progress->done = bytesDone;
    m_progress->rate = rateBytesPerMs;
    // Chunks come faster than the window paints: one queued update at a time,
    // showing the figures of the moment it runs.
    if (m_progress->queued.exchange(true)) return;
    Post([latest = m_progress](TransferProgressMessages& d) {
        latest->queued = false;
        d.Progress(latest->done, latest->rate);
    });
}

void DialogProgressSink::AddTransferDetail(const std::string& text) {
    Post([t = QString::fromStdString(text)](TransferProgressMessages& d) {
        d.AddTransferDetail(t);
    });
}

void DialogProgressSink::Finished() {
    notifier::Send([this] {
        if (m_object) m_iface->TransferFinished();
    });
}

}  // namespace tallowdesk::shell
