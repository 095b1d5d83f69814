#include "tests/support/ProgramRun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>

namespace quelmark::test {

QString BuildProgram(const char *name)
{
    return QStringLiteral(QUELMARK_BINARY_DIR "/") + QLatin1String(name);
}

QProcessEnvironment NoDisplayEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

bool FakeClock(QProcessEnvironment &environment, const QString &clock)
{
    // Debian keeps it in the multiarch folder; the plain one is for other layouts.
    QStringList candidates{QStringLiteral("/usr/lib/faketime/libfaketime.so.1")};
    const QDir lib(QStringLiteral("/usr/lib"));
    for (const QString &folder : lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        candidates.prepend(lib.filePath(folder + QStringLiteral("/faketime/libfaketime.so.1")));
    for (const QString &library : candidates) {
        if (!QFileInfo(library).isFile())
            continue;
        const QString preloaded = environment.value(QStringLiteral("LD_PRELOAD"));
        environment.insert(QStringLiteral("LD_PRELOAD"),
                           preloaded.isEmpty() ? library : library + QLatin1Char(':') + preloaded);
        environment.insert(QStringLiteral("FAKETIME"), clock);
        return true;
    }
    return false;
}

ProgramRun Finish(QProcess &process, int timeoutMs)
{
    ProgramRun run;
    if (process.state() != QProcess::NotRunning && !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
    } else if (process.error() != QProcess::FailedToStart && process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

ProgramRun RunToEnd(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                    int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    return Finish(process, timeoutMs);
}

QString ReadUntil(QProcess &process, const QString &text, int timeoutMs, QProcess::ProcessChannel channel)
{
    QString read;
    const QDeadlineTimer deadline(timeoutMs);
    process.setReadChannel(channel);
    while (!read.contains(text) && !deadline.hasExpired() && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(50);
        read += QString::fromLocal8Bit(process.readAll());
    }
    return read;
}

} // namespace quelmark::test
