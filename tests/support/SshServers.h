// SFTP servers started by a test on 127.0.0.1: OpenSSH's sshd with internal-sftp, dropbear with
// OpenSSH's sftp-server, and rclone's SFTP server.
//
// Each has its own folder with a fresh host key. sshd and dropbear log in the local user
// quelmarkftp with Password(); sshd takes an authorised key of the test's too (plain, and a copy
// of it under a passphrase), and can ask for the password through PAM's keyboard-interactive
// questions instead. rclone serves Home() to a user of its own. sshd and dropbear need root:
// the local user, and sshd's privilege separation.
#pragma once

#include "tests/support/FtpServers.h"

#include <QString>

#include <cstdint>

namespace quelmark::test {

class SshServerProcess : public FtpServerProcess {
public:
    // "127.0.0.1:port", as the server field of a site names it.
    QString Server() const { return QStringLiteral("127.0.0.1:") + PortText(); }
    // The key as OpenSSH names and prints it: "ssh-ed25519" and "SHA256:...".
    QString HostKeyType() const { return m_hostKeyType; }
    QString HostKeyFingerprint() const { return m_hostKeyFingerprint; }
    // A known-hosts line for this server's host key.
    QString KnownHostsLine() const;

protected:
    QString HostKeyFile() const { return m_dir.filePath(QStringLiteral("host_key")); }
    // Makes an ed25519 key pair at path (the public half in path.pub) without a passphrase,
    // unless given one.
    bool MakeKey(const QString &path, const QString &passphrase = {});
    // Makes the host key and reads its type and fingerprint.
    bool MakeHostKey();

    QString m_hostKeyType;
    QString m_hostKeyFingerprint;
    QString m_hostKeyPublic;
};

class OpenSshServer : public SshServerProcess {
public:
    // How the user logs in with its password.
    enum class TPasswordLogin : std::uint8_t {
        Password,     // the password method
        Interactive,  // keyboard-interactive only: PAM asks for the password
        TwoQuestions, // keyboard-interactive only: PAM asks for the password, then once more
    };
    struct TOptions {
        // 0 picks a free port; a second start on the port of an earlier one stands in for a
        // server whose host key changed.
        std::uint16_t port = 0;
        // Further arguments of internal-sftp, for instance "-P posix-rename".
        QString sftpFlags = {};
        TPasswordLogin login = TPasswordLogin::Password;
        // Each session locked into a folder of its own (ChrootDirectory), Home() inside it.
        bool chroot = false;
    };

    OpenSshServer() : OpenSshServer(TOptions{}) {}
    explicit OpenSshServer(const TOptions &options);
    ~OpenSshServer() override;

    QString KeyFile() const;
    QString EncryptedKeyFile() const;
    QString KeyPassphrase() const { return QStringLiteral("key phrase 9"); }
    // A private key the server does not know.
    QString StrangerKeyFile() const;
    QString LogFile() const;
    // Sends the signal to the processes that serve connections, not to the listener; SIGKILL
    // drops their connections as if the server had gone, SIGSTOP holds them still. Returns how
    // many got it.
    int SignalSessions(int signal) const;
    int KillSessions() const;
    // Ends the listener and its sessions.
    void Stop();

private:
    bool MakeKeys();
    bool PrepareChroot();
    QString PamProgram(TPasswordLogin login);
    QString WriteConfig(std::uint16_t port, const TOptions &options);

    // The root-owned folder the sessions are locked into, when they are.
    QString m_chroot;
};

// dropbear with OpenSSH's sftp-server, which starts the user in its home folder: RemoteName is
// the absolute path of a file below Home().
class DropbearServer : public SshServerProcess {
public:
    DropbearServer();
    QString RemoteName(const QString &relativePath) const override;
};

// rclone's SFTP server, serving Home() as its root to a user of its own.
class RcloneSftpServer : public SshServerProcess {
public:
    RcloneSftpServer();
};

} // namespace quelmark::test
