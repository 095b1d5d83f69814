// The main window's commands: the menus, the toolbar buttons, the two pop-up menus and the
// double click on the file list, each tied to its handler.
#include "app/F_Main.h"

#include "app/F_About.h"
#include "app/F_Instr.h"
#include "base/Exception.h"
#include "catalogue/Icons.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"
#include "catalogue/SiteEditing.h"
#include "engine/EngineView.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

namespace quelmark {

void TfrmMain::CreateCommands()
{
    CreateMenus();
    CreateToolbarButtons();
    CreatePopupMenus();
    lvFileDetails->viewport()->installEventFilter(this);
    lvFileDetails->installEventFilter(this);
    tvNavigator->installEventFilter(this);
    WatchCommands();
}

void TfrmMain::WatchCommands()
{
    const auto update = [this] { UpdateCommands(); };
    // Once a selection change has shown its node, a site's one loaded.
    connect(tvNavigator, &TNavigator::NodeShown, this, update);
    connect(lvFileDetails, &QTreeWidget::itemSelectionChanged, this, update);
    // A site's rows are replaced whole when it loads, which tells no selection change.
    const QAbstractItemModel *rows = lvFileDetails->model();
    connect(rows, &QAbstractItemModel::modelReset, this, update);
    connect(rows, &QAbstractItemModel::rowsInserted, this, update);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, update);
    UpdateCommands();
}

// A command that has nothing to act on is out of reach: the site commands without a site
// selected, the file commands without a site shown, and those of selected files without one.
void TfrmMain::UpdateCommands()
{
    const bool siteSelected = NodeKindOf(tvNavigator->currentItem()) == nkSite;
    const bool siteShown = siteSelected && !m_catalogue->CurrentSiteName().isEmpty();
    const bool rowsSelected = siteShown && !lvFileDetails->selectedItems().isEmpty();
    const struct {
        const char *name;
        bool enabled;
    } commands[] = {
        {"mniFileRenameWebSite", siteSelected},  {"mniPopNavRenameWebSite", siteSelected},
        {"mniFileDeleteWebSite", siteSelected},  {"mniPopNavDeleteWebSite", siteSelected},
        {"btnDeleteWebSite", siteSelected},      {"mniPushSite", siteShown},
        {"btnPushAllSiteNow", siteShown},        {"btnNewFile", siteShown},
        {"mniPopFilesNewFile", siteShown},       {"btnPushSelectedNow", rowsSelected},
        {"mniPopFilesPushFile", rowsSelected},   {"btnEditFile", rowsSelected},
        {"mniPopFilesEditFile", rowsSelected},   {"btnRemoveFile", rowsSelected},
        {"mniPopFilesRemoveFile", rowsSelected},
    };
    for (const auto &command : commands) {
        if (QAction *action = m_commands.value(QString::fromLatin1(command.name)))
            action->setEnabled(command.enabled);
    }
}

QAction *TfrmMain::Command(const char *name, const QString &text, std::function<void()> handler)
{
    auto *action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    m_commands.insert(action->objectName(), action);
    if (handler)
        connect(action, &QAction::triggered, this, GuardedHandler(std::move(handler)));
    return action;
}

QAction *TfrmMain::Button(QToolBar *toolbar, const char *name, const QString &hint, const QIcon &icon,
                          std::function<void()> handler)
{
    QAction *action = Command(name, hint, std::move(handler));
    action->setToolTip(hint);
    action->setIcon(icon);
    toolbar->addAction(action);
    // The button gets the action's name, so it can be found like any other control.
    toolbar->widgetForAction(action)->setObjectName(QString::fromLatin1(name));
    return action;
}

