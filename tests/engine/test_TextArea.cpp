// The log's text area: its lines kept as text alone, drawn as a plain text view draws them, and
// selected and copied as in one.
#include "engine/LogLines.h"
#include "engine/TextArea.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace quelmark {
namespace {

TEST(LogLines, KeepEachLineAsGivenAndGiveTheRoomBackWhenCleared)
{
    TLogLines lines;
    const QStringList given = {QString(), QStringLiteral("Connecting to: ftp.example.org"),
                               QStringLiteral("Grüße, 日本語, \U0001F600"), QStringLiteral("tab\there"), QString()};
    for (const QString &line : given)
        lines.Append(line);
    EXPECT_EQ(lines.Count(), 5);
    EXPECT_EQ(lines.All(), given);
    EXPECT_EQ(lines.Line(2), given[2]);
    EXPECT_EQ(lines.Line(5), QString()) << "past the end";
    EXPECT_EQ(lines.Line(-1), QString());
    EXPECT_EQ(lines.LongestLine(), given[1].size());

    // A log line costs its text and one offset, a few bytes beside its characters.
    for (int i = 0; i < 10000; ++i)
        lines.Append(QStringLiteral("[07.12.2024 10:00:%1] -- Transfering file: /home/u/www/index.html").arg(i % 60));
    EXPECT_LT(lines.HeldBytes(), 10000 * (70 + 8) * 2) << "at most the room of a doubling buffer";
    lines.Clear();
    EXPECT_EQ(lines.Count(), 0);
    EXPECT_EQ(lines.HeldBytes(), 0);
}

class TextAreaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        area.resize(320, 200);
        for (int i = 0; i < 400; ++i)
            area.AppendLine(QStringLiteral("line %1 ").arg(i, 3, 10, QLatin1Char('0')) + QString(i % 7 * 9, 'x'));
        area.show();
        area.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&area));
    }

    // Where character column of line (from the first line in view) is drawn.
    QPoint At(int row, int column)
    {
        const QFontMetricsF metrics(area.font());
        const int height = static_cast<int>(std::ceil(metrics.lineSpacing()));
        const int top = area.verticalScrollBar()->value() == 0 ? 4 : 0;
        const QString text = area.Lines().value(area.verticalScrollBar()->value() + row);
        return {4 + qRound(metrics.horizontalAdvance(text.left(column))) - area.horizontalScrollBar()->value(),
                top + row * height + height / 2};
    }

    TTextArea area;
};

// Selected by dragging, by a double click, by Ctrl+A, and copied by Ctrl+C or the pop-up menu's
// "&Copy"; the selection stays while lines come.
TEST_F(TextAreaTest, TextIsSelectedWithTheMouseOrCtrlAAndCopiedWithCtrlC)
{
    area.verticalScrollBar()->setValue(0);
    const struct {
        const char *what;
        std::function<void()> select;
        QString copied;
    } rows[] = {
        {"a drag across two lines",
         [this] {
             QTest::mousePress(area.viewport(), Qt::LeftButton, {}, At(1, 5));
             QTest::mouseMove(area.viewport(), At(2, 3));
             QTest::mouseRelease(area.viewport(), Qt::LeftButton, {}, At(2, 3));
         },
         QStringLiteral("001 xxxxxxxxx\nlin")},
        {"shift and a click extend it",
         [this] { QTest::mouseClick(area.viewport(), Qt::LeftButton, Qt::ShiftModifier, At(2, 8)); },
         QStringLiteral("001 xxxxxxxxx\nline 002")},
        {"a double click takes a word", [this] { QTest::mouseDClick(area.viewport(), Qt::LeftButton, {}, At(3, 6)); },
         QStringLiteral("003")},
        {"Ctrl+A takes everything", [this] { QTest::keyClick(&area, Qt::Key_A, Qt::ControlModifier); },
         area.Lines().join(QLatin1Char('\n'))},
    };
    for (const auto &row : rows) {
        QApplication::clipboard()->clear();
        row.select();
        EXPECT_EQ(area.SelectedText(), row.copied) << row.what;
        QTest::keyClick(&area, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), row.copied) << row.what;
    }
    area.AppendLine(QStringLiteral("a line that came later"));
    EXPECT_EQ(area.SelectedText(), rows[3].copied) << "the lines selected stay selected";
}

// Only the lines in view are laid out, each time they are drawn: the area shows what a plain text
// view given the same lines shows, whether the lines came while it was hidden or on show.
TEST(TextArea, LinesAppendedHiddenOrShownAreDrawnAsAPlainViewOfTheSameTextDrawsThem)
{
    QStringList lines;
    for (int i = 0; i < 400; ++i)
        lines << QStringLiteral("Transfering file: /home/user/www/page%1.html").arg(i) +
                     QString(i % 7 * 9, QLatin1Char('x'));
    for (const bool shownWhileAppending : {false, true}) {
        TTextArea area;
        area.resize(320, 200);
        if (shownWhileAppending)
            area.show();
        for (const QString &line : lines) {
            area.AppendLine(line);
            if (shownWhileAppending)
                QCoreApplication::processEvents();
        }
        area.show();
        QCoreApplication::processEvents();

        QPlainTextEdit plain;
        plain.setReadOnly(true);
        plain.setLineWrapMode(QPlainTextEdit::NoWrap);
        plain.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        plain.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        plain.resize(area.size());
        plain.setPlainText(lines.join(QLatin1Char('\n')));
        plain.setTextCursor(QTextCursor(plain.document()->lastBlock()));
        plain.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(area.verticalScrollBar()->value(), area.verticalScrollBar()->maximum()) << "the newest line in view";
        for (const int value : {plain.verticalScrollBar()->maximum(), 0, 17}) {
            plain.verticalScrollBar()->setValue(value);
            area.verticalScrollBar()->setValue(value);
            QCoreApplication::processEvents();
            EXPECT_EQ(area.verticalScrollBar()->maximum(), plain.verticalScrollBar()->maximum());
            EXPECT_EQ(area.viewport()->grab().toImage(), plain.viewport()->grab().toImage())
                << (shownWhileAppending ? "appended on show" : "appended hidden") << ", at line " << value;
        }
        EXPECT_EQ(area.Lines(), lines);
        EXPECT_EQ(area.horizontalScrollBar()->value(), 0);
    }
}

} // namespace
} // namespace quelmark
