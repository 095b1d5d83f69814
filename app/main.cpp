#include "app/CommandLine.h"
#include "app/F_Main.h"
#include "app/Termination.h"
#include "base/Exception.h"
#include "catalogue/MessageBox.h"

#include <QApplication>

#include <cstdio>
#include <optional>

namespace {

void Print(const QString &text, FILE *stream)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// Answers what needs no window. This runs before any application object exists, so it works
// where no display is there.
std::optional<int> AnswerWithoutWindow(const quelmark::TCommandLine &line)
{
    if (!line.Error.isEmpty()) {
        Print(QStringLiteral("quelmark: %1\n\n").arg(line.Error) + quelmark::UsageText(), stderr);
        return 2;
    }
    if (line.Has(QStringLiteral("help"))) {
        Print(quelmark::UsageText(), stdout);
        return 0;
    }
    if (line.Has(QStringLiteral("version"))) {
        Print(quelmark::VersionLine() + QLatin1Char('\n'), stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> exitCode = AnswerWithoutWindow(quelmark::ParseCommandLine(arguments)))
        return *exitCode;

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QApplication::setApplicationName(QStringLiteral("Quelmark"));
    QApplication::setApplicationDisplayName(quelmark::ApplicationTitle());
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUELMARK_DESKTOP_ID));

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
