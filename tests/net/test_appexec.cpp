#include "net/appexec.h"
#include "tests/support/Files.h"
#include "tests/support/Printing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace quelmark;

namespace {

QString ReadText(const QString &path)
{
    return QString::fromUtf8(test::ReadFile(path));
}

class AppExecTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        exec.SetChangeDir(false);
    }
    void TearDown() override { QDir::setCurrent(startDir); }

    QString Path(const QString &name) const { return dir.filePath(name); }

    // Runs a shell script (through the launcher itself) and waits for it to end.
    void RunScript(const QString &script)
    {
        exec.SetExeName(QStringLiteral("/bin/sh -c '%1'").arg(script));
        exec.SetWait(true);
        exec.Execute();
    }

    // Waits until the file appears and holds something; started programs write it last.
    bool WaitForFile(const QString &path)
    {
        return QTest::qWaitFor([&] { return QFileInfo(path).size() > 0; }, 10000);
    }

    QTemporaryDir dir;
    QString startDir = QDir::currentPath();
    TAppExec exec;
};

TEST(SplitCommandLine, SplitsLikeAShellWithoutExpansion)
{
    const struct {
        const char *line;
        QStringList words;
    } rows[] = {
        {"rasphone -d ricochet", {"rasphone", "-d", "ricochet"}},
        {"  a \t b  ", {"a", "b"}},
        {"", {}},
        {"   ", {}},
        {"a 'b c' \"d\\\"e\" f\\ g", {"a", "b c", "d\"e", "f g"}},
        {"'it''s' x", {"its", "x"}},
        {"'a\\b' \"a\\b\" a\\b", {"a\\b", "a\\b", "ab"}},
        {"\"\\$HOME \\\\ \\`x\\`\"", {"$HOME \\ `x`"}},
        {"'' \"\" x", {"", "", "x"}},
        {"pre'mid dle'post", {"premid dlepost"}},
        {"$HOME *.txt a|b;c", {"$HOME", "*.txt", "a|b;c"}},
        {"a \\\n b", {"a", "b"}},
        {"x\\", {"x\\"}},
        {"'\"' \"'\"", {"\"", "'"}},
    };
    for (const auto &row : rows) {
        const std::optional<QStringList> words = SplitCommandLine(QString::fromUtf8(row.line));
        ASSERT_TRUE(words.has_value()) << row.line;
        EXPECT_EQ(*words, row.words) << row.line;
    }
    for (const char *unbalanced : {"a 'b", "\"abc", "a \"b\\\"", "'"})
        EXPECT_FALSE(SplitCommandLine(QString::fromUtf8(unbalanced)).has_value()) << unbalanced;
}

TEST(ExecErrorText, NumbersWithoutRowAreEmptyBelow32AndNoErrorFrom32)
{
    EXPECT_EQ(ExecErrorText(-1), QStringLiteral("No execution"));
    EXPECT_EQ(ExecErrorText(2), QStringLiteral("File was not found"));
    EXPECT_EQ(ExecErrorText(21), QStringLiteral("Application requires 32-bit extensions"));
    for (int empty : {-2, 1, 4, 7, 9, 17, 18, 22, 31})
        EXPECT_EQ(ExecErrorText(empty), QString()) << empty;
    for (int none : {32, 33, 10000})
        EXPECT_EQ(ExecErrorText(none), QStringLiteral("No error")) << none;
}

TEST(TAppExec, PropertiesStartAsDesignedAndNormaliseOnWrite)
{
    TAppExec exec;
    EXPECT_TRUE(exec.ChangeDir());
    EXPECT_FALSE(exec.Wait());
    EXPECT_EQ(exec.ErrNo(), -1);
    EXPECT_EQ(exec.WindowState(), wsNormal);
    EXPECT_EQ(exec.ShowCommand(), 1);

    exec.SetWindowState(wsMinimized);
    EXPECT_EQ(exec.ShowCommand(), 2);
    exec.SetWindowState(wsMaximized);
    EXPECT_EQ(exec.ShowCommand(), 3);
    exec.SetWindowState(wsNormal);
    EXPECT_EQ(exec.ShowCommand(), 1);

    const struct {
        const char *written;
        const char *stored;
    } paths[] = {{"/srv/x/", "/srv/x"}, {"/", "/"}, {"/srv/x", "/srv/x"}, {"a//", "a/"}, {"", ""}, {"x/", "x"}};
    for (const auto &row : paths) {
        exec.SetExePath(QString::fromLatin1(row.written));
        EXPECT_EQ(exec.ExePath(), QString::fromLatin1(row.stored)) << row.written;
    }
}

