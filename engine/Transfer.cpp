#include "engine/Transfer.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "base/ServerField.h"
#include "catalogue/Registry.h"
#include "engine/ActivityLog.h"
#include "engine/PushResults.h"
#include "engine/TrustQuestion.h"
#include "ftp/Ftpcli.h"
#include "ftp/Sftpcli.h"
#include "net/TlsSession.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace quelmark {

namespace {

// What a site's server text, log-in and options give the client that serves it.
TUploadSite UploadSite(const TSite &site, const TServerField &server)
{
    TUploadSite upload;
    upload.host = server.host;
    upload.port = server.port != 0 ? QString::number(server.port) : QString();
    upload.user = site.user;
    upload.password = site.password;
    upload.createFolders = site.createFolders;
    upload.passive = site.passive;
    upload.viaTemporaryName = site.uploadViaTempName;
    upload.retries = site.retries;
    upload.tls = site.UsesTls();
    upload.trustedCertificate = site.trustedCertificate;
    // A key file with the password as its passphrase, else the password, else the user's
    // default keys and the ssh-agent.
    upload.keyFile = site.keyFile;
    upload.keyLogin = !site.keyFile.isEmpty() || site.password.isEmpty();
    upload.knownHostsFile = ProgramKnownHostsFile(QFileInfo(StoreFilePath()).absolutePath());
    return upload;
}

// The site's Security and Protocol as stored are read without regard to case, a missing one as
// the default.
bool Means(const QString &stored, const QString &value)
{
    return stored.compare(value, Qt::CaseInsensitive) == 0;
}

// Returns why the site's Security or Protocol cannot be used, or an empty text: a value this
// version does not know (a later version's, or a slip of a hand-edit) must not quietly become
// plain FTP with the password in clear text.
QString UnknownSetting(const TSite &site)
{
    const auto unknown = [](const char *what, const QString &value) {
        return QStringLiteral("Unknown %1 setting '%2'; nothing was sent")
            .arg(QLatin1String(what), PrintableText(value));
    };
    if (!site.security.isEmpty() && !Means(site.security, SiteSecurity::None) && !site.UsesTls())
        return unknown("security", site.security);
    if (!site.protocol.isEmpty() && !Means(site.protocol, SiteProtocol::FTP) && !site.UsesSftp())
        return unknown("protocol", site.protocol);
    return QString();
}

} // namespace

// Tells the observers that a transfer runs, for as long as it runs, however it ends.
class TTransfer::TBusyScope {
public:
    TBusyScope(TTransfer &transfer, const QString &localFile) : m_transfer(transfer)
    {
        transfer.m_events.TransferStarted(localFile);
        transfer.TransferCancelled = false;
    }

    ~TBusyScope()
    {
        m_transfer.m_events.TransferEnded();
        m_transfer.TransferCancelled = false;
    }

    Q_DISABLE_COPY(TBusyScope)

private:
    TTransfer &m_transfer;
};

TTransfer::TSiteSession::TSiteSession(TTransfer &transfer) : m_transfer(transfer)
{
    const TEngineParts &parts = transfer.m_parts;
    m_active = !transfer.m_sharedSession && parts.ftpClient && parts.data && parts.data->Options().reuseSession;
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
    // A session that failed or was cancelled is over already; one the server ended while idle
    // only needs forgetting, and neither locks the window.
    std::optional<THeldScope> lock;
    for (TUploadClient *client : m_transfer.Clients()) {
        if (client->SessionOpen() && !lock)
            lock.emplace(m_transfer.m_events, THold::SessionEnd);
    }
    m_transfer.CloseSessions();
}

TTransfer::TQuestionScope::TQuestionScope(TTransfer &transfer, bool asking)
    : m_transfer(transfer), m_previous(transfer.m_asking)
{
    if (!asking)
        return;
    if (!m_previous)
        m_transfer.m_refused.clear();
    m_transfer.m_asking = true;
}

