// Date texts made from pieces against the straightforward formatting of the same moments.
#include "engine/FileDateText.h"

#include "engine/ChangeDetection.h"
#include "tests/support/Printing.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

namespace quelmark {
namespace {

// Three years of moments: 2022-01-01 00:00 UTC and the 1096 days after it.
constexpr qint64 kFrom = 1640995200;
constexpr qint64 kSpan = 1096 * 86400;

// Returns the straightforward text: the locale asked for the date and for the time, each time.
QString Straightforward(const QLocale &locale, const QString &timeFormat, qint64 secs)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(secs);
    QString text = locale.toString(local.date(), QLocale::ShortFormat);
    if (local.time() != QTime(0, 0))
        text += QLatin1Char(' ') + locale.toString(local, timeFormat);
    return text;
}

// The first moment at or before to whose UTC offset differs from that of from.
qint64 OffsetChange(qint64 from, qint64 to)
{
    const int before = QDateTime::fromSecsSinceEpoch(from).offsetFromUtc();
    while (to - from > 1) {
        const qint64 middle = from + (to - from) / 2;
        (QDateTime::fromSecsSinceEpoch(middle).offsetFromUtc() == before ? from : to) = middle;
    }
    return to;
}

// Moments of the three years, in the zone this process runs in: randomCount random ones; local
// midnights (the text without a time), the seconds beside them, noon and the hours around it;
// and the seconds around each change of the zone's offset, the repeated hour included.
std::vector<qint64> Moments(int randomCount)
{
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<qint64> pick(kFrom, kFrom + kSpan - 1);
    std::vector<qint64> moments;
    for (int i = 0; i < randomCount; ++i)
        moments.push_back(pick(random));
    for (int day = 0; day < 1096; day += 5) {
        const qint64 midnight = QDateTime(QDate(2022, 1, 1).addDays(day), QTime(0, 0)).toSecsSinceEpoch();
        for (const qint64 after : {0, 1, -1, 3599, 3600, 43199, 43200, 46800})
            moments.push_back(midnight + after);
    }
    for (qint64 hour = kFrom; hour < kFrom + kSpan; hour += 3600) {
        if (QDateTime::fromSecsSinceEpoch(hour).offsetFromUtc() ==
            QDateTime::fromSecsSinceEpoch(hour + 3600).offsetFromUtc())
            continue;
        const qint64 change = OffsetChange(hour, hour + 3600);
        for (const qint64 after : {-3601, -3600, -1, 0, 1, 1800, 3599, 3600})
            moments.push_back(change + after);
    }
    return moments;
}

TEST(FileDateFormatter, TextsEqualTheLocalesOwnFormattingForEveryFieldOfTheFormatLanguage)
{
    const QLocale locales[] = {QLocale::c(), QLocale(QStringLiteral("en_US")), QLocale(QStringLiteral("de_DE")),
                               QLocale(QStringLiteral("ar_EG")), QLocale(QStringLiteral("zh_CN"))};
    const QStringList formats = {
        QStringLiteral("HH:mm:ss t"),
        QStringLiteral("h:mm:ss AP t"),
        QStringLiteral("hh:mm a"),
        QStringLiteral("H 'h' mm 'min' ss 's'"),
        QStringLiteral("'It''s' h.m.s ap"),
        QStringLiteral("''HHH:mmm:sss''"),
        QStringLiteral("zzz z zz"),
        QStringLiteral("Ap aP A a"),
        QStringLiteral("t t"),
        QStringLiteral("'open"),
        QStringLiteral("x-H_m"),
        QString(),
    };
    const std::vector<qint64> moments = Moments(300);
    for (const QLocale &locale : locales) {
        QStringList all = formats;
        all << locale.timeFormat(QLocale::LongFormat) << locale.timeFormat(QLocale::ShortFormat);
        for (const QString &format : all) {
            TFileDateFormatter formatter(locale, format);
            ASSERT_TRUE(formatter.Usable()) << format.toStdString();
            int differing = 0;
            for (const qint64 secs : moments) {
                QString text;
                ASSERT_TRUE(formatter.Text(secs, text));
                const QString expected = Straightforward(locale, format, secs);
                if (text != expected && ++differing <= 3)
                    ADD_FAILURE() << locale.name().toStdString() << " \"" << format.toStdString() << "\" at " << secs
                                  << ": " << text.toStdString() << " instead of " << expected.toStdString();
            }
        }
    }
}

TEST(FileDateFormatter, DateFieldsInTheTimeFormatAndMomentsOutsideTheCRangeAreLeftToTheLocale)
{
    for (const char *format : {"dd HH:mm", "HH:mm M", "yy", "'a' d"})
        EXPECT_FALSE(TFileDateFormatter(QLocale::c(), QString::fromLatin1(format)).Usable()) << format;
    EXPECT_TRUE(TFileDateFormatter(QLocale::c(), QStringLiteral("'d M y' HH")).Usable()) << "quoted letters are text";

    TFileDateFormatter formatter(QLocale::c(), QStringLiteral("HH:mm:ss t"));
    const qint64 last = std::numeric_limits<qint32>::max();
    for (const qint64 secs : {qint64(-1), qint64(-86400 * 400), last + 1, qint64(4102444800)}) {
        QString text = QStringLiteral("kept");
        EXPECT_FALSE(formatter.Text(secs, text)) << secs;
        EXPECT_EQ(text, QStringLiteral("kept"));
        EXPECT_EQ(FileDateTimeTextAt(secs), FileDateTimeText(QDateTime::fromSecsSinceEpoch(secs))) << secs;
    }
    for (const qint64 secs : {qint64(0), last})
        EXPECT_EQ(FileDateTimeTextAt(secs), FileDateTimeText(QDateTime::fromSecsSinceEpoch(secs))) << secs;
}

// The test across zones and locales runs this test program again once per zone and locale: Qt
// takes the system locale from LC_ALL and LANG when it starts, so each pair needs its own process.
const char *const kDatesOut = "QUELMARK_TEST_DATES_OUT";

// Compares the fast and the straightforward text of 10,000 random moments and the special ones
// in this process's zone and locale; writes the locale's name, the zone abbreviations met, the
// number of moments and the first differences, one per line.
void CompareInThisProcess()
{
    const std::vector<qint64> moments = Moments(10000);
    QSet<QString> abbreviations;
    QStringList differences;
    for (const qint64 secs : moments) {
        const QDateTime moment = QDateTime::fromSecsSinceEpoch(secs);
        abbreviations.insert(moment.timeZoneAbbreviation());
        const QString slow = FileDateTimeText(moment);
        const QString fast = FileDateTimeTextAt(secs);
        if (fast != slow && differences.size() < 5)
            differences << QStringLiteral("%1: %2 instead of %3").arg(secs).arg(fast, slow);
    }
    QStringList zones = abbreviations.values();
    zones.sort();
    QFile out(qEnvironmentVariable(kDatesOut));
    if (out.open(QIODevice::WriteOnly))
        out.write(
            (QStringList{QLocale::system().name(), zones.join(QLatin1Char(' ')), QString::number(moments.size())} +
             differences)
                .join(QLatin1Char('\n'))
                .toUtf8());
}

TEST(FileDateTextAcrossZonesAndLocales, FastTextsEqualTheStraightforwardOnesOverThreeYears)
{
    if (qEnvironmentVariableIsSet(kDatesOut)) {
        CompareInThisProcess();
        return;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const struct {
        const char *zone;
        const char *abbreviations;
    } zones[] = {{"Europe/Berlin", "CEST CET"}, {"America/New_York", "EDT EST"}, {"Asia/Tokyo", "JST"}};
    // en_US writes 12-hour times with AM/PM, de_DE 24-hour ones; both name their months differently.
    const char *const locales[] = {"en_US", "de_DE"};
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    for (const auto &zone : zones) {
        for (const char *locale : locales) {
            const QString output = dir.filePath(QStringLiteral("%1-%2").arg(zone.zone, locale).replace('/', '-'));
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("TZ"), QString::fromLatin1(zone.zone));
            env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(locale) + QStringLiteral(".UTF-8"));
            env.insert(QStringLiteral("LANG"), QString::fromLatin1(locale) + QStringLiteral(".UTF-8"));
            env.insert(QString::fromLatin1(kDatesOut), output);
            QProcess child;
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--gtest_filter=%1.%2")
                             .arg(QString::fromLatin1(test->test_suite_name()), QString::fromLatin1(test->name()))});
            ASSERT_TRUE(child.waitForFinished(60000));
            ASSERT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
            QFile out(output);
            ASSERT_TRUE(out.open(QIODevice::ReadOnly)) << zone.zone << " " << locale;
            const QStringList lines = QString::fromUtf8(out.readAll()).split(QLatin1Char('\n'));
            ASSERT_GE(lines.size(), 3);
            // The child really ran in the zone and locale asked for.
            EXPECT_EQ(lines[0], QString::fromLatin1(locale));
            EXPECT_EQ(lines[1], QString::fromLatin1(zone.abbreviations)) << zone.zone;
            EXPECT_GE(lines[2].toInt(), 10000);
            EXPECT_EQ(lines.mid(3), QStringList()) << zone.zone << " " << locale;
        }
    }
}

} // namespace
} // namespace quelmark
