#include "app/CommandLine.h"

#include "app/F_About.h"

#include <algorithm>

namespace quelmark {

namespace {

const QString OptionPrefix = QStringLiteral("--");

const TOptionSpec *FindOption(const std::vector<TOptionSpec> &options, const QString &name)
{
    const auto found =
        std::find_if(options.begin(), options.end(), [&name](const TOptionSpec &o) { return o.Name == name; });
    return found == options.end() ? nullptr : &*found;
}

// Returns the option's name as the usage shows it, with its value when it takes one.
QString Synopsis(const TOptionSpec &option)
{
    QString text = OptionPrefix + option.Name;
    if (!option.ValueName.isEmpty())
        text += QLatin1Char(' ') + option.ValueName;
    return text;
}

} // namespace

const std::vector<TOptionSpec> &ProgramOptions()
{
    static const std::vector<TOptionSpec> options{
        {QStringLiteral("help"), {}, QStringLiteral("Prints this help and exits.")},
        {QStringLiteral("version"), {}, QStringLiteral("Prints the program's version and exits.")},
    };
    return options;
}

TCommandLine ParseCommandLine(const QStringList &arguments, const std::vector<TOptionSpec> &options)
{
    TCommandLine line;
    for (qsizetype i = 0; i < arguments.size() && line.Error.isEmpty(); ++i) {
        const QString &argument = arguments[i];
        if (!argument.startsWith(OptionPrefix) || argument.size() == OptionPrefix.size()) {
            line.Error = QStringLiteral("unexpected argument '%1'").arg(argument);
            continue;
        }
        // "--name=value" carries its value; "--name value" takes the next argument.
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = argument.mid(OptionPrefix.size(), equals < 0 ? -1 : equals - OptionPrefix.size());
        const TOptionSpec *option = FindOption(options, name);
        if (!option) {
            line.Error = QStringLiteral("unknown option '%1'").arg(OptionPrefix + name);
        } else if (line.Has(name)) {
            line.Error = QStringLiteral("option '%1' is given twice").arg(OptionPrefix + name);
        } else if (option->ValueName.isEmpty()) {
            if (equals >= 0)
                line.Error = QStringLiteral("option '%1' takes no value").arg(OptionPrefix + name);
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
    if (!line.Error.isEmpty())
        line.Given.clear();
    return line;
}

QString UsageText(const std::vector<TOptionSpec> &options)
{
    qsizetype width = 0;
    for (const TOptionSpec &option : options)
        width = std::max(width, Synopsis(option).size());

    QString text = QStringLiteral("Usage: quelmark [OPTION]...\n"
                                  "Keeps files on FTP web sites up to date and writes this machine's current IP\n"
                                  "address into them as it uploads them. Without an option it opens its window.\n"
                                  "\n"
                                  "Options:\n");
    for (const TOptionSpec &option : options)
        text += QStringLiteral("  %1  %2\n").arg(Synopsis(option).leftJustified(width), option.Help);
    return text;
}

QString VersionLine()
{
    return QStringLiteral("quelmark ") + ProgramVersion();
}

} // namespace quelmark
