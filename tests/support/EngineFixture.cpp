#include "tests/support/EngineFixture.h"

#include "catalogue/P_Utils.h"
#include "catalogue/Registry.h"

namespace quelmark::test {

EngineWindow::EngineWindow(std::uint16_t waitIntervalMs)
{
    options->edtTempFileName->setText(DefaultUploadCopyPath());
    options->edtLastIPAddress->setText(localAddress);
    sites = std::make_unique<TWindowSites>(*catalogue, *navigator, *options);
    parts.data = sites.get();
    parts.ftpClient = Named(new TFtpClient(&window), "ftpClient");
    parts.waitControl = Named(new TWait(&window), "waitControl");
    parts.waitControl->SetInterval(waitIntervalMs);
    parts.memoLog = Named(new TTextArea(&window), "memoLog");
    parts.localAddress = [this] {
        ++lookups;
        if (lookup)
            return lookup();
        if (localAddress != QLatin1String("127.0.0.1"))
            return TAddressResult::Found(localAddress);
        TAddressResult notConnected = TAddressResult::Failed(QStringLiteral("no IPv4 address outside loopback"));
        notConnected.address = localAddress;
        return notConnected;
    };
    m_source = new TAddressSource(&window);
    parts.abandonAddressCheck = [this] { m_source->Abandon(); };
    parts.mainWindow = &window;
    parts.edtLocalAddress = Named(new QLineEdit(localAddress, &window), "edtLocalAddress");
    parts.edtLocalAddress->setReadOnly(true);
    parts.statusBar = Named(new QStatusBar(&window), "StatusBar");
    parts.memoLocalFile = Named(new TTextArea(&window), "memoLocalFile");
    parts.memoHostFile = Named(new TTextArea(&window), "memoHostFile");
    // Owned by the window like the program's, so Cancel is checked to work while the window
    // is disabled.
    parts.frmProgress = new TfrmProgress(&window);
    parts.toolbar = new QToolBar(&window);
    parts.btnStartStop = parts.toolbar->addAction(QString());
    parts.toolbar->addAction(QStringLiteral("after"));
    parts.checksHeld = [this] { return holdChecks; };

    engine = std::make_unique<TEngine>(parts, &window);
    view = std::make_unique<TEngineView>(*engine, parts);
    FollowTimerOptions(*engine, *options, &window);
    log = &engine->Log();
    transfer = &engine->Transfer();
    push = &engine->Push();
    cycle = &engine->Refresh();
}

EngineWindow::~EngineWindow()
{
    view.reset();
    engine.reset();
}

void EngineWindow::UseTheChosenSource()
{
    lookup = ChosenAddressLookup(m_source, [this] { return options->Get(); });
}

void EngineWindow::SetSite(std::uint16_t port, const QString &user, const QString &password)
{
    ftpPort = port;
    site = {.server = Server(), .user = user, .password = password};
}

QString EngineWindow::Server() const
{
    return ftpPort == 0 ? QStringLiteral("127.0.0.1") : QStringLiteral("127.0.0.1:%1").arg(ftpPort);
}

void EngineWindow::StoreSite(const QString &name, const QString &user, const QString &password,
                             const QList<EntryTexts> &entries)
{
    TShownSite &shown = Shown();
    shown.lvFileDetails->ClearRows();
    for (const EntryTexts &entry : entries)
        AddRow(entry.localFile, entry.columns);
    shown.SetSite({.server = Server(), .user = user, .password = password});
    catalogue->SetCurrentSiteName(name);
    catalogue->SaveCurrentSite();
    catalogue->SetCurrentSiteName(QString());
    shown.lvFileDetails->ClearRows();
    shown.SetSite({});
}

int EngineWindow::LogCount(const QString &line) const
{
    return static_cast<int>(LogLines().count(line));
}

QString EngineWindow::Stored(const QString &siteName, int row, int column) const
{
    TRegIniFile ini(BaseKeyPath() + '\\' + store::SiteSection(siteName));
    return ini.ReadText(store::ItemSection(row), store::SublineName(column), QStringLiteral("?"));
}

void EngineServerTest::SetUp()
{
    if (!server->Running())
        GTEST_SKIP() << "pyftpdlib server: " << server->Failure().toStdString();
    ASSERT_TRUE(dir.isValid());
    w = std::make_unique<EngineWindow>();
    ASSERT_TRUE(w->store.IsValid());
    w->ftpPort = server->Port();
    w->options->edtTempFileName->setText(dir.filePath(QStringLiteral("upload.tmp")));
}

void EngineServerTest::TearDown()
{
    w.reset();
}

QString EngineServerTest::Host(const QString &name)
{
    return QStringLiteral("%1_%2").arg(
        QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()), name);
}

} // namespace quelmark::test
