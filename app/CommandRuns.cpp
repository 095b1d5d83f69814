#include "app/CommandRuns.h"

#include "base/Exception.h"
#include "catalogue/Catalogue.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/Navigator.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/Engine.h"
#include "engine/PushCommands.h"

#include <QWidget>

#include <memory>

namespace quelmark {

namespace {

// Reads sites as the program holding the store sees them: the shown one from its controls,
// whose statuses may not be stored yet, any other from the store through controls of its own
// that belong to no window, so nothing is ever written.
class TSiteReader {
public:
    explicit TSiteReader(const TRunParts &parts) : m_parts(parts) {}

    QList<TFileEntry> Entries(const QString &site)
    {
        TCatalogue &shown = *m_parts.catalogue;
        if (!site.isEmpty() && site == shown.CurrentSiteName())
            return shown.Shown().Entries();
        if (!m_scratch) {
            m_page = std::make_unique<QWidget>();
            m_scratch = std::make_unique<TCatalogue>(m_page.get(), m_page.get(), shown.BasePath());
        }
        m_scratch->LoadSite(site);
        return m_scratch->Shown().Entries();
    }

private:
    const TRunParts &m_parts;
    std::unique_ptr<QWidget> m_page;
    std::unique_ptr<TCatalogue> m_scratch;
};

// Returns the sites in navigator order; a program that has not built its navigator (a dry run
// on its own) lists them as the navigator would, in the store's order.
QStringList SiteNames(const TRunParts &parts)
{
    if (!parts.navigator || !parts.navigator->WebSitesNode)
        return parts.catalogue->ListSites();
    QStringList names;
    for (const TNavigatorNode *node : parts.navigator->SiteNodes())
        names << node->text(0);
    return names;
}

// The sites a request covers; empty with the message in error when its site does not exist.
QStringList CoveredSites(const TRunParts &parts, const TRunRequest &request, QString &error)
{
    const QStringList all = SiteNames(parts);
    if (request.site.isEmpty())
        return all;
    if (all.contains(request.site))
        return {request.site};
    error = QStringLiteral("There is no site named \"%1\"").arg(request.site);
    return {};
}

// The window's push of the shown site, for a site that need not be shown: it is shown for the
// while, and showing the user's node again afterwards stores it with its new statuses.
void PushOneSite(const TRunParts &parts, const QString &site, const QString &address)
{
    TNavigator &navigator = *parts.navigator;
    QTreeWidgetItem *remembered = navigator.currentItem();
    for (TNavigatorNode *node : navigator.SiteNodes()) {
        if (node->text(0) == site) {
            navigator.SelectNode(node);
            break;
        }
    }
    try {
        parts.engine->Push().PushShownSite(address);
    } catch (...) {
        try {
            navigator.SelectNode(remembered);
        } catch (...) {
            // The push's own error is the one to tell; this one would only hide it.
        }
        throw;
    }
    navigator.SelectNode(remembered);
}

bool AnyEntryInError(const TRunParts &parts, const QStringList &sites)
{
    TSiteReader reader(parts);
    for (const QString &site : sites) {
        for (const TFileEntry &entry : reader.Entries(site)) {
            if (entry.status == FileStatus::Error)
                return true;
        }
    }
    return false;
}

int PushAll(const TRunParts &parts, const TRunRequest &request, TRunOutput &output)
{
    QString error;
    const QStringList sites = CoveredSites(parts, request, error);
    if (!error.isEmpty()) {
        output.Err(error);
        return 2;
    }
    TPushCommands &push = parts.engine->Push();
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
        if (!found.Connected()) {
            // As the refresh cycle says it: a failed check with its reason, the "Local" rule's
            // "127.0.0.1" as it always was.
            if (found.address.isEmpty())
                parts.engine->Log().AddToLog(found.failure);
            parts.engine->Log().AddToLog(QStringLiteral("!!!!!Not connected to the network..."));
            return 1;
        }
        if (request.site.isEmpty())
            push.PushAll(found.address);
        else
            PushOneSite(parts, request.site, found.address);
        return AnyEntryInError(parts, sites) || push.Stopping() ? 1 : 0;
    } catch (...) {
        output.Err(ExceptionMessage(std::current_exception()));
        return 1;
    }
}

int DryRun(const TRunParts &parts, const TRunRequest &request, TRunOutput &output)
{
    try {
        QString error;
        const QStringList sites = CoveredSites(parts, request, error);
        if (!error.isEmpty()) {
            output.Err(error);
            return 2;
        }
        const TAddressResult found = parts.engine->Push().CheckAddress();
        if (!found.Connected() && found.address.isEmpty())
            output.Err(found.failure + QStringLiteral(": --push-all would push nothing"));
        else if (!found.Connected())
            output.Err(
                QStringLiteral("This machine is not connected (its address is %1): --push-all would push nothing")
                    .arg(found.address));
        // Without an address the address rule has nothing to compare and judges no entry.
        TAddressLookup current;
        if (!found.address.isEmpty())
            current = [address = found.address] { return address; };
        const QString lastIPAddress = parts.options->edtLastIPAddress->text();
        TSiteReader reader(parts);
        for (const QString &site : sites) {
            for (const TFileEntry &entry : reader.Entries(site))
                output.Out(DryRunLine(site, entry, PushDecision(entry, lastIPAddress, current)));
        }
        return 0;
    } catch (...) {
        output.Err(ExceptionMessage(std::current_exception()));
        return 2;
    }
}

} // namespace

TLogCapture::TLogCapture(TActivityLog &log, TRunOutput &output) : m_log(log), m_previous(log.OnLineAdded)
{
    m_log.OnLineAdded = [previous = m_previous, &output](const QString &line) {
        if (previous)
            previous(line);
        output.Out(line);
    };
}

TLogCapture::~TLogCapture()
{
    m_log.OnLineAdded = m_previous;
}

QString DryRunLine(const QString &site, const TFileEntry &entry, const TPushDecision &decision)
{
    return QStringList{site, entry.localFile, entry.hostFileName,
                       decision.due ? QStringLiteral("due") : QStringLiteral("not due"), decision.reason}
        .join(QLatin1Char('\t'));
}

int RunCommand(const TRunParts &parts, const TRunRequest &request, TRunOutput &output)
{
    if (request.mode == TRunMode::DryRun)
        return DryRun(parts, request, output);
    TLogCapture capture(parts.engine->Log(), output);
    return PushAll(parts, request, output);
}

} // namespace quelmark
