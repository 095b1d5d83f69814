#include "app/CommandLine.h"

#include <algorithm>
#include <utility>

namespace quelmark {

namespace {

const QString kOptionPrefix = QStringLiteral("--");
// The usage fits a terminal of 80 columns with the cursor still on the line.
constexpr qsizetype kUsageColumns = 79;

// The window-system options Qt's application object takes out of the arguments: the first group
// with a value ("-name VALUE" or "-name=VALUE"), the second without.
const QStringList kQtOptionsWithValue = {
    QStringLiteral("platform"),
    QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"),
    QStringLiteral("geometry"),
    QStringLiteral("qwindowicon"),
    QStringLiteral("icon"),
    QStringLiteral("qwindowtitle"),
    QStringLiteral("title"),
    QStringLiteral("session"),
    QStringLiteral("display"),
    QStringLiteral("name"),
    QStringLiteral("style"),
    QStringLiteral("stylesheet"),
    QStringLiteral("qmljsdebugger"),
};
const QStringList kQtSwitches = {
    QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
    QStringLiteral("dograb"),  QStringLiteral("sync"),        QStringLiteral("testability"),
};

// Takes a Qt window-system option at arguments[i] (and its value) into line; false when the
// argument is not one.
bool TakeWindowArgument(const QStringList &arguments, qsizetype &i, TCommandLine &line)
{
    const QString &argument = arguments[i];
    if (!argument.startsWith(QLatin1Char('-')) || argument.startsWith(kOptionPrefix))
        return false;
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    const QString name = argument.mid(1, equals < 0 ? -1 : equals - 1);
    if (kQtSwitches.contains(name) && equals < 0) {
        line.WindowArguments << argument;
        return true;
    }
    if (!kQtOptionsWithValue.contains(name))
        return false;
    line.WindowArguments << argument;
    if (equals < 0) {
        if (i + 1 >= arguments.size())
            line.Error = QStringLiteral("option '%1' needs a value").arg(argument);
        else
            line.WindowArguments << arguments[++i];
    }
    return true;
}

// Returns the option an argument names: "-h" by its short name, "--name" or "--name=value"
// (equals then marks the '='), or nullptr after setting error.
const TOptionSpec *OptionOf(const std::vector<TOptionSpec> &options, const QString &argument, qsizetype &equals,
                            QString &error)
{
    if (argument.size() > 1 && argument[0] == QLatin1Char('-') && argument[1] != QLatin1Char('-')) {
        const auto found = std::find_if(options.begin(), options.end(), [&argument](const TOptionSpec &o) {
            return !o.Short.isEmpty() && argument.mid(1) == o.Short;
        });
        if (found != options.end())
            return &*found;
    }
    if (!argument.startsWith(kOptionPrefix) || argument.size() == kOptionPrefix.size()) {
        error = QStringLiteral("unexpected argument '%1'").arg(argument);
        return nullptr;
    }
    equals = argument.indexOf(QLatin1Char('='));
    const QString name = argument.mid(kOptionPrefix.size(), equals < 0 ? -1 : equals - kOptionPrefix.size());
    const auto found =
        std::find_if(options.begin(), options.end(), [&name](const TOptionSpec &o) { return o.Name == name; });
    if (found == options.end()) {
        error = QStringLiteral("unknown option '%1'").arg(kOptionPrefix + name);
        return nullptr;
    }
    return &*found;
}

// Returns the option's name as the usage shows it, with its value when it takes one.
QString Synopsis(const TOptionSpec &option)
{
    QString text = kOptionPrefix + option.Name;
    if (!option.ValueName.isEmpty())
        text += QLatin1Char(' ') + option.ValueName;
    return text;
}

// Returns the option as the usage lists it: "-h, --help", "    --site NAME".
QString UsageName(const TOptionSpec &option)
{
    return (option.Short.isEmpty() ? QStringLiteral("    ") : QStringLiteral("-%1, ").arg(option.Short)) +
           Synopsis(option);
}

// Returns head followed by the words of body, broken at blanks into lines of at most
// kUsageColumns characters; the lines after the first begin with indent blanks.
QString Wrapped(const QString &head, const QString &body, qsizetype indent)
{
    QString text;
    QString line = head;
    bool wordOnLine = false;
    for (const QString &word : body.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (wordOnLine && line.size() + 1 + word.size() > kUsageColumns) {
            text += line + QLatin1Char('\n');
            line = QString(indent, QLatin1Char(' '));
            wordOnLine = false;
        }
        if (wordOnLine)
            line += QLatin1Char(' ');
        line += word;
        wordOnLine = true;
    }
    return text + line + QLatin1Char('\n');
}

} // namespace

const std::vector<TOptionSpec> &ProgramOptions()
{
    static const std::vector<TOptionSpec> options{
        {QStringLiteral("help"), {}, QStringLiteral("Prints this help and exits."), QStringLiteral("h")},
        {QStringLiteral("version"), {}, QStringLiteral("Prints the program's version and exits.")},
        {QStringLiteral("push-all"),
         {},
         QStringLiteral("Pushes every file that is due, as the window's push-all does, without a window.")},
        {QStringLiteral("dry-run"),
         {},
         QStringLiteral("Prints for every file whether it is due and why; changes nothing.")},
        {QStringLiteral("service"),
         {},
         QStringLiteral("Runs the refresh cycle without a window until SIGTERM or SIGINT.")},
        {QStringLiteral("site"), QStringLiteral("NAME"),
         QStringLiteral("Narrows --push-all or --dry-run to one site.")},
        {QStringLiteral("list-sites"), {}, QStringLiteral("Prints the names of the sites, one a line, and exits.")},
    };
    return options;
}

TCommandLine ParseCommandLine(const QStringList &arguments, const std::vector<TOptionSpec> &options)
{
    TCommandLine line;
    for (qsizetype i = 0; i < arguments.size() && line.Error.isEmpty(); ++i) {
        const QString &argument = arguments[i];
        if (TakeWindowArgument(arguments, i, line))
            continue;
        qsizetype equals = -1;
        const TOptionSpec *option = OptionOf(options, argument, equals, line.Error);
        if (!option)
            continue;
        const QString &name = option->Name;
        if (line.Has(name)) {
            line.Error = QStringLiteral("option '%1' is given twice").arg(kOptionPrefix + name);
        } else if (option->ValueName.isEmpty()) {
            if (equals >= 0)
                line.Error = QStringLiteral("option '%1' takes no value").arg(kOptionPrefix + name);
            else
                line.Given.insert(name, QString());
        } else if (equals >= 0) {
            line.Given.insert(name, argument.mid(equals + 1));
        } else if (i + 1 < arguments.size()) {
            line.Given.insert(name, arguments[++i]);
        } else {
            line.Error = QStringLiteral("option '%1' needs a value").arg(Synopsis(*option));
        }
    }
    if (!line.Error.isEmpty()) {
        line.Given.clear();
        line.WindowArguments.clear();
    }
    return line;
}

TCommandLine ParseProgramCommandLine(const QStringList &arguments)
{
    TCommandLine line = ParseCommandLine(arguments);
    if (!line.Error.isEmpty())
        return line;
    const std::pair<QString, TRunMode> modes[] = {
        {QStringLiteral("push-all"), TRunMode::PushAll},
        {QStringLiteral("dry-run"), TRunMode::DryRun},
        {QStringLiteral("service"), TRunMode::Service},
        {QStringLiteral("list-sites"), TRunMode::ListSites},
    };
    QStringList given;
    for (const auto &[name, mode] : modes) {
        if (line.Has(name)) {
            given << kOptionPrefix + name;
            line.Mode = mode;
        }
    }
    if (given.size() > 1)
        line.Error = QStringLiteral("options %1 cannot be combined").arg(given.join(QStringLiteral(" and ")));
    else if (line.Has(QStringLiteral("site")) && line.Mode != TRunMode::PushAll && line.Mode != TRunMode::DryRun)
        line.Error = QStringLiteral("option '--site' narrows --push-all or --dry-run, and neither is given");
    if (!line.Error.isEmpty()) {
        line.Given.clear();
        line.WindowArguments.clear();
        line.Mode = TRunMode::Window;
    }
    return line;
}

QString UsageText(const std::vector<TOptionSpec> &options)
{
    qsizetype width = 0;
    for (const TOptionSpec &option : options)
        width = std::max(width, UsageName(option).size());

    QString text = QStringLiteral("Usage: quelmark [OPTION]...\n") +
                   Wrapped({},
                           QStringLiteral("Keeps files on FTP, FTPS and SFTP web sites up to date and writes this "
                                          "machine's current IP address into them as it uploads them. Without an "
                                          "option it opens its window."),
                           0) +
                   QStringLiteral("\nOptions:\n");
    for (const TOptionSpec &option : options)
        text += Wrapped(QStringLiteral("  %1  ").arg(UsageName(option).leftJustified(width)), option.Help, width + 4);
    text += QStringLiteral("\n"
                           "--dry-run prints one line per file entry, fields separated by tabs:\n"
                           "  SITE  LOCAL FILE  HOST FILE NAME  due|not due  REASON\n");
    text += Wrapped({},
                    QStringLiteral("Exit status: 0 when nothing failed, 1 when a file could not be pushed or the "
                                   "machine is not connected, 2 when the arguments or the settings store cannot be "
                                   "used. The window also takes Qt's window-system options, such as -session "
                                   "and -display."),
                    0);
    return text;
}

QString ProgramVersion()
{
    return QStringLiteral(QUELMARK_VERSION);
}

QString VersionLine()
{
    return QStringLiteral("quelmark ") + ProgramVersion();
}

} // namespace quelmark
