// Texts from the network made fit to show: every byte stays visible, none acts on the screen.
#include "net/Printable.h"

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
        // Not UTF-8: stray bytes, an overlong form, a surrogate, past U+10FFFF, a cut sequence.
        {"\xff\xfe \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xc3",
         R"(\xff\xfe \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xc3)"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(PrintableBytes(row.bytes), QString::fromUtf8(row.shown)) << row.shown;
}

} // namespace
