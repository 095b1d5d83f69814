#include "app/CommandLine.h"
#include "app/F_Main.h"
#include "app/Headless.h"
#include "app/WindowHolder.h"
#include "base/Printable.h"
#include "base/QtMessages.h"

#include <QApplication>

#include <cstdio>
#include <optional>

namespace {

void Print(const QString &text, FILE *stream)
{
    std::fputs(quelmark::PrintableLines(text).toLocal8Bit().constData(), stream);
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

// Chooses where Qt draws. A run without a window draws nowhere: it takes the offscreen platform
// unless the user named one, so neither a missing display nor an unreachable one can stop it.
// The window needs a display; without one the program says so instead of letting Qt abort.
std::optional<int> ChoosePlatform(const quelmark::TCommandLine &line)
{
    const bool named = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
                       line.WindowArguments.contains(QStringLiteral("-platform")) ||
                       line.WindowArguments.contains(QStringLiteral("-display"));
    if (named)
        return std::nullopt;
    if (line.Mode != quelmark::TRunMode::Window) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::nullopt;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        Print(QStringLiteral("quelmark: there is no display to open the window on (neither DISPLAY nor "
                             "WAYLAND_DISPLAY is set); --push-all, --dry-run and --service run without one\n"),
              stderr);
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
    if (const std::optional<int> exitCode = ChoosePlatform(line))
        return *exitCode;

    // Qt takes its own window-system options (-session, -style, ...) out of argv here.
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnholt"));
    QApplication::setApplicationName(QStringLiteral("Quelmark"));
    QApplication::setApplicationDisplayName(quelmark::ApplicationTitle());
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUELMARK_DESKTOP_ID));

    if (line.Mode != quelmark::TRunMode::Window)
        return quelmark::RunHeadless(line);
    return quelmark::RunWindow(line);
}