TEST(TAppExec, CommandLineJoinsParamsWithSingleBlanks)
{
    TAppExec exec;
    exec.SetExeName(QStringLiteral("rasphone -d ricochet"));
    EXPECT_EQ(exec.CommandLine(), QStringLiteral("rasphone -d ricochet"));
    exec.SetExeParams({QStringLiteral("one"), QStringLiteral("two")});
    EXPECT_EQ(exec.CommandLine(), QStringLiteral("rasphone -d ricochet one two"));
    exec.SetExeParams({QString(), QStringLiteral("two")});
    EXPECT_EQ(exec.CommandLine(), QStringLiteral("rasphone -d ricochet  two"));
}

TEST_F(AppExecTest, QuotedArgumentsReachTheProgramIntact)
{
    const QString out = Path(QStringLiteral("out"));
    exec.SetExeName(QStringLiteral("/bin/sh -c 'printf \"%s|%s|%s\" \"$1\" \"$2\" \"$3\" > \"$0\"'"));
    exec.SetExeParams({out, QStringLiteral("\"a b\""), QStringLiteral("'c\"d'"), QStringLiteral("e\\ f")});
    exec.Execute();
    ASSERT_TRUE(WaitForFile(out));
    EXPECT_EQ(ReadText(out), QStringLiteral("a b|c\"d|e f"));
    EXPECT_EQ(exec.ErrNo(), -1);
}

TEST_F(AppExecTest, FailedStartsSetErrNoAndRaiseTheTableText)
{
    const QString script = test::Written(Path(QStringLiteral("noexec")), "#!/bin/sh\ntrue\n");
    const QString plain = test::Written(Path(QStringLiteral("plain")), "true\n");
    QFile(plain).setPermissions(QFile(plain).permissions() | QFile::ExeOwner);

    const struct {
        QString command;
        int errNo;
        const char *text;
    } rows[] = {
        {QStringLiteral("no-such-program-here -x"), 2, "File was not found"},
        {QStringLiteral(""), 2, "File was not found"},
        {QStringLiteral("/etc/passwd/x"), 3, "Path was not found"},
        {script, 5,
         "Attempt was made to dynamically link to a task, or there was a sharing or "
         "network-protection error"},
        {plain, 11,
         "Executable file was invalid. Either it was not a Windows application or there was an "
         "error in the .EXE image"},
    };
    for (const auto &row : rows) {
        exec.SetExeName(row.command);
        EXPECT_EQ(test::MessageOf<EAppExecWinExec>([&] { exec.Execute(); }), QString::fromLatin1(row.text))
            << row.command.toStdString();
        EXPECT_EQ(exec.ErrNo(), row.errNo) << row.command.toStdString();
    }

    // A later successful start without waiting leaves the last failure's number.
    const QString out = Path(QStringLiteral("ok"));
    exec.SetExeName(QStringLiteral("/bin/sh -c 'echo x > \"$0\"' ") + out);
    exec.Execute();
    ASSERT_TRUE(WaitForFile(out));
    EXPECT_EQ(exec.ErrNo(), 11);
}

TEST_F(AppExecTest, WaitBlocksUntilProgramEndsAndClearsErrNo)
{
    exec.SetExeName(QStringLiteral("no-such-program-here"));
    EXPECT_THROW(exec.Execute(), EAppExecWinExec);
    ASSERT_EQ(exec.ErrNo(), 2);

    const QString out = Path(QStringLiteral("late"));
    QElapsedTimer clock;
    clock.start();
    RunScript(QStringLiteral("sleep 0.3; echo done > %1").arg(out));
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_EQ(ReadText(out), QStringLiteral("done\n"));
    EXPECT_EQ(exec.ErrNo(), 0);
}

