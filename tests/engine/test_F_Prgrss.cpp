// The progress window: the bar, the bytes sent of the total with the rate, and Cancel by button
// and by Escape.
#include "engine/F_Prgrss.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace quelmark {
namespace {

TEST(ProgressWindow, BarIsTruncatedBoundedAndCompleteForEmptyFiles)
{
    EXPECT_EQ(ProgressPercent(0, 0), 100);
    EXPECT_EQ(ProgressPercent(1024, 0), 100);
    EXPECT_EQ(ProgressPercent(0, 3000), 0);
    EXPECT_EQ(ProgressPercent(1999, 2000), 99);
    EXPECT_EQ(ProgressPercent(5000, 3000), 100) << "never past the end";
    const std::int64_t big = std::int64_t(6) * 1024 * 1024 * 1024;
    EXPECT_EQ(ProgressPercent(big / 2, big), 50);
    EXPECT_EQ(ProgressPercent(big - 1, big), 99);
}

TEST(ProgressWindow, BytesLineShowsWhatIsSentOfTheTotalAndTheRateOnceItCanBeTold)
{
    const std::int64_t mib = 1024 * 1024;
    const struct {
        std::int64_t sent, total, elapsedMs;
        const char *text;
    } rows[] = {
        {0, 0, 0, "0 bytes of 0 bytes"},
        {0, 1500, 2000, "0 bytes of 1.46 KiB"},
        {512, 1536, 100, "512 bytes of 1.50 KiB"},
        {512, 1536, 1000, "512 bytes of 1.50 KiB, 512 bytes/s"},
        {3 * mib / 2, 64 * mib, 500, "1.50 MiB of 64.00 MiB, 3.00 MiB/s"},
        {64 * mib, 64 * mib, 8000, "64.00 MiB of 64.00 MiB, 8.00 MiB/s"},
        {std::int64_t(5) * 1024 * mib, std::int64_t(6) * 1024 * mib, 1000, "5.00 GiB of 6.00 GiB, 5.00 GiB/s"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(ProgressBytesText(r.sent, r.total, r.elapsedMs, QLocale::c()), QString::fromLatin1(r.text))
            << r.sent << " of " << r.total << " in " << r.elapsedMs << " ms";
}

} // namespace
} // namespace quelmark
