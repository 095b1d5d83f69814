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

bool TObserverList::ShowsPageLines() const
{
    return std::any_of(m_observers.begin(), m_observers.end(),
                       [](const TEngineObserver *o) { return o->ShowsPageLines(); });
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
