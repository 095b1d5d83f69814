// UniqueFd: sole owner of one file descriptor (a file, a socket), closed when the owner goes.
//
// Every unit that opens a descriptor keeps it in one of these until it hands it on with
// Release, so a failure path closes what it opened because a destructor does.
#pragma once

#include <unistd.h>

#include <utility>

namespace quelmark {

class UniqueFd {
public:
    UniqueFd() = default;
    // Takes ownership of fd; a negative value owns nothing.
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.Release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Gives the descriptor up without closing it and returns it.
    int Release() { return std::exchange(m_fd, -1); }
    // Closes the owned descriptor, if any, and takes fd instead.
    void Reset(int fd = -1)
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0)
            ::close(old);
    }

private:
    int m_fd = -1;
};

} // namespace quelmark
