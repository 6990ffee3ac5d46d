#pragma once

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tallowdesk::server {

// Bounds the connections that have not yet sent their first request head
// (TLS handshake and head still to come). Such a connection costs a
// descriptor and a slot but shows nothing of its client, so a flood of
// silent ones could take every slot from clients that do send requests.
// They are counted per source and in all; when either count is full the
// oldest such connection of that source (or of all) makes way for the new
// one. A source of "" is counted in all only: a trusted proxy speaks for
// many clients. Any thread; the gate outlives its tickets.
class HalfOpenGate : public std::enable_shared_from_this<HalfOpenGate> {
public:
    // A place among the half-open connections, held until the first request
    // head has come (or the connection ends); destroying it gives it back.
    class Ticket {
    public:
        ~Ticket() { Release(); }
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        void Release();
        // False once the connection was asked to make way.
        bool Held() const;

    private:
        friend class HalfOpenGate;
        explicit Ticket(std::shared_ptr<HalfOpenGate> gate) : m_gate(std::move(gate)) {}
        std::shared_ptr<HalfOpenGate> m_gate;
        bool m_held = false;  // under the gate's lock
    };

    // At most `perSource` half-open connections per source and `total` in all
    // (each at least 1).
    static std::shared_ptr<HalfOpenGate> Make(std::size_t perSource, std::size_t total);

    // Takes in a new connection from `source`. `evict` is called when it must
    // make way later: on the thread of the Admit that pushes it out, outside
    // the gate's lock, at most once.
    std::unique_ptr<Ticket> Admit(const std::string& source, std::function<void()> evict);

    std::size_t Count() const;
    std::size_t CountOf(const std::string& source) const;
    std::size_t PerSource() const { return m_perSource; }
    std::size_t Total() const { return m_total; }

private:
    HalfOpenGate(std::size_t perSource, std::size_t total);
    struct Entry {
        std::string source;
        std::function<void()> evict;
        Ticket* ticket;
    };
    // Removes `at` and returns its evict callback; under the lock.
    std::function<void()> Take(std::list<Entry>::iterator at);
    void Release(Ticket& ticket);

    const std::size_t m_perSource;
    const std::size_t m_total;
    mutable std::mutex m_lock;
    std::list<Entry> m_order;  // oldest first
    std::unordered_map<std::string, std::size_t> m_bySource;
};

}  // namespace tallowdesk::server
