// The command line: parsing against an option table, the usage, and the real programs answering
// --help, --version and bad arguments with no display.
#include "app/CommandLine.h"
#include "tests/support/Files.h"
#include "tests/support/Printing.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/StoreScript.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

const std::vector<TOptionSpec> Table{
    {QStringLiteral("help"), {}, QStringLiteral("Prints this help and exits."), QStringLiteral("h")},
    {QStringLiteral("site"), QStringLiteral("NAME"), QStringLiteral("Narrows the run to one site.")},
};

struct ParseRow {
    QStringList arguments;
    QMap<QString, QString> given;
    QString error;
};

TEST(CommandLine, ParsesSwitchesAndValuesAndRefusesWhatItDoesNotKnow)
{
    const QString none;
    const std::vector<ParseRow> rows{
        {{}, {}, none},
        {{"--help"}, {{"help", ""}}, none},
        {{"--site", "My Site", "--help"}, {{"site", "My Site"}, {"help", ""}}, none},
        {{"--site=a=b"}, {{"site", "a=b"}}, none},
        {{"--site", "--help"}, {{"site", "--help"}}, none},
        {{"--bogus"}, {}, "unknown option '--bogus'"},
        {{"--help", "--bogus=1"}, {}, "unknown option '--bogus'"},
        {{"-h"}, {{"help", ""}}, none},
        {{"-h", "--help"}, {}, "option '--help' is given twice"},
        {{"-s", "a"}, {}, "unexpected argument '-s'"},
        {{"--"}, {}, "unexpected argument '--'"},
        {{"page.html"}, {}, "unexpected argument 'page.html'"},
        {{"--help=yes"}, {}, "option '--help' takes no value"},
        {{"--site"}, {}, "option '--site NAME' needs a value"},
        {{"--site", "a", "--site=b"}, {}, "option '--site' is given twice"},
        {{"-session"}, {}, "option '-session' needs a value"},
        {{"-sessionx", "1"}, {}, "unexpected argument '-sessionx'"},
    };
    for (const ParseRow &row : rows) {
        const TCommandLine line = ParseCommandLine(row.arguments, Table);
        EXPECT_EQ(line.Error, row.error) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(line.Given, row.given) << row.arguments.join(' ').toStdString();
    }
}

// What a session manager or a user passes for Qt is kept for Qt, in order, values included.
TEST(CommandLine, QtsWindowOptionsAreSetAsideForTheWindow)
{
    const TCommandLine line = ParseCommandLine(
        {"-session", "1a2b", "--help", "-style=fusion", "-reverse", "-display", ":1", "--site", "-name"}, Table);
    EXPECT_EQ(line.Error, QString());
    EXPECT_EQ(line.WindowArguments, QStringList({"-session", "1a2b", "-style=fusion", "-reverse", "-display", ":1"}));
    EXPECT_EQ(line.Given, (QMap<QString, QString>{{"help", ""}, {"site", "-name"}}));
}

TEST(CommandLine, OneRunModeAtATimeAndSiteOnlyWithAPushOrADryRun)
{
    const struct {
        QStringList arguments;
        TRunMode mode;
        QString error;
    } rows[] = {
        {{}, TRunMode::Window, {}},
        {{"-session", "x"}, TRunMode::Window, {}},
        {{"--push-all"}, TRunMode::PushAll, {}},
        {{"--site", "a b", "--push-all"}, TRunMode::PushAll, {}},
        {{"--dry-run", "--site=a"}, TRunMode::DryRun, {}},
        {{"--service"}, TRunMode::Service, {}},
        {{"--push-all", "--dry-run"}, TRunMode::Window, "options --push-all and --dry-run cannot be combined"},
        {{"--service", "--site", "a"},
         TRunMode::Window,
         "option '--site' narrows --push-all or --dry-run, and neither is given"},
        {{"--site", "a"}, TRunMode::Window, "option '--site' narrows --push-all or --dry-run, and neither is given"},
        {{"--list-sites"}, TRunMode::ListSites, {}},
        {{"--list-sites", "--service"}, TRunMode::Window, "options --service and --list-sites cannot be combined"},
        {{"--list-sites", "--site", "a"},
         TRunMode::Window,
         "option '--site' narrows --push-all or --dry-run, and neither is given"},
    };
    for (const auto &row : rows) {
        const TCommandLine line = ParseProgramCommandLine(row.arguments);
        EXPECT_EQ(line.Error, row.error) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(line.Mode, row.mode) << row.arguments.join(' ').toStdString();
    }
}

