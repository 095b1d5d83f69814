#include "net/WSockbuf.h"

#include <algorithm>
#include <cstring>

namespace quelmark {

std::int32_t TBuffer::Write(const char *bytes, std::int32_t count)
{
    const std::int32_t room = kSize - m_writePos;
    if (room <= 0 || count <= 0)
        return 0;
    const std::int32_t stored = std::min(room, count);
    std::memcpy(m_data.data() + m_writePos, bytes, static_cast<std::size_t>(stored));
    m_writePos += stored;
    return stored;
}

TBuffer::Span TBuffer::Peek() const
{
    const std::int32_t unsent = m_writePos - m_readPos;
    if (unsent <= 0)
        return {};
    return {m_data.data() + m_readPos, unsent};
}

std::int32_t TBuffer::Remove(std::int32_t count)
{
    const std::int32_t removed = std::clamp(count, 0, m_writePos - m_readPos);
    m_readPos += removed;
    if (m_readPos == m_writePos)
        m_readPos = m_writePos = 0;
    return removed;
}

} // namespace quelmark