TTransfer::TQuestionScope::~TQuestionScope()
{
    m_transfer.m_asking = m_previous;
}

TTransfer::TTransfer(const TEngineParts &parts, TEngineObserver &events, TActivityLog &log)
    : m_parts(parts), m_events(events), m_log(log), m_sftpClient(std::make_unique<TSftpClient>())
{
    m_sftpClient->setObjectName(QStringLiteral("sftpClient"));
    m_sftpClient->OnHostKey = [this](QObject *, const QString &question, TTrustAnswer &answer) {
        m_nobodyAsked = !m_asking;
        if (m_asking)
            answer = Ask(question) ? TTrustAnswer::Trusted : TTrustAnswer::Refused;
    };
    for (TUploadClient *client : Clients()) {
        client->SetTimeOut(15);
        client->SetWait(m_parts.waitControl);
        client->OnDisplay = [this](QObject *sender, QString &msg) { m_log.ftpClientDisplay(sender, msg); };
        client->OnProgress = [this](QObject *sender, std::int64_t count, bool &abort) {
            ftpClientProgress(sender, count, abort);
        };
    }
}

TTransfer::~TTransfer()
{
    // The window's FTP client outlives the transfer.
    for (TUploadClient *client : Clients()) {
        client->OnDisplay = nullptr;
        client->OnProgress = nullptr;
    }
}

std::vector<TUploadClient *> TTransfer::Clients() const
{
    std::vector<TUploadClient *> clients;
    if (m_parts.ftpClient)
        clients.push_back(m_parts.ftpClient);
    clients.push_back(m_sftpClient.get());
    return clients;
}

TUploadClient *TTransfer::ClientFor(const TSite &site) const
{
    if (site.UsesSftp())
        return m_sftpClient.get();
    return m_parts.ftpClient;
}

bool TTransfer::TransferFile(TSite &site, const TPushEntry &entry, const QString &address)
{
    const bool pushed = Upload(site, entry, address);
    m_events.FileDone({site.name, entry.localFile, entry.hostFileName, pushed, pushed ? QString() : m_lastFailure});
    return pushed;
}

bool TTransfer::Upload(TSite &site, const TPushEntry &entry, const QString &address)
{
    const QString &localFile = entry.localFile;
    TBusyScope busy(*this, localFile);
    m_abortHanded = false;
    m_nobodyAsked = false;
    const bool binary = entry.fileType == TFileType::Binary;
    m_log.AddToLog(QStringLiteral("Connecting to: ") + PrintableText(site.server));
    m_log.AddToLog(kTransferingPrefix + PrintableText(localFile));

    m_hostFileName = entry.hostFileName;
    m_uploadName = localFile;
    TakeFileDetails(localFile);
    if (!entry.ipParameter.isEmpty() && !binary) {
        // A page that cannot be read is this entry's failure, like a refused upload: the walk
        // goes on with the next entry.
        QString reason;
        const std::optional<QString> copy = MakeUploadCopy(localFile, entry.ipParameter, address, reason);
        if (!copy)
            return Failed(QStringLiteral("Cannot open file %1: %2").arg(PrintableText(localFile), reason), localFile);
        m_uploadName = *copy;
    }

    // The bar and the bytes count what goes out: a page's copy differs from the page by the
    // address written into it.
    UploadSize = QFileInfo(m_uploadName).size();
    // Checked where the client would have found the server unreachable, so a page that cannot
    // be read or copied still says so first.
    const TServerField server = ParseServerField(site.server);
    if (!server.Valid())
        return Failed(server.error, localFile);
    if (const QString unknown = UnknownSetting(site); !unknown.isEmpty())
        return Failed(unknown, localFile);
    // Never a log-in without the password, which the server might count against the account.
    if (!site.passwordProblem.isEmpty())
        return Failed(site.passwordProblem, localFile);

    TUploadClient *client = ClientFor(site);
    if (!client)
        return Failed(QStringLiteral("there is no %1 client").arg(ProtocolText(site)), localFile);
    const bool stored = Put(*client, site, server, binary);
    // The client only closes the data connection on Cancel, and a server takes that for the
    // end of the file and confirms it: the upload is cut short all the same, so the entry must
    // not pass for pushed. Cancel ends a shared session as well.
    if (m_abortHanded) {
        CloseSessions();
        return Failed(CancelReason.isEmpty() ? kCancelledText : CancelReason, localFile);
    }
    const QString outcome = client->ErrorMessage();
    if (!stored)
        return Failed(m_nobodyAsked ? outcome + QStringLiteral("; ") + kNobodyAskedText : outcome, localFile);
    m_log.AddToLog(client->StoredText());
    NoteChangeWhileSent(localFile);
    return true;
}