TEST(CommandLine, UsageListsEveryOptionWithItsHelpWrappedUnderIt)
{
    std::vector<TOptionSpec> table = Table;
    table.push_back({QStringLiteral("long"), QStringLiteral("X"),
                     QStringLiteral("A help text long enough to need a second line, and with it a third one, "
                                    "for it goes on about very little for quite a while.")});
    const QStringList lines = UsageText(table).split('\n');
    const auto has = [&lines](const char *line) {
        EXPECT_TRUE(lines.contains(QLatin1String(line))) << line << "\nin\n" << lines.join('\n').toStdString();
    };
    has("  -h, --help       Prints this help and exits.");
    has("      --site NAME  Narrows the run to one site.");
    has("      --long X     A help text long enough to need a second line, and with it a");
    has("                   third one, for it goes on about very little for quite a");
    has("                   while.");
}

using test::ProgramRun;

// Runs build/quelmark (or another program of the build) with nothing that names a display, a
// platform or a runtime folder.
ProgramRun RunHeadless(const QStringList &arguments, const char *name = "quelmark", const QString &configHome = {})
{
    QProcessEnvironment env = test::NoDisplayEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    if (!configHome.isEmpty())
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return test::RunToEnd(test::BuildProgram(name), arguments, env, 10000);
}

struct ProgramRow {
    QStringList arguments;
    int exitCode;
    QString out; // a pattern the whole of standard output matches
    QString err; // a pattern the whole of standard error matches
};

TEST(CommandLine, ProgramAnswersWithoutADisplay)
{
    const QString usage =
        QStringLiteral("Usage: quelmark \\[OPTION\\]\\.\\.\\.\\n(.*\\n)*  -h, --help +Prints this help"
                       "(.*\\n)*      --version +Prints the program's version(.*\\n)*");
    const std::vector<ProgramRow> rows{
        {{"--version"}, 0, "quelmark [0-9]+(\\.[0-9]+)+\\n", ""},
        {{"--help"}, 0, usage, ""},
        {{"-h"}, 0, usage, ""},
        {{"--push-everything"}, 2, "", "quelmark: unknown option '--push-everything'; see --help\\n"},
        {{"--version", "extra"}, 2, "", "quelmark: unexpected argument 'extra'; see --help\\n"},
        {{"--a\nforged line"}, 2, "", "quelmark: unknown option '--a\\\\x0aforged line'; see --help\\n"},
        {{"--service", "--dry-run"},
         2,
         "",
         "quelmark: options --dry-run and --service cannot be combined; see --help\\n"},
        {{}, 2, "", "quelmark: there is no display to open the window on .*--service run without one\\n"},
    };
    for (const ProgramRow &row : rows) {
        const ProgramRun run = RunHeadless(row.arguments);
        const std::string what = row.arguments.join(' ').toStdString() + "\n" + run.err.toStdString();
        EXPECT_EQ(run.exitCode, row.exitCode) << what;
        const auto whole = [](const QString &pattern) {
            return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
        };
        EXPECT_TRUE(whole(row.out).match(run.out).hasMatch()) << what << "\nout: " << run.out.toStdString();
        EXPECT_TRUE(whole(row.err).match(run.err).hasMatch()) << what << "\nerr: " << run.err.toStdString();
    }
}

