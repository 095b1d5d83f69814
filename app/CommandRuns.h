// The runs the command line asks for, --push-all and --dry-run, carried out on the engine of
// whichever program holds the store: the window, the service, or a run without a window of its
// own. They go through the same engine and the same data the holder's own pushes use, so a push
// from the command line writes the same statuses, details, "Last IP Address:" and log lines as
// the window's push-all.
#pragma once

#include "app/CommandLine.h"
#include "engine/EngineObserver.h"

#include <QString>
#include <QStringList>

namespace quelmark {

class TEngine;

// One run asked for: PushAll or DryRun, narrowed to one site when site is set.
struct TRunRequest {
    TRunMode mode = TRunMode::PushAll;
    QString site;
};

// Where a run's output goes: standard output and standard error, of this program or of the one
// that handed the run over.
class TRunOutput {
public:
    virtual ~TRunOutput() = default;
    virtual void Out(const QString &line) = 0;
    virtual void Err(const QString &line) = 0;
};

// Sends every log line of the engine to output too while it lives; the engine's other
// observers keep hearing them.
class TLogCapture : public TEngineObserver {
public:
    TLogCapture(TEngine &engine, TRunOutput &output);
    ~TLogCapture() override;
    Q_DISABLE_COPY(TLogCapture)

    void LogLine(const QString &line) override;

private:
    TEngine &m_engine;
    TRunOutput &m_output;
};

// Runs the request and returns its exit status; never raises.
//
// PushAll: the address is looked up once, then the engine's push of all sites runs with it (or,
// for one site, its push of that site alone). Its log lines go to the engine's log. Returns 0 when
// nothing failed or nothing was due, 1 when an entry ended "Error", the push stopped on an
// error, the machine is not connected (nothing is pushed then, and the log says why) or the
// address check failed while the machine has an address of its own (as the refresh cycle does,
// only the entries without an IP parameter are pushed, and the log says so), 2 for a site that
// does not exist.
//
// DryRun: one line per file entry to output's Out, sites in navigator order and entries in list
// order: site, local file, host file name, "due" or "not due", and change detection's reason,
// separated by tabs, each field as DryRunField writes it, judged with one look-up of the
// address; a look-up that finds none is said on Err. It changes nothing: the sites are read as
// the holder sees them (the engine data's ReadSite). Returns 0, or 2 when the store cannot be
// read or the site does not exist.
int RunCommand(TEngine &engine, const TRunRequest &request, TRunOutput &output);

// Returns a text as one field of a dry-run line: a backslash as \\, a tab as \t, a line feed as \n,
// a carriage return as \r and any other control character as PrintableText shows it, so a line
// always holds exactly five fields.
QString DryRunField(const QString &text);

// Returns one dry-run line.
QString DryRunLine(const QString &site, const TPushEntry &entry, const TPushDecision &decision);

} // namespace quelmark
