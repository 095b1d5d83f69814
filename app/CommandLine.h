// CommandLine: the options quelmark takes, their parsing and the usage text.
//
// The options are one table; an option is added by adding its row there and reading it with
// Has() or Value() in main. Parsing needs no application object, so an answer that needs no
// window (--help, --version) comes before any display is looked for. The window-system options
// that Qt itself takes (a session manager restoring the window passes "-session ID") are set
// aside for Qt rather than refused.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

namespace quelmark {

// One option of the table: "--Name", or "--Name VALUE" / "--Name=VALUE" when ValueName is set;
// also "-Short" when Short is set.
struct TOptionSpec {
    QString Name;
    QString ValueName;
    QString Help;
    QString Short{};
};

// What the program is asked to run: its window, or one of the runs without a window.
enum class TRunMode { Window, PushAll, DryRun, Service, ListSites };

// What the command line asks for: the options given, or why the arguments cannot be used.
struct TCommandLine {
    // Returns whether the option was given.
    bool Has(const QString &name) const { return Given.contains(name); }
    // Returns the value given with the option, empty for a switch or an option not given.
    QString Value(const QString &name) const { return Given.value(name); }

    QMap<QString, QString> Given;
    // Qt's own window-system options, with their values, in the order given.
    QStringList WindowArguments;
    TRunMode Mode = TRunMode::Window;
    QString Error;
};

// Returns the options quelmark knows, in the order the usage lists them.
const std::vector<TOptionSpec> &ProgramOptions();

// Parses the arguments after the program's name against the table; Qt's window-system options
// ("-session ID", "-style=NAME", ...) go to WindowArguments. An unknown option, a missing value,
// a value given to a switch, an option given twice or any other argument that is not an option
// sets Error.
TCommandLine ParseCommandLine(const QStringList &arguments, const std::vector<TOptionSpec> &options = ProgramOptions());

// Parses the program's own command line and sets Mode from --push-all, --dry-run, --service or
// --list-sites;
// more than one of them, or --site without --push-all or --dry-run, sets Error.
TCommandLine ParseProgramCommandLine(const QStringList &arguments);

// Returns the usage: the synopsis, what the program does without options, and each option with
// its help, wrapped within 80 columns.
QString UsageText(const std::vector<TOptionSpec> &options = ProgramOptions());

// Returns the program's version, as the build names it.
QString ProgramVersion();

// Returns the line --version prints: "quelmark <version>".
QString VersionLine();

} // namespace quelmark
