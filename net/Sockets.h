// TSockets: the socket utility component that answers "what is this machine's address?".
//
// The lookup resolves the machine's own host name for IPv4. "127.0.0.1" is the program's word
// for "not connected": it comes back when the name resolves only to loopback addresses and no
// interface other than loopback is up with an IPv4 address. "0.0.0.0" means the name could not
// be resolved at all.
#pragma once

#include "base/Exception.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace quelmark {

// Raised by TSockets when its start-up or clean-up fails and no OnErrorOccurred is set.
class EWinsockError : public Exception {
public:
    using Exception::Exception;
};

// One IPv4 address of a network interface, as the system lists them.
struct InterfaceAddress {
    std::uint32_t address = 0; // host byte order
    bool up = false;
    bool loopback = false;
};

// Chooses the local address from the host name's resolved IPv4 addresses (host byte order, in
// the resolver's order; empty when the name could not be resolved) and the interfaces' IPv4
// addresses: the first resolved address outside 127.0.0.0/8; failing that the first interface
// address that is up, not loopback and outside 127.0.0.0/8; failing that "127.0.0.1". An empty
// resolution gives "0.0.0.0".
QString SelectLocalAddress(const std::vector<std::uint32_t> &resolved, const std::vector<InterfaceAddress> &interfaces);

// Formats an IPv4 address (host byte order) in dotted-decimal form.
QString DottedQuad(std::uint32_t address);

class TSockets : public QObject {
    Q_OBJECT
public:
    using TErrorOccurred =
        std::function<void(QObject *sender, std::int32_t socket, std::int32_t error, const QString &msg)>;

    explicit TSockets(QObject *owner = nullptr);
    ~TSockets() override;

    // Returns this machine's current IPv4 address in dotted-decimal form; never raises.
    QString LocalIPAddress() const;

    // Reports a socket-library failure: to OnErrorOccurred with the error's text when it is
    // set, otherwise by raising EWinsockError with the two-line message
    // "Winsock Error: <error> in function <function>" CR LF <text>.
    void ReportWinsockError(std::int32_t socket, const QString &function, std::int32_t error);

    // True between the library's start-up and its clean-up.
    bool Started() const { return m_started; }

    std::int32_t MaximumReceiveLength() const { return m_maximumReceiveLength; }
    void SetMaximumReceiveLength(std::int32_t length) { m_maximumReceiveLength = length; }

    TErrorOccurred OnErrorOccurred;

private:
    bool m_started = false;
    std::int32_t m_maximumReceiveLength = 8192;
};

} // namespace quelmark
