#include "app/CommandLine.h"
#include "app/F_Main.h"
#include "app/Headless.h"
#include "app/SiteNames.h"
#include "app/WindowHolder.h"
#include "base/Printable.h"
#include "base/QtMessages.h"

#include <QApplication>

#include <cstdio>
#include <optional>

namespace {

// Answers what needs no window. This runs before any application object exists, so it works
// where no display is there.
std::optional<int> AnswerWithoutWindow(const quelmark::TCommandLine &line)
{
    // One line that says what is wrong; the whole usage would push it out of sight. The
    // arguments in it are the user's text, shown as one line whatever they hold.
    if (!line.Error.isEmpty()) {
        quelmark::PrintError(quelmark::PrintableText(line.Error) + QStringLiteral("; see --help"));
        return 2;
    }
    if (line.Has(QStringLiteral("help"))) {
        quelmark::PrintLine(stdout, quelmark::UsageText().chopped(1));
        return 0;
    }
    if (line.Has(QStringLiteral("version"))) {
        quelmark::PrintLine(stdout, quelmark::VersionLine());
        return 0;
    }
    return std::nullopt;
}

// The window needs a display; without one the program says so instead of letting Qt abort,
// unless the user named a platform of Qt's.
std::optional<int> CheckDisplay(const quelmark::TCommandLine &line)
{
    const bool named = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
                       line.WindowArguments.contains(QStringLiteral("-platform")) ||
                       line.WindowArguments.contains(QStringLiteral("-display"));
    if (named)
        return std::nullopt;
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        quelmark::PrintError(QStringLiteral("there is no display to open the window on (neither DISPLAY nor "
                                            "WAYLAND_DISPLAY is set); --push-all, --dry-run and --service run "
                                            "without one"));
        return 2;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char **argv)
{
    quelmark::InstallQuietMessageHandler();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const quelmark::TCommandLine line = quelmark::ParseProgramCommandLine(arguments);
    if (const std::optional<int> exitCode = AnswerWithoutWindow(line))
        return *exitCode;

    // Where the store is follows from these names.
    QCoreApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QCoreApplication::setApplicationName(QStringLiteral("Quelmark"));
    if (line.Mode == quelmark::TRunMode::ListSites)
        return quelmark::PrintSiteNames();
    if (line.Mode != quelmark::TRunMode::Window) {
        // A run without a window makes no widget: it needs neither a display nor any of Qt's
        // platforms.
        QCoreApplication app(argc, argv);
        return quelmark::RunHeadless(line);
    }
    if (const std::optional<int> exitCode = CheckDisplay(line))
        return *exitCode;

    // Qt takes its own window-system options (-session, -style, ...) out of argv here.
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(quelmark::ApplicationTitle());
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUELMARK_DESKTOP_ID));
    return quelmark::RunWindow(line);
}
