#include "engine/TextArea.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace quelmark {

namespace {

// The room left around the text, as a plain text view leaves it.
constexpr int kMargin = 4;
// Where tabs stop, as in a plain text view.
constexpr qreal kTabStop = 80;

} // namespace

TTextArea::TTextArea(QWidget *parent) : QAbstractScrollArea(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    MeasureFont();
    // A hidden area's range is stale; only a visible one tells where the reader is.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (isVisible())
            m_followNewest = value == verticalScrollBar()->maximum();
    });
    UpdateScrollBars();
}

void TTextArea::AppendLine(const QString &line)
{
    for (const QStringView part : QStringView(line).split(QLatin1Char('\n')))
        Added(part.toString());
    UpdateScrollBars();
    viewport()->update();
}

void TTextArea::SetLines(const QStringList &lines)
{
    ClearLines();
    for (const QString &line : lines) {
        for (const QStringView part : QStringView(line).split(QLatin1Char('\n')))
            Added(part.toString());
    }
    UpdateScrollBars();
}

void TTextArea::Added(const QString &line)
{
    m_lines.Append(line);
    m_charCount += line.size() + 1;
    m_widest = std::max(m_widest, LineWidth(line));
}

void TTextArea::ClearLines()
{
    m_lines.Clear();
    m_charCount = 0;
    m_widest = 0;
    m_anchor = m_cursor = {};
    UpdateScrollBars();
    viewport()->update();
}

void TTextArea::ShowNewest()
{
    m_followNewest = true;
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TTextArea::MeasureFont()
{
    QTextLayout sample(QStringLiteral("X"), font());
    LayOut(sample);
    m_lineHeight = std::max(1, static_cast<int>(std::ceil(sample.lineAt(0).height())));
}

// Laid out as a plain text view lays out a line: one line, never wrapped, after the margin.
void TTextArea::LayOut(QTextLayout &layout) const
{
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(kTabStop);
    layout.setTextOption(option);
    layout.setCacheEnabled(false);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLeadingIncluded(true);
    line.setPosition(QPointF(kMargin, 0));
    layout.endLayout();
}

int TTextArea::LineWidth(const QString &line) const
{
    // Tabs stop where the layout says; any other line is as wide as its characters.
    if (line.contains(QLatin1Char('\t'))) {
        QTextLayout layout(line, font());
        LayOut(layout);
        return static_cast<int>(std::ceil(layout.lineAt(0).naturalTextWidth()));
    }
    return static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(line)));
}

int TTextArea::FullLinesInView() const
{
    return std::max(0, (viewport()->height() - kMargin - 1) / m_lineHeight);
}

qreal TTextArea::TopOfFirstLine() const
{
    // The top margin scrolls away with the first line.
    return verticalScrollBar()->value() == 0 ? kMargin : 0;
}

void TTextArea::UpdateScrollBars()
{
    const bool follow = m_followNewest;
    const int full = FullLinesInView();
    QScrollBar *vertical = verticalScrollBar();
    vertical->setRange(0, static_cast<int>(std::max<std::int64_t>(0, m_lines.Count() - full)));
    vertical->setPageStep(std::max(1, full));
    vertical->setSingleStep(1);
    if (follow) {
        vertical->setValue(vertical->maximum());
        m_followNewest = true;
    }
    QScrollBar *horizontal = horizontalScrollBar();
    const int width = viewport()->width();
    horizontal->setRange(0, std::max(0, m_widest + 2 * kMargin + 1 - width));
    horizontal->setPageStep(std::max(1, width));
    horizontal->setSingleStep(20);
}

void TTextArea::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const TPlace from = std::min(m_anchor, m_cursor);
    const TPlace to = std::max(m_anchor, m_cursor);
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    const qreal left = -horizontalScrollBar()->value();
    qreal top = TopOfFirstLine();
    for (std::int64_t i = verticalScrollBar()->value(); i < m_lines.Count() && top < viewport()->height();
         ++i, top += m_lineHeight) {
        if (top + m_lineHeight < event->rect().top())
            continue;
        QTextLayout layout(m_lines.Line(i), font());
        LayOut(layout);
        QList<QTextLayout::FormatRange> selection;
        if (HasSelection() && i >= from.line && i <= to.line) {
            const qsizetype start = i == from.line ? from.column : 0;
            const qsizetype end = i == to.line ? to.column : layout.text().size();
            selection.append({int(start), int(end - start), selected});
        }
        layout.draw(&painter, QPointF(left, top), selection);
    }
}

