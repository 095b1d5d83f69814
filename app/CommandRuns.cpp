#include "app/CommandRuns.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "engine/ActivityLog.h"
#include "engine/AddressChoice.h"
#include "engine/Engine.h"
#include "engine/PushCommands.h"

namespace quelmark {

namespace {

// The sites a request covers; empty with the message in error when its site does not exist.
QStringList CoveredSites(TEngineData &data, const TRunRequest &request, QString &error)
{
    const QStringList all = data.SiteNames();
    if (request.site.isEmpty())
        return all;
    if (all.contains(request.site))
        return {request.site};
    error = QStringLiteral("There is no site named \"%1\"").arg(PrintableText(request.site));
    return {};
}

bool AnyEntryInError(TEngineData &data, const QStringList &sites)
{
    for (const QString &site : sites) {
        for (const TPushEntry &entry : data.ReadSite(site).entries) {
            if (entry.status == TFileStatus::Error)
                return true;
        }
    }
    return false;
}

int PushAll(TEngine &engine, const TRunRequest &request, TRunOutput &output)
{
    TEngineData &data = *engine.Parts().data;
    QString error;
    const QStringList sites = CoveredSites(data, request, error);
    if (!error.isEmpty()) {
        output.Err(error);
        return 2;
    }
    TPushCommands &push = engine.Push();
    if (push.Stopping()) {
        output.Err(QStringLiteral("The program that holds the settings store is ending; nothing was pushed"));
        return 2;
    }
    if (push.Pushing()) {
        output.Err(QStringLiteral("A push is already running; nothing was pushed"));
        return 2;
    }
    try {
        const TAddressResult found = push.CheckAddress();
        if (push.Stopping()) {
            output.Err(QStringLiteral("Stopped during the address check; nothing was pushed"));
            return 1;
        }
        // As the refresh cycle does it: a source that failed while the machine keeps its own
        // address holds back only the pages with an address, and the run says that some waited.
        const bool sourceFailed = !found.Connected() && found.address.isEmpty() && MachineHasOwnAddress();
        if (!found.Connected() && !sourceFailed) {
            // A failed check with its reason, the "Local" rule's "127.0.0.1" as it always was.
            if (found.address.isEmpty())
                engine.Log().AddToLog(found.failure);
            engine.Log().AddToLog(QStringLiteral("!!!!!Not connected to the network..."));
            return 1;
        }
        if (sourceFailed)
            engine.Log().AddToLog(PagesWaitLine(found));
        const QString address = sourceFailed ? QString() : found.address;
        if (request.site.isEmpty())
            push.PushAll(address);
        else
            push.PushOneSite(request.site, address);
        return AnyEntryInError(data, sites) || push.Stopping() || sourceFailed ? 1 : 0;
    } catch (...) {
        output.Err(ExceptionMessage(std::current_exception()));
        return 1;
    }
}

int DryRun(TEngine &engine, const TRunRequest &request, TRunOutput &output)
{
    TEngineData &data = *engine.Parts().data;
    try {
        QString error;
        const QStringList sites = CoveredSites(data, request, error);
        if (!error.isEmpty()) {
            output.Err(error);
            return 2;
        }
        const TAddressResult found = engine.Push().CheckAddress();
        if (!found.Connected() && found.address.isEmpty() && MachineHasOwnAddress())
            output.Err(found.failure +
                       QStringLiteral(": --push-all would push only the files without an IP parameter"));
        else if (!found.Connected() && found.address.isEmpty())
            output.Err(found.failure + QStringLiteral(": --push-all would push nothing"));
        else if (!found.Connected())
            output.Err(
                QStringLiteral("This machine is not connected (its address is %1): --push-all would push nothing")
                    .arg(found.address));
        // Without an address the address rule has nothing to compare and judges no entry.
        TAddressLookup current;
        if (!found.address.isEmpty())
            current = [address = found.address] { return address; };
        const QString lastIPAddress = data.Options().lastIPAddress;
        for (const QString &site : sites) {
            for (const TPushEntry &entry : data.ReadSite(site).entries)
                output.Out(DryRunLine(site, entry, PushDecision(entry, lastIPAddress, current)));
        }
        return 0;
    } catch (...) {
        output.Err(ExceptionMessage(std::current_exception()));
        return 2;
    }
}

} // namespace

TLogCapture::TLogCapture(TEngine &engine, TRunOutput &output) : m_engine(engine), m_output(output)
{
    m_engine.AddObserver(this);
}

TLogCapture::~TLogCapture()
{
    m_engine.RemoveObserver(this);
}

void TLogCapture::LogLine(const QString &line)
{
    m_output.Out(line);
}

QString DryRunField(const QString &text)
{
    QString field;
    field.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            field += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\t'))
            field += QStringLiteral("\\t");
        else if (c == QLatin1Char('\n'))
            field += QStringLiteral("\\n");
        else if (c == QLatin1Char('\r'))
            field += QStringLiteral("\\r");
        else
            field += c;
    }
    return PrintableText(field);
}

QString DryRunLine(const QString &site, const TPushEntry &entry, const TPushDecision &decision)
{
    return QStringList{DryRunField(site), DryRunField(entry.localFile), DryRunField(entry.hostFileName),
                       decision.due ? QStringLiteral("due") : QStringLiteral("not due"), DryRunField(decision.reason)}
        .join(QLatin1Char('\t'));
}

int RunCommand(TEngine &engine, const TRunRequest &request, TRunOutput &output)
{
    if (request.mode == TRunMode::DryRun)
        return DryRun(engine, request, output);
    TLogCapture capture(engine, output);
    return PushAll(engine, request, output);
}

} // namespace quelmark
