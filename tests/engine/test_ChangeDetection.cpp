#include "engine/ChangeDetection.h"

#include "catalogue/Catalogue.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "engine/EngineView.h"
#include "tests/support/Files.h"
#include "tests/support/ProgramRun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmark {
namespace {

// Writes the result of a push into the row as the window does: what the push makes of the row's
// entry, the details only for "Moved".
void SetFileStatus(TListRow &row, const QString &status)
{
    const TPushEntry pushed = WithStatus(PushEntryOf(FileEntryOf(row)), FileStatusOf(status));
    const TFileDetails details{pushed.fileDateTime, pushed.fileSize, pushed.attribs};
    SetRowStatus(row, pushed.status, pushed.status == TFileStatus::Moved ? &details : nullptr);
}

class ChangeDetectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ConfigureFileList(&list);
    }

    QString MakeFile(const QString &name, const QByteArray &content = "hello")
    {
        return test::Written(dir.filePath(name), content);
    }

    static void SetMTime(const QString &path, qint64 secs)
    {
        timespec times[2] = {{secs, 0}, {secs, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }

    static qint64 MTime(const QString &path)
    {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mtim.tv_sec;
    }

    // A row as it stands after a successful push of path.
    TListRow *PushedRow(const QString &path, const QString &ipParameter = QString(),
                        const QString &status = FileStatus::Moved)
    {
        TListRow *row = list.AddRow();
        row->SetCaption(path);
        row->SetSubItems({QStringLiteral("/www/x.html"), FileType::Ascii, ipParameter, QString()});
        SetFileStatus(*row, FileStatus::Moved);
        row->SetSubItem(colStatus, status);
        return row;
    }

    bool NeedsPush(const TListRow &row) { return FileNeedsPush(PushEntryOf(FileEntryOf(row)), lastAddress, lookup); }

    QTemporaryDir dir;
    TRegListView list;
    QString currentAddress = QStringLiteral("10.0.0.7");
    QString lastAddress = QStringLiteral("10.0.0.7");
    int lookups = 0;
    TAddressLookup lookup = [this] {
        ++lookups;
        return currentAddress;
    };
};

TEST_F(ChangeDetectionTest, DetailsGiveSizeDateAndLettersFromTheModeAndName)
{
    const QString plain = MakeFile(QStringLiteral("page.html"), "12345");
    const QString hidden = MakeFile(QStringLiteral(".hidden"));
    const QString readOnly = MakeFile(QStringLiteral("ro.html"));
    const QString both = MakeFile(QStringLiteral(".both"));
    ::chmod(QFile::encodeName(readOnly).constData(), 0444);
    ::chmod(QFile::encodeName(both).constData(), 0444);

    QString date, size, attribs;
    ASSERT_TRUE(GetFileDetails(plain, date, size, attribs));
    EXPECT_EQ(size, QStringLiteral("5"));
    EXPECT_EQ(attribs, QString());
    EXPECT_EQ(date, FileDateTimeText(QDateTime::fromSecsSinceEpoch(MTime(plain))));

    GetFileDetails(hidden, date, size, attribs);
    EXPECT_EQ(attribs, QStringLiteral("H"));
    GetFileDetails(readOnly, date, size, attribs);
    EXPECT_EQ(attribs, QStringLiteral("R")) << "derived from the mode bits, also when running as root";
    GetFileDetails(both, date, size, attribs);
    EXPECT_EQ(attribs, QStringLiteral("RH"));
}

TEST_F(ChangeDetectionTest, MidnightLeavesTheTimeOffAndOtherTimesKeepIt)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    const QDate day(2023, 3, 14);
    const QLocale locale = QLocale::system();

    SetMTime(path, QDateTime(day, QTime(0, 0)).toSecsSinceEpoch());
    QString date, size, attribs;
    GetFileDetails(path, date, size, attribs);
    EXPECT_EQ(date, locale.toString(day, QLocale::ShortFormat));

    SetMTime(path, QDateTime(day, QTime(0, 0, 1)).toSecsSinceEpoch());
    GetFileDetails(path, date, size, attribs);
    const QString dayText = locale.toString(day, QLocale::ShortFormat) + QLatin1Char(' ');
    EXPECT_TRUE(date.startsWith(dayText)) << date.toStdString();
    EXPECT_GT(date.size(), dayText.size()) << "one second past midnight keeps its time";
}

TEST_F(ChangeDetectionTest, SizesBeyondFourGigabytesAreWrittenWhole)
{
    const QString path = MakeFile(QStringLiteral("big.bin"), QByteArray());
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), 5368709120LL), 0); // sparse
    QString date, size, attribs;
    GetFileDetails(path, date, size, attribs);
    EXPECT_EQ(size, QStringLiteral("5368709120"));
}

