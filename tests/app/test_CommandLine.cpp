// The command line: parsing against an option table (with a value option as later options will
// have), and the real program answering --help, --version and bad arguments with no display.
#include "app/CommandLine.h"
#include "tests/support/Printing.h"

#include <QProcess>
#include <QRegularExpression>

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
    };
    for (const ParseRow &row : rows) {
        const TCommandLine line = ParseCommandLine(row.arguments, Table);
        EXPECT_EQ(line.Error, row.error) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(line.Given, row.given) << row.arguments.join(' ').toStdString();
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

// Runs build/quelmark with nothing that names a display or a platform.
ProgramRun RunHeadless(const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUELMARK_BINARY_DIR "/quelmark"), arguments);
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

} // namespace
