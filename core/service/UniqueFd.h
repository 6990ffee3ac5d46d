#pragma once

#include <unistd.h>

#include <utility>

namespace tallowdesk {

// Sole owner of one POSIX file descriptor; -1 when empty.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

    // Closes now and reports whether the close succeeded: for written files a
    // failed close can mean lost data.
    bool Close() {
        if (m_fd < 0) return true;
        const int fd = std::exchange(m_fd, -1);
        return ::close(fd) == 0;
    }

private:
    void Reset() {
        if (m_fd >= 0) ::close(std::exchange(m_fd, -1));
    }

    int m_fd = -1;
};

}  // namespace tallowdesk
