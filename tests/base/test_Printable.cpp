// Texts from outside made fit to show: every character stays visible, none acts on the screen
// and none starts a line of its own.
#include "base/Printable.h"

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(Printable, BytesKeepTheirCharactersAndEscapeTheRest)
{
    struct Row {
        QByteArray bytes;
        const char *shown;
    };
    const Row rows[] = {
        {"530 Login incorrect.", "530 Login incorrect."},
        {QByteArray("530 bad\0secret", 14), R"(530 bad\x00secret)"},
        {"tab\there\x1b[2J\x7f\xc2\x9b", R"(tab\x09here\x1b[2J\x7f\xc2\x9b)"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"ok\r\nForged line: Done", R"(ok\x0d\x0aForged line: Done)"},
        {"a\xe2\x80\xa8"
         "b\xe2\x80\xa9"
         "c\xc2\x85"
         "d",
         R"(a\u{2028}b\u{2029}c\xc2\x85d)"},
        // Not UTF-8: stray bytes, an overlong form, a surrogate, past U+10FFFF, a cut sequence.
        {"\xff\xfe \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xc3",
         R"(\xff\xfe \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xc3)"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(PrintableBytes(row.bytes), QString::fromUtf8(row.shown)) << row.shown;
}

TEST(Printable, TextIsOneLineAndLinesKeepOnlyTheProgramsLayout)
{
    struct Row {
        QString text;
        const char *asText;
        const char *asLines;
    };
    const Row rows[] = {
        {QStringLiteral("C:\\pages\\index.html"), R"(C:\pages\index.html)", R"(C:\pages\index.html)"},
        {QStringLiteral("site\r\nForged line: Done"), R"(site\x0d\x0aForged line: Done)", "site\nForged line: Done"},
        {QStringLiteral("a\rb\nc"), R"(a\x0db\x0ac)", "a\nb\nc"},
        {QStringLiteral("f1\tf2"), R"(f1\x09f2)", "f1\tf2"},
        {QString(QChar(0)) + QStringLiteral("\x1b]0;title\x07\x7f"), R"(\x00\x1b]0;title\x07\x7f)",
         R"(\x00\x1b]0;title\x07\x7f)"},
        {QString(QChar(0x85)) + QChar(0x9b) + QChar(0xa0) + QChar(0xe9), "\\x85\\x9b\xc2\xa0\xc3\xa9",
         "\\x85\\x9b\xc2\xa0\xc3\xa9"},
        {QString(QChar(0x2028)) + QChar(0x2029), R"(\u{2028}\u{2029})", R"(\u{2028}\u{2029})"},
        {QString(QChar(0xd800)) + QStringLiteral("x") + QString::fromUtf8("\xf0\x9f\x98\x80"),
         "\\u{d800}x\xf0\x9f\x98\x80", "\\u{d800}x\xf0\x9f\x98\x80"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(PrintableText(row.text), QString::fromUtf8(row.asText)) << row.asText;
        EXPECT_EQ(PrintableLines(row.text), QString::fromUtf8(row.asLines)) << row.asText;
    }
}

} // namespace
