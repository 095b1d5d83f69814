#include "engine/AddressChoice.h"

#include "catalogue/GeneralOptions.h"
#include "catalogue/P_Types.h"
#include "net/NetworkInterfaces.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace quelmark {
namespace {

using test::EntryTexts;

class AddressChoiceTest : public test::EngineServerTest {
protected:
    void SetUp() override
    {
        EngineServerTest::SetUp();
        if (w)
            w->options->spnTestFilesMinutes->SetText(QStringLiteral("1"));
    }

    // The name of the site's page on the server.
    static QString Page(const QString &site) { return Host(site + QStringLiteral(".html")); }

    // Stores a site whose one page carries the address and is otherwise unchanged since its
    // last push, so only a change of address makes it due.
    void StorePageSite(const QString &name)
    {
        const QString path = test::Written(dir.filePath(name + QStringLiteral(".html")), "at %IP%\n");
        QString date, size, attribs;
        ASSERT_TRUE(GetFileDetails(path, date, size, attribs));
        w->StoreSite(name, server->User(), server->Password(),
                     {EntryTexts{path, {Page(name), FileType::Ascii, "%IP%", FileStatus::Moved, date, size, attribs}}});
    }

    QByteArray OnServer(const QString &site) const { return server->Stored(Page(site)); }

