// The HTTP server the address checks of the tests ask, on a free port of 127.0.0.1; the path
// of a request chooses its answer (tests/support/servers/http_address_server.py lists them).
#pragma once

#include <QProcess>
#include <QString>

#include <cstdint>

namespace quelmark::test {

class HttpAddressServer {
public:
    HttpAddressServer();
    ~HttpAddressServer();
    HttpAddressServer(const HttpAddressServer &) = delete;
    HttpAddressServer &operator=(const HttpAddressServer &) = delete;

    bool Running() const { return m_failure.isEmpty(); }
    QString Failure() const { return m_failure; }
    // Returns "http://127.0.0.1:<port>" followed by the path.
    QString Url(const QString &path) const;

private:
    QProcess m_process;
    std::uint16_t m_port = 0;
    QString m_failure;
};

// Returns the server that all tests of this program share, started at its first use.
HttpAddressServer &SharedHttpAddressServer();

} // namespace quelmark::test