// Taken before the file is read, for the page copy or by the client: whatever is sent is at most
// as new as these details, so a change made meanwhile is found by the next check.
void TTransfer::TakeFileDetails(const QString &localFile)
{
    CurrentFileName = localFile;
    const TFileDetails details = CurrentFileDetails(localFile);
    CurrentFileDate = details.dateTime;
    CurrentFileSize = details.size;
    CurrentFileAttribs = details.attribs;
}

void TTransfer::NoteChangeWhileSent(const QString &localFile)
{
    if (CurrentFileDetails(localFile) != SentDetails())
        m_log.AddToLog(QStringLiteral("%1 changed while it was sent; it goes out again at the next check")
                           .arg(PrintableText(localFile)));
}

bool TTransfer::Put(TUploadClient &client, TSite &site, const TServerField &server, bool binary)
{
    client.Site() = UploadSite(site, server);
    client.File() = {.local = m_uploadName, .remote = m_hostFileName, .binary = binary};
    const auto put = [&] { return m_sharedSession ? client.PutFile() : client.Put(); };
    if (put())
        return true;
    if (m_abortHanded || !client.CertificateProblem())
        return false;
    m_nobodyAsked = !m_asking;
    if (!TrustCertificate(client, site, server))
        return false;
    return put();
}

// Puts the certificate that failed the FTP client's check to the user; a yes is kept in site, by
// the data for the site, and in the client for its next try.
bool TTransfer::TrustCertificate(TUploadClient &client, TSite &site, const TServerField &server)
{
    // The failed check (why, subject, issuer, dates, fingerprint) is what the user decides on; it
    // goes to the log whatever the answer.
    const TCertificateProblem problem = *client.CertificateProblem();
    const QString name = site.name.isEmpty() ? server.host : site.name;
    if (!Ask(CertificateTrustQuestion(problem, server.host, name)))
        return false;
    m_log.AddToLog(client.ErrorMessage());
    m_log.AddToLog(QStringLiteral("Certificate trusted for %1: %2").arg(PrintableText(name), problem.fingerprint));
    // Stored at once: the user's decision must outlive a push that an error ends later.
    site.trustedCertificate = problem.fingerprint;
    if (m_parts.data && !site.name.isEmpty())
        m_parts.data->TrustCertificate(site.name, problem.fingerprint);
    client.Site().trustedCertificate = problem.fingerprint;
    return true;
}

QString TTransfer::TestConnection(TSite &site)
{
    THeldScope lock(m_events, THold::ConnectionTest);
    const QString protocol = ProtocolText(site);
    const TServerField server = ParseServerField(site.server);
    std::optional<QString> folderFailure;
    std::optional<QString> refused;
    TUploadClient *client = ClientFor(site);
    if (!server.Valid())
        refused = server.error;
    else if (const QString unknown = UnknownSetting(site); !unknown.isEmpty())
        refused = unknown;
    else if (!site.passwordProblem.isEmpty())
        refused = site.passwordProblem;
    else if (!client)
        refused = QStringLiteral("there is no %1 client").arg(protocol);
    else
        refused = LogIn(*client, site, server, folderFailure);
    const auto why = [](const QString &reason) {
        return reason.isEmpty() ? QStringLiteral("the server gave no reason") : reason;
    };
    QString line;
    if (refused) {
        line = QStringLiteral("Cannot log in to %1 over %2: %3").arg(site.server, protocol, why(*refused));
    } else {
        line = QStringLiteral("Logged in to %1 as %2 over %3").arg(site.server, site.user, protocol);
        if (site.defaultDir.isEmpty())
            line += QStringLiteral("; there is no Default Dir: to look for");
        else if (!folderFailure)
            line += QStringLiteral("; %1 is there").arg(site.defaultDir);
        else
            line += QStringLiteral(", but %1 cannot be used: %2").arg(site.defaultDir, why(*folderFailure));
    }
    m_log.AddToLog(line);
    return line;
}

