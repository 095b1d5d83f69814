#include "ftp/FtpReplies.h"
#include "ftp/UploadClient.h"

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

TEST(FtpReplies, PasvReplyGivesTheFirstSixNumberTuple)
{
    struct Row {
        const char *reply;
        std::uint32_t address; // 0: nothing read
        std::uint16_t port;
    };
    const Row rows[] = {
        {"227 Entering Passive Mode (192,0,2,7,4,1)", 0xC0000207u, 1025},
        {"227 Entering Passive Mode 192,0,2,7,4,1", 0xC0000207u, 1025},
        {"227 =192,0,2,7,255,255", 0xC0000207u, 65535},
        {"227 Entering Passive Mode (192, 0, 2, 7, 4, 1).", 0xC0000207u, 1025},
        {"227 Passive (10,0,0,1,0,21) then (1,2,3,4,5,6)", 0x0A000001u, 21},
        {"227 Entering Passive Mode (192,0,2,7,4)", 0, 0},
        {"227 Entering Passive Mode (192,0,2,7,4,1,9)", 0, 0},
        {"227 Entering Passive Mode (192, 0, 2, 7, 4, 1, 9)", 0, 0},
        {"227 Entering Passive Mode (192,0,2,256,4,1)", 0, 0},
        {"227 Entering Passive Mode (192,0,2,1007,4,1)", 0, 0},
        {"227 Entering Passive Mode (192,0,2,7,0,0)", 0, 0},
        {"227 Entering Passive Mode (192,0,2,7,-4,1)", 0, 0},
        {"227 Entering Passive Mode", 0, 0},
        {"", 0, 0},
    };
    for (const Row &row : rows) {
        const std::optional<TPassiveAddress> read = ParsePasvReply(QString::fromLatin1(row.reply));
        ASSERT_EQ(read.has_value(), row.address != 0) << row.reply;
        if (read) {
            EXPECT_EQ(read->address, row.address) << row.reply;
            EXPECT_EQ(read->port, row.port) << row.reply;
        }
    }
}

TEST(FtpReplies, EpsvReplyGivesThePortBetweenItsDelimiters)
{
    struct Row {
        const char *reply;
        int port; // 0: nothing read
    };
    const Row rows[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", 6446},
        {"229 EPSV ok (!!!1!)", 1},
        {"229 (|||65535|)", 65535},
        {"229 Mode (x) then (|||21|)", 21},
        {"229 Entering Extended Passive Mode (|||65536|)", 0},
        {"229 Entering Extended Passive Mode (|||0|)", 0},
        {"229 Entering Extended Passive Mode (|||6x446|)", 0},
        {"229 Entering Extended Passive Mode (||6446|)", 0},
        {"229 Entering Extended Passive Mode (|1|127.0.0.1|6446|)", 0},
        {"229 Entering Extended Passive Mode (|||6446!)", 0},
        {"229 Entering Extended Passive Mode (|||6446|", 0},
        {"229 Entering Extended Passive Mode (11164461)", 0},
        {"229 Entering Extended Passive Mode", 0},
    };
    for (const Row &row : rows) {
        const std::optional<std::uint16_t> port = ParseEpsvReply(QString::fromLatin1(row.reply));
        EXPECT_EQ(port.value_or(0), row.port) << row.reply;
    }
}

TEST(FtpReplies, EprtArgumentNamesFamilyAddressAndPort)
{
    EXPECT_EQ(EprtArgument(false, QStringLiteral("132.235.1.2"), 6275), QStringLiteral("|1|132.235.1.2|6275|"));
    EXPECT_EQ(EprtArgument(true, QStringLiteral("::1"), 5282), QStringLiteral("|2|::1|5282|"));
}

TEST(FtpReplies, FolderPrefixesListTheFoldersOutermostFirst)
{
    struct Row {
        const char *name;
        QStringList folders;
    };
    const Row rows[] = {
        {"/a/b/c/page.html", {"/a", "/a/b", "/a/b/c"}},
        {"a/b/page.html", {"a", "a/b"}},
        {"//a//page.html", {"/a"}},
        {"page.html", {}},
        {"/page.html", {}},
        {"", {}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FolderPrefixes(QString::fromLatin1(row.name)), row.folders) << row.name;
    EXPECT_EQ(TemporaryName(QStringLiteral("/www/index.html")), QStringLiteral("/www/index.html.quelmark-part"));
}

TEST(FtpReplies, RetryPausesDoubleUpToAMinute)
{
    const std::int64_t pauses[] = {2000, 4000, 8000, 16000, 32000, 60000, 60000};
    for (int retry = 1; retry <= 7; ++retry)
        EXPECT_EQ(RetryPauseMs(retry, 2000), pauses[retry - 1]) << "retry " << retry;
    EXPECT_EQ(RetryPauseMs(3, 50), 200);
    EXPECT_EQ(RetryPauseMs(1000, 2000), 60000);
    EXPECT_EQ(RetryPauseMs(1, 0), 0);
}

} // namespace
