#include "HalfOpenGate.h"

#include <algorithm>
#include <vector>

namespace tallowdesk::server {

HalfOpenGate::HalfOpenGate(std::size_t perSource, std::size_t total)
    : m_perSource(std::max<std::size_t>(perSource, 1)), m_total(std::max<std::size_t>(total, 1)) {}

std::shared_ptr<HalfOpenGate> HalfOpenGate::Make(std::size_t perSource, std::size_t total) {
    return std::shared_ptr<HalfOpenGate>(new HalfOpenGate(perSource, total));
}

std::function<void()> HalfOpenGate::Take(std::list<Entry>::iterator at) {
    at->ticket->m_held = false;
    if (!at->source.empty()) {
        const auto count = m_bySource.find(at->source);
        if (count != m_bySource.end() && --count->second == 0) m_bySource.erase(count);
    }
    auto evict = std::move(at->evict);
    m_order.erase(at);
    return evict;
}

std::unique_ptr<HalfOpenGate::Ticket> HalfOpenGate::Admit(const std::string& source,
                                                          std::function<void()> evict) {
    std::unique_ptr<Ticket> ticket(new Ticket(shared_from_this()));
    std::vector<std::function<void()>> away;
    {
        std::lock_guard guard(m_lock);
        if (!source.empty()) {
            const auto count = m_bySource.find(source);
            if (count != m_bySource.end() && count->second >= m_perSource) {
                const auto oldest =
                    std::find_if(m_order.begin(), m_order.end(),
                                 [&](const Entry& e) { return e.source == source; });
                if (oldest != m_order.end()) away.push_back(Take(oldest));
            }
        }
        if (m_order.size() >= m_total) away.push_back(Take(m_order.begin()));
        ticket->m_held = true;
        m_order.push_back({source, std::move(evict), ticket.get()});
        if (!source.empty()) ++m_bySource[source];
    }
    for (auto& fn : away) {
        if (fn) fn();
    }
    return ticket;
}

void HalfOpenGate::Release(Ticket& ticket) {
    std::lock_guard guard(m_lock);
    if (!ticket.m_held) return;
    // Newest last: a connection usually leaves soon after it came.
    for (auto at = m_order.end(); at != m_order.begin();) {
        --at;
        if (at->ticket == &ticket) {
            // Dropped under the lock is fine: it only posts or does nothing.
            (void)Take(at);
            return;
        }
    }
}

std::size_t HalfOpenGate::Count() const {
    std::lock_guard guard(m_lock);
    return m_order.size();
}

std::size_t HalfOpenGate::CountOf(const std::string& source) const {
    std::lock_guard guard(m_lock);
    const auto count = m_bySource.find(source);
    return count == m_bySource.end() ? 0 : count->second;
}

void HalfOpenGate::Ticket::Release() {
    if (m_gate) m_gate->Release(*this);
}

bool HalfOpenGate::Ticket::Held() const {
    std::lock_guard guard(m_gate->m_lock);
    return m_held;
}

}  // namespace tallowdesk::server
