#include "app/F_Main.h"

#include "app/F_Instr.h"
#include "app/Termination.h"
#include "app/Tray.h"
#include "base/Exception.h"
#include "base/Wait.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/Icons.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/SiteEditing.h"
#include "engine/ActivityLog.h"
#include "engine/AddressChoice.h"
#include "engine/EngineView.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "engine/Transfer.h"
#include "net/NetworkInterfaces.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

namespace quelmark {

namespace {

const char *const kPageTitle = "pageTitle";
constexpr int kOutlineWidth = 156;
constexpr int kGrabBarWidth = 5;

// A bar with a caption, as above the navigator, the detail area and the file list.
QLabel *TitleBar(const QString &text, const char *name)
{
    auto *title = Named(new QLabel(text), name);
    title->setFrameShape(QFrame::StyledPanel);
    title->setFrameShadow(QFrame::Sunken);
    title->setMargin(2);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    return title;
}

// A dock that holds its toolbar in place: the toolbar can be neither dragged out nor floated.
QWidget *FixedDock(const char *dockName, QToolBar *toolbar)
{
    auto *dock = Named(new QWidget, dockName);
    toolbar->setParent(dock);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setIconSize(QSize(20, 20));
    auto *row = new QVBoxLayout(dock);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(toolbar);
    return dock;
}

QToolBar *Toolbar(const char *name, const char *title)
{
    auto *toolbar = Named(new QToolBar(QString::fromLatin1(title)), name);
    toolbar->setIconSize(QSize(20, 20));
    return toolbar;
}

} // namespace

QString ApplicationTitle()
{
    return QStringLiteral("Varnholt Quelmark");
}

QRect PlaceOnScreens(const QRect &frame, const QList<QRect> &screens)
{
    if (screens.isEmpty())
        return frame;
    QRect target = screens.first();
    qint64 bestOverlap = 0;
    for (const QRect &screen : screens) {
        const QRect overlap = screen.intersected(frame);
        const qint64 area = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        if (area > bestOverlap) {
            bestOverlap = area;
            target = screen;
        }
    }
    const QSize size = frame.size().boundedTo(target.size());
    const int left = std::clamp(frame.left(), target.left(), target.left() + target.width() - size.width());
    const int top = std::clamp(frame.top(), target.top(), target.top() + target.height() - size.height());
    return {QPoint(left, top), size};
}

void CloseWhenIdle(QWidget *window, std::function<bool()> busy)
{
    if (window->isEnabled() && !(busy && busy())) {
        window->close();
        return;
    }
    QPointer<QWidget> guard(window);
    QTimer::singleShot(200, window, [guard, busy = std::move(busy)] {
        Guarded([&] {
            if (guard)
                CloseWhenIdle(guard, busy);
        });
    });
}

TfrmMain::TfrmMain(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(ApplicationTitle());
    setWindowIcon(Picture(TPicture::Program));
    InstallErrorDisplay();
    CreateMainToolbar();
    CreateDetailArea();
    CreateGeneralOptionsPage();
    CreateWebSitesPage();
    CreateLogFilesPage();
    CreateBlankPage();
    CreateSiteListPage();
    CreateNonVisualParts();
    CreateOutline();
    CreateSplitter();
    CreateOtherWindows();
    CreateCommands();
    CreateEngine();
    CreateSiteEditor();
    FollowResults();
    CreateTray();
    WatchAddressOptions();
    FormCreate();
    PlaceOnScreen();
}

TfrmMain::~TfrmMain()
{
    if (m_trayFollower)
        m_engine->RemoveObserver(m_trayFollower.get());
    // The controls go after the window's own members; what they tell on their way out must not
    // reach the commands any more.
    disconnect(lvFileDetails->model(), nullptr, this, nullptr);
    disconnect(lvFileDetails, nullptr, this, nullptr);
    disconnect(tvNavigator, nullptr, this, nullptr);
    lvFileDetails->RowToolTip = nullptr;
    tvNavigator->SiteImage = nullptr;
    tvNavigator->SiteToolTip = nullptr;
    m_view->Results().OnChange = nullptr;
    // The instructions window may go after the help button does.
    frmInstr->OnVisibleChange = nullptr;
    SetTopLevelReporter(nullptr);
}

void TfrmMain::PlaceOnScreen()
{
    resize(650, 476);
    if (const QScreen *display = screen())
        move(display->availableGeometry().center() - rect().center());
}

void TfrmMain::InstallErrorDisplay()
{
    SetTopLevelReporter([this](const QString &message) { TMessageBox::Critical(this, message); });
}

void TfrmMain::CreateMainToolbar()
{
    tbGeneralInfo = Toolbar("tbGeneralInfo", "Main Toolbar");
    addToolBar(Qt::TopToolBarArea, tbGeneralInfo);
    edtLocalAddress = Named(new QLineEdit, "edtLocalAddress");
    edtLocalAddress->setReadOnly(true);
    edtLocalAddress->setMaximumWidth(120);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
}

void TfrmMain::CreateDetailArea()
{
    pnlDetail = Named(new QWidget, "pnlDetail");
    pnlDetailTitle = TitleBar(QString(), "pnlDetailTitle");
    nbDetail = Named(new QStackedWidget, "nbDetail");
    auto *column = new QVBoxLayout(pnlDetail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(pnlDetailTitle);
    column->addWidget(nbDetail, 1);
}

QWidget *TfrmMain::AddPage(const QString &title)
{
    auto *page = new QWidget;
    page->setProperty(kPageTitle, title);
    nbDetail->addWidget(page);
    m_pages.insert(title, page);
    return page;
}

void TfrmMain::CreateGeneralOptionsPage()
{
    QWidget *page = AddPage(pages::GeneralOptions);
    pnlGeneralOptions = Named(new QWidget, "pnlGeneralOptions");
    m_options = std::make_unique<TGeneralOptions>(pnlGeneralOptions, DefaultUploadCopyPath());
    const TGeneralOptions &o = *m_options;
    // Numbers and choices take the width of what they show; texts take what the page offers.
    for (QWidget *sized : std::initializer_list<QWidget *>{o.spnTestFilesMinutes, o.cmbAddressSource,
                                                           o.cmbAddressFamily, o.cmbAddressInterface})
        sized->setSizePolicy(QSizePolicy::Fixed, sized->sizePolicy().verticalPolicy());
    auto *form = new QFormLayout(pnlGeneralOptions);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    form->addRow(o.chkAutoProcess);
    form->addRow(QStringLiteral("Test local files every (mins):"), o.spnTestFilesMinutes);
    form->addRow(o.chkDetailedLogging);
    form->addRow(o.chkTimeStampLog);
    form->addRow(QStringLiteral("Temp Local File:"), o.edtTempFileName);
    form->addRow(QStringLiteral("Default IP Param:"), o.edtDefaultIPParam);
    auto *source = new QHBoxLayout;
    source->addWidget(o.cmbAddressSource);
    source->addSpacing(12);
    source->addWidget(new QLabel(QStringLiteral("IP version:")));
    source->addWidget(o.cmbAddressFamily);
    source->addStretch(1);
    form->addRow(QStringLiteral("Address from:"), source);
    o.cmbAddressInterface->addItems(NetworkInterfaceNames());
    o.cmbAddressInterface->setCurrentIndex(-1);
    o.cmbAddressInterface->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    o.cmbAddressInterface->setMinimumContentsLength(12);
    form->addRow(QStringLiteral("Interface:"), o.cmbAddressInterface);
    form->addRow(QStringLiteral("Check URL:"), o.edtAddressURL);
    form->addRow(QStringLiteral("Address command:"), o.edtAddressCommand);
    form->addRow(QStringLiteral("Last IP Address:"), o.edtLastIPAddress);
    form->addRow(QStringLiteral("Reconnect Cmd:"), o.edtRedialCommand);
    form->addRow(o.chkAutoReconnect);
    form->addRow(o.chkCloseToTray);
    form->addRow(o.chkReuseSession);
    form->addRow(o.chkWatchChanges);
    form->addRow(QStringLiteral("Command on a new address:"), o.edtAddressChangedCommand);
    form->addRow(o.chkUseKeyring);

    // The form keeps to the top of the page and grows with it; a page lower than the form
    // scrolls instead of squeezing the rows.
    auto *scroll = Named(new QScrollArea, "scrGeneralOptions");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(pnlGeneralOptions);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(scroll);
}

// Only the field the chosen source needs is on show; "Local" needs none.
void TfrmMain::ShowAddressFields()
{
    auto *form = static_cast<QFormLayout *>(pnlGeneralOptions->layout());
    const std::optional<TAddressSourceKind> kind = ChosenAddressSource(m_options->Get());
    form->setRowVisible(m_options->cmbAddressInterface, kind == TAddressSourceKind::Interface);
    form->setRowVisible(m_options->edtAddressURL, kind == TAddressSourceKind::Web);
    form->setRowVisible(m_options->edtAddressCommand, kind == TAddressSourceKind::Command);
}

void TfrmMain::CreateWebSitesPage()
{
    QWidget *page = AddPage(pages::WebSites);
    m_catalogue = std::make_unique<TCatalogue>(this, page);
    const TShownSite &site = m_catalogue->Shown();
    lvFileDetails = site.lvFileDetails;
    tbFilesToolbar = Toolbar("tbFilesToolbar", "Files Toolbar");
    dockFiles = FixedDock("dockFiles", tbFilesToolbar);

    auto *fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("FTP Server:")), 0, 0);
    fields->addWidget(site.edtFTPServer, 0, 1);
    fields->addWidget(new QLabel(QStringLiteral("User Name:")), 0, 2);
    fields->addWidget(site.edtUserName, 0, 3);
    fields->addWidget(new QLabel(QStringLiteral("Default Dir:")), 1, 0);
    fields->addWidget(site.edtDefaultDir, 1, 1);
    fields->addWidget(new QLabel(QStringLiteral("Password:")), 1, 2);
    fields->addWidget(site.edtPassword, 1, 3);
    fields->addWidget(site.Options().Panel(), 2, 0, 1, 4);
    // Tries the fields above on the server and says in one line what it found.
    btnTestConnection = Named(new QPushButton(QStringLiteral("Test connection")), "btnTestConnection");
    btnTestConnection->setAutoDefault(false);
    lblTestConnection = Named(new QLabel, "lblTestConnection");
    lblTestConnection->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblTestConnection->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(btnTestConnection, &QPushButton::clicked, this, [this] { Guarded([this] { btnTestConnectionClick(); }); });
    auto *test = new QHBoxLayout;
    test->addWidget(btnTestConnection);
    test->addWidget(lblTestConnection, 1);
    fields->addLayout(test, 3, 0, 1, 4);

