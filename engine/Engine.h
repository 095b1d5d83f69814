// The push engine put together: the activity log, the file transfer, the push commands, the
// refresh cycle and the command on a new address, each wired to the others, to the parts they
// run on and to the observers.
//
// This is the one place where the engine is assembled: the main window, the runs without a
// window, the tests and the benchmarks all build it here from one TEngineParts, so they run the
// same wiring, and attach their observers (EngineObserver.h) to it.
#pragma once

#include "engine/EngineParts.h"

#include <QList>
#include <QPointer>

#include <memory>

class QObject;

namespace quelmark {

class TActivityLog;
class TNewAddressCommand;
class TPushCommands;
class TRefreshCycle;
class TTransfer;

// The observers of one engine, told in the order they were added.
class TObserverList : public TEngineObserver {
public:
    void Add(TEngineObserver *observer);
    void Remove(TEngineObserver *observer);

    void LogLine(const QString &line) override;
    void LogCleared() override;
    void Hold(THold hold, bool on) override;
    void TransferStarted(const QString &localFile) override;
    void TransferProgress(const QString &localFile, std::int64_t sent, std::int64_t size) override;
    void TransferEnded() override;
    bool ShowsPageLines() const override;
    void PageCopied(const QStringList &page, const QStringList &copy) override;
    void AddressInUse(const QString &address) override;
    void Note(const QString &text) override;
    void NoteDone(const QString &text) override;
    // The first answer an observer gives; nothing when none has anybody to ask.
    std::optional<bool> Ask(TQuestion question, const QString &text) override;
    void FileDone(const TFileResult &result) override;
    void CheckDone(const TCheckReport &report) override;
    void TimerChanged(bool running) override;

private:
    template <typename F> void Tell(F &&f);

    QList<TEngineObserver *> m_observers;
};

class TEngine {
public:
    // Builds the log, the transfer on the FTP client, the push commands and the refresh cycle
    // (stopped), the last as a child of owner. After a push of all sites with a new address,
    // "Command on a new address:" is started, and its end logged.
    explicit TEngine(const TEngineParts &parts, QObject *owner = nullptr);
    // Takes the refresh cycle down first: its ticks are what could still start a push.
    ~TEngine();
    TEngine(const TEngine &) = delete;
    TEngine &operator=(const TEngine &) = delete;

    // Adds an observer (not owned), told of everything from now on; Remove takes it away again.
    void AddObserver(TEngineObserver *observer) { m_events.Add(observer); }
    void RemoveObserver(TEngineObserver *observer) { m_events.Remove(observer); }

    const TEngineParts &Parts() const { return m_parts; }
    TActivityLog &Log() { return *m_log; }
    TTransfer &Transfer() { return *m_transfer; }
    TPushCommands &Push() { return *m_push; }
    TRefreshCycle &Refresh();
    // Runs "Command on a new address:"; a program about to end waits while it runs.
    TNewAddressCommand &NewAddressCommand() { return *m_newAddressCommand; }

private:
    void RunCommandOnNewAddress();

    TEngineParts m_parts;
    TObserverList m_events;
    std::unique_ptr<TActivityLog> m_log;
    std::unique_ptr<TTransfer> m_transfer;
    std::unique_ptr<TPushCommands> m_push;
    std::unique_ptr<TNewAddressCommand> m_newAddressCommand;
    QPointer<TRefreshCycle> m_refresh;
};

// Adds an observer to an engine for as long as it lives.
class TObserving {
public:
    TObserving(TEngine &engine, TEngineObserver &observer) : m_engine(engine), m_observer(observer)
    {
        m_engine.AddObserver(&m_observer);
    }
    ~TObserving() { m_engine.RemoveObserver(&m_observer); }
    TObserving(const TObserving &) = delete;
    TObserving &operator=(const TObserving &) = delete;

private:
    TEngine &m_engine;
    TEngineObserver &m_observer;
};

} // namespace quelmark
