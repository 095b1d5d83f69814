// TBuffer: one fixed-size block of a socket's send queue.
#pragma once

#include <array>
#include <cstdint>

namespace quelmark {

class TBuffer {
public:
    static constexpr std::int32_t kSize = 1514;

    // Unsent bytes of the block: start and count (count 0 when none).
    struct Span {
        const char *start = nullptr;
        std::int32_t count = 0;
    };

    // Copies as many of the bytes as fit behind the write position and returns that number;
    // a full block takes nothing.
    std::int32_t Write(const char *bytes, std::int32_t count);
    // Returns the bytes written but not yet removed.
    Span Peek() const;
    // Removes up to count unsent bytes at the read position and returns how many it removed.
    // Once the block is empty both positions return to its start, so it can be filled again.
    std::int32_t Remove(std::int32_t count);

    std::int32_t Size() const { return kSize; }
    std::int32_t WritePosition() const { return m_writePos; }
    std::int32_t ReadPosition() const { return m_readPos; }

private:
    std::array<char, kSize> m_data{};
    std::int32_t m_writePos = 0;
    std::int32_t m_readPos = 0;
};

} // namespace quelmark
