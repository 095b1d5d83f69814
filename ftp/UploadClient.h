// TUploadClient: what the program's upload clients (FTP, FTPS and SFTP) have in common, so that
// a caller works with any of them alike: the session (OpenSession, PutFile, CloseSession, or Put
// for one file), display lines through OnDisplay, the file's progress through OnProgress (whose
// abort is the cancel), and the outcome as the call's result with the first failure's text in
// ErrorMessage.
//
// Beside it, the pieces every client uses the same way: the watch that asks for a cancel while a
// wait runs, the guard against a call made while another runs, the checks of the local file and
// their texts, the temporary name a file is stored under before it is
// renamed into place, and the program's known-hosts file.
#pragma once

#include "base/Exception.h"
#include "base/Wait.h"
#include "net/TlsSession.h"
#include "net/UniqueFd.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

namespace quelmark {

// The texts of a cancel: shown when it is asked for, and the failure it makes.
inline const QString kAbortRequestedText = QStringLiteral("Abort requested");
inline const QString kCancelledText = QStringLiteral("Cancelled by the user");

// Where and how the files of a site go, for whichever client serves it; each client takes what
// its protocol knows.
struct TUploadSite {
    // The server field: "host", "host:port", an IPv6 address or "[address]:port" (SFTP reads a
    // port in it; FTP takes the host alone).
    QString host;
    // A port number or service name; empty leaves it to the protocol ("ftp" or 22). It wins over
    // a port in host.
    QString port;
    QString user;
    // The password, or the passphrase of keyFile.
    QString password;
    // The folder the host file names are below; empty for the folder of the log-in.
    QString folder;
    // The missing folders of a host file name are created.
    bool createFolders = false;
    // FTP: the data connection from here; the file stored under its temporary name first; how
    // often a passing failure is tried again and the pause before the first retry (it doubles
    // with each further one, up to 60 seconds); TLS, a certificate trusted by fingerprint and a
    // PEM file of CAs trusted besides the system's.
    bool passive = false;
    bool viaTemporaryName = false;
    std::int32_t retries = 0;
    std::int32_t retryDelayMs = 2000;
    bool tls = false;
    QString trustedCertificate;
    QString caFile;
    // SFTP: a private key file; log-in by key (the user's default keys and the ssh-agent where
    // keyFile is empty) rather than by password; the program's known-hosts file; the fingerprint
    // ("SHA256:...") of an unknown host key to accept and store.
    QString keyFile;
    bool keyLogin = false;
    QString knownHostsFile;
    QString acceptedHostKey;
};

// The file the next Put or PutFile sends: local stored as remote below the site's folder, as it
// is or as text.
struct TUploadFile {
    QString local;
    QString remote;
    bool binary = true;
};

class TUploadClient : public QObject {
    Q_OBJECT
public:
    using TDisplay = std::function<void(QObject *sender, QString &msg)>;
    // count is the number of the file's bytes the server has taken so far; abort cancels.
    using TProgress = std::function<void(QObject *sender, std::int64_t count, bool &abort)>;

    // protocol names the client in the refusal of a call made while another runs ("FTP").
    TUploadClient(QString protocol, QObject *parent);
    ~TUploadClient() override;

    // Runs a whole session for one file: the file's local stored as its remote below the site's
    // folder. True only when the server confirmed every byte; shows "Done" or "Failed" last. A
    // session that PutFile left open ends first.
    bool Put();
    // Several files over one session: PutFile once per file, then CloseSession. OpenSession
    // opens one unless one for the same server, user and settings is open; true when one is.
    bool OpenSession();
    // Stores the file as Put does over the open session, opening one first when there is none;
    // a failure ends the session, so the next call starts afresh, and ErrorMessage holds this
    // file's first failure.
    bool PutFile();
    // Ends the session; true when it ended cleanly or there was none.
    virtual bool CloseSession() = 0;
    virtual bool SessionOpen() const = 0;
    // Tells, over the open session, whether folder can be used on the server; on false,
    // ErrorMessage says why.
    virtual bool CheckFolder(const QString &folder) = 0;

    // The server's certificate when it failed the check in the last call and nothing trusted it;
    // only a TLS session has one.
    virtual std::optional<TCertificateProblem> CertificateProblem() const { return std::nullopt; }
    // The line that says a file is in after a successful call.
    virtual QString StoredText() const = 0;

    TDisplay OnDisplay;
    TProgress OnProgress;

