// What the fuzz targets share: the property check that ends a run, a reader that takes typed
// values off the front of an input, the application object, and for the readers of a socket a
// wait control and a writer to the other end of the pair.
#pragma once

#include "base/Wait.h"

#include <QByteArray>
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/socket.h>

// Stops the run at a broken property, naming it, so that libFuzzer keeps the input as a crash.
#define FUZZ_REQUIRE(condition)                                                                                        \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "Broken property: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                     \
            __builtin_trap();                                                                                          \
        }                                                                                                              \
    } while (false)

namespace quelmark::fuzz {

// Hands out the bytes of one input from the front; past the end it hands out zeros and
// empty arrays, so a short input is as good as any other.
class InputReader {
public:
    InputReader(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint8_t Byte() { return m_position < m_size ? m_data[m_position++] : 0; }

    // Returns the next `bytes` bytes (at most 8) as an unsigned number, least significant first.
    std::uint64_t Number(int bytes)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= std::uint64_t(Byte()) << (8 * i);
        return value;
    }

    // Returns up to count of the next bytes.
    QByteArray Bytes(std::size_t count)
    {
        const std::size_t taken = count < Left() ? count : Left();
        const QByteArray bytes(reinterpret_cast<const char *>(m_data + m_position), qsizetype(taken));
        m_position += taken;
        return bytes;
    }

    QByteArray Rest() { return Bytes(Left()); }
    std::size_t Left() const { return m_size - m_position; }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

// Makes the one application object of the run; none of the parsers needs a window. It is never
// destroyed: libFuzzer ends the process from wherever it stands.
inline void EnsureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "quelmark-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

// Makes the application and a wait control whose ticks last intervalMs, both for the whole run.
inline TWait *MakeRunWait(std::uint16_t intervalMs)
{
    EnsureApplication();
    auto *wait = new TWait;
    wait->SetInterval(intervalMs);
    return wait;
}

// Writes the bytes to the socket until all are sent or it takes no more (the reader may be done
// first); returns how many were sent.
inline qsizetype SendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += n;
    }
    return sent;
}

} // namespace quelmark::fuzz
