// What the fuzz targets share: the property check that ends a run, a reader that takes typed
// values off the front of an input, and the application object the widget-based parts need.
#pragma once

#include <QByteArray>
#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

} // namespace quelmark::fuzz
