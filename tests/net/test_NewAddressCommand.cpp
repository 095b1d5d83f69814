#include "net/NewAddressCommand.h"

#include "tests/support/Printing.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(NewAddressWords, PutTheAddressesIntoTheArgumentsOnly)
{
    const QString address = QStringLiteral("203.0.113.5");
    const struct {
        QStringList words;
        QString oldAddress;
        QStringList expected;
    } rows[] = {
        {{"nsupdate-helper", "%IP%", "%OLDIP%"}, "198.51.100.4", {"nsupdate-helper", "203.0.113.5", "198.51.100.4"}},
        {{"curl", "https://dyn.example/u?ip=%IP%&was=%OLDIP%"},
         "198.51.100.4",
         {"curl", "https://dyn.example/u?ip=203.0.113.5&was=198.51.100.4"}},
        {{"%IP%", "%OLDIP%%IP%", "%%IP%%"}, "1.2.3.4", {"%IP%", "1.2.3.4203.0.113.5", "%203.0.113.5%"}},
        {{"echo", "%OLDIP%", "x"}, "", {"echo", "", "x"}},
        {{"echo", "%ip%", "%IP", "IP%"}, "1.2.3.4", {"echo", "%ip%", "%IP", "IP%"}},
    };
    for (const auto &row : rows)
        EXPECT_EQ(NewAddressWords(row.words, address, row.oldAddress), row.expected)
            << row.words.join(' ').toStdString();
}

// Runs the command line to its end and returns the line it reported.
QString RunToEnd(TNewAddressCommand &command, const QString &line, const QString &address,
                 const QString &oldAddress = QStringLiteral("198.51.100.4"))
{
    QStringList reports;
    command.OnReport = [&](QObject *sender, const QString &report) {
        EXPECT_EQ(sender, &command);
        reports.append(report);
    };
    command.Run(line, address, oldAddress);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !reports.isEmpty(); }, command.Timeout() + 5000)) << line.toStdString();
    EXPECT_FALSE(command.Running());
    return reports.value(0);
}

TEST(NewAddressCommand, LogsTheExitStatusAndTheFirstLineOrWhyItDidNotRun)
{
    QTemporaryDir dir;
    const QString planted = dir.filePath(QStringLiteral("planted"));
    const struct {
        QString line;
        QString address;
        int timeoutMs;
        QString expected;
    } rows[] = {
        {"sh -c 'echo \"new $1 old $2\"; echo second; exit 3' sh %IP% %OLDIP%", "203.0.113.5", 5000,
         "Command on a new address ended with exit status 3: new 203.0.113.5 old 198.51.100.4"},
        {"true", "203.0.113.5", 5000, "Command on a new address ended with exit status 0 and printed nothing"},
        {"printf 'a\\033[2Jb\\r\\nnext\\n'", "203.0.113.5", 5000,
         "Command on a new address ended with exit status 0: a\\x1b[2Jb"},
        {"printf %0300d 7", "203.0.113.5", 5000,
         "Command on a new address ended with exit status 0: " + QString(200, QLatin1Char('0')) + "..."},
        {"sh -c 'kill -TERM $$'", "203.0.113.5", 5000,
         "Command on a new address was ended by signal 15 and printed nothing"},
        {"sh -c 'echo waiting; sleep 30'", "203.0.113.5", 1000,
         "Command on a new address did not end within 1 s and was killed: waiting"},
        {"no-such-program-anywhere %IP%", "203.0.113.5", 5000,
         "Command on a new address could not be started: No such file or directory"},
        {"echo 'not closed", "203.0.113.5", 5000,
         "Command on a new address could not be started: the command line has a quote that is not closed"},
        // No shell ever reads the address: it stays one argument, as it is.
        {"echo %IP%", "$(touch " + planted + ");x", 5000,
         "Command on a new address ended with exit status 0: $(touch " + planted + ");x"},
    };
    for (const auto &row : rows) {
        TNewAddressCommand command;
        command.SetTimeout(row.timeoutMs);
        EXPECT_EQ(RunToEnd(command, row.line, row.address), row.expected) << row.line.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(planted));
}

TEST(NewAddressCommand, AddressesThatComeWhileItRunsWaitAndOnlyTheLatestRuns)
{
    TNewAddressCommand command;
    QStringList reports;
    command.OnReport = [&](QObject *, const QString &report) { reports.append(report); };
    const QString line = QStringLiteral("sh -c 'sleep 0.5; echo \"$1 after $2\"' sh %IP% %OLDIP%");
    command.Run(line, QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.1"));
    command.Run(line, QStringLiteral("10.0.0.3"), QStringLiteral("10.0.0.2"));
    command.Run(line, QStringLiteral("10.0.0.4"), QStringLiteral("10.0.0.3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return reports.size() == 2; }, 10000)) << reports.join('\n').toStdString();
    QTest::qWait(800);
    EXPECT_EQ(reports, (QStringList{"Command on a new address ended with exit status 0: 10.0.0.2 after 10.0.0.1",
                                    "Command on a new address ended with exit status 0: 10.0.0.4 after 10.0.0.3"}));
}

} // namespace