    auto *column = new QVBoxLayout(page);
    column->addLayout(fields);
    column->addWidget(TitleBar(QStringLiteral("Files"), "lblFiles"));
    column->addWidget(dockFiles);
    column->addWidget(lvFileDetails, 1);
}

void TfrmMain::CreateLogFilesPage()
{
    QWidget *page = AddPage(pages::LogFiles);
    tbMain = Toolbar("tbMain", "Log Toolbar");
    dockLogFiles = FixedDock("dockLogFiles", tbMain);
    nbMain = Named(new QTabWidget, "nbMain");
    memoLog = Named(new TTextArea, "memoLog");
    memoLocalFile = Named(new TTextArea, "memoLocalFile");
    memoHostFile = Named(new TTextArea, "memoHostFile");
    nbMain->addTab(memoLog, QStringLiteral("Log File"));
    nbMain->addTab(memoLocalFile, QStringLiteral("Local File"));
    nbMain->addTab(memoHostFile, QStringLiteral("Host File"));
    // Each time the log comes into view it opens at its newest line, from its left edge.
    memoLog->installEventFilter(this);

    auto *column = new QVBoxLayout(page);
    column->addWidget(dockLogFiles);
    column->addWidget(nbMain, 1);
}

void TfrmMain::CreateBlankPage()
{
    AddPage(pages::Blank);
}

