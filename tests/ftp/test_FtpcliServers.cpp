// The FTP client against real servers on loopback: every size that matters around the block
// length, both transfer types, with and without a directory; the bytes are checked where the
// server stored them.
#include "base/Wait.h"
#include "ftp/Ftpcli.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <random>

using namespace quelmark;
using namespace quelmark::test;

namespace {

enum class Server { Pyftpdlib, Vsftpd };

struct Upload {
    Server server;
    qint64 size;
    bool binary;
    bool directory;
};

std::string Name(const ::testing::TestParamInfo<Upload> &info)
{
    const Upload &u = info.param;
    return std::string(u.server == Server::Pyftpdlib ? "pyftpdlib" : "vsftpd") + "_" + std::to_string(u.size) +
           (u.binary ? "_I" : "_A") + (u.directory ? "_dir" : "");
}

// One server of each kind for the whole program: starting vsftpd per case would dominate.
FtpServerProcess &Shared(Server kind)
{
    if (kind == Server::Pyftpdlib)
        return SharedPyFtpServer();
    static VsftpServer vsftpd;
    return vsftpd;
}

QByteArray RandomBytes(qint64 size)
{
    std::mt19937_64 random(static_cast<std::uint64_t>(size) * 2654435761u + 1);
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t word = random();
        std::memcpy(bytes.data() + i, &word, 8);
    }
    for (; i < size; ++i)
        bytes[i] = static_cast<char>(random() & 0xFF);
    return bytes;
}

// pyftpdlib turns CR LF into LF on an ASCII upload; vsftpd stores ASCII uploads as sent.
QByteArray StoredForm(QByteArray bytes, const Upload &u)
{
    if (u.binary || u.server != Server::Pyftpdlib)
        return bytes;
    bytes.replace("\r\n", "\n");
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return bytes;
}

class FtpcliServers : public ::testing::TestWithParam<Upload> {};

TEST_P(FtpcliServers, StoresExactlyTheLocalBytes)
{
    const Upload u = GetParam();
    FtpServerProcess &server = Shared(u.server);
    if (!server.Running())
        GTEST_SKIP() << server.Failure().toStdString();

    QTemporaryDir local;
    const QString path = local.filePath(QStringLiteral("upload.bin"));
    const QByteArray bytes = RandomBytes(u.size);
    ASSERT_TRUE(WriteFile(path, bytes));
    const QString remote = QString::fromStdString(Name({u, 0}));
    QString relative = remote;
    if (u.directory) {
        const QString sub = QDir(server.Home()).filePath(QStringLiteral("www"));
        QDir().mkpath(sub);
        ::chmod(sub.toLocal8Bit().constData(), 0777);
        relative = QStringLiteral("www/") + remote;
    }

    TWait wait;
    wait.SetInterval(200);
    TFtpClient client;
    client.SetWait(&wait);
    client.SetTimeOut(25);
    client.Site().host = QStringLiteral("127.0.0.1");
    client.Site().port = server.PortText();
    client.Site().user = server.User();
    client.Site().password = server.Password();
    client.Site().folder = u.directory ? QStringLiteral("www") : QString();
    client.File() = {.local = path, .remote = remote, .binary = u.binary};
    QStringList lines;
    std::int64_t lastProgress = -1;
    client.OnDisplay = [&](QObject *, QString &msg) { lines += msg; };
    client.OnProgress = [&](QObject *, std::int64_t count, bool &) { lastProgress = count; };

    EXPECT_TRUE(client.Put()) << client.ErrorMessage().toStdString() << "\n" << lines.join('\n').toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("Done"));
    EXPECT_EQ(lastProgress, u.size);
    EXPECT_TRUE(lines.contains(QStringLiteral("> TYPE ") + (u.binary ? 'I' : 'A')));
    const QByteArray stored = server.Stored(relative);
    EXPECT_EQ(stored.size(), StoredForm(bytes, u).size());
    EXPECT_TRUE(stored == StoredForm(bytes, u)) << "stored bytes differ";
}

std::vector<Upload> Uploads()
{
    const qint64 sizes[] = {0, 1, 1023, 1024, 1025, 2500, 1 << 20};
    std::vector<Upload> rows;
    for (Server server : {Server::Pyftpdlib, Server::Vsftpd}) {
        int i = 0;
        for (qint64 size : sizes) {
            rows.push_back({server, size, i % 2 == 0, i % 3 != 0});
            ++i;
        }
        rows.push_back({server, 2500, false, false});
        rows.push_back({server, 1 << 20, false, true});
        rows.push_back({server, qint64(64) << 20, true, true});
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Sizes, FtpcliServers, ::testing::ValuesIn(Uploads()), Name);

} // namespace
