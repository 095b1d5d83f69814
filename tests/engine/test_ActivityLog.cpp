#include "engine/ActivityLog.h"

#include "base/Exception.h"
#include "catalogue/FileDialogs.h"
#include "engine/Engine.h"
#include "engine/EngineView.h"
#include "engine/TextArea.h"
#include "tests/support/Files.h"
#include "tests/support/Printing.h"
#include "tests/support/TestModes.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quelmark {
namespace {

class ActivityLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        log.Now = [this] { return now; };
        events.Add(&display);
    }

    test::TestModes<TFileDialogs> modes;
    QTemporaryDir dir;
    TTextArea memoLog;
    TLogDisplay display{&memoLog};
    TObserverList events;
    TOptions options;
    QDateTime now = QDateTime(QDate(2024, 2, 29), QTime(13, 5, 9));
    TActivityLog log{events, [this] { return options; }};
};

TEST_F(ActivityLogTest, LinesTakeTheStampOnlyWhileTheOptionIsChecked)
{
    log.AddToLog(QStringLiteral("plain"));
    options.timeStampLog = true;
    log.AddToLog(QStringLiteral("stamped"));
    log.AddToLog(QString());
    options.timeStampLog = false;
    log.AddToLog(QString());

    const QLocale locale = QLocale::system();
    const QString stamp = QLatin1Char('[') + locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                          locale.toString(now.time(), QLocale::LongFormat) + QStringLiteral("] -- ");
    EXPECT_EQ(memoLog.Lines(),
              QStringList({QStringLiteral("plain"), stamp + QStringLiteral("stamped"), stamp, QString()}));
}

TEST_F(ActivityLogTest, EmptyMessagesStillMakeLinesEvenAtTheStart)
{
    log.AddToLog(QString());
    log.AddToLog(QString());
    log.AddToLog(QStringLiteral("third"));
    EXPECT_EQ(memoLog.Lines(), QStringList({QString(), QString(), QStringLiteral("third")}));
    EXPECT_EQ(memoLog.LineCount(), 3);
}

TEST_F(ActivityLogTest, MessageWithLineBreaksBecomesOneLinePerPart)
{
    log.AddToLog(QStringLiteral("Error 10061 in function connect\r\nConnection refused"));
    log.AddToLog(QStringLiteral("a\rb"));
    EXPECT_EQ(memoLog.Lines(),
              QStringList({QStringLiteral("Error 10061 in function connect"), QStringLiteral("Connection refused"),
                           QStringLiteral("a"), QStringLiteral("b")}));
}

// Except the notes a user must see: a retry's pause, and a replaced file that lost its mode.
TEST_F(ActivityLogTest, ClientLinesAreLoggedOnlyWithDetailedLoggingButForTheNotes)
{
    QString msg = QStringLiteral("> PASS secret");
    QString retry = QStringLiteral("Trying again in 2 seconds (retry 1 of 2)");
    QString mode = QStringLiteral("The file's mode could not be kept (500 Unknown SITE command.)");
    for (QString *line : {&msg, &retry, &mode})
        log.ftpClientDisplay(nullptr, *line);
    options.detailedLogging = true;
    log.ftpClientDisplay(nullptr, msg);
    EXPECT_EQ(memoLog.Lines(), QStringList({retry, mode, QStringLiteral("> PASS secret")}));
}

TEST_F(ActivityLogTest, FullAreaIsClearedAndNotedAndTheLineDropped)
{
    struct : TEngineObserver {
        void LogLine(const QString &line) override { lines << line; }
        QStringList lines;
    } listener;
    events.Add(&listener);
    const QStringList &heard = listener.lines;
    log.SetCapacity(3, 1000);
    log.AddToLog(QStringLiteral("one"));
    log.AddToLog(QStringLiteral("two"));
    log.AddToLog(QStringLiteral("three"));
    log.AddToLog(QStringLiteral("four"));
    EXPECT_EQ(memoLog.Lines(), QStringList({QStringLiteral("Cleared output area due to limited resources...")}));
    log.AddToLog(QStringLiteral("five"));
    EXPECT_EQ(memoLog.Lines().size(), 2);

    options.timeStampLog = true;
    log.SetCapacity(1000, 60);
    log.AddToLog(QString(80, QLatin1Char('x')));
    EXPECT_EQ(memoLog.Lines(), QStringList({QStringLiteral("Cleared output area due to limited resources...")}))
        << "the note carries no stamp; a too long line counts like too many lines";
    const QString cleared = QStringLiteral("Cleared output area due to limited resources...");
    EXPECT_EQ(heard, QStringList({"one", "two", "three", cleared, "five", cleared}))
        << "a listener hears what the area shows, the dropped lines not";
}

TEST_F(ActivityLogTest, SavedFileHoldsTheLinesWithCrLfAndTheLogStays)
{
    log.AddToLog(QStringLiteral("first"));
    log.AddToLog(QString());
    log.AddToLog(QStringLiteral("caf\u00e9"));
    const QString path = dir.filePath(QStringLiteral("log.TXT"));
    TFileDialogs::SetNextAnswer(path);
    display.btnSaveCurrentFileClick();

    EXPECT_EQ(test::ReadFile(path, "<unreadable>"), QByteArray("first\r\n\r\ncaf\xc3\xa9\r\n"));
    EXPECT_EQ(test::FileMode(path), 0600) << "the log names servers and users: a new file is the user's alone";
    EXPECT_EQ(memoLog.LineCount(), 3);
    ASSERT_EQ(TFileDialogs::Shown().size(), 1);
    const TFileDialogs::TShown &shown = TFileDialogs::Shown().front();
    EXPECT_EQ(shown.kind, TFileDialogs::TKind::Save);
    EXPECT_EQ(shown.title, QStringLiteral("Save log file..."));
    EXPECT_EQ(shown.filters, QStringList({QStringLiteral("Text Files (*.TXT)"), QStringLiteral("All Files (*.*)")}));
    EXPECT_EQ(shown.defaultExtension, QStringLiteral("TXT"));
}

TEST_F(ActivityLogTest, EmptyLogSavesAnEmptyFileOverAnOldOne)
{
    const QString path = dir.filePath(QStringLiteral("log.TXT"));
    ASSERT_TRUE(test::WriteFile(path, "old contents\r\n"));
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    TFileDialogs::SetNextAnswer(path);
    display.btnSaveCurrentFileClick();
    EXPECT_EQ(test::ReadFile(path, "<unreadable>"), QByteArray());
    EXPECT_EQ(test::FileMode(path), 0640) << "a replaced file keeps the mode its owner gave it";
}

TEST_F(ActivityLogTest, CancelledDialogWritesNothing)
{
    log.AddToLog(QStringLiteral("line"));
    display.btnSaveCurrentFileClick();
    EXPECT_EQ(TFileDialogs::Shown().size(), 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

TEST_F(ActivityLogTest, UnwritableTargetRaisesCannotCreateFileAndKeepsTheLog)
{
    log.AddToLog(QStringLiteral("line"));
    const QString path = dir.filePath(QStringLiteral("no/such/folder/log.TXT"));
    TFileDialogs::SetNextAnswer(path);
    EXPECT_EQ(test::MessageOf<Exception>([&] { display.btnSaveCurrentFileClick(); }),
              QStringLiteral("Cannot create file ") + path);
    EXPECT_EQ(memoLog.Lines(), QStringList({QStringLiteral("line")}));
}

} // namespace
} // namespace quelmark
