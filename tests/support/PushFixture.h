// A stand-in main window for the push commands and the refresh cycle: the engine's controls
// (EngineWindow) plus the detail area with its pages, the title bar, the navigator over a
// private store, the push commands, and the options and toolbar button of the refresh cycle.
#pragma once

#include "catalogue/Navigator.h"
#include "catalogue/filedrag.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/TempStore.h"

#include <QAction>
#include <QLabel>
#include <QStackedWidget>
#include <QToolBar>

#include <functional>
#include <memory>

namespace quelmark::test {

// The column texts of one file entry, after its local file.
struct EntryTexts {
    QString localFile;
    QStringList columns; // host file name, type, IP parameter, status, date/time, size, attribs
};

class PushWindow : public EngineWindow {
public:
    PushWindow();
    ~PushWindow();

    // Stores a site on the FTP server at 127.0.0.1 as an earlier run would have left it; the
    // controls are emptied again afterwards.
    void StoreSite(const QString &name, const QString &user, const QString &password, const QList<EntryTexts> &entries);
    // Builds the navigator from the store ("General Options" ends up selected).
    void Build() { navigator->BuildNavigator(); }

    TShownSite &Shown() { return catalogue->Shown(); }

    // Selects a navigator node the way the user does.
    void Select(QTreeWidgetItem *node) { navigator->SelectNode(node); }
    TNavigatorNode *SiteNode(const QString &name) const;

    // Returns the title of the page the detail area shows.
    QString ShownPage() const { return pages.key(nbDetail->currentWidget()); }
    QStringList LogLines() const { return memoLog->Lines(); }
    // Counts the log lines equal to line.
    int LogCount(const QString &line) const;
    // Returns a column text of a stored row ("?" when it is not stored).
    QString Stored(const QString &site, int row, int column) const;

    // The look-up the commands and the cycle use: by default EngineWindow::localAddress,
    // replaceable by a test; every call is counted.
    std::function<QString()> lookup;
    int lookups = 0;

    TempStore store;
    QStackedWidget *nbDetail = nullptr;
    QMap<QString, QWidget *> pages;
    QLabel *pnlDetailTitle = nullptr;
    TFileDrag *fileDrag = nullptr;
    std::unique_ptr<TCatalogue> catalogue;
    TNavigator *navigator = nullptr;
    std::unique_ptr<TPushCommands> push;

    TRegSpinEdit *spnTestFilesMinutes = nullptr;
    TRegCheckBox *chkAutoReconnect = nullptr;
    TRegEdit *edtRedialCommand = nullptr;
    QToolBar *toolbar = nullptr;
    QAction *btnStartStop = nullptr;
    TRefreshCycle *cycle = nullptr;
};

} // namespace quelmark::test
