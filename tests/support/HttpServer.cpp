#include "tests/support/HttpServer.h"

namespace quelmark::test {

HttpAddressServer::HttpAddressServer()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(QUELMARK_SOURCE_DIR "/tests/support/servers/http_address_server.py")});
    while (!m_process.canReadLine() && m_process.waitForReadyRead(15000)) {
    }
    bool ok = false;
    const int port = QString::fromLatin1(m_process.readLine()).trimmed().toInt(&ok);
    if (ok && port > 0)
        m_port = static_cast<std::uint16_t>(port);
    else
        m_failure = QStringLiteral("the HTTP server printed no port: ") + m_process.errorString();
}

HttpAddressServer::~HttpAddressServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString HttpAddressServer::Url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

HttpAddressServer &SharedHttpAddressServer()
{
    static HttpAddressServer server;
    return server;
}

} // namespace quelmark::test
