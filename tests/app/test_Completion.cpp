// The bash completion of both programs, sourced into a real bash as bash-completion would load
// it, completing against the real programs found on PATH and a real store.
#include "tests/support/Printing.h"
#include "tests/support/StoreScript.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString Script = QStringLiteral(QUELMARK_SOURCE_DIR "/data/completion/quelmark.bash");

class Completion : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(m_home.filePath(QStringLiteral("bin"))));
        for (const char *program : {"quelmark", "quelmark-put"}) {
            ASSERT_TRUE(QFile::link(QStringLiteral(QUELMARK_BINARY_DIR "/") + QLatin1String(program),
                                    m_home.filePath(QStringLiteral("bin/")) + QLatin1String(program)));
        }
    }

    QString StoreFile() const { return m_home.filePath(QStringLiteral("config/Varnholt/Quelmark/store.db")); }

    // Returns what bash offers for the command line, whose last word is the one being completed,
    // one offer a line in the order given; the function is the one the file registered for
    // the program.
    QString Complete(const QStringList &words) const
    {
        QString quoted;
        for (const QString &word : words)
            quoted += QLatin1Char(' ') + ShellQuoted(word);
        const QString command = QStringLiteral("source %1 || exit 9\n"
                                               "function=$(complete -p %2 | sed -n 's/.* -F \\([^ ]*\\) .*/\\1/p')\n"
                                               "[ -n \"$function\" ] || exit 8\n"
                                               "COMP_WORDS=(%3); COMP_CWORD=%4\n"
                                               "\"$function\"\n"
                                               "printf '%s\\n' \"${COMPREPLY[@]}\"\n")
                                    .arg(ShellQuoted(Script), ShellQuoted(words.first()), quoted.mid(1))
                                    .arg(words.size() - 1);
        QProcess bash;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), m_home.filePath(QStringLiteral("bin:")) + env.value(QStringLiteral("PATH")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        bash.setProcessEnvironment(env);
        bash.setWorkingDirectory(m_home.path());
        bash.start(QStringLiteral("bash"), {QStringLiteral("--norc"), QStringLiteral("-c"), command});
        if (!bash.waitForFinished(20000) || bash.exitCode() != 0) {
            ADD_FAILURE() << "bash ended with " << bash.exitCode() << ": " << bash.readAllStandardError().toStdString();
            return {};
        }
        return QString::fromLocal8Bit(bash.readAllStandardOutput());
    }

    static QString ShellQuoted(QString text)
    {
        return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
    }

    // Returns the options a program's --help lists.
    static QStringList HelpOptions(const char *program)
    {
        QProcess help;
        help.start(QStringLiteral(QUELMARK_BINARY_DIR "/") + QLatin1String(program), {QStringLiteral("--help")});
        help.waitForFinished(20000);
        // An option's line is indented a little, its help's further lines much more; only the
        // tag before the help counts, since the help may name other options.
        static const QRegularExpression tagLine(QStringLiteral("^ {1,8}(-\\S.*?)(  |$)"));
        static const QRegularExpression option(QStringLiteral("(?:^|[ ,])(--?[a-z][a-z-]*)"));
        QStringList options;
        for (const QString &line : QString::fromLocal8Bit(help.readAllStandardOutput()).split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch tag = tagLine.match(line);
            for (const QRegularExpressionMatch &match : option.globalMatch(tag.captured(1)))
                options << match.captured(1);
        }
        return options;
    }

    QTemporaryDir m_home;
};

TEST_F(Completion, SiteCompletesTheStoredNamesQuotedAndNeverRunsThem)
{
    const QString planted = m_home.filePath(QStringLiteral("planted"));
    quelmark::test::StoreScript store;
    for (const QString &name : {QStringLiteral("ftp.example.org"), QStringLiteral("My Site"),
                                QStringLiteral("$(touch planted)"), QStringLiteral("fresh`touch planted`")})
        store.Site(name, QStringLiteral("ftp.example.org"), QStringLiteral("u"), {}, {});
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile()).path()));
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    const struct {
        QStringList words;
        QString offered;
    } rows[] = {
        {{"quelmark", "--push-all", "--site", ""},
         "\\$\\(touch\\ planted\\)\nfresh\\`touch\\ planted\\`\nftp.example.org\nMy\\ Site\n"},
        {{"quelmark", "--site", "f"}, "fresh\\`touch\\ planted\\`\nftp.example.org\n"},
        {{"quelmark", "--dry-run", "--site", "My\\ S"}, "My\\ Site\n"},
        {{"quelmark", "--dry-run", "--site", "'My S"}, "My Site\n"},
        {{"quelmark", "--site", "nothing"}, "\n"},
        {{"quelmark", "--li"}, "--list-sites\n"},
        {{"quelmark-put", "--ca"}, "--ca-file\n"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Complete(row.words), row.offered) << row.words.join(' ').toStdString();
    EXPECT_FALSE(QFile::exists(planted)) << "a site name was run as a command";

    // Without a store nothing is offered.
    ASSERT_TRUE(QFile::remove(StoreFile()));
    EXPECT_EQ(Complete({"quelmark", "--site", ""}), QStringLiteral("\n"));
}

TEST_F(Completion, OffersExactlyTheOptionsEachProgramsHelpLists)
{
    for (const char *program : {"quelmark", "quelmark-put"}) {
        QStringList listed = HelpOptions(program);
        ASSERT_FALSE(listed.isEmpty()) << program;
        QStringList offered = Complete({QLatin1String(program), QStringLiteral("-")}).split('\n', Qt::SkipEmptyParts);
        offered.sort();
        listed.sort();
        EXPECT_EQ(offered, listed) << program;
    }
}

} // namespace