void TfrmMain::CreateOutline()
{
    pnlOutline = Named(new QWidget, "pnlOutline");
    tbNavigator = Toolbar("tbNavigator", "Nav. Toolbar");
    dockNavigator = FixedDock("dockNavigator", tbNavigator);
    TNavigatorParts parts{nbDetail, m_pages, pnlDetailTitle, m_catalogue.get(), FileDrag};
    tvNavigator = new TNavigator(parts);

    auto *column = new QVBoxLayout(pnlOutline);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(TitleBar(QStringLiteral("Navigator"), "lblNavigator"));
    column->addWidget(dockNavigator);
    column->addWidget(tvNavigator, 1);
}

void TfrmMain::CreateSplitter()
{
    grabBar = Named(new QSplitter(Qt::Horizontal), "grabBar");
    grabBar->setHandleWidth(kGrabBarWidth);
    grabBar->setChildrenCollapsible(false);
    grabBar->addWidget(pnlOutline);
    grabBar->addWidget(pnlDetail);
    grabBar->setStretchFactor(0, 0);
    grabBar->setStretchFactor(1, 1);
    grabBar->setSizes({kOutlineWidth, 650 - kOutlineWidth - kGrabBarWidth});
    setCentralWidget(grabBar);
}

void TfrmMain::FormCreate()
{
    // The refresh cycle starts stopped with its button in the stopped state and no minute
    // counted (it was made so in CreateEngine). The options are still the initial ones, whose
    // source answers at once.
    RefreshAddressField();
    nbMain->setCurrentWidget(memoLog);
}

