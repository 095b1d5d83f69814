// The main window's non-visual parts, the program's other windows and the engine that runs on
// them, wired together once when the window is made.
#include "app/F_About.h"
#include "app/F_Instr.h"
#include "app/F_Main.h"
#include "app/Tray.h"
#include "app/WaitInput.h"

#include "base/Exception.h"
#include "base/Wait.h"
#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/F_RenWWW.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/RegControls.h"
#include "catalogue/SiteEditing.h"
#include "catalogue/filedrag.h"
#include "engine/AddressChoice.h"
#include "engine/ChangeDetection.h"
#include "engine/Engine.h"
#include "engine/EngineView.h"
#include "engine/F_Prgrss.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "ftp/Ftpcli.h"
#include "net/AddressSource.h"

#include <QLineEdit>
#include <QLocale>
#include <QStatusBar>

namespace quelmark {

namespace {

// Hands each check's report on.
class TCheckFollower : public TEngineObserver {
public:
    explicit TCheckFollower(std::function<void(const TCheckReport &)> done) : m_done(std::move(done)) {}

    void CheckDone(const TCheckReport &report) override { m_done(report); }

private:
    std::function<void(const TCheckReport &)> m_done;
};

} // namespace

void TfrmMain::CreateNonVisualParts()
{
    ftpClient = new TFtpClient(this);
    ftpClient->setObjectName(QStringLiteral("ftpClient"));
    m_addressSource = new TAddressSource(this);
    m_addressSource->setObjectName(QStringLiteral("addressSource"));
    FileDrag = new TFileDrag(this);
    FileDrag->setObjectName(QStringLiteral("FileDrag"));
    waitControl = new TWait(this);
    waitControl->setObjectName(QStringLiteral("waitControl"));
    waitControl->SetInterval(1000);
}

void TfrmMain::CreateOtherWindows()
{
    // In the order the program has always made them: progress, file dialog, site dialog,
    // instructions.
    frmProgress = new TfrmProgress(this);
    frmAddNewFile = new TfrmAddNewFile(this);
    frmAddNewWebSite = new TfrmAddNewWebSite(this);
    frmRenameWebSite = new TfrmRenameWebSite(this);
    frmInstr = new TfrmInstr(this);
    frmAbout = new TfrmAbout(this);
}

// Made after the commands: the refresh cycle takes over the start/stop button.
void TfrmMain::CreateEngine()
{
    // The client's waits refuse the user's input, but Cancel must reach a transfer that is still
    // connecting or logging in.
    m_waitInput = new TWaitInput(*waitControl, this);
    m_waitInput->LetInputThrough(frmProgress);
    m_sites = std::make_unique<TWindowSites>(*m_catalogue, *tvNavigator, *m_options);
    TEngineParts parts{
        .data = m_sites.get(),
        .ftpClient = ftpClient,
        .waitControl = waitControl,
        // The site editor comes after the engine; it is asked only when a tick arrives.
        .checksHeld = [this] { return m_editor && m_editor->Editing(); },
    };
    UseChosenAddressSource(parts, m_addressSource);
    m_engine = std::make_unique<TEngine>(parts, this);
    m_view = std::make_unique<TEngineView>(*m_engine, TEngineViewParts{
                                                          .mainWindow = this,
                                                          .memoLog = memoLog,
                                                          .edtLocalAddress = edtLocalAddress,
                                                          .statusBar = statusBar(),
                                                          .memoLocalFile = memoLocalFile,
                                                          .memoHostFile = memoHostFile,
                                                          .frmProgress = frmProgress,
                                                          .btnStartStop = btnStartStop,
                                                          .toolbar = tbGeneralInfo,
                                                      });
    m_addressFollower =
        std::make_unique<TCheckFollower>([this](const TCheckReport &report) { ShowAddressState(report); });
    m_engine->AddObserver(m_addressFollower.get());
    FollowTimerOptions(*m_engine, *m_options, this);
}

// The address field follows the address options: its tooltip at once, its address once a
// change is complete (a choice made, an edit left), looked up without waiting for a slow
// source.
void TfrmMain::WatchAddressOptions()
{
    const TGeneralOptions &o = *m_options;
    const auto tip = [this] { ShowAddressSource(QString()); };
    const auto refresh = [this] { Guarded([this] { RefreshAddressField(); }); };
    connect(o.cmbAddressSource, &QComboBox::currentIndexChanged, this, [this] { ShowAddressFields(); });
    for (QComboBox *choice : {o.cmbAddressSource, o.cmbAddressFamily, o.cmbAddressInterface}) {
        connect(choice, &QComboBox::currentTextChanged, this, tip);
        connect(choice, &QComboBox::activated, this, refresh);
    }
    connect(o.cmbAddressInterface->lineEdit(), &QLineEdit::editingFinished, this, refresh);
    for (QLineEdit *edit : {static_cast<QLineEdit *>(o.edtAddressURL), static_cast<QLineEdit *>(o.edtAddressCommand)}) {
        connect(edit, &QLineEdit::textChanged, this, tip);
        connect(edit, &QLineEdit::editingFinished, this, refresh);
    }
    ShowAddressFields();
    ShowAddressSource(QString());
}

void TfrmMain::ShowAddressSource(const QString &failure)
{
    const QString source = AddressSourceText(m_options->Get());
    edtLocalAddress->setToolTip(failure.isEmpty() ? source : source + QLatin1Char('\n') + failure);
}

// A source that answers at once is asked at once; a slow one is asked on the side, and what it
// finds shows only if no push has shown an address meanwhile.
void TfrmMain::RefreshAddressField()
{
    const TOptions options = m_options->Get();
    const QString settings = AddressSourceText(options);
    if (settings == m_addressShownFor)
        return;
    m_addressShownFor = settings;
    delete m_addressPreview.data();
    m_addressPreview = new TAddressSource(this);
    if (const QString unusable = ChooseAddressSource(options, *m_addressPreview); !unusable.isEmpty()) {
        ShowAddressFound(QString(), TAddressResult::Failed(unusable));
        return;
    }
    const TAddressSourceKind kind = m_addressPreview->Source();
    if (kind == TAddressSourceKind::Local || kind == TAddressSourceKind::Interface) {
        ShowAddressFound(edtLocalAddress->text(), m_addressPreview->Lookup());
        return;
    }
    m_addressPreview->OnDone = [this, shown = edtLocalAddress->text()](QObject *, const TAddressResult &result) {
        ShowAddressFound(shown, result);
    };
    m_addressPreview->Start();
}

void TfrmMain::ShowAddressFound(const QString &shownBefore, const TAddressResult &result)
{
    ShowAddressSource(result.Connected() ? QString() : result.failure);
    if (!result.address.isEmpty() && edtLocalAddress->text() == shownBefore)
        edtLocalAddress->setText(result.address);
}

// A check whose source failed leaves the last good address in use: the field shows it greyed,
// and its tooltip says when the check failed and why.
void TfrmMain::ShowAddressState(const TCheckReport &report)
{
    const bool stale = !report.addressFailure.isEmpty();
    edtLocalAddress->setProperty("stale", stale);
    QPalette palette;
    if (stale) {
        palette = edtLocalAddress->palette();
        const QColor grey = palette.color(QPalette::Disabled, QPalette::Text);
        palette.setColor(QPalette::Active, QPalette::Text, grey);
        palette.setColor(QPalette::Inactive, QPalette::Text, grey);
    }
    edtLocalAddress->setPalette(palette);
    ShowAddressSource(stale ? QStringLiteral("Last good address; the check at %1 failed: %2")
                                  .arg(QLocale().toString(report.time, QLocale::ShortFormat),
                                       AddressFailureReason({QString(), report.addressFailure}))
                            : QString());
}

void TfrmMain::CreateSiteEditor()
{
    m_editor = new TSiteEditor({this, tvNavigator, m_catalogue.get(), frmAddNewWebSite, frmAddNewFile,
                                m_options->edtDefaultIPParam, FileDrag, frmRenameWebSite},
                               this);
    m_editor->FileDetails = GetFileDetails;
    // Sites and entries added, changed or removed: the folders watched follow.
    m_editor->OnEdited = [this] { RefreshCycle().ChangeWatch->RefreshFiles(); };
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
    m_trayFollower = std::make_unique<TTrayFollower>([this] { UpdateTray(); },
                                                     [this](const QString &failure) { m_tray->Notify(failure); });
    m_engine->AddObserver(m_trayFollower.get());
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
