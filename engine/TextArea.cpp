#include "engine/TextArea.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

namespace quelmark {

TTextArea::TTextArea(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The area only ever grows at its end; an undo history would double what it holds.
    setUndoRedoEnabled(false);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &TTextArea::FollowRange);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TTextArea::NoteScroll);
}

void TTextArea::FollowRange()
{
    // The range changes as lines come and as the area is laid out anew; a reader at the
    // newest line stays there.
    if (m_followNewest)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TTextArea::NoteScroll(int value)
{
    // A hidden area's range is stale; only a visible one tells where the reader is.
    if (isVisible())
        m_followNewest = value == verticalScrollBar()->maximum();
}

void TTextArea::AppendLine(const QString &line)
{
    if (m_lineCount > 0 && document()->isEmpty()) {
        // Only empty lines so far: appendPlainText would fill the first, empty block instead of
        // starting a new one, and an empty line would be lost.
        QScrollBar *bar = verticalScrollBar();
        const bool atBottom = bar->value() == bar->maximum();
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(line);
        if (atBottom)
            bar->setValue(bar->maximum());
    } else {
        appendPlainText(line);
    }
    m_lineCount = std::max<std::int64_t>(document()->blockCount(), 1);
    m_charCount += line.size() + 1;
    if (m_followNewest)
        PlaceCursorOnNewest();
}

void TTextArea::SetLines(const QStringList &lines)
{
    ClearLines();
    if (lines.isEmpty())
        return;
    setPlainText(lines.join(QLatin1Char('\n')));
    m_lineCount = std::max<std::int64_t>(document()->blockCount(), 1);
    for (const QString &line : lines)
        m_charCount += line.size() + 1;
}

void TTextArea::ClearLines()
{
    clear();
    m_lineCount = 0;
    m_charCount = 0;
}

void TTextArea::ShowNewest()
{
    m_followNewest = true;
    PlaceCursorOnNewest();
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TTextArea::PlaceCursorOnNewest()
{
    // The view brings its cursor into sight whenever it is laid out; at the start of the last
    // line that keeps the newest line in view from the left edge.
    const QTextBlock left = textCursor().block();
    const QTextBlock newest = document()->lastBlock();
    setTextCursor(QTextCursor(newest));
    // Placing the cursor shapes its line's text, and the shaped text (several times the text
    // itself) stays with the line until it is laid out again. An empty layout pass frees it
    // once the cursor has left the line, which is laid out again when it is next shown: a log
    // of many lines holds little more than their characters.
    if (left.isValid() && left != newest) {
        QTextLayout *layout = left.layout();
        layout->beginLayout();
        layout->endLayout();
    }
}

QStringList TTextArea::Lines() const
{
    QStringList lines;
    if (m_lineCount == 0)
        return lines;
    lines.reserve(document()->blockCount());
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    return lines;
}

} // namespace quelmark
