#include "app/Headless.h"

#include "app/Termination.h"
#include "base/Exception.h"
#include "base/Printable.h"
#include "base/Wait.h"
#include "catalogue/Registry.h"
#include "engine/AddressChoice.h"
#include "engine/Engine.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "ftp/Ftpcli.h"
#include "net/AddressSource.h"
#include "net/NewAddressCommand.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace quelmark {

namespace {

constexpr int kIdlePollMs = 50;
// How long a run gives the holder of the store to answer before it says so and ends.
constexpr int kReachHolderMs = 5000;

class TTerminalOutput : public TRunOutput {
public:
    void Out(const QString &line) override { PrintLine(stdout, line); }
    void Err(const QString &line) override { PrintError(line); }
};

// Reads who holds the store, giving a holder that has just taken the lock a moment to say so.
TStoreHolder WaitForHolder(const TStoreLock &lock)
{
    QElapsedTimer clock;
    clock.start();
    TStoreHolder holder = lock.ReadHolder();
    while (!holder.Complete() && clock.elapsed() < 2000) {
        QThread::msleep(50);
        holder = lock.ReadHolder();
    }
    return holder;
}

QString InUseText(const TStoreHolder &holder)
{
    return holder.pid > 0 ? QStringLiteral("The settings store is in use by process %1").arg(holder.pid)
                          : QStringLiteral("The settings store is in use by another program");
}

// A push or dry run on this program's own parts. A push holds the store meanwhile and carries
// out the runs handed to it before it ends.
int RunHere(const TRunRequest &request, TStoreLock &lock)
{
    // Opened only now: a run handed to the holder must not so much as bring the file's layout
    // up to date behind the holder's back.
    SetStoreReadOnly(request.mode == TRunMode::DryRun);
    if (const QString problem = CheckStoreAtStart(); !problem.isEmpty()) {
        PrintError(problem);
        return 2;
    }
    THeadlessHost host;
    THandoverServer server(host);
    TTermination termination;
    if (lock.Held()) {
        QString note;
        const QString socketPath = HandoverSocketPath(StoreFilePath(), &note);
        if (!note.isEmpty())
            PrintError(note);
        try {
            server.Listen(socketPath);
        } catch (const Exception &error) {
            PrintError(error.Message());
        }
        lock.Publish({QCoreApplication::applicationPid(), roles::PushAll, socketPath});
    }
    bool ending = false;
    termination.OnTerminate = [&host, &server, &ending] {
        ending = true;
        server.Close(QStringLiteral("quelmark --push-all is ending; nothing was run"));
        host.Engine().Push().Stop();
    };
    TTerminalOutput output;
    try {
        host.LoadOptions();
        // A site that is not there is a wrong argument: refused before anything is written.
        if (!request.site.isEmpty() && !host.Sites().SiteNames().contains(request.site)) {
            output.Err(QStringLiteral("There is no site named \"%1\"").arg(PrintableText(request.site)));
            return 2;
        }
        if (request.mode == TRunMode::PushAll)
            host.LoadSites();
    } catch (const Exception &error) {
        output.Err(error.Message());
        return 2;
    }
    const int status = RunCommand(host.Engine(), request, output);
    {
        // The command on a new address ends within its bound; its end belongs to this run's log.
        const TLogCapture tail(host.Engine(), output);
        while (host.Engine().NewAddressCommand().Running() && !ending)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    while (server.HasWork())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    server.Close(QStringLiteral("quelmark --push-all has ended; nothing was run"));
    lock.Release();
    return status;
}

// Runs a push or a dry run here when nobody holds the store, or hands it to the program that
// does and prints what comes back.
int RunOrHandOver(const TRunRequest &request, TStoreLock &lock)
{
    QElapsedTimer clock;
    clock.start();
    TStoreHolder holder;
    while (clock.elapsed() < kReachHolderMs) {
        // A dry run writes nothing, so it need not keep others from the store, and leaves even
        // the lock file as it finds it.
        const bool free = request.mode == TRunMode::DryRun ? !lock.HeldByAnyone() : lock.TryAcquire();
        if (free)
            return RunHere(request, lock);
        holder = lock.ReadHolder();
        if (holder.Complete()) {
            if (const std::unique_ptr<QLocalSocket> socket = ConnectToHolder(holder, 1000))
                return HandOverRun(*socket, holder, request);
        }
        QThread::msleep(100);
    }
    PrintError(InUseText(holder) + QStringLiteral(", which does not answer"));
    return 2;
}

} // namespace

// ---- the host -----------------------------------------------------------------------------

THeadlessHost::THeadlessHost(QObject *parent) : QObject(parent), m_sites(BaseKeyPath())
{
    setObjectName(QStringLiteral("headless"));
    m_ftpClient = new TFtpClient(this);
    m_ftpClient->setObjectName(QStringLiteral("ftpClient"));
    m_waitControl = new TWait(this);
    m_waitControl->SetInterval(1000);
    m_addressSource = new TAddressSource(this);

    TEngineParts parts{
        .data = &m_sites,
        .ftpClient = m_ftpClient,
        .waitControl = m_waitControl,
    };
    UseChosenAddressSource(parts, m_addressSource);
    m_engine = std::make_unique<TEngine>(parts, this);
}

THeadlessHost::~THeadlessHost() = default;

void THeadlessHost::LoadOptions()
{
    m_sites.LoadOptions();
}

void THeadlessHost::LoadSites()
{
    // As the window's first showing: what was shown is stored, with the options, and the sites
    // are read afresh by the next walk.
    m_sites.EndWalk();
}

THolder::TBusy THeadlessHost::Busy() const
{
    return m_engine->Push().Pushing() ? TBusy::Pushing : TBusy::No;
}

int THeadlessHost::Run(const TRunRequest &request, TRunOutput &output)
{
    return RunCommand(*m_engine, request, output);
}

bool THeadlessHost::Release(std::function<void()> released)
{
    return OnRelease && OnRelease(std::move(released));
}

// ---- the service --------------------------------------------------------------------------

TService::TService(THeadlessHost &host, const QString &storePath, QObject *parent)
    : QObject(parent), m_host(host), m_storePath(storePath), m_lock(storePath), m_server(host)
{
    m_retry.setSingleShot(false);
    connect(&m_retry, &QTimer::timeout, this, [this] { Guarded([this] { TryHold(); }); });
    m_host.OnRelease = [this](std::function<void()> released) { return ReleaseForWindow(std::move(released)); };
    TRefreshCycle &cycle = m_host.Engine().Refresh();
    // The window may have changed the options or the sites since the last check.
    cycle.BeforeCheck = [this] {
        m_host.LoadOptions();
        m_host.LoadSites();
    };
    m_host.Engine().AddObserver(&m_printer);
}

TService::~TService()
{
    m_host.OnRelease = nullptr;
    m_host.Engine().Refresh().BeforeCheck = nullptr;
    m_host.Engine().RemoveObserver(&m_printer);
}

void TService::TPrinter::LogLine(const QString &line)
{
    PrintLine(stdout, line);
}

std::optional<int> TService::Start()
{
    if (m_lock.TryAcquire()) {
        Hold();
        return std::nullopt;
    }
    const TStoreHolder holder = WaitForHolder(m_lock);
    if (holder.role == roles::Service) {
        PrintError(InUseText(holder));
        return 2;
    }
    PrintError(QStringLiteral("The settings store is in use by the %1; the checks start once it lets go")
                   .arg(HolderText(holder)));
    m_state = TState::Waiting;
    m_retry.start(RetryMs);
    return std::nullopt;
}

void TService::TryHold()
{
    if (m_state != TState::Waiting)
        return;
    if (m_lock.TryAcquire()) {
        m_retry.stop();
        if (m_started)
            PrintError(QStringLiteral("The settings store is free again; the checks go on"));
        Hold();
        return;
    }
    // Two services that waited for the same window: the one that took the store goes on.
    const TStoreHolder holder = m_lock.ReadHolder();
    if (holder.Complete() && holder.role == roles::Service)
        Refuse(holder);
}

void TService::Refuse(const TStoreHolder &holder)
{
    PrintError(InUseText(holder));
    m_retry.stop();
    m_state = TState::Ending;
    if (OnEnded)
        OnEnded(2);
}

void TService::Hold()
{
    m_state = TState::Holding;
    const QString socketPath = m_server.ListenBeside(m_storePath);
    m_lock.Publish({QCoreApplication::applicationPid(), roles::Service, socketPath});
    m_host.Engine().Push().Resume();
    // The first check comes at once: the address may have changed while nothing was watching.
    const bool first = !m_started;
    m_started = true;
    TRefreshCycle &cycle = m_host.Engine().Refresh();
    if (cycle.Tag() == 0)
        cycle.btnStartStopClick();
    if (first)
        QTimer::singleShot(0, this, [this] { Guarded([this] { FirstCheck(); }); });
}

void TService::FirstCheck()
{
    if (m_state != TState::Holding)
        return;
    TRefreshCycle &cycle = m_host.Engine().Refresh();
    // Counted as if the period had passed; the tick reads the options before it checks.
    const int minutes = m_host.Engine().Parts().data->Options().testFilesMinutes;
    cycle.MinuteCount = std::max(cycle.MinuteCount, minutes - 1);
    cycle.tmrRefreshTimer();
}

bool TService::ReleaseForWindow(std::function<void()> released)
{
    if (m_state != TState::Holding)
        return false;
    m_state = TState::Releasing;
    PrintError(QStringLiteral("The window was opened; the checks wait until it is closed"));
    m_host.Engine().Push().Stop(QStringLiteral("Cancelled: the window took the settings store over"));
    WhenIdle([this, released = std::move(released)] {
        LetGo(QStringLiteral("The service handed the settings store to the window; nothing was run"));
        released();
        if (m_state == TState::Releasing) {
            m_state = TState::Waiting;
            m_retry.start(RetryMs);
        }
    });
    return true;
}

void TService::End()
{
    if (m_state == TState::Ending)
        return;
    m_state = TState::Ending;
    m_retry.stop();
    WhenIdle([this] {
        LetGo(QStringLiteral("The service is ending; nothing was run"));
        if (OnEnded)
            OnEnded(0);
    });
}

void TService::WhenIdle(std::function<void()> then)
{
    TPushCommands &push = m_host.Engine().Push();
    push.Stop();
    TRefreshCycle &cycle = m_host.Engine().Refresh();
    if (cycle.Tag() != 0)
        cycle.btnStartStopClick();
    if (push.Pushing() || m_server.HasWork()) {
        QTimer::singleShot(kIdlePollMs, this, [this, then = std::move(then)]() mutable {
            Guarded([this, &then] { WhenIdle(std::move(then)); });
        });
        return;
    }
    then();
}

void TService::LetGo(const QString &why)
{
    m_server.Close(why);
    // Saved only under the lock: a service that already stepped aside for a window must not
    // write behind its back.
    if (!m_lock.Held())
        return;
    try {
        m_host.Sites().Save();
    } catch (const Exception &error) {
        PrintError(error.Message());
    }
    m_lock.Release();
}

// ---- the modes ----------------------------------------------------------------------------

int RunHeadless(const TCommandLine &line)
{
    SetTopLevelReporter([](const QString &message) { PrintError(message); });
    const QString storePath = StoreFilePath();
    // A push or a dry run on a store that is not there would only find nothing to do; the
    // user is more likely to have started it with another configuration folder than meant.
    // The service makes the store as the window does, and takes up the sites once there are any.
    if (line.Mode != TRunMode::Service && !QFileInfo::exists(storePath)) {
        PrintError(QStringLiteral("The settings store %1 does not exist; the window makes it when it is first "
                                  "opened")
                       .arg(PrintableText(storePath)));
        return 2;
    }
    try {
        if (line.Mode != TRunMode::Service) {
            TStoreLock lock(storePath);
            return RunOrHandOver({line.Mode, line.Value(QStringLiteral("site"))}, lock);
        }
        if (const QString problem = CheckStoreAtStart(); !problem.isEmpty()) {
            PrintError(problem);
            return 2;
        }
        THeadlessHost host;
        TService service(host, storePath);
        TTermination termination;
        service.OnEnded = [](int status) { QCoreApplication::exit(status); };
        termination.OnTerminate = [&service] { service.End(); };
        if (const std::optional<int> refused = service.Start())
            return *refused;
        return QCoreApplication::exec();
    } catch (const Exception &error) {
        PrintError(error.Message());
        return 2;
    }
}

} // namespace quelmark
