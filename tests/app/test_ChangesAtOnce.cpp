// "Push changes at once" in the real main window: one site on a real FTP server, in a network
// namespace of the test's own, the address from an interface there (or a web check), the timer
// started by "Auto-process" and its period an hour, so only the watches can push within the test.
#include "app/F_Main.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "engine/TextArea.h"
#include "tests/support/FtpServers.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"
#include "tests/support/StoreScript.h"
#include "tests/support/TempStore.h"
#include "tests/support/TestModes.h"
#include "tests/support/WatchedSite.h"

#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace quelmark;

namespace {

class ChangesAtOnceWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    test::TestModes<TMessageBox> modes;
    QTemporaryDir folder;
};

TEST_F(ChangesAtOnceWindow, ANewAddressAndASavedPageGoUpAtOnceAndAFailingCheckGreysTheAddress)
{
    if (!test::InsideNamespace())
        return test::RerunInNamespace(test::WatchedInterfaceSetUp());
    test::WatchedServers servers;
    ASSERT_EQ(servers.Failure(), QString());
    const test::PyFtpServer &server = servers.ftp;
    for (const test::WatchedChange &row : test::WatchedChanges(folder.path(), servers)) {
        ASSERT_TRUE(test::SetInterfaceAddress(test::kFirstAddress));
        test::TempStore store;
        ASSERT_EQ(test::WriteWatchedSite(store.FilePath(), folder.path(), server, row.store), QString()) << row.what;
        TfrmMain window;
        window.show();
        ASSERT_TRUE(row.change()) << row.what;
        const QString file = QString::fromLatin1(row.file);
        const bool shown = QTest::qWaitFor([&] { return server.Stored(file).contains(row.shows.toLatin1()); },
                                           row.atOnce ? 5000 : 4000);
        EXPECT_EQ(shown, row.atOnce) << row.what;
        auto *log = window.findChild<TTextArea *>(QStringLiteral("memoLog"));
        for (const QString &line : row.logged) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return log->Lines().contains(line); }, 3000))
                << row.what << ": " << line.toStdString() << "\n"
                << log->Lines().join('\n').toStdString();
        }
        auto *field = window.findChild<QLineEdit *>(QStringLiteral("edtLocalAddress"));
        // A failing check greys the address field, its tooltip saying why.
        EXPECT_EQ(field->property("stale").toBool(), row.checkFailed) << row.what;
        EXPECT_EQ(field->palette().color(QPalette::Active, QPalette::Text) ==
                      field->palette().color(QPalette::Disabled, QPalette::Text),
                  row.checkFailed)
            << row.what;
        EXPECT_EQ(field->toolTip().contains(QStringLiteral("Last good address; the check at ")), row.checkFailed)
            << row.what << ": " << field->toolTip().toStdString();
        if (row.checkFailed) {
            EXPECT_TRUE(field->toolTip().endsWith(QStringLiteral("failed: %1 answered 503").arg(servers.Unavailable())))
                << field->toolTip().toStdString();
        }
        window.close();
    }
}

} // namespace
