// The engine built from the parts every engine needs and none of a window's: what a program
// without a window builds, on the store's values.
#include "engine/Engine.h"

#include "base/Wait.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Registry.h"
#include "engine/ActivityLog.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/StoreSites.h"
#include "ftp/Ftpcli.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Printing.h"
#include "tests/support/TempStore.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace quelmark {
namespace {

// The log's lines as an observer hears them.
struct HeardLines : TEngineObserver {
    void LogLine(const QString &line) override { lines.append(line); }
    QStringList lines;
};

TSiteEntries Stored(const QString &name)
{
    return TStoreSites(BaseKeyPath()).ReadSite(name);
}

TEST(Engine, WithoutAWindowsPartsItPushesASiteLogsAndChecksOnTicks)
{
    test::PyFtpServer &server = test::SharedPyFtpServer();
    if (!server.Running())
        GTEST_SKIP() << "pyftpdlib server: " << server.Failure().toStdString();
    test::TempStore store;
    ASSERT_TRUE(store.IsValid());
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("page.html"));
    ASSERT_TRUE(test::WriteFile(local, "at %IP%\n"));

    const QString host = QStringLiteral("Engine_page.html");
    const QString address = QStringLiteral("127.0.0.1:") + server.PortText();
    SaveSiteRecord(
        BaseKeyPath(),
        {{.name = QStringLiteral("site"), .server = address, .user = server.User(), .password = server.Password()},
         {StoredRowOf({.localFile = local,
                       .hostFileName = host,
                       .fileType = FileType::Ascii,
                       .ipParameter = "%IP%",
                       .status = FileStatus::New})}});
    TOptions options = InitialOptions(dir.filePath(QStringLiteral("copy.$$$")));
    options.testFilesMinutes = 1;
    TStoreSites sites(BaseKeyPath(), options);
    TFtpClient client;
    TWait wait;
    wait.SetInterval(100);
    int lookups = 0;
    TEngine engine({.data = &sites, .ftpClient = &client, .waitControl = &wait, .localAddress = [&lookups] {
                        ++lookups;
                        return TAddressResult::Found(QStringLiteral("198.51.100.3"));
                    }});
    HeardLines log;
    TObserving observing(engine, log);
    engine.Push().PushOneSite(QStringLiteral("site"), QStringLiteral("198.51.100.3"));

    EXPECT_EQ(server.Stored(host), QByteArray("at 198.51.100.3\n"));
    EXPECT_EQ(Stored(QStringLiteral("site")).entries.value(0).status, TFileStatus::Moved);
    EXPECT_EQ(log.lines.value(0), QStringLiteral("Connecting to: ") + address);

    // The tick's push of all sites walks the store's sites, where nothing is due any more.
    engine.Refresh().tmrRefreshTimer();
    EXPECT_EQ(log.lines.last(), QStringLiteral(">>>> Done checking all files..."));
    EXPECT_EQ(sites.Options().lastIPAddress, QStringLiteral("198.51.100.3"));
    EXPECT_GT(lookups, 0);
    EXPECT_TRUE(QApplication::allWidgets().isEmpty()) << "the engine makes no widget";
}

// An engine that only judges what is due (as the benchmarks build one) has no FTP client: a
// site push with nothing due must not reach for one.
TEST(Engine, WithoutAnFtpClientASitePushWithNothingDueGoesNowhere)
{
    test::TempStore store;
    ASSERT_TRUE(store.IsValid());
    QTemporaryDir dir;
    SaveSiteRecord(
        BaseKeyPath(),
        {{.name = QStringLiteral("held")},
         {StoredRowOf({.localFile = dir.filePath(QStringLiteral("held.html")), .status = FileStatus::Hold})}});
    TStoreSites sites(BaseKeyPath());
    TEngine engine(
        {.data = &sites, .localAddress = [] { return TAddressResult::Found(QStringLiteral("198.51.100.3")); }});
    HeardLines log;
    TObserving observing(engine, log);

    engine.Push().PushOneSite(QStringLiteral("held"), QStringLiteral("198.51.100.3"));
    EXPECT_TRUE(log.lines.isEmpty());
}

} // namespace
} // namespace quelmark
