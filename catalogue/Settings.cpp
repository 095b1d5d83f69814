#include "catalogue/Settings.h"

#include "base/Overloaded.h"
#include "catalogue/Keyring.h"
#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"

#include <algorithm>
#include <variant>

namespace quelmark {

namespace {

// How an option is stored: a flag as "1" or "0", a number in decimal kept inside its range, a
// text as it is.
struct TFlag {
    bool TOptions::*value;
};
struct TCount {
    int TOptions::*value;
    int minimum;
    int maximum;
};
struct TText {
    QString TOptions::*value;
};

struct TOptionRow {
    const QString &storeName;
    std::variant<TFlag, TCount, TText> kind;
};

// In the order the page makes its controls, which is the order they are saved in.
const TOptionRow kOptions[] = {
    {store::Autoprocess, TFlag{&TOptions::autoProcess}},
    {store::MinsTestFiles, TCount{&TOptions::testFilesMinutes, kMinTestFilesMinutes, kMaxTestFilesMinutes}},
    {store::DetailedLogging, TFlag{&TOptions::detailedLogging}},
    {store::TempFileName, TText{&TOptions::tempFileName}},
    {store::DefaultIPParam, TText{&TOptions::defaultIPParam}},
    {store::TimeStampLog, TFlag{&TOptions::timeStampLog}},
    {store::LastIPAddress, TText{&TOptions::lastIPAddress}},
    {store::RedialCommand, TText{&TOptions::redialCommand}},
    {store::AutoReconnect, TFlag{&TOptions::autoReconnect}},
    {store::CloseToTray, TFlag{&TOptions::closeToTray}},
    {store::AddressSource, TText{&TOptions::addressSource}},
    {store::AddressInterface, TText{&TOptions::addressInterface}},
    {store::AddressURL, TText{&TOptions::addressURL}},
    {store::AddressCommand, TText{&TOptions::addressCommand}},
    {store::AddressFamily, TText{&TOptions::addressFamily}},
    {store::ReuseSession, TFlag{&TOptions::reuseSession}},
    {store::WatchChanges, TFlag{&TOptions::watchChanges}},
    {store::AddressChangedCommand, TText{&TOptions::addressChangedCommand}},
    {store::UseKeyring, TFlag{&TOptions::useKeyring}},
};

} // namespace

int TestFilesMinutes(const QString &text)
{
    bool ok = false;
    const int minutes = text.trimmed().toInt(&ok);
    return ok ? minutes : 1;
}

TOptions InitialOptions(const QString &tempFileName)
{
    TOptions options;
    options.tempFileName = tempFileName;
    options.useKeyring = KeyringAnswers();
    return options;
}

void ReadOptions(TRegIniFile &ini, TOptions &options)
{
    const QString &section = store::GeneralOptions;
    for (const TOptionRow &row : kOptions) {
        std::visit(
            TOverloaded{
                [&](const TFlag &f) { options.*f.value = ini.ReadFlag(section, row.storeName, options.*f.value); },
                [&](const TCount &c) {
                    options.*c.value =
                        std::clamp(ini.ReadNumber(section, row.storeName, options.*c.value), c.minimum, c.maximum);
                },
                [&](const TText &t) { options.*t.value = ini.ReadText(section, row.storeName, options.*t.value); }},
            row.kind);
    }
}

void WriteOptions(TRegIniFile &ini, const TOptions &options)
{
    const QString &section = store::GeneralOptions;
    for (const TOptionRow &row : kOptions) {
        std::visit(TOverloaded{[&](const TFlag &f) { ini.WriteFlag(section, row.storeName, options.*f.value); },
                               [&](const TCount &c) {
                                   ini.WriteNumber(section, row.storeName,
                                                   std::clamp(options.*c.value, c.minimum, c.maximum));
                               },
                               [&](const TText &t) { ini.WriteText(section, row.storeName, options.*t.value); }},
                   row.kind);
    }
}

TOptions LoadOptions(const QString &basePath, const TOptions &initial)
{
    TOptions options = initial;
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    ReadOptions(ini, options);
    transaction.Commit();
    return options;
}

void SaveOptions(const QString &basePath, const TOptions &options)
{
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    WriteOptions(ini, options);
    transaction.Commit();
}

} // namespace quelmark