// Logs in, looks at the site's default directory when it has one and logs out. Returns why the
// log-in failed, or nothing; folderFailure gets why the directory cannot be used.
std::optional<QString> TTransfer::LogIn(TUploadClient &client, TSite &site, const TServerField &server,
                                        std::optional<QString> &folderFailure)
{
    client.Site() = UploadSite(site, server);
    client.File() = {};
    bool in = client.OpenSession();
    if (!in && client.CertificateProblem() && TrustCertificate(client, site, server))
        in = client.OpenSession();
    if (!in)
        return client.ErrorMessage();
    if (!site.defaultDir.isEmpty() && !client.CheckFolder(site.defaultDir))
        folderFailure = client.ErrorMessage();
    client.CloseSession();
    return std::nullopt;
}

bool TTransfer::Ask(const QString &question)
{
    if (!m_asking || m_refused.contains(question))
        return false;
    if (m_events.Ask(TQuestion::Trust, question).value_or(false))
        return true;
    m_refused.insert(question);
    return false;
}

void TTransfer::CloseSessions()
{
    for (TUploadClient *client : Clients())
        client->CloseSession();
}

bool TTransfer::Failed(const QString &reason, const QString &localFile)
{
    m_log.AddToLog(reason);
    // A time-out that brought no reply leaves the client without a text; the failure still
    // needs one wherever it is reported.
    m_lastFailure = reason.isEmpty() ? QStringLiteral("Transfer of %1 failed").arg(PrintableText(localFile)) : reason;
    return false;
}

std::optional<QString> TTransfer::MakeUploadCopy(const QString &localFile, const QString &ipParameter,
                                                 const QString &address, QString &reason)
{
    QFile page(localFile);
    if (!OpenPage(page, reason))
        return std::nullopt;
    m_events.AddressInUse(address);
    // The lines of the page and of the copy are gathered as the copy is written and shown once
    // the page has been read whole, as before a write that fails.
    QStringList localLines;
    QStringList hostLines;
    TPageSubstitution::TLineHandler onLine;
    const bool showsLines = m_events.ShowsPageLines();
    if (showsLines) {
        onLine = [&localLines, &hostLines](const QByteArray &local, const QByteArray &host) {
            localLines.append(QString::fromLocal8Bit(local));
            hostLines.append(QString::fromLocal8Bit(host));
        };
    }
    // An address is plain ASCII, an IPv6 one included (compressed, without brackets).
    TPageSubstitution substitution(ipParameter.toLocal8Bit(), address.toLatin1(), std::move(onLine));
    const QString tempFile = m_parts.data ? m_parts.data->Options().tempFileName : DefaultUploadCopyPath();
    TUploadCopyFile copy(tempFile);
    if (!SubstitutePage(page, substitution, copy, reason))
        return std::nullopt;
    if (showsLines)
        m_events.PageCopied(localLines, hostLines);
    copy.Commit();
    return tempFile;
}

void TTransfer::ftpClientProgress(QObject *, std::int64_t count, bool &abort)
{
    m_events.TransferProgress(CurrentFileName, count, UploadSize);
    abort = TransferCancelled;
    m_abortHanded = m_abortHanded || abort;
}

} // namespace quelmark