    // Chooses the source as the General Options page does.
    void Choose(const QString &source, const QString &family = IPVersion::IPv4)
    {
        w->options->cmbAddressSource->setCurrentText(source);
        w->options->cmbAddressFamily->setCurrentText(family);
        w->UseTheChosenSource();
    }
};

// The address is looked up once per push-all; every file of it, change detection, the copies
// and both address fields see that one answer.
TEST_F(AddressChoiceTest, APushAllLooksTheAddressUpOnceForEveryFileAndBothFields)
{
    StorePageSite(QStringLiteral("a"));
    StorePageSite(QStringLiteral("b"));
    w->Build();
    // Each look-up finds another address, so a second one would show.
    w->lookup = [this] { return TAddressResult::Found(QStringLiteral("198.51.100.%1").arg(w->lookups)); };
    w->push->btnPushAllNowClick();
    EXPECT_EQ(w->lookups, 1);
    EXPECT_EQ(OnServer(QStringLiteral("a")), "at 198.51.100.1\n");
    EXPECT_EQ(OnServer(QStringLiteral("b")), "at 198.51.100.1\n");
    EXPECT_EQ(w->options->edtLastIPAddress->text(), QStringLiteral("198.51.100.1"));
    EXPECT_EQ(w->parts.edtLocalAddress->text(), QStringLiteral("198.51.100.1"));
}

// A check that fails while the machine has an address of its own is the source's failure: the
// pages without an address go out, those with one wait with the last good address, and the
// reconnect command stays unused. On a machine with only loopback it is "not connected", with
// the reconnect command under "Auto-reconnect".
TEST_F(AddressChoiceTest, AFailedCheckHoldsBackOnlyThePagesWithAnAddressUnlessTheMachineHasNone)
{
    if (!test::InsideNamespace() && !MachineHasOwnAddress())
        GTEST_SKIP() << "this machine has no address outside loopback";
    test::HttpAddressServer &http = test::SharedHttpAddressServer();
    if (!http.Running())
        GTEST_SKIP() << http.Failure().toStdString();
    StorePageSite(QStringLiteral("a"));
    const QString plain = dir.filePath(QStringLiteral("plain.txt"));
    ASSERT_TRUE(test::WriteFile(plain, "no address here\n"));
    w->StoreSite(QStringLiteral("b"), server->User(), server->Password(),
                 {EntryTexts{plain, {Page(QStringLiteral("b")), FileType::Ascii, "", FileStatus::New, "", "", ""}}});
    w->Build();
    test::CheckReports heard;
    TObserving observing(*w->engine, heard);
    const QString unavailable = http.Url(QStringLiteral("/status/503"));
    const QString garbage = http.Url(QStringLiteral("/answer/") + QUrl::toPercentEncoding("no address, 1.2.3"));
    const QString reconnect = QStringLiteral("true");
    const bool offline = test::InsideNamespace();
    const struct {
        QString source;
        QString where;
        QString reason;
    } rows[] = {
        {AddressFrom::Web, unavailable, QStringLiteral("%1 answered 503").arg(unavailable)},
        {AddressFrom::Web, garbage, QStringLiteral("no IPv4 address in the answer")},
        {AddressFrom::Command, QStringLiteral("sh -c 'exit 3'"), QStringLiteral("sh -c 'exit 3' exited with status 3")},
    };
    for (const auto &row : rows) {
        const std::string what = (row.source + QLatin1Char(' ') + row.where).toStdString();
        w->options->edtAddressURL->setText(row.source == AddressFrom::Web ? row.where : QString());
        w->options->edtAddressCommand->setText(row.source == AddressFrom::Command ? row.where : QString());
        w->options->chkAutoReconnect->setChecked(true);
        w->options->edtRedialCommand->setText(reconnect);
        Choose(row.source);
        w->parts.memoLog->ClearLines();
        w->cycle->tmrRefreshTimer();

        const QString failure = QStringLiteral("Address check failed: ") + row.reason;
        const QStringList lines = w->LogLines();
        if (offline) {
            EXPECT_EQ(lines, (QStringList{failure, QStringLiteral("*****Disconnected from network..."),
                                          QStringLiteral("*****Running command: ") + reconnect,
                                          QStringLiteral("*****Waiting for one minute...")}))
                << what;
            EXPECT_TRUE(OnServer(QStringLiteral("b")).isNull()) << what;
        } else {
            EXPECT_EQ(lines.value(0),
                      QStringLiteral("Address check failed (%1); pages with an address wait").arg(row.reason))
                << what;
            EXPECT_EQ(lines.filter(QStringLiteral("Address check failed")).size(), 1) << what;
            EXPECT_EQ(lines.filter(QRegularExpression(QStringLiteral("^(\\*\\*\\*\\*\\*|!!!!!)"))), QStringList())
                << what;
            EXPECT_EQ(OnServer(QStringLiteral("b")), "no address here\n") << what;
            ASSERT_FALSE(heard.reports.isEmpty()) << what;
            EXPECT_EQ(heard.reports.last().addressFailure, failure) << what;
        }
        EXPECT_TRUE(OnServer(QStringLiteral("a")).isNull()) << what;
        EXPECT_EQ(w->options->edtLastIPAddress->text(), QStringLiteral("10.20.30.40")) << what;
        EXPECT_EQ(w->parts.edtLocalAddress->text(), QStringLiteral("10.20.30.40")) << what;
    }
    if (!offline)
        test::RerunInNamespace();
}

// An address the world cannot reach is used all the same; the log says so once per run and
// address. A private address of the "Local" rule brings a hint towards "Web".
TEST_F(AddressChoiceTest, AnUnreachableAddressIsUsedAndNotedOnce)
{
    using K = TAddressSourceKind;
    const struct {
        TAddressSourceKind source;
        const char *address;
        const char *note; // how the note begins; empty when there is none
    } rows[] = {
        {K::Web, "192.168.1.20", "Warning: 192.168.1.20 from \"Web\" is a private address"},
        {K::Command, "127.0.0.1", "Warning: 127.0.0.1 from \"Command\" is a loopback address"},
        {K::Web, "169.254.3.4", "Warning: 169.254.3.4 from \"Web\" is a link-local address"},
        {K::Command, "100.64.0.9", "Warning: 100.64.0.9 from \"Command\" is a CGNAT address"},
        {K::Web, "2001:db8::7", ""},
        {K::Local, "10.1.2.3", "Hint: 10.1.2.3 is a private address"},
        {K::Local, "203.0.113.7", ""},
        {K::Interface, "10.1.2.3", ""},
    };
    for (const auto &row : rows) {
        const QString note = AddressNote(row.source, QString::fromLatin1(row.address));
        const QString begins = QString::fromLatin1(row.note);
        EXPECT_EQ(note.left(begins.size()), begins) << row.address;
        EXPECT_EQ(note.isEmpty(), begins.isEmpty()) << row.address;
    }

    StorePageSite(QStringLiteral("a"));
    w->Build();
    w->options->edtAddressCommand->setText(QStringLiteral("echo 10.0.0.5"));
    Choose(AddressFrom::Command);
    for (int check = 0; check < 2; ++check)
        w->cycle->tmrRefreshTimer();
    EXPECT_EQ(OnServer(QStringLiteral("a")), "at 10.0.0.5\n");
    EXPECT_EQ(w->LogLines().filter(QStringLiteral("Warning: 10.0.0.5 from \"Command\"")).size(), 1);
}

// The interface case runs this test program again inside a network namespace made for it,
// with a veth pair whose one end holds a global IPv6 address.
TEST_F(AddressChoiceTest, AnInterfaceWithIpv6WritesItsGlobalAddressIntoThePage)
{
    if (!test::InsideNamespace()) {
        return test::RerunInNamespace(
            QStringLiteral("ip link add qc0 type veth peer name qc1 && ip addr add 192.0.2.10/24 dev qc0 && "
                           "ip -6 addr add 2001:db8:7::10/64 dev qc0 nodad && ip link set qc0 up && "
                           "ip link set qc1 up"));
    }
    // The kernel adds the link-local address beside the global one once the link is up.
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            for (const TNetworkInterface &entry : ListNetworkInterfaces()) {
                if (entry.name == QLatin1String("qc0"))
                    return entry.ipv6.size() >= 2;
            }
            return false;
        },
        5000));
    StorePageSite(QStringLiteral("a"));
    w->Build();
    w->options->cmbAddressInterface->setEditText(QStringLiteral("qc0"));
    Choose(AddressFrom::Interface, IPVersion::IPv6);
    w->cycle->tmrRefreshTimer();
    EXPECT_EQ(OnServer(QStringLiteral("a")), QByteArray("at 2001:db8:7::10\n"))
        << w->LogLines().join('\n').toStdString();
    EXPECT_EQ(w->options->edtLastIPAddress->text(), QStringLiteral("2001:db8:7::10"));
}

} // namespace
} // namespace quelmark