TEST_F(ChangeDetectionTest, PathThatCannotBeExaminedLeavesTheOutputsAlone)
{
    QString date = QStringLiteral("d"), size = QStringLiteral("s"), attribs = QStringLiteral("a");
    EXPECT_FALSE(GetFileDetails(dir.filePath(QStringLiteral("missing")), date, size, attribs));
    EXPECT_FALSE(GetFileDetails(QString(), date, size, attribs));
    EXPECT_EQ(date + size + attribs, QStringLiteral("dsa"));
}

TEST_F(ChangeDetectionTest, AddressChangeMakesEntriesWithParameterDueWhateverTheirStatus)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    TListRow *held = PushedRow(path, QStringLiteral("%IP%"), FileStatus::Hold);
    TListRow *plain = PushedRow(path, QString(), FileStatus::Moved);

    EXPECT_FALSE(NeedsPush(*held));
    EXPECT_FALSE(NeedsPush(*plain));

    currentAddress = QStringLiteral("10.0.0.8");
    EXPECT_TRUE(NeedsPush(*held));
    EXPECT_FALSE(NeedsPush(*plain)) << "no parameter: an address change is no reason";

    currentAddress = lastAddress;
    lastAddress = QStringLiteral("edited by hand");
    EXPECT_TRUE(NeedsPush(*held));
}

TEST_F(ChangeDetectionTest, OnlyEntriesWithParameterLookTheAddressUp)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    NeedsPush(*PushedRow(path));
    EXPECT_EQ(lookups, 0);
    NeedsPush(*PushedRow(path, QStringLiteral("%IP%")));
    EXPECT_EQ(lookups, 1);
}

TEST_F(ChangeDetectionTest, NewEditedAndErrorAreAlwaysDueOtherStatusesOnlyOnChange)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    EXPECT_TRUE(NeedsPush(*PushedRow(path, QString(), FileStatus::New)));
    EXPECT_TRUE(NeedsPush(*PushedRow(path, QString(), FileStatus::Error)));
    EXPECT_TRUE(NeedsPush(*PushedRow(path, QString(), FileStatus::Edited))) << "its host file name may have changed";
    EXPECT_FALSE(NeedsPush(*PushedRow(path, QString(), FileStatus::Hold)));
    EXPECT_FALSE(NeedsPush(*PushedRow(path, QString(), QStringLiteral("new"))));
}

TEST_F(ChangeDetectionTest, TouchedResizedOrProtectedFileIsDue)
{
    const QString touched = MakeFile(QStringLiteral("a.html"));
    const QString grown = MakeFile(QStringLiteral("b.html"));
    const QString locked = MakeFile(QStringLiteral("c.html"));
    TListRow *touchedRow = PushedRow(touched);
    TListRow *grownRow = PushedRow(grown);
    TListRow *lockedRow = PushedRow(locked);

    SetMTime(touched, MTime(touched) + 10);
    const qint64 grownTime = MTime(grown);
    QFile f(grown);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("!");
    f.close();
    SetMTime(grown, grownTime); // same time stamp, new size
    ::chmod(QFile::encodeName(locked).constData(), 0444);

    EXPECT_TRUE(NeedsPush(*touchedRow));
    EXPECT_TRUE(NeedsPush(*grownRow));
    EXPECT_TRUE(NeedsPush(*lockedRow));
}

TEST_F(ChangeDetectionTest, MovedStoresCurrentDetailsOtherStatusesKeepThem)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    TListRow *row = PushedRow(path);
    SetMTime(path, MTime(path) + 10);
    ASSERT_TRUE(NeedsPush(*row));

    const QString before = row->SubItem(colFileDateTime);
    SetFileStatus(*row, FileStatus::Error);
    EXPECT_EQ(row->SubItem(colStatus), FileStatus::Error);
    EXPECT_EQ(row->SubItem(colFileDateTime), before);

    SetFileStatus(*row, FileStatus::Moved);
    QString date, size, attribs;
    GetFileDetails(path, date, size, attribs);
    EXPECT_EQ(row->SubItem(colFileDateTime), date);
    EXPECT_EQ(row->SubItem(colFileSize), size);
    EXPECT_EQ(row->SubItem(colAttribs), attribs);
    EXPECT_EQ(row->text(colFileDateTime + 1), date) << "the list shows what is stored";
    EXPECT_FALSE(NeedsPush(*row));
}

