// The window as the holder of the store: it takes the store's lock before it opens, and while it
// is open it carries out the pushes and dry runs other runs of the program hand it, and comes to
// the front when a second window is started.
#pragma once

#include "app/CommandLine.h"
#include "app/Handover.h"

namespace quelmark {

class TfrmMain;

class TWindowHolder : public THolder {
public:
    explicit TWindowHolder(TfrmMain &window) : m_window(window) {}

    // Pushing while a push runs or the window is disabled; Dialog while a modal dialog is open.
    TBusy Busy() const override;
    // Runs the request on the window's engine; the log lines of a push go to output as the log
    // shows them.
    int Run(const TRunRequest &request, TRunOutput &output) override;
    bool Raise() override;

private:
    TfrmMain &m_window;
};

// Runs the program with its window: the store checked, its lock taken (a window that holds it
// is raised instead and this run ends with 0; a service that holds it is asked to step aside; a
// push from the command line is waited for), the window shown until it closes, handed runs
// carried out meanwhile. Returns the exit status.
int RunWindow(const TCommandLine &line);

} // namespace quelmark
