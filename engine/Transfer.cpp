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
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryFile>

#include <cstdio>
#include <optional>
#include <sys/stat.h>

namespace quelmark {

namespace {

const QString IdleLabel = QStringLiteral("Transfering file... ");
const QString TransferingPrefix = QStringLiteral("Transfering file: ");
const QString CancelledByUser = QStringLiteral("Cancelled by the user");
// The control port of a server text that names none.
const QString FtpService = QStringLiteral("ftp");

QString DefaultCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
}

// Creates the default cache folder, private to the user, when the copy goes there and the
// folder is missing; any other folder must exist already.
void PrepareFolder(const QString &folder)
{
    if (QFileInfo::exists(folder) || QDir::cleanPath(folder) != QDir::cleanPath(DefaultCacheFolder()))
        return;
    if (QDir().mkpath(folder))
        ::chmod(QFile::encodeName(folder).constData(), 0700);
}

// Reads a whole local file; on failure says why in reason.
bool ReadLocalFile(const QString &path, QByteArray &bytes, QString &reason)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        if (file.error() == QFileDevice::NoError)
            return true;
    }
    reason = file.errorString();
    return false;
}

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

QList<QByteArray> SplitLines(const QByteArray &bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(bytes.mid(start));
    return lines;
}

void ReplaceIPParam(QList<QByteArray> &lines, const QByteArray &parameter, const QByteArray &address)
{
    if (parameter.isEmpty())
        return;
    for (QByteArray &line : lines) {
        const qsizetype at = line.indexOf(parameter);
        if (at >= 0)
            line.replace(at, parameter.size(), address);
    }
}

int ProgressPercent(std::int64_t count, std::int64_t size)
{
    if (size <= 0)
        return 100;
    const double percent = static_cast<double>(count) / static_cast<double>(size) * 100.0;
    if (percent <= 0.0)
        return 0;
    return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

QString DefaultUploadCopyPath()
{
    return DefaultCacheFolder() + QStringLiteral("/QUELMARK.$$$");
}

void WriteUploadCopy(const QList<QByteArray> &lines, const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    PrepareFolder(folder);
    // A fresh file (O_EXCL, mode 0600) renamed over the target: rename() replaces a link
    // planted at the path instead of writing to where it points, unlike QSaveFile.
    QTemporaryFile file(folder + QStringLiteral("/.quelmark-XXXXXX"));
    bool ok = file.open();
    QByteArray block;
    for (qsizetype i = 0; ok && i < lines.size(); ++i) {
        block += lines[i];
        block += "\r\n";
        if (block.size() >= 65536 || i + 1 == lines.size()) {
            ok = file.write(block) == block.size();
            block.clear();
        }
    }
    ok = ok && file.flush() && ::fchmod(file.handle(), 0600) == 0;
    if (ok && std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) == 0) {
        file.setAutoRemove(false);
        return;
    }
    throw Exception(QStringLiteral("Cannot create file %1").arg(path));
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
        QByteArray bytes;
        QString reason;
        if (!ReadLocalFile(localFile, bytes, reason))
            return Failed(QStringLiteral("Cannot open file %1: %2").arg(localFile, reason), localFile);
        client.SetLocalFileName(MakeUploadCopy(bytes, entry.ipParameter, address));
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

QString TTransfer::MakeUploadCopy(const QByteArray &bytes, const QString &ipParameter, const QString &address)
{
    if (m_parts.edtLocalAddress)
        m_parts.edtLocalAddress->setText(address);
    m_localLines = SplitLines(bytes);
    ShowLines(m_parts.memoLocalFile, m_localLines);
    m_hostLines = m_localLines;
    // An address is plain ASCII, an IPv6 one included (compressed, without brackets).
    ReplaceIPParam(m_hostLines, ipParameter.toLocal8Bit(), address.toLatin1());
    ShowLines(m_parts.memoHostFile, m_hostLines);

    const QString tempFile = m_parts.options->edtTempFileName->text();
    WriteUploadCopy(m_hostLines, tempFile);
    return tempFile;
}

void TTransfer::ShowLines(TTextArea *area, const QList<QByteArray> &lines)
{
    if (!area)
        return;
    QStringList texts;
    texts.reserve(lines.size());
    for (const QByteArray &line : lines)
        texts.append(QString::fromLocal8Bit(line));
    area->SetLines(texts);
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
