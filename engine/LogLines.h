// The lines of a text area, kept compactly: the text of every line one after the other in one
// UTF-8 buffer, and where each line starts. A line costs its bytes and one offset, whatever the
// area shows of it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace quelmark {

class TLogLines {
public:
    // Appends one line; a line break in it is kept as part of the text.
    void Append(QStringView line);
    // Removes every line and gives their room back.
    void Clear();

    std::int64_t Count() const { return static_cast<std::int64_t>(m_starts.size()); }
    // Returns line i (from 0); an index outside the lines gives an empty text.
    QString Line(std::int64_t i) const;
    // Returns every line, first to last.
    QStringList All() const;
    // Returns the characters (UTF-16 units) of the longest line so far.
    qsizetype LongestLine() const { return m_longest; }
    // Returns the bytes the lines take: their text and their offsets.
    std::int64_t HeldBytes() const;

private:
    QByteArray m_text;
    std::vector<std::int64_t> m_starts;
    qsizetype m_longest = 0;
};

} // namespace quelmark
