// The engine built from the parts every engine needs and none of a window's: what a program
// without a window would build.
#include "engine/Engine.h"

#include "catalogue/Catalogue.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "ftp/Ftpcli.h"
#include "ftp/Wait.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Printing.h"
#include "tests/support/TempStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace quelmark {
namespace {

TEST(Engine, WithoutAWindowsPartsItPushesTheShownSiteLogsAndChecksOnTicks)
{
    test::PyFtpServer &server = test::SharedPyFtpServer();
    if (!server.Running())
        GTEST_SKIP() << "pyftpdlib server: " << server.Failure().toStdString();
    test::TempStore store;
    ASSERT_TRUE(store.IsValid());
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("page.html"));
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("at %IP%\n");
    file.close();

    // Never shown: the persisted controls only hold the options and the shown site.
    QWidget holder;
    TGeneralOptions options(&holder, dir.filePath(QStringLiteral("copy.$$$")));
    TCatalogue catalogue(&holder, &holder);
    auto *client = new TFtpClient(&holder);
    auto *wait = new TWait(&holder);
    wait->SetInterval(100);
    auto *memoLog = new TTextArea(&holder);
    int lookups = 0;
    TEngine engine({.catalogue = &catalogue,
                    .options = &options,
                    .ftpClient = client,
                    .waitControl = wait,
                    .memoLog = memoLog,
                    .localAddress = [&lookups] {
                        ++lookups;
                        return TAddressResult::Found(QStringLiteral("198.51.100.3"));
                    }});

    const QString host = QStringLiteral("Engine_page.html");
    const QString address = QStringLiteral("127.0.0.1:") + server.PortText();
    catalogue.Shown().SetSite({.server = address, .user = server.User(), .password = server.Password()});
    catalogue.Shown().AddEntry({.localFile = local,
                                .hostFileName = host,
                                .fileType = FileType::Ascii,
                                .ipParameter = "%IP%",
                                .status = FileStatus::New});
    engine.Push().btnPushAllSiteNowClick();

    EXPECT_EQ(server.Stored(host), QByteArray("at 198.51.100.3\n"));
    EXPECT_EQ(FileEntryOf(*catalogue.Shown().lvFileDetails->Row(0)).status, FileStatus::Moved);
    EXPECT_EQ(memoLog->Lines().value(0), QStringLiteral("Connecting to: ") + address);

    // Push-all walks a navigator's sites: without one it only says that it checks.
    options.spnTestFilesMinutes->SetText(QStringLiteral("1"));
    engine.Refresh().tmrRefreshTimer();
    EXPECT_EQ(memoLog->Lines().last(), QStringLiteral(">>>> Checking all files..."));
    EXPECT_EQ(options.edtLastIPAddress->text(), QStringLiteral("198.51.100.3"));
    EXPECT_GT(lookups, 0);
}

// An engine that only judges what is due (as the benchmarks build one) has no FTP client: a
// site push with nothing due must not reach for one.
TEST(Engine, WithoutAnFtpClientASitePushWithNothingDueGoesNowhere)
{
    test::TempStore store;
    ASSERT_TRUE(store.IsValid());
    QTemporaryDir dir;
    QWidget holder;
    TGeneralOptions options(&holder, dir.filePath(QStringLiteral("copy.$$$")));
    TCatalogue catalogue(&holder, &holder);
    auto *memoLog = new TTextArea(&holder);
    TEngine engine({.catalogue = &catalogue, .options = &options, .memoLog = memoLog, .localAddress = [] {
                        return TAddressResult::Found(QStringLiteral("198.51.100.3"));
                    }});
    catalogue.Shown().AddEntry({.localFile = dir.filePath(QStringLiteral("held.html")), .status = FileStatus::Hold});

    engine.Push().btnPushAllSiteNowClick();
    EXPECT_TRUE(memoLog->Lines().isEmpty());
}

} // namespace
} // namespace quelmark
