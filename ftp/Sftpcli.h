// TSftpClient: uploads local files to an SFTP server over one SSH session.
//
// The SSH side (connection, host key, authentication, the "sftp" channel) is TSshSession's; this
// client speaks the SFTP version 3 requests itself (draft-ietf-secsh-filexfer-02) over that
// non-blocking channel: INIT, STAT, MKDIR, OPEN, WRITE, FSTAT, FSETSTAT, CLOSE, RENAME or
// posix-rename@openssh.com, REMOVE. libssh's own SFTP functions wait for each reply inside the
// call and its version has no asynchronous write, so they would block the one thread for a whole
// round trip per block; here every wait runs through the event loop, and up to 64 WRITE requests
// of 32 KiB are in flight at once, as OpenSSH's own client keeps them, so a slow or distant link
// stays full.
//
// Each file is written to a temporary name in the target folder and renamed over the real name
// only when the server has confirmed every byte, so a reader of the real name sees the old file
// or the whole new one, never a part. The new file gets mode 0644; a file it replaces keeps its
// mode. A text file (Binary false) goes with each CR LF as LF, the line ends FTP's type A gives
// it on a Unix server; a binary file goes as it is.
// The password is never shown.
#pragma once

#include "base/Wait.h"
#include "ftp/SftpPackets.h"
#include "ftp/UploadClient.h"
#include "net/SshSession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quelmark {

// Joins the host folder and the host file name as a remote path: a file name that begins with
// "/" stands alone, an empty folder leaves the name relative to the login folder.
QString JoinRemotePath(const QString &folder, const QString &file);

// Returns the path of a temporary file beside target: "." + its name + "." + tag + "-" + the
// random number as eight hex digits, in target's folder.
QString TemporaryPath(const QString &target, const QString &tag, std::uint32_t random);

// Turns the CR LF line ends of a text, handed over in chunks, into LF; a lone CR or LF stays.
class TCrLfFolding {
public:
    // Returns the chunk folded, valid until the next call. A CR that ends the chunk is held back
    // until the next chunk shows whether an LF follows it.
    QByteArrayView Fold(QByteArrayView chunk);
    // Returns what is held back at the end of the text: a last CR, or nothing.
    QByteArrayView Finish();

private:
    QByteArray m_folded;
    bool m_heldCr = false;
};

class TSftpClient : public TUploadClient {
    Q_OBJECT
public:
    // Asked when no known-hosts file holds the server's key; question reads "Trust the host key
    // of <server> (<type> SHA256:<fingerprint>)?" and answer starts NotAsked.
    using TSftpHostKey = std::function<void(QObject *sender, const QString &question, TTrustAnswer &answer)>;

    explicit TSftpClient(QObject *parent = nullptr);
    ~TSftpClient() override;

    // A file is in place under its name only when the server confirmed every byte. A session is
    // for one server, port, user and credentials: another one ends it. CheckFolder opens one
    // when there is none and asks whether folder is a folder on the server.
    bool CheckFolder(const QString &folder) override;
    // Ends the session; true, or false when called from a handler while the session is in use.
    bool CloseSession() override;
    bool SessionOpen() const override;
    // An SFTP server sends no closing text of its own.
    QString StoredText() const override { return QStringLiteral("Done"); }

    // The server's port comes from the site's port, else from its server field, else it is 22.
    // An empty key file tries ~/.ssh/id_ed25519, id_ecdsa, id_rsa, then the ssh-agent; the user's
    // ~/.ssh/known_hosts is read besides the program's own file, where accepted host keys are
    // stored. With createFolders, the missing folders of the remote path are created before the
    // upload. A text file goes with each CR LF as LF.
    TSftpHostKey OnHostKey;

    // Bytes of the last file the server confirmed.

private:
    // Where the data step of one file stands.
    enum class TDataState : std::uint8_t {
        Idle,     // no data step has started
        Sending,  // blocks go out as the pipeline has room
        Draining, // end of file: the last confirmations are awaited
        Done,     // every block confirmed
        Broken,   // failed, cancelled or cut off
    };
    // The remote names and state of one file's upload.
    struct TUpload {
        QString target;
        QString temporary;
        bool targetExists = false;
        std::uint32_t mode = 0644;
        QByteArray handle;
        bool temporaryCreated = false;
    };

    bool PutAlone() override;
    bool PutInSession() override;
    bool Open() override;
    bool Cancellable() const override { return m_session != nullptr; }
    std::int64_t TakenBytes() const override { return m_taken; }
    void BreakOff() override;
    void Abandon() noexcept override;
    bool StoreFile();
    QStringList SessionKey() const;
    bool EnsureSession();
    bool StartSession();
    std::optional<TServerAddress> ServerAddress();
    bool StartSftp();
    bool Upload();
    bool CheckNames();
    bool MakeFolders(const QString &folder);
    bool MakeFolder(const QString &folder);
    bool StatTarget();
    bool OpenTemporary();
    std::optional<sftp::TReply> CreateTemporary();
    bool SendData();
    void PollData();
    void DataStep();
    bool DataActive() const { return m_dataState == TDataState::Sending || m_dataState == TDataState::Draining; }
    void FillPipeline();
    void SendWrite(QByteArrayView bytes);
    bool TriggerProgress();
    void FailData(const QString &text);
    bool FinishTemporary();
    void SetMode();
    bool Replace();
    bool ReplaceAside();
    void Discard();
    // Sends one request and waits up to TimeOut ticks for its reply; nullopt when the session
    // failed (timed out, lost, garbled), with the error set and the session closed.
    std::optional<sftp::TReply> Call(const QByteArray &request, std::uint32_t id, const QString &shown);
    bool CallOk(const QByteArray &request, std::uint32_t id, const QString &shown, const QString &failure);
    void DrainReplies();
    void TakeWriteReply(const sftp::TReply &reply, std::int64_t fileBytes);
    std::uint32_t NextId() { return m_nextId++; }
    void EndSession();

    std::unique_ptr<TSshSession> m_session;
    // What the open session was opened with.
    QStringList m_sessionKey;
    bool m_posixRename = false;
    std::uint32_t m_nextId = 1;
    // The reply a Call waits for, and a packet that could not be read.
    std::optional<std::uint32_t> m_awaitedId;
    std::optional<sftp::TReply> m_awaitedReply;
    QString m_garbled;

    TUpload m_upload;
    std::vector<char> m_block;
    TDataState m_dataState = TDataState::Idle;
    // WRITE requests without a reply yet: id, and the bytes of the local file each carries.
    std::unordered_map<std::uint32_t, std::int64_t> m_inFlight;
    // Bytes written to the remote file; bytes of the local file the server confirmed, and those
    // read but not in a WRITE yet (a text's CR held back).
    std::int64_t m_sent = 0;
    std::int64_t m_taken = 0;
    std::int64_t m_unsentFileBytes = 0;
    TCrLfFolding m_folding;
    // How long neither the confirmed nor the sent count has moved.
    TStillClock m_still;
};

} // namespace quelmark
