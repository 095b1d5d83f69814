// The push engine put together: the activity log, the file transfer, the push commands and the
// refresh cycle, each wired to the others and to the parts they run on.
//
// This is the one place where the engine is assembled: the main window, the tests and the
// benchmarks all build it here from one TEngineParts, so they run the same wiring. The parts
// a window adds are optional (see EngineParts.h), so a program without a window can build the
// same engine from the same parts.
#pragma once

#include "engine/EngineParts.h"

#include <QPointer>

#include <memory>

class QObject;

namespace quelmark {

class TActivityLog;
class TPushCommands;
class TRefreshCycle;
class TTransfer;

class TEngine {
public:
    // Builds the log on the parts' memoLog and options, the transfer on the FTP client, the
    // push commands and the refresh cycle (stopped), the last as a child of owner.
    explicit TEngine(const TEngineParts &parts, QObject *owner = nullptr);
    // Takes the refresh cycle down first: its ticks are what could still start a push.
    ~TEngine();
    TEngine(const TEngine &) = delete;
    TEngine &operator=(const TEngine &) = delete;

    TActivityLog &Log() { return *m_log; }
    TTransfer &Transfer() { return *m_transfer; }
    TPushCommands &Push() { return *m_push; }
    TRefreshCycle &Refresh();

private:
    std::unique_ptr<TActivityLog> m_log;
    std::unique_ptr<TTransfer> m_transfer;
    std::unique_ptr<TPushCommands> m_push;
    QPointer<TRefreshCycle> m_refresh;
};

} // namespace quelmark
