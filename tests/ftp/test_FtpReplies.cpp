#include "ftp/FtpReplies.h"

#include <gtest/gtest.h>

#include <limits>

using namespace quelmark;

namespace {

struct CodeRow {
    const char *line;
    std::int32_t code;
};

TEST(FtpReplies, ReplyCodeReadsLeadingDigitsAfterBlanks)
{
    const CodeRow rows[] = {
        {"220 Service ready", 220},
        {"  220 Service ready", 220},
        {"220-first line of several", 220},
        {"", 0},
        {"   ", 0},
        {"Hello 220", 0},
        {"-220 minus sign is not a digit", 0},
        {"\t220 a tab is not a blank", 0},
        {"226Transfer complete", 226},
        {"12", 12},
        {"99999999999999999999 far too long", 2147483647},
    };
    for (const CodeRow &row : rows)
        EXPECT_EQ(ReplyCode(QString::fromLatin1(row.line)), row.code) << row.line;
}

TEST(FtpReplies, ReplyCodeIgnoresNonAsciiDigits)
{
    // Arabic-Indic digits are digits to Unicode but never part of an FTP reply code.
    EXPECT_EQ(ReplyCode(QString::fromUtf8("\u0662\u0662\u0660 ready")), 0);
    EXPECT_EQ(ReplyCode(QString::fromUtf8("22\u0660 ready")), 22);
}

TEST(FtpReplies, ContinuationIsMarkedByDashInFourthCharacter)
{
    EXPECT_TRUE(ReplyContinues(QStringLiteral("220-Welcome")));
    EXPECT_TRUE(ReplyContinues(QStringLiteral("abc-")));
    EXPECT_FALSE(ReplyContinues(QStringLiteral("220 Ready")));
    EXPECT_FALSE(ReplyContinues(QStringLiteral("220")));
    EXPECT_FALSE(ReplyContinues(QStringLiteral("   indented text")));
    EXPECT_FALSE(ReplyContinues(QString()));
}

TEST(FtpReplies, PortArgumentSplitsAddressAndPortIntoBytes)
{
    struct Row {
        std::uint32_t address;
        std::uint16_t port;
        const char *expected;
    };
    const Row rows[] = {
        {0x7F000001u, 1025, "127,0,0,1,4,1"},
        {0xC0A80105u, 1025, "192,168,1,5,4,1"},
        {0xFFFFFFFFu, 65535, "255,255,255,255,255,255"},
        {0x00000000u, 0, "0,0,0,0,0,0"},
        {0x0A000102u, 256, "10,0,1,2,1,0"},
        {0x0A000102u, 255, "10,0,1,2,0,255"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(PortArgument(row.address, row.port), QString::fromLatin1(row.expected)) << row.expected;
}

TEST(FtpReplies, RateIsExactUpTo32767BytesAndCoarseAbove)
{
    struct Row {
        std::int64_t count, elapsed, rate;
    };
    const Row rows[] = {
        {32767, 3000, 10922},
        {32768, 3000, 10000},
        {100000, 3000, 33000},
        {0, 5, 0},
        {1024, 1, 1024000},
        // Counts past 32 bits must not wrap: 6 GiB in 60 s.
        {6442450944LL, 60000, 107374000},
        // The largest rate that fits, and past it the largest value instead of an overflow.
        {9223372036854775LL, 1, 9223372036854775000LL},
        {9223372036854776LL, 1, std::numeric_limits<std::int64_t>::max()},
        {std::numeric_limits<std::int64_t>::max(), 1, std::numeric_limits<std::int64_t>::max()},
    };
    for (const Row &row : rows)
        EXPECT_EQ(TransferRate(row.count, row.elapsed), row.rate) << row.count << " in " << row.elapsed;
}

TEST(FtpReplies, SessionClosedLineShowsRateOnlyWhenTimeElapsed)
{
    EXPECT_EQ(SessionClosedLine(0, 0), QStringLiteral("Data: session closed, 0 bytes transfered, 0 Seconds elapsed"));
    EXPECT_EQ(SessionClosedLine(100000, 3000),
              QStringLiteral("Data: session closed, 100000 bytes transfered, 3 Seconds elapsed, 33000 Bytes/Sec"));
    EXPECT_EQ(SessionClosedLine(2500, 999),
              QStringLiteral("Data: session closed, 2500 bytes transfered, 0 Seconds elapsed, 2502 Bytes/Sec"));
    EXPECT_EQ(
        SessionClosedLine(5000000000LL, 10000),
        QStringLiteral("Data: session closed, 5000000000 bytes transfered, 10 Seconds elapsed, 500000000 Bytes/Sec"));
}

TEST(FtpReplies, LineBreaksAreFoundAnywhere)
{
    EXPECT_FALSE(ContainsLineBreak(QStringLiteral("index.html")));
    EXPECT_TRUE(ContainsLineBreak(QStringLiteral("a\r\nDELE b")));
    EXPECT_TRUE(ContainsLineBreak(QStringLiteral("a\nb")));
    EXPECT_TRUE(ContainsLineBreak(QStringLiteral("a\r")));
}

} // namespace