TEST_F(ChangeDetectionTest, VanishedFileIsDueOnlyWhileDetailsAreStored)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    TListRow *row = PushedRow(path);
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(NeedsPush(*row));

    SetFileStatus(*row, FileStatus::Moved);
    EXPECT_EQ(row->SubItem(colFileDateTime) + row->SubItem(colFileSize) + row->SubItem(colAttribs), QString());
    EXPECT_FALSE(NeedsPush(*row));
}

// Each reason the dry run prints, with the answer the push itself acts on beside it.
TEST_F(ChangeDetectionTest, EveryDecisionNamesTheRuleThatMadeIt)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    const QString missing = dir.filePath(QStringLiteral("gone.html"));
    QString date, size, attribs;
    ASSERT_TRUE(GetFileDetails(path, date, size, attribs));
    const auto entry = [&](const QString &status, const QString &ip = QString()) {
        return TFileEntry{path, QStringLiteral("x.html"), FileType::Ascii, ip, status, date, size, attribs};
    };
    TFileEntry touched = entry(FileStatus::Moved), grown = touched, locked = touched, gone = touched,
               goneBare = touched;
    touched.fileDateTime = QStringLiteral("1/1/70");
    grown.fileSize = QStringLiteral("4");
    grown.fileDateTime = QStringLiteral("1/1/70");
    locked.attribs = QStringLiteral("R");
    locked.fileSize = QStringLiteral("4");
    gone.localFile = missing;
    goneBare = {missing, QStringLiteral("x.html"), FileType::Ascii, QString(), FileStatus::Moved};

    currentAddress = QStringLiteral("10.0.0.8");
    const struct {
        TFileEntry entry;
        bool due;
        QString reason;
    } rows[] = {
        {entry(FileStatus::Hold, QStringLiteral("%IP%")), true,
         QStringLiteral("address changed (10.0.0.7 -> 10.0.0.8)")},
        {entry(FileStatus::New), true, QStringLiteral("new")},
        {entry(FileStatus::Edited), true, QStringLiteral("edited")},
        {entry(FileStatus::Error), true, QStringLiteral("error last time")},
        {locked, true, QStringLiteral("changed: attributes")},
        {grown, true, QStringLiteral("changed: size")},
        {touched, true, QStringLiteral("changed: date")},
        {gone, true, QStringLiteral("file missing")},
        {goneBare, false, QStringLiteral("file missing")},
        {entry(FileStatus::Hold), false, QStringLiteral("hold")},
        {entry(FileStatus::Moved), false, QStringLiteral("unchanged")},
    };
    for (const auto &row : rows) {
        const TPushDecision decision = PushDecision(PushEntryOf(row.entry), lastAddress, lookup);
        EXPECT_EQ(decision.reason, row.reason);
        EXPECT_EQ(decision.due, row.due) << row.reason.toStdString();
        EXPECT_EQ(FileNeedsPush(PushEntryOf(row.entry), lastAddress, lookup), row.due) << row.reason.toStdString();
    }
}

TEST_F(ChangeDetectionTest, RowShortOfColumnsIsJudgedWithEmptyTexts)
{
    const QString path = MakeFile(QStringLiteral("page.html"));
    TListRow *bare = list.AddRow();
    bare->SetCaption(dir.filePath(QStringLiteral("missing")));
    EXPECT_FALSE(NeedsPush(*bare)) << "no columns at all, no file";

    TListRow *shortRow = list.AddRow();
    shortRow->SetCaption(path);
    shortRow->SetSubItems(
        {QStringLiteral("/x"), FileType::Ascii, QString(), FileStatus::Moved, QStringLiteral("01/01/70")});
    EXPECT_TRUE(NeedsPush(*shortRow)) << "stored texts cut short differ from the file's";

    SetFileStatus(*shortRow, FileStatus::Moved);
    EXPECT_EQ(shortRow->SubItems().size(), 7);
    EXPECT_FALSE(NeedsPush(*shortRow));
}

// The clock test runs this test program again under libfaketime, once per step, in Berlin's
// zone and the C locale. A step judges the entry stored in one file, pushes it (stores its
// details as a push does) and writes them to another; the parent names the files.
const char *const kClockIn = "QUELMARK_TEST_CLOCK_IN";
const char *const kClockOut = "QUELMARK_TEST_CLOCK_OUT";
const char *const kClockFile = "QUELMARK_TEST_CLOCK_FILE";

