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
    site = {.server = QStringLiteral("127.0.0.1"), .user = user, .password = password};
    ftpClient->SetPort(QString::number(port));
}

} // namespace quelmark::test
