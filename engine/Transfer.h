// File transfer: pushes one file entry of a site to that site's server.
//
// For an entry with an IP parameter that is not of type "Binary", the local file's lines are
// copied into the temporary upload file with the first occurrence of the parameter in each
// line replaced by the machine's address, and that copy is uploaded instead. The observers are
// told when a transfer starts, how far it has gone and when it ends (the window then holds its
// commands back and shows the progress window, whose Cancel sets TransferCancelled), and every
// step goes to the activity log.
#pragma once

#include "engine/EngineParts.h"
#include "engine/UploadCopy.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quelmark {

class TActivityLog;
class TSftpClient;
class TUploadClient;
struct TServerField;
struct TUploadSite;

class TTransfer {
public:
    // Configures the FTP client and the SFTP client (which it makes and owns) once: time-out,
    // wait control, display lines to log, progress handler, the host-key question. Tells events
    // what it does.
    TTransfer(const TEngineParts &parts, TEngineObserver &events, TActivityLog &log);
    ~TTransfer();
    Q_DISABLE_COPY(TTransfer)

    // Lets the transfers made while it lives share one FTP session when "One FTP session per
    // site" is checked: the first file logs in, each next one is stored over the same control
    // connection (a file that fails ends the session and the next logs in afresh), and End, or
    // the end of the scope however it comes, ends the session with QUIT. Otherwise, or inside
    // another such scope, it does nothing and each transfer is a whole session of its own.
    class TSiteSession {
    public:
        explicit TSiteSession(TTransfer &transfer);
        // Ends the session unless End did; a failure to end it is reported, not raised.
        ~TSiteSession();
        Q_DISABLE_COPY(TSiteSession)

        // Ends the session with QUIT, the user's commands held back while the server answers; a
        // socket failure goes to the caller.
        void End();

    private:
        TTransfer &m_transfer;
        bool m_active = false;
    };

    // Lets the transfers made while it lives ask the user (through the observers) whether to
    // trust a server certificate or an SSH host key that fails the check; otherwise such a file
    // fails with the fingerprint in its reason. Only a push the user started opens one; the
    // timer and the runs handed over never do. A question the user answered No is not asked
    // again while the scope lives. A scope made with asking false changes nothing.
    class TQuestionScope {
    public:
        TQuestionScope(TTransfer &transfer, bool asking);
        ~TQuestionScope();
        Q_DISABLE_COPY(TQuestionScope)

    private:
        TTransfer &m_transfer;
        bool m_previous;
    };

    // Uploads one file entry (its local file, host file name, type and IP parameter) to the
    // site's server (the host and port of its server text) with the site's user name, password
    // and options, over FTP (under TLS when the site's Security is "TLS") or, when its Protocol
    // is "SFTP", over SSH (both read without regard to case; any other value than "None", "TLS",
    // "FTP", "SFTP" or none fails the file before connecting), the IP parameter replaced by
    // address (which the observers are told is in use) in the copy of a page, and returns true
    // when the server confirmed it and the user did not cancel it (a cancelled upload leaves a
    // cut-short file on the server, and ends the session). A certificate or host key that fails the check is put to the
    // user while a TQuestionScope lives: a trusted certificate's fingerprint goes into site and to the data's
    // TrustCertificate (stored at once) and the file is tried again, a trusted host key goes
    // to the program's known-hosts file beside the store. A failure's reason goes to the log and to LastFailure(): the
    // client's text, "Cancelled by the user" (or CancelReason), why the server text names no
    // usable server, "Unknown security setting 'X'; nothing was sent" (or protocol), or
    // "Cannot open file <name>: <reason>" when the local file cannot be read for the substituted
    // copy. Raises Exception "Cannot create file <name>" when the copy cannot be written, and
    // lets a socket failure of the client through; TransferEnded is told in every case.
    bool TransferFile(TSite &site, const TPushEntry &entry, const QString &address);

    // Logs in to the site's server with its settings, as its uploads do, looks whether its default
    // directory is there, logs out, and returns what it found in one line. A certificate or host
    // key that fails the check is put to the user as for an upload while a TQuestionScope lives,
    // and a trusted certificate kept for the site the same way. The user's commands are held
    // back meanwhile, and the line goes to the log.
    QString TestConnection(TSite &site);

    // Returns the reason the last failed transfer gave; never empty after a failure.
    const QString &LastFailure() const { return m_lastFailure; }
    // Returns the details of the last transfer's local file as it was sent: taken before the
    // file was read. A file changed while it was read or sent thus keeps details that the next
    // check finds changed, and goes out again then.
    TFileDetails SentDetails() const { return {CurrentFileDate, CurrentFileSize, CurrentFileAttribs}; }

    // Handler of the client's progress: tells the observers, and asks the client to stop after
    // Cancel.
    void ftpClientProgress(QObject *sender, std::int64_t count, bool &abort);

    bool TransferCancelled = false;
    // The size of what the client sends: the substituted copy for a page with an IP parameter,
    // the local file otherwise, taken when the upload starts.
    std::int64_t UploadSize = 0;
    // Why the program itself cancelled the running upload (it was asked to end); empty for the
    // user's Cancel, which is logged "Cancelled by the user".
    QString CancelReason;
    QString CurrentFileName;
    QString CurrentFileDate;
    QString CurrentFileSize;
    QString CurrentFileAttribs;

private:
    class TBusyScope;

    bool Upload(TSite &site, const TPushEntry &entry, const QString &address);
    bool Failed(const QString &reason, const QString &localFile);
    void TakeFileDetails(const QString &localFile);
    void NoteChangeWhileSent(const QString &localFile);
    std::optional<QString> MakeUploadCopy(const QString &localFile, const QString &ipParameter, const QString &address,
                                          QString &reason);
    // The clients the transfer knows (the FTP client only where the parts have one), and the one
    // that serves site.
    std::vector<TUploadClient *> Clients() const;
    TUploadClient *ClientFor(const TSite &site) const;
    bool Put(TUploadClient &client, TSite &site, const TServerField &server, bool binary);
    bool TrustCertificate(TUploadClient &client, TSite &site, const TServerField &server);
    std::optional<QString> LogIn(TUploadClient &client, TSite &site, const TServerField &server,
                                 std::optional<QString> &folderFailure);
    bool Ask(const QString &question);
    void CloseSessions();

    TEngineParts m_parts;
    TEngineObserver &m_events;
    TActivityLog &m_log;
    bool m_abortHanded = false;
    // Set while a TSiteSession shares one FTP session between transfers.
    bool m_sharedSession = false;
    QString m_lastFailure;
    std::unique_ptr<TSftpClient> m_sftpClient;
    // Set while a TQuestionScope lives; the questions answered No meanwhile.
    bool m_asking = false;
    QSet<QString> m_refused;
    // The transfer's server wanted trusting, and nobody was there to ask.
    bool m_nobodyAsked = false;
    // The entry's file as uploaded: the local file or its substituted copy.
    QString m_uploadName;
    QString m_hostFileName;
};

} // namespace quelmark