// What both programs print at the terminal: a help that fits 80 columns and names the three ways
// up, and a wrong argument named in one line after the program's name.
TEST(CommandLine, BothProgramsHelpWithin80ColumnsAndRefuseInOneLine)
{
    for (const char *program : {"quelmark", "quelmark-put"}) {
        for (const char *help : {"-h", "--help"}) {
            const ProgramRun run = RunHeadless({QLatin1String(help)}, program);
            const std::string what = std::string(program) + " " + help;
            EXPECT_EQ(run.exitCode, 0) << what;
            for (const QString &line : run.out.split('\n'))
                EXPECT_LE(line.size(), 80) << what << ": " << line.toStdString();
            for (const char *protocol : {"FTP,", "FTPS", "SFTP"})
                EXPECT_TRUE(run.out.contains(QLatin1String(protocol))) << what << " names no " << protocol;
        }
        const QString name = QLatin1String(program);
        const struct {
            QStringList arguments;
            QString err;
        } refusals[] = {
            {{"--x"}, name + ": unknown option '--x'; see --help\n"},
            {{"-h", "--x=1"}, name + ": unknown option '--x'; see --help\n"},
        };
        for (const auto &refusal : refusals) {
            const ProgramRun run = RunHeadless(refusal.arguments, program);
            EXPECT_EQ(run.exitCode, 2) << program;
            EXPECT_EQ(run.err, refusal.err) << program;
            EXPECT_EQ(run.out, QString()) << program;
        }
    }
    const ProgramRun port =
        RunHeadless({"--host", "127.0.0.1", "--port", "70000", "--local", "a", "--remote", "a"}, "quelmark-put");
    EXPECT_EQ(port.exitCode, 2);
    EXPECT_EQ(port.err, "quelmark-put: --port needs a port number from 1 to 65535 or a service name; see --help\n");
}

// Qt says where it would put runtime files when XDG_RUNTIME_DIR is unset, among other things
// nobody at the terminal can act on; both programs keep it to themselves.
TEST(CommandLine, NeitherProgramPrintsQtsOwnWarnings)
{
    const ProgramRun put = RunHeadless({"--host", "127.0.0.1", "--local", "/nonexistent"}, "quelmark-put");
    EXPECT_FALSE(put.err.contains("QStandardPaths")) << put.err.toStdString();
    EXPECT_FALSE(put.out.contains("QStandardPaths")) << put.out.toStdString();
    EXPECT_NE(put.exitCode, -1);

    QTemporaryDir config;
    const ProgramRun dry = RunHeadless({"--dry-run"}, "quelmark", config.path());
    EXPECT_FALSE(dry.err.contains("QStandardPaths")) << dry.err.toStdString();
    EXPECT_NE(dry.exitCode, -1);
}

// --list-sites prints what shell completion offers: the names as stored, one a line, from a store
// it leaves as it found it; a store it cannot read is said and exits 2, with nothing on output.
TEST(CommandLine, ListSitesPrintsTheStoredNamesAndLeavesTheStoreAlone)
{
    QTemporaryDir config;
    const QString folder = config.filePath(QStringLiteral("Varnholt/Quelmark"));
    const QString storeFile = folder + QStringLiteral("/store.db");
    ASSERT_TRUE(QDir().mkpath(folder));

    const ProgramRun missing = RunHeadless({"--list-sites"}, "quelmark", config.path());
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.out, QString());
    EXPECT_EQ(missing.err, QStringLiteral("quelmark: The settings store %1 does not exist; the window makes it when "
                                          "it is first opened\n")
                               .arg(storeFile));

    test::StoreScript script;
    for (const char *name : {"zeta.example.org", "Alpha site", "beta:2121", "alpha", "two\nlines"})
        script.Site(QString::fromUtf8(name), QStringLiteral("ftp.example.org"), QStringLiteral("u"), {}, {});
    ASSERT_EQ(script.WriteTo(storeFile), QString());
    const QByteArray before = test::ReadFile(storeFile);
    const ProgramRun listed = RunHeadless({"--list-sites"}, "quelmark", config.path());
    EXPECT_EQ(listed.exitCode, 0) << listed.err.toStdString();
    EXPECT_EQ(listed.out, QStringLiteral("alpha\nAlpha site\nbeta:2121\ntwo\\x0alines\nzeta.example.org\n"));
    EXPECT_EQ(listed.err, QString());
    EXPECT_EQ(test::ReadFile(storeFile), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("store.db")}) << "no journal is left";

    ASSERT_TRUE(test::WriteFile(storeFile, QByteArray(4096, 'x')));
    const ProgramRun unreadable = RunHeadless({"--list-sites"}, "quelmark", config.path());
    EXPECT_EQ(unreadable.exitCode, 2);
    EXPECT_EQ(unreadable.out, QString());
    EXPECT_TRUE(unreadable.err.startsWith(QStringLiteral("quelmark: ")) &&
                unreadable.err.contains(QStringLiteral("file is not a database")))
        << unreadable.err.toStdString();
}

} // namespace