// Judges and pushes the entry of the named local file as stored in the input file (three lines:
// date, size, attributes; absent: a new entry); writes "due" or "not due" and the stored lines.
void RunClockStep()
{
    const QString path = qEnvironmentVariable(kClockFile);
    QFile in(qEnvironmentVariable(kClockIn));
    const bool stored = in.open(QIODevice::ReadOnly);
    const QStringList texts = stored ? QString::fromUtf8(in.readAll()).split(QLatin1Char('\n')) : QStringList();
    const TFileEntry entry{.localFile = path,
                           .status = stored ? FileStatus::Moved : FileStatus::New,
                           .fileDateTime = texts.value(0),
                           .fileSize = texts.value(1),
                           .attribs = texts.value(2)};
    const bool due = FileNeedsPush(PushEntryOf(entry), QString(), {});
    TRegListView list;
    TListRow *row = list.AddRow();
    row->SetCaption(path);
    SetFileStatus(*row, FileStatus::Moved);
    QFile out(qEnvironmentVariable(kClockOut));
    if (out.open(QIODevice::WriteOnly))
        out.write(QStringList({due ? "due" : "not due", row->SubItem(colFileDateTime), row->SubItem(colFileSize),
                               row->SubItem(colAttribs)})
                      .join(QLatin1Char('\n'))
                      .toUtf8());
}

class FileDateAcrossTheYear : public ::testing::Test {
protected:
    struct Outcome {
        QString verdict;
        QStringList stored;
    };

    // Runs one step with the clock at date (YYYY-MM-DD) on the entry stored in input.
    Outcome Step(const char *date, const QString &input)
    {
        static int steps = 0;
        const QString output = dir.filePath(QStringLiteral("step%1").arg(++steps));
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        // The file keeps its real time stamp; only the clock moves.
        env.insert(QStringLiteral("NO_FAKE_STAT"), QStringLiteral("1"));
        env.insert(QString::fromLatin1(kClockFile), page);
        env.insert(QString::fromLatin1(kClockIn), input);
        env.insert(QString::fromLatin1(kClockOut), output);
        EXPECT_TRUE(test::FakeClock(env, QStringLiteral("@%1 12:00:00").arg(QString::fromLatin1(date))));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=%1.%2")
                         .arg(QString::fromLatin1(test->test_suite_name()), QString::fromLatin1(test->name()))});
        EXPECT_TRUE(child.waitForFinished(30000));
        EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
        QFile out(output);
        if (!out.open(QIODevice::ReadOnly))
            return {};
        const QStringList lines = QString::fromUtf8(out.readAll()).split(QLatin1Char('\n'));
        QFile kept(output + QStringLiteral(".stored"));
        if (kept.open(QIODevice::WriteOnly))
            kept.write(lines.mid(1).join(QLatin1Char('\n')).toUtf8());
        return {lines.value(0), lines.mid(1)};
    }

    // The file Step wrote the stored lines of a step's outcome to.
    QString StoredBy(int step) const { return dir.filePath(QStringLiteral("step%1.stored").arg(step)); }

    QTemporaryDir dir;
    QString page = dir.filePath(QStringLiteral("page.html"));
};

TEST_F(FileDateAcrossTheYear, AJanuaryFilePushedInDecemberIsNotDueInJulyAndAnOldTextGoesOnceOnly)
{
    if (qEnvironmentVariableIsSet(kClockOut)) {
        RunClockStep();
        return;
    }
    if (QProcessEnvironment probe; !test::FakeClock(probe, QString()))
        GTEST_SKIP() << "libfaketime is not installed";
    ASSERT_TRUE(test::WriteFile(page, "<p>%IP%</p>\n"));
    // 10:30 UTC on 15 January 2023: 11:30 winter time in Berlin.
    timespec times[2] = {{1673778600, 0}, {1673778600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(page).constData(), times, 0), 0);

    const Outcome december = Step("2023-12-10", QString());
    EXPECT_EQ(december.verdict, QStringLiteral("due")) << "a new entry";
    EXPECT_EQ(december.stored.value(0), QStringLiteral("15 Jan 2023 11:30:00 CET"));
    const Outcome july = Step("2024-07-15", StoredBy(1));
    EXPECT_EQ(july.verdict, QStringLiteral("not due")) << july.stored.value(0).toStdString();
    EXPECT_EQ(july.stored, december.stored);

    // What the earlier version stored when it pushed the file in summer.
    const QString legacy = test::Written(dir.filePath(QStringLiteral("legacy")),
                                         ("15 Jan 2023 11:30:00 CEST\n" + december.stored.value(1) + '\n').toUtf8());
    EXPECT_EQ(Step("2024-07-20", legacy).verdict, QStringLiteral("due")) << "once after the update";
    EXPECT_EQ(Step("2024-12-01", StoredBy(3)).verdict, QStringLiteral("not due"));
    EXPECT_EQ(Step("2025-06-01", StoredBy(4)).verdict, QStringLiteral("not due"));
}

} // namespace
} // namespace quelmark
