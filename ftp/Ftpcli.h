// TFtpClient: uploads local files to an FTP server, one per call of Put, or several over one
// session with PutFile.
//
// Speaks the control side of FTP (RFC 959) over one event-driven socket and moves the file over
// a second one. In active mode the client listens and announces the port with PORT (EPRT on
// IPv6, RFC 2428) and the server connects for STOR; in passive mode the client asks with EPSV
// (PASV for the rest of the session once the server refuses it) and connects. Only whole-file
// uploads exist; a file may be stored under a temporary name and renamed into place keeping the
// mode of the file it replaces, its folders may be created, and an upload that failed for a
// passing cause may be tried again. With TLS (RFC 4217) the client
// asks for it with AUTH TLS after the greeting and runs the control connection and every data
// connection under it, checking the server's certificate. Every wait is bounded by the
// TWait countdown the client hands to its sockets.
#pragma once

#include "base/Wait.h"
#include "ftp/UploadClient.h"
#include "net/UniqueFd.h"
#include "net/WSocket.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace quelmark {

// The start of the note shown when a file replaced via its temporary name could not be given
// the mode of the file it replaced; the server's reply follows in parentheses.
inline const QString kModeNotKeptText = QStringLiteral("The file's mode could not be kept");

class TFtpClient : public TUploadClient {
    Q_OBJECT
public:
    // Who reads the advice that a failure about the data connection's mode gives: the user of a
    // site's page ("tick "Passive mode" for this site") or of quelmark-put ("use --passive").
    enum class TModeAdvice : std::uint8_t { SitePage, CommandLine };

    explicit TFtpClient(QObject *parent = nullptr);
    ~TFtpClient() override;

    // Put runs login, optional CWD, TYPE, PORT, STOR with the file's bytes and QUIT; success is
    // the server's 226 or 250 after every byte. A socket failure outside the connect step leaves
    // as ESocketException, with both connections and the local file closed. A session is for one
    // server, user and folder: another one ends it. TYPE goes out when the file's type differs
    // from the session's. With retries, a call that failed for a passing cause (a connection
    // refused, reset or timed out, a 4xx reply, a stalled data connection; not a 5xx reply or a
    // local failure) runs again after a pause, each time in a fresh session.
    //
    // CheckFolder changes the open session to folder (CWD), which becomes the site's folder;
    // without an open session it fails.
    bool CheckFolder(const QString &folder) override;
    // Ends the session with QUIT; true when there was none or the server answered 221.
    bool CloseSession() override;
    bool SessionOpen() const override;
    // The server's closing text, as ErrorMessage holds it after a stored file.
    QString StoredText() const override { return ErrorMessage(); }
    // Stores the countdown (not owned) and hands it to both sockets.
    void SetWait(TWait *wait) override;

    // How a server that refuses the chosen mode is told to be reached instead; the site's page
    // unless set.
    TModeAdvice ModeAdvice() const { return m_modeAdvice; }
    void SetModeAdvice(TModeAdvice v) { m_modeAdvice = v; }

    // In passive mode the client opens the data connection (EPSV; on IPv4, PASV for the rest of
    // the session once EPSV is refused or answered unreadably) instead of listening for the
    // server's (PORT, or EPRT on IPv6).
    //
    // With createFolders, a STOR refused with 550 or 553 for a name in folders makes the client
    // create each folder with MKD and send STOR once more.
    //
    // Via the temporary name, the file is stored as TemporaryName and renamed over its name with
    // RNFR/RNTO (after DELE of the old file when the server will not rename over it); a failed
    // upload removes the temporary file and leaves the old one. The old file's mode (MLST's
    // UNIX.mode fact, else the letters STAT lists for it) is set on the temporary file with SITE
    // CHMOD before the rename; a server that refuses it leaves the server's default mode, which
    // a new file keeps anyway.
    //
    // TLS is explicit: AUTH TLS after the greeting, then PBSZ 0 and PROT P, so that the login and
    // every data connection (which resume the control connection's TLS session) are encrypted. A
    // server that refuses AUTH TLS fails the session; nothing falls back to clear text. The
    // server's certificate must chain to the system's CAs or to caFile and name the host, or have
    // the trusted fingerprint: hex pairs separated by ':' (as CertificateProblem gives it) or
    // without them, either case. CertificateProblem tells subject, issuer, validity dates, reason
    // and fingerprint, what a user needs to decide whether to trust it; ErrorMessage holds the
    // same as one line of text.
    std::optional<TCertificateProblem> CertificateProblem() const override { return m_certificateProblem; }

