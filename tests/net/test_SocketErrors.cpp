#include "net/SocketErrors.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>

using namespace quelmark;

namespace {

struct TextRow {
    std::int32_t number;
    const char *socketText;
    const char *lookupText;
};

// Rows where the two tables agree, the three where they differ, and numbers without a row.
const TextRow kTextRows[] = {
    {10035, "Operation would block", "Operation would block"},
    {10061, "Connection refused", "Connection refused"},
    {10058, "Can't send after socket shutdown", "Can't send after socket shutdown"},
    {10092, "WinSock DLL cannot support this application", "WinSock DLL cannot support this application"},
    {11004, "No Data", "No Data"},
    {0, "No Error", "Not a WinSock error"},
    {10049, "Address not available", "Can't assign requested address"},
    {10053, "Connection aborted", "Software caused connection abort"},
    {10001, "Not a WinSock error", "Not a WinSock error"},
    {10003, "Not a WinSock error", "Not a WinSock error"},
    {11005, "Not a WinSock error", "Not a WinSock error"},
    {-1, "Not a WinSock error", "Not a WinSock error"},
};

} // namespace

TEST(SocketErrors, BothTablesGiveTheirTextForEachNumber)
{
    for (const TextRow &row : kTextRows) {
        EXPECT_EQ(SocketErrorDesc(row.number), QString::fromLatin1(row.socketText)) << row.number;
        EXPECT_EQ(WinsockErrorText(row.number), QString::fromLatin1(row.lookupText)) << row.number;
    }
}

TEST(SocketErrors, TablesDifferInExactlyThreeRows)
{
    int differences = 0;
    for (std::int32_t n = -5; n < 12000; ++n)
        if (SocketErrorDesc(n) != WinsockErrorText(n))
            ++differences;
    EXPECT_EQ(differences, 3);
}

TEST(SocketErrors, ErrnoMapsToSocketNumbersByMeaning)
{
    const struct {
        int errnoValue;
        std::int32_t number;
    } rows[] = {
        {EINTR, 10004},        {EWOULDBLOCK, 10035}, {EAGAIN, 10035},       {EINPROGRESS, 10036},
        {EADDRINUSE, 10048},   {ECONNRESET, 10054},  {EPIPE, 10054},        {ENOTCONN, 10057},
        {ECONNREFUSED, 10061}, {EREMOTE, 10071},     {EHOSTUNREACH, 10065}, {ENOENT, ENOENT},
    };
    for (const auto &row : rows)
        EXPECT_EQ(SocketErrorFromErrno(row.errnoValue), row.number) << row.errnoValue;
}

TEST(SocketErrors, ResolverFailuresMapToNameResolutionNumbers)
{
    EXPECT_EQ(SocketErrorFromResolver(EAI_NONAME), 11001);
    EXPECT_EQ(SocketErrorFromResolver(EAI_AGAIN), 11002);
    EXPECT_EQ(SocketErrorFromResolver(EAI_FAIL), 11003);
    EXPECT_EQ(SocketErrorFromResolver(EAI_NODATA), 11004);
    EXPECT_EQ(SocketErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}
