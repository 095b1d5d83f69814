// Commands handed from one run of the program to the one that holds the store.
//
// The holder (the window, the service, or a --push-all without a window) listens on a local
// socket named in the store's lock file. A --push-all or --dry-run started while it runs is
// carried out by the holder, so its view of the sites stays the truth, and the run's output comes
// back to the terminal that asked, as it happens. A second window asks the first to come to the
// front; a window asks a service to let go of the store while it is open.
//
// Messages are JSON objects, one per line. Requests: {"run":"push-all"|"dry-run","site":NAME},
// {"raise":true}, {"release":true}. Answers: {"out":LINE}, {"err":LINE}, {"exit":STATUS},
// {"raised":BOOL}, {"released":BOOL}, and {"alive":true} every two seconds, so the asking side
// can tell a holder that is busy from one that stopped answering.
//
// Handed runs wait in line: one runs at a time, and none starts while the holder pushes (they
// wait for the push to end) or while the window has a dialog open (they wait up to
// DialogPatienceMs, then are refused, since a push would reload the file list the dialog works on).
#pragma once

#include "app/CommandRuns.h"
#include "catalogue/StoreLock.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <list>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace quelmark {

// The program holding the store, as the handover server sees it.
class THolder {
public:
    enum class TBusy { No, Pushing, Dialog };

    virtual ~THolder() = default;
    // Tells whether a handed run could start now, and if not, why.
    virtual TBusy Busy() const = 0;
    // Carries out a handed run to its end; returns its exit status.
    virtual int Run(const TRunRequest &request, TRunOutput &output) = 0;
    // Brings the window to the front; false for a holder without a window.
    virtual bool Raise() { return false; }
    // Starts letting go of the store for a window that is opening, and calls released once the
    // lock is free; false for a holder that does not step aside.
    virtual bool Release(std::function<void()> released)
    {
        (void)released;
        return false;
    }
};

class THandoverServer : public QObject {
    Q_OBJECT
public:
    explicit THandoverServer(THolder &holder, QObject *parent = nullptr);
    ~THandoverServer() override;

    // Listens on path, after removing a socket that a program which ended left there (the
    // caller holds the store's lock, so no live holder uses it); raises Exception when it cannot.
    void Listen(const QString &path);
    // Listens on the commands socket of the store at storePath and returns its path. Where the
    // socket goes instead of the runtime folder, and a socket that cannot be made, are said on
    // standard error: the holder works on without, only handed runs cannot reach it.
    QString ListenBeside(const QString &storePath);
    // Stops listening and refuses the runs still waiting, with why on their standard error and
    // exit status 2; a run in progress and other connections are left to end.
    void Close(const QString &why);
    // True while a handed run waits or runs.
    bool HasWork() const { return m_running || !m_waiting.empty(); }

    // How long a handed run waits for a dialog of the window to close.
    int DialogPatienceMs = 30000;

private:
    struct TWaiting;
    class TSocketOutput;

    void Accept();
    void Read(QLocalSocket *socket);
    void Handle(QLocalSocket *socket, const QByteArray &line);
    void Pump();
    void RunNext();
    void Beat();

    THolder &m_holder;
    QLocalServer *m_server = nullptr;
    QTimer *m_pump = nullptr;
    QTimer *m_heartbeat = nullptr;
    std::list<TWaiting> m_waiting;
    QList<QPointer<QLocalSocket>> m_sockets;
    bool m_running = false;
};

// The asking side. Each call connects to the holder the lock file names and waits for its
// answers; none needs an event loop.

// Connects to the holder's socket; null when it does not accept within timeoutMs.
std::unique_ptr<QLocalSocket> ConnectToHolder(const TStoreHolder &holder, int timeoutMs);
// Hands a run to the holder over socket and writes its output to standard output and standard
// error as it comes; returns its exit status, or 2 (with the reason on standard error) when the
// holder stops answering or ends before the run does.
int HandOverRun(QLocalSocket &socket, const TStoreHolder &holder, const TRunRequest &request);
// Asks a window holding the store to come to the front; true when it did.
bool AskToRaise(const TStoreHolder &holder);
// Asks a service holding the store to let go of it; true once it has.
bool AskToRelease(const TStoreHolder &holder);

// Returns the words that name a holder: "process 123 (the window)".
QString HolderText(const TStoreHolder &holder);

} // namespace quelmark
