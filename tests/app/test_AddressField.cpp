// The address in the window: where it comes from, what the toolbar shows of it, and a window
// that stays alive while a slow source is asked.
#include "app/F_Main.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "engine/ChangeDetection.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "net/Sockets.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Printing.h"
#include "tests/support/StoreScript.h"
#include "tests/support/WindowTest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

class AddressFieldTest : public test::WindowTest {
protected:
    QLineEdit *Field() const { return window->findChild<QLineEdit *>(QStringLiteral("edtLocalAddress")); }
    QStringList LogLines() const { return window->findChild<TTextArea *>(QStringLiteral("memoLog"))->Lines(); }
};

// A store written before the address options existed: the "Local" rule, the page written with
// the machine's own address at the next check, and no word about address checks.
TEST_F(AddressFieldTest, AStoreOfThePreviousVersionKeepsTheLocalRule)
{
    const QString address = TSockets().LocalIPAddress();
    if (address == QLatin1String("127.0.0.1"))
        GTEST_SKIP() << "this machine has no address outside loopback";
    test::PyFtpServer &server = test::SharedPyFtpServer();
    if (!server.Running())
        GTEST_SKIP() << server.Failure().toStdString();
    const QString page = folder.filePath(QStringLiteral("page.html"));
    ASSERT_TRUE(test::WriteFile(page, "at %IP%\n"));
    QString date, size, attribs;
    ASSERT_TRUE(GetFileDetails(page, date, size, attribs));
    test::StoreScript old;
    old.Option(store::MinsTestFiles, QStringLiteral("1"));
    old.Option(store::TempFileName, folder.filePath(QStringLiteral("upload.tmp")));
    old.Option(store::LastIPAddress, QStringLiteral("10.9.8.7"));
    old.Site(QStringLiteral("home"), QStringLiteral("127.0.0.1:") + server.PortText(), server.User(), server.Password(),
             {{page, "AStoreOfThePreviousVersion.html", "Ascii", "%IP%", "Moved", date, size, attribs}});
    ASSERT_TRUE(QDir().mkpath(QFileInfo(store.FilePath()).path()));
    ASSERT_EQ(old.WriteTo(store.FilePath()), QString());

    Open();
    const TGeneralOptions &o = window->Options();
    EXPECT_EQ(o.cmbAddressSource->currentText(), AddressFrom::Local);
    EXPECT_EQ(o.cmbAddressFamily->currentText(), IPVersion::IPv4);
    EXPECT_EQ(Field()->text(), address);
    EXPECT_EQ(Field()->toolTip(), QStringLiteral("Address from: Local"));
    auto *form = static_cast<QFormLayout *>(o.edtAddressURL->parentWidget()->layout());
    for (QWidget *field : {static_cast<QWidget *>(o.cmbAddressInterface), static_cast<QWidget *>(o.edtAddressURL),
                           static_cast<QWidget *>(o.edtAddressCommand)})
        EXPECT_FALSE(form->isRowVisible(field)) << "\"Local\" needs no field";

    window->RefreshCycle().tmrRefreshTimer();
    EXPECT_EQ(server.Stored(QStringLiteral("AStoreOfThePreviousVersion.html")), "at " + address.toLatin1() + "\n");
    EXPECT_EQ(o.edtLastIPAddress->text(), address);
    EXPECT_EQ(LogLines().filter(QStringLiteral("Address check")), QStringList());
}

// The field shows the address of the source as soon as a change of the options is complete,
// keeps the last good one when the source fails, and its tooltip names the source and the
// failure.
TEST_F(AddressFieldTest, TheToolbarFieldShowsTheAddressInUseAndItsTooltipNamesTheSource)
{
    test::HttpAddressServer &http = test::SharedHttpAddressServer();
    if (!http.Running())
        GTEST_SKIP() << http.Failure().toStdString();
    Open();
    TGeneralOptions &o = window->Options();
    const QString unavailable = http.Url(QStringLiteral("/status/503"));
    const struct {
        QString source;
        QString family;
        QString detail;
        QString shown;
        QString tooltip;
    } rows[] = {
        {AddressFrom::Command, IPVersion::IPv4, QStringLiteral("echo 198.51.100.9"), QStringLiteral("198.51.100.9"),
         QStringLiteral("Address from: Command (echo 198.51.100.9)")},
        {AddressFrom::Web, IPVersion::IPv4, unavailable, QStringLiteral("198.51.100.9"),
         QStringLiteral("Address from: Web (%1)\nAddress check failed: %1 answered 503").arg(unavailable)},
        {AddressFrom::Interface, IPVersion::IPv6, QStringLiteral("lo"), QStringLiteral("::1"),
         QStringLiteral("Address from: Interface (lo), IPv6")},
        {AddressFrom::Local, IPVersion::IPv4, QString(), TSockets().LocalIPAddress(),
         QStringLiteral("Address from: Local")},
    };
    for (const auto &row : rows) {
        o.cmbAddressInterface->setEditText(row.source == AddressFrom::Interface ? row.detail : QString());
        o.edtAddressURL->setText(row.source == AddressFrom::Web ? row.detail : QString());
        o.edtAddressCommand->setText(row.source == AddressFrom::Command ? row.detail : QString());
        o.cmbAddressFamily->setCurrentText(row.family);
        // The user's choice of the source completes the change.
        o.cmbAddressSource->setCurrentText(row.source);
        emit o.cmbAddressSource->activated(o.cmbAddressSource->currentIndex());
        const std::string what = row.tooltip.toStdString();
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return Field()->toolTip() == row.tooltip && Field()->text() == row.shown; }, 5000))
            << what << " shown: " << Field()->text().toStdString() << ", " << Field()->toolTip().toStdString();
    }
}

// A check that takes 9 s: the window's own timer keeps firing all through it, the window takes
// input meanwhile, and the address found is then in both fields.
TEST_F(AddressFieldTest, ANineSecondCheckLeavesTheWindowAlive)
{
    test::HttpAddressServer &http = test::SharedHttpAddressServer();
    if (!http.Running())
        GTEST_SKIP() << http.Failure().toStdString();
    Open();
    TGeneralOptions &o = window->Options();
    o.spnTestFilesMinutes->SetText(QStringLiteral("1"));
    o.edtAddressURL->setText(http.Url(QStringLiteral("/slow/9/203.0.113.7")));
    o.cmbAddressSource->setCurrentText(AddressFrom::Web);

    int ticks = 0;
    int enabledTicks = 0;
    QTimer timer(window.get());
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        enabledTicks += window->isEnabled() ? 1 : 0;
    });
    timer.start(100);
    QElapsedTimer clock;
    clock.start();
    window->RefreshCycle().tmrRefreshTimer();
    const qint64 took = clock.elapsed();
    const int during = ticks;

    EXPECT_GE(took, 8000) << "the check did not wait for the slow answer";
    EXPECT_GE(during, 20) << "the timer fired " << during << " times in " << took << " ms";
    EXPECT_EQ(enabledTicks, during) << "the window took no input during the check";
    EXPECT_EQ(Field()->text(), QStringLiteral("203.0.113.7"));
    EXPECT_EQ(o.edtLastIPAddress->text(), QStringLiteral("203.0.113.7"));
}

} // namespace
