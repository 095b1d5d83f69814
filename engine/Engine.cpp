#include "engine/Engine.h"

#include "catalogue/Keyring.h"
#include "engine/ActivityLog.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/Transfer.h"
#include "net/NewAddressCommand.h"

#include <algorithm>

namespace quelmark {

void TObserverList::Add(TEngineObserver *observer)
{
    if (observer && !m_observers.contains(observer))
        m_observers.append(observer);
}

void TObserverList::Remove(TEngineObserver *observer)
{
    m_observers.removeAll(observer);
}

// An observer may add or remove observers while it is told: each is told from a copy of the list.
template <typename F> void TObserverList::Tell(F &&f)
{
    const QList<TEngineObserver *> observers = m_observers;
    for (TEngineObserver *observer : observers)
        f(*observer);
}

void TObserverList::LogLine(const QString &line)
{
    Tell([&](TEngineObserver &o) { o.LogLine(line); });
}

void TObserverList::LogCleared()
{
    Tell([&](TEngineObserver &o) { o.LogCleared(); });
}

void TObserverList::Hold(THold hold, bool on)
{
    Tell([&](TEngineObserver &o) { o.Hold(hold, on); });
}

void TObserverList::TransferStarted(const QString &localFile)
{
    Tell([&](TEngineObserver &o) { o.TransferStarted(localFile); });
}

void TObserverList::TransferProgress(const QString &localFile, std::int64_t sent, std::int64_t size)
{
    Tell([&](TEngineObserver &o) { o.TransferProgress(localFile, sent, size); });
}

void TObserverList::TransferEnded()
{
    Tell([&](TEngineObserver &o) { o.TransferEnded(); });
}

bool TObserverList::ShowsPageLines() const
{
    return std::any_of(m_observers.begin(), m_observers.end(),
                       [](const TEngineObserver *o) { return o->ShowsPageLines(); });
}

void TObserverList::PageCopied(const QStringList &page, const QStringList &copy)
{
    Tell([&](TEngineObserver &o) { o.PageCopied(page, copy); });
}

void TObserverList::AddressInUse(const QString &address)
{
    Tell([&](TEngineObserver &o) { o.AddressInUse(address); });
}

void TObserverList::Note(const QString &text)
{
    Tell([&](TEngineObserver &o) { o.Note(text); });
}

void TObserverList::NoteDone(const QString &text)
{
    Tell([&](TEngineObserver &o) { o.NoteDone(text); });
}

std::optional<bool> TObserverList::Ask(TQuestion question, const QString &text)
{
    const QList<TEngineObserver *> observers = m_observers;
    for (TEngineObserver *observer : observers) {
        if (const std::optional<bool> answer = observer->Ask(question, text))
            return answer;
    }
    return std::nullopt;
}

void TObserverList::FileDone(const TFileResult &result)
{
    Tell([&](TEngineObserver &o) { o.FileDone(result); });
}

void TObserverList::CheckDone(const TCheckReport &report)
{
    Tell([&](TEngineObserver &o) { o.CheckDone(report); });
}

void TObserverList::TimerChanged(bool running)
{
    Tell([&](TEngineObserver &o) { o.TimerChanged(running); });
}

TEngine::TEngine(const TEngineParts &parts, QObject *owner) : m_parts(parts)
{
    std::function<TOptions()> options;
    if (TEngineData *data = parts.data)
        options = [data] { return data->Options(); };
    m_log = std::make_unique<TActivityLog>(m_events, std::move(options));
    m_transfer = std::make_unique<TTransfer>(parts, m_events, *m_log);
    m_push = std::make_unique<TPushCommands>(parts, m_events, *m_transfer, *m_log);
    RunCommandOnNewAddress();
    m_refresh = new TRefreshCycle(parts, m_events, *m_push, *m_log, owner);
    m_refresh->setObjectName(QStringLiteral("RefreshCycle"));
    SetKeyringNotes([log = m_log.get()](const QString &line) { log->AddToLog(line); });
}

void TEngine::RunCommandOnNewAddress()
{
    m_newAddressCommand = std::make_unique<TNewAddressCommand>();
    m_newAddressCommand->OnReport = [log = m_log.get()](QObject *, const QString &line) { log->AddToLog(line); };
    m_push->OnNewAddressPushed = [this](const QString &oldAddress, const QString &address) {
        const QString command = m_parts.data ? m_parts.data->Options().addressChangedCommand : QString();
        if (!command.trimmed().isEmpty())
            m_newAddressCommand->Run(command, address, oldAddress);
    };
}

TEngine::~TEngine()
{
    SetKeyringNotes(nullptr);
    delete m_refresh.data();
}

TRefreshCycle &TEngine::Refresh()
{
    return *m_refresh;
}

} // namespace quelmark