void TTextArea::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TTextArea::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() != QEvent::FontChange)
        return;
    MeasureFont();
    m_widest = 0;
    for (std::int64_t i = 0; i < m_lines.Count(); ++i)
        m_widest = std::max(m_widest, LineWidth(m_lines.Line(i)));
    UpdateScrollBars();
}

void TTextArea::scrollContentsBy(int, int)
{
    viewport()->update();
}

TTextArea::TPlace TTextArea::PlaceAt(const QPoint &point) const
{
    if (m_lines.Count() == 0)
        return {};
    const qreal row = std::floor((point.y() - TopOfFirstLine()) / m_lineHeight);
    const std::int64_t line =
        std::clamp<std::int64_t>(verticalScrollBar()->value() + static_cast<std::int64_t>(row), 0, m_lines.Count() - 1);
    QTextLayout layout(m_lines.Line(line), font());
    LayOut(layout);
    const int column = layout.lineAt(0).xToCursor(point.x() + horizontalScrollBar()->value());
    return {line, std::clamp<qsizetype>(column, 0, layout.text().size())};
}

void TTextArea::Select(const TPlace &anchor, const TPlace &cursor)
{
    m_anchor = anchor;
    m_cursor = cursor;
    viewport()->update();
}

void TTextArea::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const TPlace place = PlaceAt(event->position().toPoint());
    Select(event->modifiers() & Qt::ShiftModifier ? m_anchor : place, place);
    m_dragging = true;
}

void TTextArea::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    // Dragged past an edge, the text comes along a line or a step at a time.
    const QPoint point = event->position().toPoint();
    if (point.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    if (point.x() < 0)
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (point.x() > viewport()->width())
        horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    Select(m_anchor, PlaceAt(point));
}

void TTextArea::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        OfferSelection();
    }
}

void TTextArea::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_lines.Count() == 0)
        return;
    // A word of a log line is what stands between blanks: a path, an address, a reply code.
    const TPlace place = PlaceAt(event->position().toPoint());
    const QString text = m_lines.Line(place.line);
    qsizetype start = place.column;
    qsizetype end = place.column;
    while (start > 0 && !text[start - 1].isSpace())
        --start;
    while (end < text.size() && !text[end].isSpace())
        ++end;
    Select({place.line, start}, {place.line, end});
    OfferSelection();
}

void TTextArea::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        Copy();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
        verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TTextArea::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    QAction *copy = menu.addAction(QStringLiteral("&Copy"), this, &TTextArea::Copy);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(HasSelection());
    menu.addSeparator();
    QAction *all = menu.addAction(QStringLiteral("Select All"), this, &TTextArea::SelectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(m_lines.Count() > 0);
    menu.exec(event->globalPos());
}

QString TTextArea::SelectedText() const
{
    if (!HasSelection())
        return QString();
    const TPlace from = std::min(m_anchor, m_cursor);
    const TPlace to = std::max(m_anchor, m_cursor);
    QStringList parts;
    for (std::int64_t i = from.line; i <= to.line; ++i) {
        const QString line = m_lines.Line(i);
        const qsizetype start = i == from.line ? from.column : 0;
        const qsizetype end = i == to.line ? to.column : line.size();
        parts.append(line.mid(start, end - start));
    }
    return parts.join(QLatin1Char('\n'));
}

void TTextArea::SelectAll()
{
    if (m_lines.Count() == 0)
        return;
    Select({}, {m_lines.Count() - 1, m_lines.Line(m_lines.Count() - 1).size()});
    OfferSelection();
}

void TTextArea::Copy() const
{
    if (HasSelection())
        QApplication::clipboard()->setText(SelectedText());
}

// Where the desktop has a selection of its own (X11's primary), what is selected is on offer
// there too, as in every text view.
void TTextArea::OfferSelection() const
{
    QClipboard *clipboard = QApplication::clipboard();
    if (HasSelection() && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

} // namespace quelmark
