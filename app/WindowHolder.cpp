#include "app/WindowHolder.h"

#include "app/F_Main.h"
#include "app/Termination.h"
#include "base/Printable.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Registry.h"
#include "engine/PushCommands.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstdio>
#include <optional>

namespace quelmark {

namespace {

// How long a window waits for a push from the command line to give the store back.
constexpr int kWaitForStoreMs = 10000;

// Says why the window does not open: on standard error and, for a user who started it from the
// desktop, in a box.
void Refuse(const QString &message)
{
    PrintError(message);
    TMessageBox::Critical(nullptr, message);
}

// Takes the store's lock for the window. Returns nothing once the lock is held, or the exit
// status of a run that ends here: 0 after raising the window that holds the store, 2 when the
// holder neither lets go nor answers.
std::optional<int> TakeStore(TStoreLock &lock)
{
    QElapsedTimer clock;
    clock.start();
    TStoreHolder last;
    qint64 releasedBy = 0;
    while (clock.elapsed() < kWaitForStoreMs) {
        if (lock.TryAcquire())
            return std::nullopt;
        const TStoreHolder holder = lock.ReadHolder();
        if (holder.Complete()) {
            last = holder;
            if (holder.role == roles::Window && AskToRaise(holder))
                return 0;
            // A service steps aside while a window is open and takes the store back after.
            if (holder.role == roles::Service && holder.pid != releasedBy && AskToRelease(holder)) {
                releasedBy = holder.pid;
                continue;
            }
        }
        QThread::msleep(100);
    }
    QString message = QStringLiteral("The settings store is in use by the %1").arg(HolderText(last));
    if (last.role == roles::PushAll)
        message += QStringLiteral("; open the window again once it has ended.");
    else
        message += QStringLiteral(", which does not answer.");
    Refuse(message);
    return 2;
}

} // namespace

THolder::TBusy TWindowHolder::Busy() const
{
    if (m_window.Engine().Push().Pushing() || !m_window.isEnabled())
        return TBusy::Pushing;
    if (QApplication::activeModalWidget())
        return TBusy::Dialog;
    return TBusy::No;
}

int TWindowHolder::Run(const TRunRequest &request, TRunOutput &output)
{
    return RunCommand(m_window.Engine(), request, output);
}

bool TWindowHolder::Raise()
{
    if (m_window.isMinimized())
        m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
    return true;
}

int RunWindow(const TCommandLine &)
{
    // Without its store the program can neither show nor keep anything: say which file is at
    // fault and stop before any window could write to it.
    if (const QString problem = CheckStoreAtStart(); !problem.isEmpty()) {
        TMessageBox::Critical(nullptr, problem);
        return 1;
    }
    const QString storePath = StoreFilePath();
    TStoreLock lock(storePath);
    try {
        if (const std::optional<int> ended = TakeStore(lock))
            return *ended;
    } catch (const Exception &error) {
        Refuse(error.Message());
        return 2;
    }

    TfrmMain window;
    TWindowHolder holder(window);
    THandoverServer server(holder);
    const QString socketPath = server.ListenBeside(storePath);
    try {
        lock.Publish({QCoreApplication::applicationPid(), roles::Window, socketPath});
    } catch (const Exception &error) {
        PrintError(error.Message());
    }
    // Asked to end by the system or the session, the program closes its window as the user
    // would: a running push is stopped first, and the shown site, the options and the toolbar
    // layout are kept.
    TTermination termination;
    termination.OnTerminate = [&window] { window.close(); };
    window.show();
    const int status = QApplication::exec();
    // In this order: another program may take the store as soon as the lock is free, and must
    // not find this program's socket in its way.
    server.Close(QStringLiteral("The window has closed; nothing was run"));
    lock.Release();
    return status;
}

} // namespace quelmark
