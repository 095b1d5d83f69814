// TTextArea: a read-only, line-oriented text area for the log and the file pages.
//
// Lines are appended at the end only and never wrapped; both scroll bars are always shown. The
// lines are kept as text alone (TLogLines), and only the lines in view are laid out, each time
// they are drawn, so a long log costs little more than its characters. The user selects text with
// the mouse (a double click takes a word), selects everything with Ctrl+A, and copies with Ctrl+C or
// the pop-up menu.
#pragma once

#include "engine/LogLines.h"

#include <QAbstractScrollArea>
#include <QStringList>

#include <cstdint>

class QTextLayout;

namespace quelmark {

class TTextArea : public QAbstractScrollArea {
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
    QStringList Lines() const { return m_lines.All(); }
    // Scrolls to the left edge and to the last line, and keeps the last line in view as lines
    // come and the area changes size, until the user scrolls away from it.
    void ShowNewest();

    std::int64_t LineCount() const { return m_lines.Count(); }
    // Returns the characters held, counting one per line end.
    std::int64_t CharCount() const { return m_charCount; }
    // Returns the bytes the lines take in memory.
    std::int64_t HeldBytes() const { return m_lines.HeldBytes(); }

    // Returns the selected text, its lines joined by "\n"; empty when nothing is selected.
    QString SelectedText() const;
    // Selects every line.
    void SelectAll();
    // Puts the selected text on the clipboard; does nothing when nothing is selected.
    void Copy() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // A place between two characters: a line and the characters before it on that line.
    struct TPlace {
        std::int64_t line = 0;
        qsizetype column = 0;
        friend auto operator<=>(const TPlace &, const TPlace &) = default;
    };

    void Added(const QString &line);
    void MeasureFont();
    int LineWidth(const QString &line) const;
    void LayOut(QTextLayout &layout) const;
    void UpdateScrollBars();
    int FullLinesInView() const;
    qreal TopOfFirstLine() const;
    TPlace PlaceAt(const QPoint &point) const;
    bool HasSelection() const { return m_anchor != m_cursor; }
    void Select(const TPlace &anchor, const TPlace &cursor);
    void OfferSelection() const;

    TLogLines m_lines;
    std::int64_t m_charCount = 0;
    // The widest line so far in pixels, the text's margin excluded.
    int m_widest = 0;
    int m_lineHeight = 1;
    bool m_followNewest = true;
    TPlace m_anchor;
    TPlace m_cursor;
    bool m_dragging = false;
};

} // namespace quelmark