    bool LoggedIn() const { return m_loggedIn; }
    bool LocalFileOpen() const { return m_localFile.Valid(); }
    const TWSocket &ControlSocket() const { return *m_controlSocket; }
    const TWSocket &DataSocket() const { return *m_dataSocket; }

protected:
    bool Login();
    bool ChangeHostDir();
    bool SendType();
    bool Store();
    bool Finish();
    bool Quit();
    // Sends one command line, which ends in CR LF, after showing it without the CR LF (and
    // without the password).
    void SendCommand(const QString &line);
    // Reads one reply, following RFC 959 continuation lines, and returns its code. A line that the
    // countdown cut short ends the reply; a reply that does not end within TimeOut ticks of the
    // start of its wait or within 1000 lines, or a line longer than 65536 bytes, fails the step
    // ("The server's reply line is longer than 65536 bytes") and closes the control connection.
    std::int32_t GetResponse();
    // Sends one command (without CR LF) and returns the reply's code.
    std::int32_t Command(const QString &command);
    // Announces the listening port: PORT, or EPRT on an IPv6 control connection.
    std::int32_t SendPort(std::uint16_t port);
    void DataSessionAvailable(QObject *sender, std::uint16_t error);
    void SendNextBlock(QObject *sender, std::uint16_t error);
    bool TriggerProgress();
    bool AskWithFigure(std::int64_t figure);
    void DataSessionClosed(QObject *sender, std::uint16_t error);

private:
    // Where the data connection of one store step stands.
    enum class TDataState : std::uint8_t {
        Idle,               // no store step has set it up yet
        Listening,          // being set up (listening, or connecting in passive mode); no STOR yet
        AwaitingConnection, // STOR sent; the server has not connected yet
        OpenedEarly,        // the connection opened before STOR; the bytes wait for it
        Sending,            // the file's blocks go out
        Draining,           // end of file: the sending side is shut, the server takes the rest
        Done,               // the server took every byte and the connection is over
        Broken,             // the connection ended early or was broken off
    };
    // How one STOR of the file ended.
    enum class TStoreResult : std::uint8_t {
        NotSent, // a failure before STOR: nothing was created on the server
        Refused, // STOR was refused; nothing was created
        Failed,  // STOR was accepted but the upload failed: a part may be on the server
        Stored,  // the server took every byte and confirmed it
    };
    // Whether a failure may pass if the upload is tried again.
    enum class TFailure : std::uint8_t { None, Transient, Permanent };
    // Which command asks the server for a passive data port in this session.
    enum class TPassiveCommand : std::uint8_t {
        Epsv, // EPSV: the server has not refused it in this session
        Pasv, // PASV for the rest of the session: EPSV was refused or answered unreadably
    };
    // How this session learns the mode of a file it is about to replace.
    enum class TModeQuery : std::uint8_t {
        Mlst, // MLST, with STAT where the answer has no UNIX.mode fact
        Stat, // STAT alone: the server knows no MLST or gives no mode with it
        None, // not at all: the server knows neither
    };
    class TDataStepEnd;
    bool PutAlone() override;
    bool PutInSession() override;
    bool Open() override;
    template <typename Attempt> bool RunGuarded(Attempt attempt);
    template <typename Attempt> bool RunAttempts(Attempt attempt);
    bool PauseBeforeRetry(int retry);
    bool PutFileOnce();
    QStringList SessionKey() const;
    void ForgetClosedSession();
    bool CheckCommandTexts();
    bool ConnectControl();
    bool TryConnect(const sockaddr_storage &address, bool last);
    bool PrepareTls();
    bool SecureControl();
    TTlsPeer TlsPeer() const;
    void StartDataTls();
    void FailTls(const TWSocket &socket, const QString &prefix);
    QString DataTlsError() const;
    bool ReadReplyLine(std::int32_t ticks);
    std::int32_t ReadRestOfReply(const QString &opening, const QDeadlineTimer &deadline);
    std::int32_t FailReply(const QString &text, TFailure failure);
    bool StoreFile();
    TStoreResult StoreAs(const QString &target, bool foldersMayFollow);
    bool MakeFolders(const QString &target);
    bool RenameIntoPlace(const QString &temporary);
    void RemoveTemporary(const QString &temporary);
    bool Reconnect();
    void RethrowEndError();
    void ResetTransfer();
    void ListenForData();
    void AttachDataHandlers();
    bool AnnouncePort();
    bool ConnectForData();
    std::optional<sockaddr_storage> RequestPassive();
    bool EpsvRefused(std::int32_t code) const;
    std::optional<sockaddr_storage> PasvTarget();
    QString AdvisedMode(const QString &refusal) const;
    bool LearnMode(std::optional<std::uint32_t> &mode);
    bool LearnModeByMlst(std::optional<std::uint32_t> &mode);
    bool LearnModeByStat(std::optional<std::uint32_t> &mode);
    bool KeepMode(const QString &temporary, std::uint32_t mode);
    std::optional<std::int32_t> CommandAnswered(const QString &command);
    bool AskToGoOn();
    std::int64_t TakenBytes() const override { return m_takenBytes; }
    void BreakOff() override;
    void Abandon() noexcept override;
    void StartSending();
    bool SendingData() const;
    bool AskForBlock(bool measure);
    bool ReadChunk();
    bool WaitForDataEnd();
    void DataTimedOut();
    bool ConfirmStored();
    void DiscardIncoming();
    void MeasureTaken();
    void FailData(const QString &text, TFailure failure);
    void FailClosedEarly();
    void Fail(const QString &text, TFailure failure = TFailure::Permanent);
    void SetReplyError(const QString &reply);
    bool DataStepOver() const { return m_dataState == TDataState::Done || m_dataState == TDataState::Broken; }
    void SetError(const QString &text, TFailure failure = TFailure::Permanent);
    void SetErrorFromReply();
    void EndDataStep();
    char TypeLetter() const { return m_file.binary ? 'I' : 'A'; }

