// TAddressSource: finds the address this machine shows the world, from the source the user
// chose.
//
// "Local" is the program's own rule: TSockets::LocalIPAddress for IPv4 (its "0.0.0.0" for an
// own name that cannot be resolved is a failed check), the first global address of an interface
// that is up for IPv6. "Interface" takes the first address of the family on one named interface
// that is up, link-local ones left aside. "Web" fetches a page
// over HTTP or HTTPS (certificates checked against the system's authorities), "Command" runs a
// program; both take the first address of the family that stands in the answer
// (FindAddress), are bounded by TimeoutMs and let the event loop run while they wait. Local
// and Interface answer at once and never touch the HTTP machinery.
#pragma once

#include "net/AddressText.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QNetworkAccessManager;

namespace quelmark {

class AddressCheck;

enum class TAddressSourceKind { Local, Interface, Web, Command };

// Returns "Local", "Interface", "Web" or "Command".
QString AddressSourceName(TAddressSourceKind source);
// Reads one of those names; nothing for any other text.
std::optional<TAddressSourceKind> AddressSourceFromName(const QString &name);

class TAddressSource : public QObject {
    Q_OBJECT
public:
    using TLookupDone = std::function<void(QObject *sender, const TAddressResult &result)>;

    static constexpr int kDefaultTimeoutMs = 10000;
    // The most of a page or of a program's output that is read for the address.
    static constexpr qsizetype kMaxAnswer = 64 * 1024;
    static constexpr int kMaxRedirects = 3;

    explicit TAddressSource(QObject *owner = nullptr);
    // Abandons the checks that still run: pages are no longer fetched, programs are killed,
    // and OnDone hears of none of them.
    ~TAddressSource() override;

    // Looks the address up with the current settings and returns the outcome. A Web or Command
    // check dispatches the application's events until it ends (within TimeoutMs); an exception
    // that a handler raises meanwhile abandons the check and leaves here once the dispatch
    // pass that raised it has returned.
    TAddressResult Lookup();

    // Starts a lookup with the current settings and returns at once; OnDone receives the
    // outcome from the event loop. Lookups started one after another run side by side.
    void Start();

    // Abandons the checks that still run, as destruction does: a Lookup waiting for one returns
    // the failure "the check was abandoned" as soon as the handler that called this returns,
    // and OnDone hears of none of them.
    void Abandon();

    TAddressSourceKind Source() const { return m_source; }
    void SetSource(TAddressSourceKind source) { m_source = source; }
    TAddressFamily Family() const { return m_family; }
    void SetFamily(TAddressFamily family) { m_family = family; }
    QString InterfaceName() const { return m_interfaceName; }
    void SetInterfaceName(const QString &name) { m_interfaceName = name; }
    QString URL() const { return m_url; }
    void SetURL(const QString &url) { m_url = url; }
    // One command line, split like the reconnect command.
    QString Command() const { return m_command; }
    void SetCommand(const QString &command) { m_command = command; }
    int TimeoutMs() const { return m_timeoutMs; }
    void SetTimeoutMs(int milliseconds) { m_timeoutMs = milliseconds; }

    TLookupDone OnDone;

private:
    bool AnswersAtOnce() const;
    TAddressResult LookUpAtOnce() const;
    AddressCheck *MakeCheck();
    QNetworkAccessManager *Network();

    TAddressSourceKind m_source = TAddressSourceKind::Local;
    TAddressFamily m_family = TAddressFamily::IPv4;
    QString m_interfaceName;
    QString m_url;
    QString m_command;
    int m_timeoutMs = kDefaultTimeoutMs;
    QNetworkAccessManager *m_network = nullptr;
};

} // namespace quelmark
