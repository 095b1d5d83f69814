// A stand-in main window for the engine tests: the catalogue window (CatalogueWindow) plus the
// parts the push engine runs on, with the engine built by engine/Engine and shown and fed by
// engine/EngineView the way the program does it, and a short wait interval so time-outs take
// fractions of a second.
#pragma once

#include "base/Wait.h"
#include "catalogue/Catalogue.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/AddressChoice.h"
#include "engine/Engine.h"
#include "engine/EngineView.h"
#include "engine/F_Prgrss.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "engine/Transfer.h"
#include "ftp/Ftpcli.h"
#include "tests/support/CatalogueWindow.h"
#include "tests/support/FtpServers.h"

#include <QAction>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quelmark::test {

// The column texts of one file entry, after its local file.
struct EntryTexts {
    QString localFile;
    QStringList columns; // host file name, type, IP parameter, status, date/time, size, attribs
};

// Keeps the reports of the checks an engine tells it of.
struct CheckReports : TEngineObserver {
    void CheckDone(const TCheckReport &report) override { reports.append(report); }
    QList<TCheckReport> reports;
};

class EngineWindow : public CatalogueWindow {
public:
    // waitIntervalMs is the wait control's tick; the client's time-out is 15 ticks.
    explicit EngineWindow(std::uint16_t waitIntervalMs = 100);
    ~EngineWindow() override;
    EngineWindow(const EngineWindow &) = delete;
    EngineWindow &operator=(const EngineWindow &) = delete;

    // Points site at an FTP server on port of 127.0.0.1; the sites StoreSite stores go there too.
    void SetSite(std::uint16_t port, const QString &user, const QString &password);
    // The server text of the sites: "127.0.0.1:<ftpPort>", or "127.0.0.1" while ftpPort is 0.
    QString Server() const;
    // Stores a site on the FTP server at Server() as an earlier run would have left it; the
    // controls are emptied again afterwards.
    void StoreSite(const QString &name, const QString &user, const QString &password, const QList<EntryTexts> &entries);
    // Builds the navigator from the store ("General Options" ends up selected).
    void Build() { navigator->BuildNavigator(); }
    // Selects a navigator node the way the user does.
    void Select(QTreeWidgetItem *node) { navigator->SelectNode(node); }

    QStringList LogLines() const { return parts.memoLog->Lines(); }
    // Counts the log lines equal to line.
    int LogCount(const QString &line) const;
    // Returns a column text of a stored row ("?" when it is not stored).
    QString Stored(const QString &site, int row, int column) const;

    // The address the engine's look-up finds, unless lookup replaces it; every call is counted.
    // "127.0.0.1" is found as the "Local" rule finds it, meaning "not connected".
    QString localAddress = QStringLiteral("10.20.30.40");
    std::function<TAddressResult()> lookup;
    int lookups = 0;
    // Makes lookup ask a real address source as the options choose it.
    void UseTheChosenSource();
    // The site a transfer test uploads to, and the port of the server the sites name.
    TSite site;
    std::uint16_t ftpPort = 0;
    // What the engine's checksHeld answers.
    bool holdChecks = false;

    // What the engine was built from and is shown in.
    struct TParts : TEngineParts, TEngineViewParts {};
    TParts parts;
    std::unique_ptr<TWindowSites> sites;
    std::unique_ptr<TEngine> engine;
    std::unique_ptr<TEngineView> view;
    TActivityLog *log = nullptr;
    TTransfer *transfer = nullptr;
    TPushCommands *push = nullptr;
    TRefreshCycle *cycle = nullptr;

private:
    TAddressSource *m_source = nullptr;
};

// A test of the engine's pushes against the shared pyftpdlib server, skipped without it: an
// EngineWindow whose sites name that server, and a folder of the test's own for local files and
// the upload copy.
class EngineServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The name on the server, unique to the running test: the test's name, "_" and name.
    static QString Host(const QString &name);

    PyFtpServer *server = &SharedPyFtpServer();
    QTemporaryDir dir;
    std::unique_ptr<EngineWindow> w;
};

} // namespace quelmark::test
