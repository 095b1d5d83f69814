#include "engine/Engine.h"

#include "catalogue/GeneralOptions.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/Transfer.h"

namespace quelmark {

TEngine::TEngine(const TEngineParts &parts, QObject *owner)
{
    const TGeneralOptions &options = *parts.options;
    m_log = std::make_unique<TActivityLog>(parts.memoLog, options.chkTimeStampLog, options.chkDetailedLogging,
                                           parts.mainWindow);
    m_transfer = std::make_unique<TTransfer>(parts, *m_log);
    m_push = std::make_unique<TPushCommands>(parts, *m_transfer, *m_log);
    m_refresh = new TRefreshCycle(parts, *m_push, *m_log, owner);
    m_refresh->setObjectName(QStringLiteral("RefreshCycle"));
}

TEngine::~TEngine()
{
    delete m_refresh.data();
}

TRefreshCycle &TEngine::Refresh()
{
    return *m_refresh;
}

} // namespace quelmark