void TfrmMain::ShowPage(const QString &title)
{
    if (QWidget *page = m_pages.value(title))
        nbDetail->setCurrentWidget(page);
}

QString TfrmMain::CurrentPageTitle() const
{
    QWidget *page = nbDetail->currentWidget();
    return page ? page->property(kPageTitle).toString() : QString();
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    Guarded([this] { FormShow(); });
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // Only the desktop's close (the title bar's button) goes to the tray; Exit, the tray's Exit
    // and the end signal close the window from the program and end it.
    if (event->spontaneous() && ClosesToTray()) {
        event->ignore();
        hide();
        return;
    }
    // A push holds the window disabled and runs nested inside the event loop; closing now would
    // end the program under a transfer. The push is stopped instead (its upload cancelled as
    // Cancel does, the entries not reached left as they are) and the close comes once it is over.
    if (!isEnabled() || m_engine->Push().Pushing()) {
        event->ignore();
        m_engine->Push().Stop();
        // An address check leaves the window enabled; it ends once the handler that runs this
        // returns.
        CloseWhenIdle(this, [this] { return m_engine->Push().Pushing(); });
        return;
    }
    // A store that refuses the save is reported, yet the window still closes: refusing to
    // close would leave the user no way out but killing the program.
    Guarded([this] { FormClose(); });
    event->accept();
    // Closing a window that waits in the tray is no last visible window closing: the program
    // has to be told to end.
    if (isHidden())
        QCoreApplication::quit();
}

bool TfrmMain::ClosesToTray()
{
    return m_tray->Icon() && m_options->chkCloseToTray->isChecked() && RefreshCycle().Tag() != 0;
}

void TfrmMain::ShowFromTray()
{
    show();
    raise();
    activateWindow();
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    // Any double click on the list is the command, as on an empty part of it, where it finds no
    // selection and does nothing.
    if (event->type() == QEvent::MouseButtonDblClick && watched == lvFileDetails->viewport()) {
        Guarded([this] { lvFileDetailsDblClick(); });
        return true;
    }
    if (event->type() == QEvent::KeyPress && (watched == lvFileDetails || watched == tvNavigator)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // Shift+F10 opens the pop-up menu as the Menu key does.
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
            PopupAtCurrentItem(static_cast<QAbstractItemView *>(watched));
            return true;
        }
        if (watched == tvNavigator)
            return NavigatorKey(key->key());
        return FileListKey(key->key());
    }
    if (event->type() == QEvent::Show && watched == memoLog)
        memoLog->ShowNewest();
    return QMainWindow::eventFilter(watched, event);
}

bool TfrmMain::NavigatorKey(int key)
{
    if (key != Qt::Key_F2 || NodeKindOf(tvNavigator->currentItem()) != nkSite)
        return false;
    Guarded([this] { m_editor->RenameWebSite(); });
    return true;
}

