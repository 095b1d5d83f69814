// The main window's non-visual parts, the program's other windows and the engine that runs on
// them, wired together once when the window is made.
#include "app/F_About.h"
#include "app/F_Instr.h"
#include "app/F_Main.h"
#include "app/Tray.h"

#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/RegControls.h"
#include "catalogue/SiteEditing.h"
#include "catalogue/filedrag.h"
#include "engine/ChangeDetection.h"
#include "engine/Engine.h"
#include "engine/F_Prgrss.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "ftp/Ftpcli.h"
#include "net/Sockets.h"
#include "net/WSocket.h"

#include <QLineEdit>
#include <QStatusBar>

namespace quelmark {

void TfrmMain::CreateNonVisualParts()
{
    ftpClient = new TFtpClient(this);
    ftpClient->setObjectName(QStringLiteral("ftpClient"));
    ftpClient->hide();
    // Kept as the window always had one; the FTP client brings its own sockets.
    wSocket = new TWSocket(this);
    wSocket->setObjectName(QStringLiteral("wSocket"));
    wSocket->SetPort(QStringLiteral("21"));
    wSocket->SetProto(QStringLiteral("tcp"));
    SocketComponent = new TSockets(this);
    SocketComponent->setObjectName(QStringLiteral("SocketComponent"));
    FileDrag = new TFileDrag(this);
    FileDrag->setObjectName(QStringLiteral("FileDrag"));
}

void TfrmMain::CreateOtherWindows()
{
    // In the order the program has always made them: progress, file dialog, site dialog,
    // instructions.
    frmProgress = new TfrmProgress(this);
    frmAddNewFile = new TfrmAddNewFile(this);
    frmAddNewWebSite = new TfrmAddNewWebSite(this);
    frmInstr = new TfrmInstr(this);
    frmAbout = new TfrmAbout(this);
}

TAddressLookup LocalAddressLookup(TSockets *sockets)
{
    return [sockets] { return sockets->LocalIPAddress(); };
}

QString TfrmMain::LocalIPAddress() const
{
    return LocalAddressLookup(SocketComponent)();
}

// Made after the commands: the refresh cycle takes over the start/stop button.
void TfrmMain::CreateEngine()
{
    const TEngineParts parts{
        .catalogue = m_catalogue.get(),
        .options = m_options.get(),
        .ftpClient = ftpClient,
        .waitControl = waitControl,
        .memoLog = memoLog,
        .localAddress = [this] { return LocalIPAddress(); },
        .mainWindow = this,
        .navigator = tvNavigator,
        .edtLocalAddress = edtLocalAddress,
        .statusBar = statusBar(),
        .memoLocalFile = memoLocalFile,
        .memoHostFile = memoHostFile,
        .frmProgress = frmProgress,
        .btnStartStop = btnStartStop,
        .toolbar = tbGeneralInfo,
        // The site editor comes after the engine; it is asked only when a tick arrives.
        .checksHeld = [this] { return m_editor && m_editor->Editing(); },
    };
    m_engine = std::make_unique<TEngine>(parts, this);
}

void TfrmMain::CreateSiteEditor()
{
    m_editor = new TSiteEditor(
        {this, tvNavigator, m_catalogue.get(), frmAddNewWebSite, frmAddNewFile, m_options->edtDefaultIPParam, FileDrag},
        this);
    m_editor->FileDetails = GetFileDetails;
}

void TfrmMain::CreateTray()
{
    m_tray = new TTray({
                           .show = [this] { ShowFromTray(); },
                           .startStop = [this] { RefreshCycle().btnStartStopClick(); },
                           .pushAll = [this] { m_engine->Push().btnPushAllNowClick(); },
                           .exit = [this] { mniFileExitClick(); },
                       },
                       this);
    TRefreshCycle &cycle = RefreshCycle();
    cycle.OnRunningChange = [this](QObject *) { UpdateTray(); };
    cycle.OnCheckDone = [this](QObject *, const TCheckReport &report) {
        UpdateTray();
        if (!report.failure.isEmpty())
            m_tray->Notify(report.failure);
    };
    connect(edtLocalAddress, &QLineEdit::textChanged, this, [this] { UpdateTray(); });
    // Without a tray there is nothing to close to; the option is kept for a desktop that has one.
    m_options->chkCloseToTray->setEnabled(m_tray->Icon() != nullptr);
    UpdateTray();
}

void TfrmMain::UpdateTray()
{
    m_tray->ShowState(RefreshCycle().Tag() != 0, edtLocalAddress->text(), RefreshCycle().LastCheck());
}

} // namespace quelmark