void TfrmMain::CreateMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->addAction(Command("mniFileNewWebSite", QStringLiteral("&New Web Site"), [this] { m_editor->NewWebSite(); }));
    file->addAction(
        Command("mniFileRenameWebSite", QStringLiteral("&Rename Web Site"), [this] { m_editor->RenameWebSite(); }));
    file->addAction(
        Command("mniFileDeleteWebSite", QStringLiteral("&Delete Web Site"), [this] { m_editor->DeleteWebSite(); }));
    file->addSeparator();
    file->addAction(Command("mniFileExit", QStringLiteral("E&xit"), [this] { mniFileExitClick(); }));

    QMenu *view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("mnuView"));
    view->addAction(
        Command("mniViewGeneralOptions", QStringLiteral("&General Options"), [this] { mniViewGeneralOptionsClick(); }));
    view->addAction(Command("mniViewLogView", QStringLiteral("&Log"), [this] { mniViewLogViewClick(); }));

    // The main toolbar's two commands, with keys of their own.
    QMenu *push = menuBar()->addMenu(QStringLiteral("&Push"));
    push->setObjectName(QStringLiteral("mnuPush"));
    QAction *startStop = Command("mniPushStartStop", QStringLiteral("&Start/Stop Timer"),
                                 [this] { RefreshCycle().btnStartStopClick(); });
    startStop->setShortcut(Qt::Key_F5);
    push->addAction(startStop);
    QAction *pushAll =
        Command("mniPushAll", QStringLiteral("Push &All"), [this] { m_engine->Push().btnPushAllNowClick(); });
    pushAll->setShortcut(Qt::Key_F6);
    push->addAction(pushAll);
    QAction *pushSite =
        Command("mniPushSite", QStringLiteral("Push &Site"), [this] { m_engine->Push().btnPushAllSiteNowClick(); });
    pushSite->setShortcut(Qt::Key_F7);
    push->addAction(pushSite);

    QMenu *help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    help->addAction(
        Command("mniHelpInstructions", QStringLiteral("&Instructions..."), [this] { mniHelpInstructionsClick(); }));
    help->addSeparator();
    help->addAction(Command("mniHelpAbout", QStringLiteral("&About"), [this] { mniHelpAboutClick(); }));
}

void TfrmMain::CreateToolbarButtons()
{
    // The refresh cycle gives the start/stop button its picture and handles its clicks.
    btnStartStop = Button(tbGeneralInfo, "btnStartStop", QStringLiteral("Toggle the timer on/off"),
                          Picture(TPicture::Start), nullptr);
    Button(tbGeneralInfo, "btnPushAllNow", QStringLiteral("Send ALL files to ALL servers NOW as needed..."),
           Picture(TPicture::PushAll), [this] { m_engine->Push().btnPushAllNowClick(); });
    btnHelp = Button(tbGeneralInfo, "btnHelp", QStringLiteral("Instructions/Help"), Picture(TPicture::Help),
                     [this] { btnHelpClick(); });
    btnHelp->setCheckable(true);
    tbGeneralInfo->addWidget(new QLabel(QStringLiteral("  Local IP Addr:  ")));
    tbGeneralInfo->addWidget(edtLocalAddress);

    Button(tbNavigator, "btnNewWebSite", QStringLiteral("New Web Site"), Picture(TPicture::NewSite),
           [this] { m_editor->NewWebSite(); });
    Button(tbNavigator, "btnDeleteWebSite", QStringLiteral("Delete Web Site"), Picture(TPicture::DeleteSite),
           [this] { m_editor->DeleteWebSite(); });

    Button(tbFilesToolbar, "btnPushSelectedNow", QStringLiteral("Force the selected file to the server (Push Now)"),
           Picture(TPicture::PushSelected), [this] { m_engine->Push().btnPushSelectedNowClick(); });
    Button(tbFilesToolbar, "btnPushAllSiteNow", QStringLiteral("Push below files to the server..."),
           Picture(TPicture::PushSite), [this] { m_engine->Push().btnPushAllSiteNowClick(); });
    Button(tbFilesToolbar, "btnNewFile", QStringLiteral("Add a new file"), Picture(TPicture::NewFile),
           [this] { m_editor->NewFile(); });
    Button(tbFilesToolbar, "btnEditFile", QStringLiteral("Edit selected file(s)"), Picture(TPicture::EditFile),
           [this] { m_editor->EditFiles(); });
    Button(tbFilesToolbar, "btnRemoveFile", QStringLiteral("Remove selected file(s)"), Picture(TPicture::RemoveFile),
           [this] { m_editor->RemoveFiles(); });

    Button(tbMain, "btnSaveCurrentFile", QStringLiteral("Save current file"), Picture(TPicture::Save),
           [this] { m_view->Log().btnSaveCurrentFileClick(); });

    frmInstr->OnVisibleChange = [this](bool shown) { btnHelp->setChecked(shown); };
}

