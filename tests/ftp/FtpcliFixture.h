// The FTP client aimed at the scripted server with short waits, recording the lines it shows and
// the progress it reports.
#pragma once

#include "base/Wait.h"
#include "ftp/Ftpcli.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace quelmark::test {

inline constexpr std::int32_t Ticks = 10;   // per wait
inline constexpr std::uint16_t TickMs = 40; // so a timed-out wait lasts 0.4 s

class FtpcliFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        wait.SetInterval(TickMs);
        client.SetWait(&wait);
        client.SetTimeOut(Ticks);
        // The line is the handler's to change: the client must not rely on it afterwards.
        client.OnDisplay = [this](QObject *sender, QString &msg) {
            EXPECT_EQ(sender, &client);
            lines += msg;
            msg = QStringLiteral("changed by the handler");
        };
        client.OnProgress = [this](QObject *, std::int64_t count, bool &abort) {
            progress.push_back(count);
            if (onProgress)
                onProgress(count, abort);
        };
    }

    // Writes a local file of these bytes in the test's folder and returns its path.
    QString LocalFile(const QByteArray &bytes, const QString &name = QStringLiteral("page.html"))
    {
        return Written(dir.filePath(name), bytes);
    }

    // Points the client at the server as user "user" with password "secret", to store the local
    // file as page.html.
    void Aim(const ScriptedFtpServer &server, const QString &localPath)
    {
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        client.Site().host = QStringLiteral("127.0.0.1");
        client.Site().port = server.PortText();
        client.Site().user = QStringLiteral("user");
        client.Site().password = QStringLiteral("secret");
        client.File().remote = QStringLiteral("page.html");
        client.File().local = localPath;
    }

    void ExpectAllClosed()
    {
        EXPECT_FALSE(client.LoggedIn());
        EXPECT_FALSE(client.LocalFileOpen());
        EXPECT_EQ(client.ControlSocket().State(), TSocketState::Closed);
        EXPECT_EQ(client.DataSocket().State(), TSocketState::Closed);
    }

    QTemporaryDir dir;
    TWait wait;
    TFtpClient client;
    QStringList lines;
    std::vector<std::int64_t> progress;
    std::function<void(std::int64_t, bool &)> onProgress;
};

} // namespace quelmark::test
