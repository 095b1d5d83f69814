// The command line: parsing against an option table (with a value option as later options will
// have), and the real program answering --help, --version and bad arguments with no display.
#include "app/CommandLine.h"
#include "tests/support/Printing.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

const std::vector<TOptionSpec> Table{
    {QStringLiteral("help"), {}, QStringLiteral("Prints this help and exits.")},
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
        {{"-h"}, {}, "unexpected argument '-h'"},
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
    };
    for (const auto &row : rows) {
        const TCommandLine line = ParseProgramCommandLine(row.arguments);
        EXPECT_EQ(line.Error, row.error) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(line.Mode, row.mode) << row.arguments.join(' ').toStdString();
    }
}

TEST(CommandLine, UsageListsEveryOptionWithItsHelp)
{
    const QStringList lines = UsageText(Table).split('\n');
    EXPECT_TRUE(lines.contains("  --help       Prints this help and exits.")) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains("  --site NAME  Narrows the run to one site.")) << lines.join('\n').toStdString();
}

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs build/quelmark (or another program of the build) with nothing that names a display, a
// platform or a runtime folder.
ProgramRun RunHeadless(const QStringList &arguments, const char *name = "quelmark", const QString &configHome = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *variable :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR", "QT_LOGGING_RULES"})
        env.remove(QString::fromLatin1(variable));
    if (!configHome.isEmpty())
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUELMARK_BINARY_DIR "/") + QLatin1String(name), arguments);
    ProgramRun run;
    if (!program.waitForFinished(10000) || program.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = program.exitCode();
    run.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(program.readAllStandardError());
    return run;
}

struct ProgramRow {
    QStringList arguments;
    int exitCode;
    QString out; // a pattern the whole of standard output matches
    QString err; // a pattern the whole of standard error matches
};

TEST(CommandLine, ProgramAnswersWithoutADisplay)
{
    const QString usage = QStringLiteral("Usage: quelmark \\[OPTION\\]\\.\\.\\.\\n(.*\\n)*  --help +Prints this help"
                                         "(.*\\n)*  --version +Prints the program's version(.*\\n)*");
    const std::vector<ProgramRow> rows{
        {{"--version"}, 0, "quelmark [0-9]+(\\.[0-9]+)+\\n", ""},
        {{"--help"}, 0, usage, ""},
        {{"--push-everything"}, 2, "", "quelmark: unknown option '--push-everything'\\n\\n" + usage},
        {{"--version", "extra"}, 2, "", "quelmark: unexpected argument 'extra'\\n\\n" + usage},
        {{"--service", "--dry-run"},
         2,
         "",
         "quelmark: options --dry-run and --service cannot be combined\\n\\n" + usage},
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

} // namespace