void TfrmMain::CreatePopupMenus()
{
    popNavigator = new QMenu(this);
    popNavigator->setObjectName(QStringLiteral("popNavigator"));
    // The keys the navigator and the file list answer themselves (see NavigatorKey and
    // FileListKey), shown beside their items.
    const auto withKey = [](QAction *item, Qt::Key key) {
        item->setShortcut(key);
        item->setShortcutContext(Qt::WidgetShortcut);
        return item;
    };
    popNavigator->addAction(
        Command("mniPopNavNewWebSite", QStringLiteral("&New Web Site"), [this] { m_editor->NewWebSite(); }));
    popNavigator->addAction(withKey(
        Command("mniPopNavRenameWebSite", QStringLiteral("&Rename Web Site"), [this] { m_editor->RenameWebSite(); }),
        Qt::Key_F2));
    popNavigator->addAction(
        Command("mniPopNavDeleteWebSite", QStringLiteral("&Delete Web Site"), [this] { m_editor->DeleteWebSite(); }));
    tvNavigator->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tvNavigator, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { ShowPopup(popNavigator, tvNavigator->viewport(), pos); });

    popFiles = new QMenu(this);
    popFiles->setObjectName(QStringLiteral("popFiles"));
    popFiles->addAction(Command("mniPopFilesPushFile", QStringLiteral("&Push File(s)"),
                                [this] { m_engine->Push().mniPopFilesPushFileClick(); }));
    popFiles->addSeparator();
    popFiles->addAction(withKey(
        Command("mniPopFilesNewFile", QStringLiteral("&New File"), [this] { m_editor->NewFile(); }), Qt::Key_Insert));
    popFiles->addAction(
        withKey(Command("mniPopFilesEditFile", QStringLiteral("&Edit File(s)"), [this] { m_editor->EditFiles(); }),
                Qt::Key_Return));
    popFiles->addAction(withKey(
        Command("mniPopFilesRemoveFile", QStringLiteral("&Remove File(s)"), [this] { m_editor->RemoveFiles(); }),
        Qt::Key_Delete));
    lvFileDetails->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvFileDetails, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { ShowPopup(popFiles, lvFileDetails->viewport(), pos); });
}

void TfrmMain::ShowPopup(QMenu *menu, QWidget *owner, const QPoint &pos)
{
    Guarded([menu, owner, pos] { menu->popup(owner->mapToGlobal(pos)); });
}

void TfrmMain::mniFileExitClick()
{
    close();
}

void TfrmMain::mniViewGeneralOptionsClick()
{
    if (tvNavigator->GeneralOptionsNode)
        tvNavigator->SelectNode(tvNavigator->GeneralOptionsNode);
}

void TfrmMain::mniViewLogViewClick()
{
    if (tvNavigator->ViewLogNode)
        tvNavigator->SelectNode(tvNavigator->ViewLogNode);
}

void TfrmMain::mniHelpInstructionsClick()
{
    frmInstr->show();
    frmInstr->raise();
}

void TfrmMain::mniHelpAboutClick()
{
    frmAbout->exec();
}

void TfrmMain::btnHelpClick()
{
    if (frmInstr->isVisible())
        frmInstr->hide();
    else
        mniHelpInstructionsClick();
    // A click toggles the button by itself; it must follow the window instead.
    btnHelp->setChecked(frmInstr->isVisible());
}

void TfrmMain::lvFileDetailsDblClick()
{
    m_editor->EditFiles();
}

} // namespace quelmark
