// The program's own executables run as a user, a cron job or a system service runs them.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace quelmark::test {

// What a run left: its exit code (-1 when it did not end by itself in time) and what it printed.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;

    // The lines of out, empty ones left out.
    QStringList Lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Returns the path of the executable of that name in the build folder.
QString BuildProgram(const char *name = "quelmark");

// The environment of a cron job or a system service: this process's, with nothing that names a
// display or a platform.
QProcessEnvironment NoDisplayEnvironment();

// Sets environment so that a process started in it runs with libfaketime preloaded and its clock
// as the FAKETIME text says ("@2023-12-10 12:00:00", "+0 x4"). Returns false, changing nothing,
// when the library is not installed. The library is preloaded directly, not through the faketime
// command: that command keeps a semaphore in /dev/shm named by its process id, leaves it behind
// when a signal ends it, and a later one that gets the same id then refuses to start.
bool FakeClock(QProcessEnvironment &environment, const QString &clock);

// Waits up to timeoutMs for the started process to end (it may have ended already), kills it
// when it does not, and returns what it left.
ProgramRun Finish(QProcess &process, int timeoutMs = 60000);

// Starts the program in the environment and returns as Finish does.
ProgramRun RunToEnd(const QString &program, const QStringList &arguments,
                    const QProcessEnvironment &environment = NoDisplayEnvironment(), int timeoutMs = 60000);

// Reads what the running process prints on the channel until it holds text, the process ends or
// timeoutMs pass; returns what was read.
QString ReadUntil(QProcess &process, const QString &text, int timeoutMs = 10000,
                  QProcess::ProcessChannel channel = QProcess::StandardOutput);

} // namespace quelmark::test
