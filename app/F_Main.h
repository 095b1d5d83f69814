// The program's main window: the navigator on the left, the detail area with its pages on the
// right, the menus, toolbars and pop-up menus that offer every command, and the window's part
// in start-up and shut-down.
//
// The window owns everything the program runs on: the FTP client and its wait control, the
// address look-up, the engine (with its refresh timer, command launcher and activity log) and
// its view, the drop target and the program's other windows (progress, file and site dialogs,
// instructions, about box).
#pragma once

#include "catalogue/Catalogue.h"
#include "engine/Engine.h"

#include <QMainWindow>
#include <QMap>
#include <QPointer>

#include <functional>
#include <memory>

class QAbstractItemView;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QToolBar;
class QTreeWidget;

namespace quelmark {

class TAddressSource;
struct TAddressResult;
struct TCheckReport;
class TEngineView;
class TFileDrag;
class TFtpClient;
class TGeneralOptions;
class TListRow;
class TNavigator;
class TRefreshCycle;
class TRegListView;
class TSiteEditor;
class TTextArea;
class TWait;
class TWaitInput;
class TWindowSites;
class TfrmAbout;
class TfrmAddNewFile;
class TfrmAddNewWebSite;
class TfrmInstr;
class TfrmRenameWebSite;
class TfrmProgress;
class TTray;

// Returns the program's name, used as application title and window caption.
QString ApplicationTitle();

// Returns where a window whose frame was stored at frame goes among the screens' available
// areas (the primary first): onto the screen it overlaps most, or the primary when it overlaps
// none, no larger than that screen and moved inside it.
QRect PlaceOnScreens(const QRect &frame, const QList<QRect> &screens);

// Closes window as the user would, once it takes commands again: while a push holds it
// disabled, or busy says that something still runs, the close waits for it to end.
void CloseWhenIdle(QWidget *window, std::function<bool()> busy = {});

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    TCatalogue &Catalogue() { return *m_catalogue; }
    TNavigator *Navigator() const { return tvNavigator; }
    TRefreshCycle &RefreshCycle() { return m_engine->Refresh(); }
    TEngine &Engine() { return *m_engine; }
    // What the engine shows in the window: the log, the timer's button and animation, ...
    TEngineView &EngineView() { return *m_view; }
    TGeneralOptions &Options() { return *m_options; }
    // The system tray icon's part; it has no icon where the desktop offers no tray.
    TTray &Tray() { return *m_tray; }

    // Shows the page of nbDetail with that title ("General Options", "Web Sites", "Log Files",
    // "Blank").
    void ShowPage(const QString &title);
    // Returns the title of the page nbDetail shows.
    QString CurrentPageTitle() const;

    // The window's own commands; the others belong to the editing, push and refresh parts.
    void mniFileExitClick();
    void mniViewGeneralOptionsClick();
    void mniViewLogViewClick();
    void mniHelpInstructionsClick();
    void mniHelpAboutClick();
    void btnHelpClick();
    void lvFileDetailsDblClick();
    // "Test connection" on the site page: tries the shown site's settings on its server.
    void btnTestConnectionClick();
    // Brings the window back from the tray, in the state it had.
    void ShowFromTray();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Window regions (F_Main.cpp).
    void CreateDetailArea();
    void CreateGeneralOptionsPage();
    void CreateWebSitesPage();
    void CreateLogFilesPage();
    void CreateBlankPage();
    void CreateSiteListPage();
    void CreateOutline();
    void CreateSplitter();
    void CreateMainToolbar();
    QWidget *AddPage(const QString &title);
    void PlaceOnScreen();
    void InstallErrorDisplay();
    void LoadWindowPlace();
    void SaveWindowPlace();
    bool FileListKey(int key);
    bool NavigatorKey(int key);
    void PopupAtCurrentItem(QAbstractItemView *view);
    void ShowStoredSite();

    // Non-visual parts, the other windows and the engine (MainParts.cpp).
    void CreateNonVisualParts();
    void CreateOtherWindows();
    void CreateEngine();
    void CreateSiteEditor();
    void CreateTray();
    void UpdateTray();
    bool ClosesToTray();
    void WatchAddressOptions();
    void ShowAddressFields();
    void ShowAddressSource(const QString &failure);
    void RefreshAddressField();
    void ShowAddressFound(const QString &shownBefore, const TAddressResult &result);
    void ShowAddressState(const TCheckReport &report);

