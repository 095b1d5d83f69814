#include "tests/support/Namespace.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>

namespace quelmark::test {

namespace {

constexpr int kChildTimeoutMs = 60000;
const char *const kInsideNamespace = "QUELMARK_TEST_INSIDE_NAMESPACE";
const QString kBringLoUp = QStringLiteral("ip link set lo up");

void StartUnshared(QProcess &process, const QStringList &flags, const QString &script, const QStringList &arguments)
{
    process.start(QStringLiteral("unshare"), flags +
                                                 QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                                             kBringLoUp + QStringLiteral(" && ") + script} +
                                                 arguments);
    if (!process.waitForFinished(kChildTimeoutMs))
        process.kill();
    process.waitForFinished(5000);
}

} // namespace

std::optional<QStringList> UnshareFlags(const QString &namespaces)
{
    for (const QString &flags : {QStringLiteral("-") + namespaces, QStringLiteral("-r") + namespaces}) {
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {flags, QStringLiteral("/bin/sh"), QStringLiteral("-c"), kBringLoUp});
        if (probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
            return QStringList{flags};
    }
    return std::nullopt;
}

QString NamespaceSkipReason(const QString &namespaces)
{
    return QStringLiteral("namespaces '%1' are not permitted here (unshare -%1 and -r%1 both fail, or ip is missing)")
        .arg(namespaces);
}

UnsharedRun RunUnshared(const QStringList &flags, const QString &script)
{
    QProcess process;
    StartUnshared(process, flags, script, {});
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

UnsharedRun RerunCurrentTestUnshared(const QStringList &flags, const QString &setUp, const char *variable,
                                     const QString &value)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(variable), value);
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter = QStringLiteral("--gtest_filter=%1.%2")
                               .arg(QString::fromLatin1(test->test_suite_name()), QString::fromLatin1(test->name()));
    const QString script =
        (setUp.isEmpty() ? QString() : setUp + QStringLiteral(" && ")) + QStringLiteral("exec \"$0\" \"$1\"");
    StartUnshared(process, flags, script, {QCoreApplication::applicationFilePath(), filter});
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll()), QString()};
}

bool InsideNamespace()
{
    return qEnvironmentVariableIsSet(kInsideNamespace);
}

void RerunInNamespace(const QString &setUp, const QString &namespaces)
{
    const std::optional<QStringList> flags = UnshareFlags(namespaces);
    if (!flags)
        GTEST_SKIP() << NamespaceSkipReason(namespaces).toStdString();
    const UnsharedRun run = RerunCurrentTestUnshared(*flags, setUp, kInsideNamespace, QStringLiteral("1"));
    if (run.output.contains(QLatin1String("[  SKIPPED ]")))
        GTEST_SKIP() << run.output.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << run.output.toStdString();
}

} // namespace quelmark::test
