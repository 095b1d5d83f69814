// TTextArea: a read-only, line-oriented text area for the log and the file pages.
//
// Lines are appended at the end only and never wrapped; both scroll bars are always shown. The
// area counts its lines and characters itself, so appending stays cheap however long it grows
// and an empty first line still counts as a line.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>

#include <cstdint>

namespace quelmark {

class TTextArea : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TTextArea(QWidget *parent = nullptr);

    // Appends one line at the end; a text holding line breaks adds one line per part.
    void AppendLine(const QString &line);
    // Replaces the whole content by these lines.
    void SetLines(const QStringList &lines);
    // Removes every line.
    void ClearLines();
    // Returns the lines in order; empty when nothing was ever appended.
    QStringList Lines() const;
    // Scrolls to the left edge and to the last line, and keeps the last line in view as lines
    // come and the area changes size, until the user scrolls away from it.
    void ShowNewest();

    std::int64_t LineCount() const { return m_lineCount; }
    // Returns the characters held, counting one per line end.
    std::int64_t CharCount() const { return m_charCount; }

private:
    void FollowRange();
    void NoteScroll(int value);
    void PlaceCursorOnNewest();

    std::int64_t m_lineCount = 0;
    std::int64_t m_charCount = 0;
    bool m_followNewest = true;
};

} // namespace quelmark