    TWSocket *m_controlSocket = nullptr;
    TWSocket *m_dataSocket = nullptr;
    // Set when this store step's data connection opened.
    std::optional<std::uint32_t> m_startTick;
    std::uint32_t m_stopTick = 0;
    QString m_lastResponse;
    // The lines of the last reply, as displayed.
    QStringList m_replyLines;
    bool m_loggedIn = false;
    // The chunk of the file read last, and where it begins and ends in the file; the file
    // offset of the next block whose progress event is due.
    std::vector<char> m_chunk;
    std::int64_t m_chunkStart = 0;
    std::int64_t m_chunkEnd = 0;
    std::int64_t m_nextBlock = 0;
    // Bytes of the file handed to the data connection.
    std::int64_t m_totalBytes = 0;
    // Bytes of the file the server has acknowledged.
    std::int64_t m_takenBytes = 0;
    // A QUIT of this session was answered: a closed connection after it is no failure.
    bool m_quitAnswered = false;
    // QUIT waits for its answer.
    bool m_quitting = false;
    TDataState m_dataState = TDataState::Idle;
    // Set by a failure of the data step that leaves the control connection out of step: the
    // step's end closes it instead of leaving it for QUIT.
    bool m_dropControl = false;
    // An exception raised by a handler while the data step ended, rethrown by Put.
    std::exception_ptr m_endError;

    // Whether the session's first failure may pass on another try.
    TFailure m_failure = TFailure::None;
    TModeAdvice m_modeAdvice = TModeAdvice::SitePage;
    // What the session was opened for, its current type letter (0 before the first TYPE), how it
    // asks for a passive data port and how it learns a file's mode.
    QStringList m_sessionKey;
    char m_sessionType = 0;
    TPassiveCommand m_passiveCommand = TPassiveCommand::Epsv;
    TModeQuery m_modeQuery = TModeQuery::Mlst;
    // The reply to STOR has been read; a data connection that ends before it is judged by it.
    bool m_storAnswered = false;
    // The server ended the data connection too early, noted while its reply to STOR was due.
    QString m_closedEarly;
    // The reply that named the passive data port, for the texts of a failed connection to it.
    QString m_passiveReply;
    // The code of the last refused STOR.
    std::int32_t m_storCode = 0;

    // The TLS settings of the session; those made before, by the CA file (name, size, time) they
    // were made with; and whether this store step's data connection started TLS.
    std::shared_ptr<TTlsContext> m_tlsContext;
    std::map<QString, std::shared_ptr<TTlsContext>> m_tlsContexts;
    bool m_dataTlsStarted = false;
    std::optional<TCertificateProblem> m_certificateProblem;
};

} // namespace quelmark