TEST_F(AppExecTest, ChangeDirEntersExePathBeforeStartAndStaysThere)
{
    const QString sub = Path(QStringLiteral("sub"));
    ASSERT_TRUE(QDir().mkdir(sub));
    exec.SetChangeDir(true);
    exec.SetExePath(sub + QLatin1Char('/'));
    RunScript(QStringLiteral("pwd > here"));
    EXPECT_EQ(ReadText(sub + QStringLiteral("/here")).trimmed(), QFileInfo(sub).canonicalFilePath());
    EXPECT_EQ(QDir::currentPath(), QFileInfo(sub).canonicalFilePath());

    // Without ChangeDir, or with an empty ExePath, the folder is left alone.
    QDir::setCurrent(dir.path());
    exec.SetChangeDir(false);
    RunScript(QStringLiteral("pwd > here"));
    EXPECT_TRUE(QFile::exists(Path(QStringLiteral("here"))));
    exec.SetChangeDir(true);
    exec.SetExePath(QString());
    RunScript(QStringLiteral("pwd > here2"));
    EXPECT_TRUE(QFile::exists(Path(QStringLiteral("here2"))));
}

TEST_F(AppExecTest, MissingExePathRaisesChDirAndStartsNothing)
{
    exec.SetChangeDir(true);
    exec.SetExePath(Path(QStringLiteral("missing")));
    exec.SetExeName(QStringLiteral("/bin/sh -c 'echo x > \"$0\"' ") + Path(QStringLiteral("started")));
    exec.SetWait(true);
    try {
        exec.Execute();
        FAIL() << "nothing raised";
    } catch (const EAppExecChDir &e) {
        EXPECT_FALSE(e.Message().isEmpty());
    }
    EXPECT_EQ(exec.ErrNo(), -1);
    EXPECT_EQ(QDir::currentPath(), startDir);
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("started"))));
}

TEST_F(AppExecTest, OverlongOrUnbalancedLinesAreRefusedNotCut)
{
    const QString marker = Path(QStringLiteral("started"));
    const QString base = QStringLiteral("/bin/sh -c 'echo x > \"$0\"' ") + marker + QLatin1Char(' ');
    exec.SetChangeDir(true);
    exec.SetExePath(dir.path());
    exec.SetWait(true);

    exec.SetExeName(base + QString(600 - base.size(), QLatin1Char('y')));
    ASSERT_EQ(exec.CommandLine().size(), 600);
    EXPECT_THROW(exec.Execute(), EAppExecWinExec);
    exec.SetExeName(base + QStringLiteral("'unclosed"));
    EXPECT_THROW(exec.Execute(), EAppExecWinExec);
    EXPECT_FALSE(QFile::exists(marker));
    EXPECT_EQ(exec.ErrNo(), -1);
    EXPECT_EQ(QDir::currentPath(), startDir);

    exec.SetExeName(base + QString(TAppExec::kMaxCommandLength - base.size(), QLatin1Char('y')));
    exec.Execute();
    EXPECT_TRUE(QFile::exists(marker));
}

TEST_F(AppExecTest, StartedProgramHasOwnSessionNullInputAndNoInheritedFiles)
{
    // A descriptor deliberately left open across exec: the launcher must close it anyway.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    exec.SetChangeDir(true);
    exec.SetExePath(dir.path());
    RunScript(QStringLiteral("readlink /proc/$$/fd/0 > in; cut -d\" \" -f6 /proc/$$/stat > sid; echo $$ > pid; "
                             "if test -e /proc/$$/fd/%1; then echo yes; else echo no; fi > leaked")
                  .arg(leaked));
    ::close(leaked);
    EXPECT_EQ(ReadText(Path(QStringLiteral("in"))), QStringLiteral("/dev/null\n"));
    EXPECT_EQ(ReadText(Path(QStringLiteral("sid"))), ReadText(Path(QStringLiteral("pid"))));
    EXPECT_EQ(ReadText(Path(QStringLiteral("leaked"))), QStringLiteral("no\n"));
}

TEST_F(AppExecTest, ProgramNotWaitedForIsReapedWhenItEnds)
{
    const QString pidFile = Path(QStringLiteral("pid"));
    exec.SetExeName(QStringLiteral("/bin/sh -c 'echo $$ > \"$0\"' ") + pidFile);
    exec.Execute();
    ASSERT_TRUE(WaitForFile(pidFile));
    const QString proc = QStringLiteral("/proc/") + ReadText(pidFile).trimmed();
    // An ended child that nobody collects stays in the process table as a zombie.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(proc); }, 10000)) << proc.toStdString();
}

} // namespace
