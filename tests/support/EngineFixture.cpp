#include "tests/support/EngineFixture.h"

#include <QVBoxLayout>

namespace quelmark::test {

namespace {

template <typename T> T *Named(QWidget *parent, const char *name)
{
    auto *w = new T(parent);
    w->setObjectName(QString::fromLatin1(name));
    parent->layout()->addWidget(w);
    return w;
}

} // namespace

EngineWindow::EngineWindow(std::uint16_t waitIntervalMs) : window(std::make_unique<QWidget>())
{
    QWidget *w = window.get();
    new QVBoxLayout(w);
    chkTimeStampLog = Named<TRegCheckBox>(w, "chkTimeStampLog");
    chkDetailedLogging = Named<TRegCheckBox>(w, "chkDetailedLogging");
    edtTempFileName = Named<TRegEdit>(w, "edtTempFileName");
    edtTempFileName->setText(DefaultUploadCopyPath());
    edtLastIPAddress = Named<TRegEdit>(w, "edtLastIPAddress");
    edtLocalAddress = Named<QLineEdit>(w, "edtLocalAddress");
    edtLocalAddress->setReadOnly(true);
    site.edtFTPServer = Named<TRegEdit>(w, "edtFTPServer");
    site.edtUserName = Named<TRegEdit>(w, "edtUserName");
    site.edtPassword = Named<TRegEdit>(w, "edtPassword");
    site.edtDefaultDir = Named<TRegEdit>(w, "edtDefaultDir");
    site.lvFileDetails = Named<TRegListView>(w, "lvFileDetails");
    ConfigureFileList(site.lvFileDetails);
    memoLog = Named<TTextArea>(w, "memoLog");
    memoLocalFile = Named<TTextArea>(w, "memoLocalFile");
    memoHostFile = Named<TTextArea>(w, "memoHostFile");
    statusBar = Named<QStatusBar>(w, "StatusBar");
    waitControl = Named<TWait>(w, "waitControl");
    waitControl->SetInterval(waitIntervalMs);
    ftpClient = Named<TFtpClient>(w, "ftpClient");
    // Owned by the window like the program's, so Cancel is checked to work while the window
    // is disabled.
    frmProgress = new TfrmProgress(w);

    log = std::make_unique<TActivityLog>(memoLog, chkTimeStampLog, chkDetailedLogging, w);
    const TTransferControls controls{
        .mainWindow = w,
        .edtFTPServer = site.edtFTPServer,
        .edtUserName = site.edtUserName,
        .edtPassword = site.edtPassword,
        .edtTempFileName = edtTempFileName,
        .edtLocalAddress = edtLocalAddress,
        .statusBar = statusBar,
        .memoLocalFile = memoLocalFile,
        .memoHostFile = memoHostFile,
        .frmProgress = frmProgress,
        .ftpClient = ftpClient,
        .waitControl = waitControl,
        .log = log.get(),
    };
    transfer = std::make_unique<TTransfer>(controls, [this] { return localAddress; });
}

EngineWindow::~EngineWindow()
{
    transfer.reset();
    log.reset();
    window.reset();
}

void EngineWindow::SetSite(std::uint16_t port, const QString &user, const QString &password)
{
    site.edtFTPServer->setText(QStringLiteral("127.0.0.1"));
    site.edtUserName->setText(user);
    site.edtPassword->setText(password);
    ftpClient->SetPort(QString::number(port));
}

TListRow *EngineWindow::AddRow(const QString &localFile, const QStringList &columns)
{
    TListRow *row = site.lvFileDetails->AddRow();
    row->SetCaption(localFile);
    row->SetSubItems(columns);
    return row;
}

} // namespace quelmark::test
