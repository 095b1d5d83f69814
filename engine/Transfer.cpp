#include "engine/Transfer.h"

#include "base/Exception.h"
#include "base/ServerField.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/F_Prgrss.h"
#include "engine/TextArea.h"
#include "ftp/Ftpcli.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>

#include <optional>

namespace quelmark {

namespace {

const QString IdleLabel = QStringLiteral("Transfering file... ");
const QString TransferingPrefix = QStringLiteral("Transfering file: ");
const QString CancelledByUser = QStringLiteral("Cancelled by the user");
// The control port of a server text that names none.
const QString FtpService = QStringLiteral("ftp");

// Gives the client the site's server, port, log-in and options; returns why the server text
// names no usable server, or an empty text.
QString UseSite(TFtpClient &client, const TSite &site)
{
    const TServerField server = ParseServerField(site.server);
    if (!server.Valid())
        return server.error;
    client.SetHostName(server.host);
    client.SetPort(server.port != 0 ? QString::number(server.port) : FtpService);
    client.SetUserName(site.user);
    client.SetPassWord(site.password);
    client.SetPassive(site.passive);
    client.SetCreateFolders(site.createFolders);
    client.SetUploadViaTempName(site.uploadViaTempName);
    client.SetRetries(site.retries);
    return QString();
}

} // namespace

int ProgressPercent(std::int64_t count, std::int64_t size)
{
    if (size <= 0)
        return 100;
    const double percent = static_cast<double>(count) / static_cast<double>(size) * 100.0;
    if (percent <= 0.0)
        return 0;
    return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

// Locks the window for one transfer and restores it however the transfer ends.
class TTransfer::TBusyScope {
public:
    TBusyScope(TTransfer &transfer, const QString &localFile) : m_transfer(transfer)
    {
        const TEngineParts &c = transfer.m_parts;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (c.mainWindow)
            c.mainWindow->setEnabled(false);
        if (c.frmProgress) {
            c.frmProgress->progressBar->setValue(0);
            c.frmProgress->lblMessage->setText(IdleLabel);
            // A progress window owned by the main window is disabled with it; Cancel must
            // stay usable.
            c.frmProgress->setEnabled(true);
            c.frmProgress->show();
        }
        if (c.statusBar)
            c.statusBar->showMessage(TransferingPrefix + localFile);
        transfer.TransferCancelled = false;
    }

    ~TBusyScope()
    {
        const TEngineParts &c = m_transfer.m_parts;
        if (c.frmProgress) {
            c.frmProgress->hide();
            c.frmProgress->progressBar->setValue(0);
            c.frmProgress->lblMessage->setText(IdleLabel);
        }
        if (c.statusBar)
            c.statusBar->clearMessage();
        if (c.mainWindow)
            c.mainWindow->setEnabled(true);
        QApplication::restoreOverrideCursor();
        m_transfer.TransferCancelled = false;
    }

    TBusyScope(const TBusyScope &) = delete;
    TBusyScope &operator=(const TBusyScope &) = delete;

private:
    TTransfer &m_transfer;
};

// Keeps user commands out while a shared session ends between two files: the window
// disabled, the busy cursor.
class TTransfer::TWindowLock {
public:
    explicit TWindowLock(QWidget *window) : m_window(window)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (m_window)
            m_window->setEnabled(false);
    }

    ~TWindowLock()
    {
        if (m_window)
            m_window->setEnabled(true);
        QApplication::restoreOverrideCursor();
    }

    TWindowLock(const TWindowLock &) = delete;
    TWindowLock &operator=(const TWindowLock &) = delete;

private:
    QWidget *m_window;
};

TTransfer::TSiteSession::TSiteSession(TTransfer &transfer) : m_transfer(transfer)
{
    const TGeneralOptions *options = transfer.m_parts.options;
    m_active =
        !transfer.m_sharedSession && transfer.m_parts.ftpClient && options && options->chkReuseSession->isChecked();
    if (m_active)
        transfer.m_sharedSession = true;
}

TTransfer::TSiteSession::~TSiteSession()
{
    // Reached by an error on its way out too: a second one from here can only be reported.
    try {
        End();
    } catch (...) {
        ReportTopLevel(std::current_exception());
    }
}

void TTransfer::TSiteSession::End()
{
    if (!m_active)
        return;
    m_active = false;
    m_transfer.m_sharedSession = false;
    TFtpClient &client = *m_transfer.m_parts.ftpClient;
    // A session that failed or was cancelled is over already; one the server ended while idle
    // only needs forgetting, and neither locks the window.
    std::optional<TWindowLock> lock;
    if (client.SessionOpen())
        lock.emplace(m_transfer.m_parts.mainWindow);
    client.CloseSession();
}

TTransfer::TTransfer(const TEngineParts &parts, TActivityLog &log) : m_parts(parts), m_log(log)
{
    if (TFtpClient *client = m_parts.ftpClient) {
        client->SetTimeOut(15);
        client->SetWait(m_parts.waitControl);
        client->OnDisplay = [this](QObject *sender, QString &msg) { m_log.ftpClientDisplay(sender, msg); };
        client->OnProgress = [this](QObject *sender, std::int64_t count, bool &abort) {
            ftpClientProgress(sender, count, abort);
        };
    }
    if (m_parts.frmProgress)
        m_parts.frmProgress->SetTransferCancelledFlag(&TransferCancelled);
}

TTransfer::~TTransfer()
{
    if (m_parts.frmProgress)
        m_parts.frmProgress->SetTransferCancelledFlag(nullptr);
    if (m_parts.ftpClient) {
        m_parts.ftpClient->OnDisplay = nullptr;
        m_parts.ftpClient->OnProgress = nullptr;
    }
}

bool TTransfer::TransferFile(const TSite &site, const TFileEntry &entry, const QString &address)
{
    const QString &localFile = entry.localFile;
    TBusyScope busy(*this, localFile);
    m_abortHanded = false;
    const bool binary = entry.fileType == FileType::Binary;
    m_log.AddToLog(QStringLiteral("Connecting to: ") + site.server);
    m_log.AddToLog(TransferingPrefix + localFile);

    TFtpClient &client = *m_parts.ftpClient;
    client.SetHostDirName(QString());
    client.SetHostFileName(entry.hostFileName);
    if (!entry.ipParameter.isEmpty() && !binary) {
        // A page that cannot be read is this entry's failure, like a refused upload: the walk
        // goes on with the next entry.
        QString reason;
        const std::optional<QString> copy = MakeUploadCopy(localFile, entry.ipParameter, address, reason);
        if (!copy)
            return Failed(QStringLiteral("Cannot open file %1: %2").arg(localFile, reason), localFile);
        client.SetLocalFileName(*copy);
    } else {
        client.SetLocalFileName(localFile);
    }

    CurrentFileName = localFile;
    GetFileDetails(localFile, CurrentFileDate, CurrentFileSize, CurrentFileAttribs);
    client.SetBinary(binary);
    // Checked where the client would have found the server unreachable, so a page that cannot
    // be read or copied still says so first.
    if (const QString unusable = UseSite(client, site); !unusable.isEmpty())
        return Failed(unusable, localFile);

    const bool stored = m_sharedSession ? client.PutFile() : client.Put();
    // The client only closes the data connection on Cancel, and a server takes that for the
    // end of the file and confirms it: the upload is cut short all the same, so the entry must
    // not pass for pushed. Cancel ends a shared session as well.
    if (m_abortHanded) {
        client.CloseSession();
        return Failed(CancelledByUser, localFile);
    }
    if (!stored)
        return Failed(client.ErrorMessage(), localFile);
    m_log.AddToLog(client.ErrorMessage());
    return true;
}

bool TTransfer::Failed(const QString &reason, const QString &localFile)
{
    m_log.AddToLog(reason);
    // A time-out that brought no reply leaves the client without a text; the failure still
    // needs one wherever it is reported.
    m_lastFailure = reason.isEmpty() ? QStringLiteral("Transfer of %1 failed").arg(localFile) : reason;
    return false;
}

std::optional<QString> TTransfer::MakeUploadCopy(const QString &localFile, const QString &ipParameter,
                                                 const QString &address, QString &reason)
{
    QFile page(localFile);
    if (!OpenPage(page, reason))
        return std::nullopt;
    if (m_parts.edtLocalAddress)
        m_parts.edtLocalAddress->setText(address);
    // The two pages show the lines of the page and of the copy; their texts are gathered as the
    // copy is written and shown once the page has been read whole, as before a write that
    // fails.
    QStringList localLines;
    QStringList hostLines;
    TPageSubstitution::TLineHandler onLine;
    if (m_parts.memoLocalFile || m_parts.memoHostFile) {
        onLine = [&localLines, &hostLines](const QByteArray &local, const QByteArray &host) {
            localLines.append(QString::fromLocal8Bit(local));
            hostLines.append(QString::fromLocal8Bit(host));
        };
    }
    // An address is plain ASCII, an IPv6 one included (compressed, without brackets).
    TPageSubstitution substitution(ipParameter.toLocal8Bit(), address.toLatin1(), std::move(onLine));
    const QString tempFile = m_parts.options->edtTempFileName->text();
    TUploadCopyFile copy(tempFile);
    if (!SubstitutePage(page, substitution, copy, reason))
        return std::nullopt;
    if (m_parts.memoLocalFile)
        m_parts.memoLocalFile->SetLines(localLines);
    if (m_parts.memoHostFile)
        m_parts.memoHostFile->SetLines(hostLines);
    copy.Commit();
    return tempFile;
}

void TTransfer::ftpClientProgress(QObject *, std::int64_t count, bool &abort)
{
    const std::int64_t size = CurrentFileSize.trimmed().toLongLong();
    if (TfrmProgress *progress = m_parts.frmProgress) {
        progress->lblMessage->setText(TransferingPrefix + CurrentFileName);
        progress->progressBar->setValue(ProgressPercent(count, size));
    }
    abort = TransferCancelled;
    m_abortHanded = m_abortHanded || abort;
}

} // namespace quelmark
