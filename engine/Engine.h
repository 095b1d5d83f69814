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

    void LogLine(const QString &line) override { Tell(&TEngineObserver::LogLine, line); }
    void LogCleared() override { Tell(&TEngineObserver::LogCleared); }
    void Hold(THold hold, bool on) override { Tell(&TEngineObserver::Hold, hold, on); }
    void TransferStarted(const QString &localFile) override { Tell(&TEngineObserver::TransferStarted, localFile); }
    void TransferProgress(const QString &localFile, std::int64_t sent, std::int64_t size) override
    {
        Tell(&TEngineObserver::TransferProgress, localFile, sent, size);
    }
    void TransferEnded() override { Tell(&TEngineObserver::TransferEnded); }
    // Whether any observer shows them.
    bool ShowsPageLines() const override;
    void PageCopied(const QStringList &page, const QStringList &copy) override
    {
        Tell(&TEngineObserver::PageCopied, page, copy);
    }
    void AddressInUse(const QString &address) override { Tell(&TEngineObserver::AddressInUse, address); }
    void Note(const QString &text) override { Tell(&TEngineObserver::Note, text); }
    void NoteDone(const QString &text) override { Tell(&TEngineObserver::NoteDone, text); }
    // The first answer an observer gives; nothing when none has anybody to ask.
    std::optional<bool> Ask(TQuestion question, const QString &text) override;
    void FileDone(const TFileResult &result) override { Tell(&TEngineObserver::FileDone, result); }
    void CheckDone(const TCheckReport &report) override { Tell(&TEngineObserver::CheckDone, report); }
    void TimerChanged(bool running) override { Tell(&TEngineObserver::TimerChanged, running); }

private:
    // An observer may add or remove observers while it is told: each is told from a copy of the
    // list.
    template <typename... Params, typename... Args>
    void Tell(void (TEngineObserver::*event)(Params...), const Args &...args)
    {
        const QList<TEngineObserver *> observers = m_observers;
        for (TEngineObserver *observer : observers)
            (observer->*event)(args...);
    }

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
    Q_DISABLE_COPY(TEngine)

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
    Q_DISABLE_COPY(TObserving)

private:
    TEngine &m_engine;
    TEngineObserver &m_observer;
};

} // namespace quelmark