void TfrmMain::PopupAtCurrentItem(QAbstractItemView *view)
{
    // Where the Menu key puts it: at the current item, or at the top of an empty view.
    const QRect item = view->visualRect(view->currentIndex());
    const QPoint pos = item.isValid() ? item.center() : QPoint(4, 4);
    QMenu *menu = view == tvNavigator ? popNavigator : popFiles;
    ShowPopup(menu, view->viewport(), pos);
}

bool TfrmMain::FileListKey(int key)
{
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Guarded([this] { m_editor->EditFiles(); });
        return true;
    case Qt::Key_Delete:
        Guarded([this] { m_editor->RemoveFiles(); });
        return true;
    case Qt::Key_Insert:
        Guarded([this] { m_editor->NewFile(); });
        return true;
    default:
        return false;
    }
}

void TfrmMain::FormShow()
{
    ShowPage(pages::Blank);
    LoadWindowPlace();
    LoadRegControls(this, BaseKeyPath());
    LoadToolbarLayout(this, BaseKeyPath());
    m_storeLoaded = true;
    RefreshAddressField();
    tvNavigator->BuildNavigator();
    // A site that cannot be shown is reported; the window starts all the same.
    Guarded([this] { ShowStoredSite(); });
    if (m_options->chkAutoProcess->isChecked()) {
        RefreshCycle().SetTag(0);
        RefreshCycle().btnStartStopClick();
    }
}

void TfrmMain::FormClose()
{
    if (!m_storeLoaded)
        return;
    m_catalogue->SaveCurrentSite();
    SaveToolbarLayout(this, BaseKeyPath());
    SaveWindowPlace();
}

void TfrmMain::ShowStoredSite()
{
    TRegIniFile ini(BaseKeyPath());
    const QString name = ini.ReadText(store::Window, store::ShownSite, QString());
    if (name.isEmpty())
        return;
    // A site deleted meanwhile leaves the general options shown.
    for (TNavigatorNode *node : tvNavigator->SiteNodes()) {
        if (node->text(0) == name) {
            tvNavigator->SelectNode(node);
            return;
        }
    }
}

void TfrmMain::LoadWindowPlace()
{
    TRegIniFile ini(BaseKeyPath());
    const QRect stored(ini.ReadNumber(store::Window, store::Left, 0), ini.ReadNumber(store::Window, store::Top, 0),
                       ini.ReadNumber(store::Window, store::Width, 0), ini.ReadNumber(store::Window, store::Height, 0));
    if (stored.width() > 0 && stored.height() > 0) {
        // Placed by its frame, so the title bar is never left above the screen's top.
        const QMargins frame(x() - frameGeometry().x(), y() - frameGeometry().y(),
                             frameGeometry().right() - geometry().right(),
                             frameGeometry().bottom() - geometry().bottom());
        QList<QRect> screens;
        for (const QScreen *display : QGuiApplication::screens())
            screens.append(display->availableGeometry());
        if (const QScreen *primary = QGuiApplication::primaryScreen())
            screens.prepend(primary->availableGeometry());
        setGeometry(PlaceOnScreens(stored.marginsAdded(frame), screens).marginsRemoved(frame));
    }
    const int divider = ini.ReadNumber(store::Window, store::Divider, 0);
    if (divider > 0)
        grabBar->setSizes({divider, std::max(1, width() - divider - kGrabBarWidth)});
    if (ini.ReadFlag(store::Window, store::Maximized, false))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TfrmMain::SaveWindowPlace()
{
    // The normal place is kept also for a maximised window, so it comes back there when the
    // user leaves the maximised state after the next start.
    const QRect place = isMaximized() ? normalGeometry() : geometry();
    TRegIniFile ini(BaseKeyPath());
    ini.WriteNumber(store::Window, store::Left, place.x());
    ini.WriteNumber(store::Window, store::Top, place.y());
    ini.WriteNumber(store::Window, store::Width, place.width());
    ini.WriteNumber(store::Window, store::Height, place.height());
    ini.WriteFlag(store::Window, store::Maximized, isMaximized());
    ini.WriteNumber(store::Window, store::Divider, grabBar->sizes().value(0));
    ini.WriteText(store::Window, store::ShownSite, m_catalogue->CurrentSiteName());
}

} // namespace quelmark
