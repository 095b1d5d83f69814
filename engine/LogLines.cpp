#include "engine/LogLines.h"

namespace quelmark {

void TLogLines::Append(QStringView line)
{
    m_starts.push_back(m_text.size());
    m_text += line.toUtf8();
    m_longest = std::max(m_longest, line.size());
}

void TLogLines::Clear()
{
    // Assigning empty values would keep the room the lines had.
    QByteArray().swap(m_text);
    std::vector<std::int64_t>().swap(m_starts);
    m_longest = 0;
}

QString TLogLines::Line(std::int64_t i) const
{
    if (i < 0 || i >= Count())
        return QString();
    const std::int64_t start = m_starts[std::size_t(i)];
    const std::int64_t end = i + 1 < Count() ? m_starts[std::size_t(i + 1)] : m_text.size();
    return QString::fromUtf8(m_text.constData() + start, qsizetype(end - start));
}

QStringList TLogLines::All() const
{
    QStringList lines;
    lines.reserve(qsizetype(Count()));
    for (std::int64_t i = 0; i < Count(); ++i)
        lines.append(Line(i));
    return lines;
}

std::int64_t TLogLines::HeldBytes() const
{
    return m_text.capacity() + std::int64_t(m_starts.capacity() * sizeof(std::int64_t));
}

} // namespace quelmark
