// The main window's non-visual parts, the program's other windows and the engine that runs on
// them, wired together once when the window is made.
#include "app/F_About.h"
#include "app/F_Instr.h"
#include "app/F_Main.h"

#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/Navigator.h"
#include "catalogue/RegControls.h"
#include "catalogue/SiteEditing.h"
#include "catalogue/filedrag.h"
#include "engine/ActivityLog.h"
#include "engine/ChangeDetection.h"
#include "engine/F_Prgrss.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/Transfer.h"
#include "ftp/Ftpcli.h"
#include "net/Sockets.h"
#include "net/WSocket.h"

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
    m_log = std::make_unique<TActivityLog>(memoLog, chkTimeStampLog, chkDetailedLogging, this);
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

QString TfrmMain::LocalIPAddress() const
{
    return SocketComponent->LocalIPAddress();
}

void TfrmMain::CreateEngine()
{
    const TAddressLookup lookup = [this] { return LocalIPAddress(); };

    const TTransferControls transfer{
        .mainWindow = this,
        .edtTempFileName = edtTempFileName,
        .edtLocalAddress = edtLocalAddress,
        .statusBar = statusBar(),
        .memoLocalFile = memoLocalFile,
        .memoHostFile = memoHostFile,
        .frmProgress = frmProgress,
        .ftpClient = ftpClient,
        .waitControl = waitControl,
        .log = m_log.get(),
    };
    m_transfer = std::make_unique<TTransfer>(transfer, lookup);

    const TPushControls push{
        .mainWindow = this,
        .catalogue = m_catalogue.get(),
        .navigator = tvNavigator,
        .nbDetail = nbDetail,
        .webSitesPage = m_pages.value(pages::WebSites),
        .pnlDetailTitle = pnlDetailTitle,
        .transfer = m_transfer.get(),
        .log = m_log.get(),
        .edtLocalAddress = edtLocalAddress,
        .edtLastIPAddress = edtLastIPAddress,
    };
    m_push = std::make_unique<TPushCommands>(push, lookup);

    const TSiteEditingParts editing{
        .window = this,
        .navigator = tvNavigator,
        .catalogue = m_catalogue.get(),
        .siteDialog = frmAddNewWebSite,
        .fileDialog = frmAddNewFile,
        .edtDefaultIPParam = edtDefaultIPParam,
        .fileDrag = FileDrag,
    };
    m_editor = new TSiteEditor(editing, this);
    m_editor->FileDetails = GetFileDetails;
}

// The refresh cycle needs its toolbar button, so it is made with the buttons.
void TfrmMain::CreateRefreshCycle()
{
    const TRefreshControls refresh{
        .spnTestFilesMinutes = spnTestFilesMinutes,
        .chkAutoReconnect = chkAutoReconnect,
        .edtRedialCommand = edtRedialCommand,
        .edtLocalAddress = edtLocalAddress,
        .edtLastIPAddress = edtLastIPAddress,
        .btnStartStop = btnStartStop,
        .toolbar = tbGeneralInfo,
        .log = m_log.get(),
        .push = m_push.get(),
    };
    m_refresh = new TRefreshCycle(
        refresh, [this] { return LocalIPAddress(); }, this);
    m_refresh->setObjectName(QStringLiteral("RefreshCycle"));
}

} // namespace quelmark