    // The site's server, log-in and options, and the file the next call sends.
    TUploadSite &Site() { return m_site; }
    const TUploadSite &Site() const { return m_site; }
    TUploadFile &File() { return m_file; }
    const TUploadFile &File() const { return m_file; }
    TWait *Wait() const { return m_wait; }
    // Stores the countdown (not owned) that bounds every wait.
    virtual void SetWait(TWait *wait) { m_wait = wait; }
    // Ticks of the countdown each wait may last.
    std::int32_t TimeOut() const { return m_timeOut; }
    void SetTimeOut(std::int32_t ticks) { m_timeOut = ticks; }
    QString ErrorMessage() const { return m_errorMessage; }

protected:
    // Asks the progress handler every kCancelPollMs, for as long as it lives (one wait of the
    // session), whether to go on: a Cancel or an end request ends the wait at once instead of
    // after the server's time.
    class TCancelWatch {
    public:
        explicit TCancelWatch(TUploadClient &client);

    private:
        QTimer m_timer;
    };

    // The bodies of Put, PutFile and OpenSession.
    virtual bool PutAlone() = 0;
    virtual bool PutInSession() = 0;
    virtual bool Open() = 0;
    // Runs Put's or PutFile's body as one call and shows how it ended.
    bool RunStore(bool (TUploadClient::*store)());

    // Runs one public call: a call made while another runs on this client (from a handler
    // dispatched inside one of its waits) is refused and leaves the running one alone. An
    // exception leaves after Abandon, with its text as the error.
    template <typename Body> bool RunExclusively(Body body);
    // Runs one public call as RunExclusively does, starting with no error of its own.
    template <typename Body> bool RunCall(Body body)
    {
        return RunExclusively([&] {
            m_sessionError.clear();
            return body();
        });
    }
    // Asks the progress handler whether to go on and breaks the session off when it says no.
    void CheckCancel();
    // Whether a cancel may break something off now, what the server has taken so far, and the
    // breaking off itself.
    virtual bool Cancellable() const { return true; }
    virtual std::int64_t TakenBytes() const = 0;
    virtual void BreakOff() = 0;
    // Closes whatever the call had open after an exception.
    virtual void Abandon() noexcept = 0;

    // Keeps text as the running call's first failure; true when it had none yet.
    bool KeepError(const QString &text);
    // Keeps text as KeepError does and shows it; returns false.
    bool Refuse(const QString &text);
    // The checks of the local file. CheckLocalFile refuses one that cannot be sent: only a
    // regular file can (a FIFO would hold the program in open, a folder reads as an error, a
    // device may never end); one that does not exist passes, opening it says so. OpenLocalFile
    // opens it into m_localFile, checking once more what was opened, its size into m_localSize.
    bool CheckLocalFile();
    bool OpenLocalFile();
    // Shows a line through OnDisplay, made printable first.
    void Display(const QString &text);
    std::int32_t EffectiveTimeOut() const { return m_timeOut > 0 ? m_timeOut : 15; }
    std::int64_t TickMs() const { return m_wait ? m_wait->Interval() : 1000; }

    TUploadSite m_site;
    TUploadFile m_file;
    QPointer<TWait> m_wait;
    std::int32_t m_timeOut = 15;
    // ErrorMessage as callers see it, and the text of the running call's own first failure; they
    // differ only while a refused nested call has put its refusal into ErrorMessage.
    QString m_errorMessage;
    QString m_sessionError;
    bool m_running = false;
    // The local file being sent, and its size when it was opened.
    UniqueFd m_localFile;
    std::int64_t m_localSize = 0;
    // A cancel broke the running call's session off.
    bool m_cancelled = false;

private:
    QString m_protocol;
};

template <typename Body> bool TUploadClient::RunExclusively(Body body)
{
    if (m_running) {
        m_errorMessage = QStringLiteral("Another transfer is running on this %1 client").arg(m_protocol);
        return false;
    }
    m_running = true;
    m_cancelled = false;
    struct TDone {
        TUploadClient &client;
        ~TDone()
        {
            client.m_running = false;
            client.m_errorMessage = client.m_sessionError;
        }
    } done{*this};
    try {
        return body();
    } catch (...) {
        Abandon();
        KeepError(ExceptionMessage(std::current_exception()));
        throw;
    }
}

// Tells how long the data of a step has stood still: any change of what Moved reports starts the
// count again.
class TStillClock {
public:
    using TMoved = std::pair<std::int64_t, std::int64_t>;
    // Returns whether nothing has moved for limitMs, with moved the current counts.
    bool StillFor(const TMoved &moved, std::int64_t limitMs);

private:
    std::optional<TMoved> m_last;
    QElapsedTimer m_since;
};

// Returns the name a file is stored under before it is renamed into place: in the same folder,
// the file's name with ".quelmark-part" appended.
QString TemporaryName(const QString &hostFileName);

// Returns the program's own known-hosts file in folder, where host keys the user trusted are
// kept; by default in the program's configuration folder, beside its settings store.
QString ProgramKnownHostsFile(const QString &folder = {});

} // namespace quelmark