    // What the pushes came to, in the file list, the navigator and the site list
    // (MainResults.cpp).
    void FollowResults();
    void ShowResults();
    QString RowResult(const TListRow &row) const;
    QIcon SiteImage(const QString &site) const;
    TSite SiteValues(const QString &name) const;
    QString LastPushText(const QString &site) const;
    QString SiteToolTip(const QString &name) const;
    void FillSiteList();

    // Menus, toolbar buttons and pop-up menus (MainCommands.cpp).
    void CreateCommands();
    void CreateMenus();
    void CreateToolbarButtons();
    void CreatePopupMenus();
    QAction *Command(const char *name, const QString &text, std::function<void()> handler);
    QAction *Button(QToolBar *toolbar, const char *name, const QString &hint, const QIcon &icon,
                    std::function<void()> handler);
    void ShowPopup(QMenu *menu, QWidget *owner, const QPoint &pos);
    void WatchCommands();
    void UpdateCommands();

    void FormCreate();
    void FormShow();
    void FormClose();

    // Regions and pages.
    QToolBar *tbGeneralInfo = nullptr;
    QLineEdit *edtLocalAddress = nullptr;
    QSplitter *grabBar = nullptr;
    QWidget *pnlOutline = nullptr;
    QWidget *dockNavigator = nullptr;
    QToolBar *tbNavigator = nullptr;
    TNavigator *tvNavigator = nullptr;
    QWidget *pnlDetail = nullptr;
    QLabel *pnlDetailTitle = nullptr;
    QStackedWidget *nbDetail = nullptr;
    QMap<QString, QWidget *> m_pages;

    // The option controls are TGeneralOptions'; the window places them on this panel.
    QWidget *pnlGeneralOptions = nullptr;

    // The site fields and the file list are the catalogue's (TShownSite); the window places them.
    QWidget *dockFiles = nullptr;
    QToolBar *tbFilesToolbar = nullptr;
    TRegListView *lvFileDetails = nullptr;
    QPushButton *btnTestConnection = nullptr;
    // What the last connection test of the shown site found.
    QLabel *lblTestConnection = nullptr;

    // The sites with their protocol, last push and result, on "Web Sites".
    QTreeWidget *lvSites = nullptr;
    // Shows the results once the changes that came together are all in.
    QTimer *m_resultsShown = nullptr;
    // A site's picture marked failed and good, made when first needed.
    mutable QList<QIcon> m_siteMarks;

    QWidget *dockLogFiles = nullptr;
    QToolBar *tbMain = nullptr;
    QTabWidget *nbMain = nullptr;
    TTextArea *memoLog = nullptr;
    TTextArea *memoLocalFile = nullptr;
    TTextArea *memoHostFile = nullptr;

    QMenu *popNavigator = nullptr;
    QMenu *popFiles = nullptr;
    QAction *btnStartStop = nullptr;
    QAction *btnHelp = nullptr;
    // Every command (menu item, button, pop-up item) by its name.
    QMap<QString, QAction *> m_commands;

    // Non-visual parts.
    TFtpClient *ftpClient = nullptr;
    // Where the engine finds the address, as the general options choose it.
    TAddressSource *m_addressSource = nullptr;
    TWait *waitControl = nullptr;
    // Refuses the user's input while the countdown runs, but for the progress window's.
    TWaitInput *m_waitInput = nullptr;
    TFileDrag *FileDrag = nullptr;

    // The program's other windows, made once and reused.
    TfrmProgress *frmProgress = nullptr;
    TfrmAddNewFile *frmAddNewFile = nullptr;
    TfrmAddNewWebSite *frmAddNewWebSite = nullptr;
    TfrmRenameWebSite *frmRenameWebSite = nullptr;
    TfrmInstr *frmInstr = nullptr;
    TfrmAbout *frmAbout = nullptr;

    std::unique_ptr<TGeneralOptions> m_options;
    std::unique_ptr<TCatalogue> m_catalogue;
    std::unique_ptr<TWindowSites> m_sites;
    std::unique_ptr<TEngine> m_engine;
    // Goes before the engine it observes.
    std::unique_ptr<TEngineView> m_view;
    std::unique_ptr<TEngineObserver> m_trayFollower;
    std::unique_ptr<TEngineObserver> m_addressFollower;
    TSiteEditor *m_editor = nullptr;
    TTray *m_tray = nullptr;
    // Looks the address up for the address field when the options change, beside the engine's.
    QPointer<TAddressSource> m_addressPreview;
    // The address options the field was last refreshed for.
    QString m_addressShownFor;
    bool m_shownOnce = false;
    // Set once the first showing has read the options and the toolbar layout whole; until then
    // the controls hold defaults, and closing must not write them over what the store keeps.
    bool m_storeLoaded = false;
};

} // namespace quelmark
