#include "app/F_Main.h"
#include "app/Termination.h"
#include "base/Exception.h"
#include "catalogue/MessageBox.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QApplication::setApplicationName(QStringLiteral("Quelmark"));
    QApplication::setApplicationDisplayName(quelmark::ApplicationTitle());

    // Without its store the program can neither show nor keep anything: say which file is at
    // fault and stop before any window could write to it.
    const QString problem = quelmark::CheckStoreAtStart();
    if (!problem.isEmpty()) {
        quelmark::TMessageBox::Critical(nullptr, problem);
        return 1;
    }

    quelmark::TfrmMain window;
    // Asked to end by the system or the session, the program closes its window as the user
    // would, so the shown site, the options and the toolbar layout are kept.
    quelmark::TTermination termination;
    termination.OnTerminate = [&window] { quelmark::CloseWhenIdle(&window); };
    window.show();
    return app.exec();
}
