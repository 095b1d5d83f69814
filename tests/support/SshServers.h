// OpenSSH's sshd started by a test on 127.0.0.1, serving SFTP to the local user quelmarkftp.
//
// Each server has its own folder with a fresh host key, its own configuration and an authorised
// key of the test's (plain, and a copy of it under a passphrase); internal-sftp starts the user in
// Home(). The user logs in with Password() or with the key. Needs root: the local user, and
// sshd's privilege separation.
#pragma once

#include "tests/support/FtpServers.h"

#include <QString>

#include <cstdint>

namespace quelmark::test {

class OpenSshServer : public FtpServerProcess {
public:
    struct TOptions {
        // 0 picks a free port; a second start on the port of an earlier one stands in for a
        // server whose host key changed.
        std::uint16_t port = 0;
        // Further arguments of internal-sftp, for instance "-P posix-rename".
        QString sftpFlags;
    };

    OpenSshServer() : OpenSshServer(TOptions{}) {}
    explicit OpenSshServer(const TOptions &options);
    ~OpenSshServer() override;

    // "127.0.0.1:port", as the server field of a site names it.
    QString Server() const { return QStringLiteral("127.0.0.1:") + PortText(); }
    // The key as OpenSSH names and prints it: "ssh-ed25519" and "SHA256:...".
    QString HostKeyType() const { return m_hostKeyType; }
    QString HostKeyFingerprint() const { return m_hostKeyFingerprint; }
    // A known-hosts line for this server's host key.
    QString KnownHostsLine() const;
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
    bool PrepareUser();
    bool PrepareFolders();
    bool MakeKeys();
    QString WriteConfig(std::uint16_t port, const QString &sftpFlags);

    QString m_hostKeyType;
    QString m_hostKeyFingerprint;
    QString m_hostKeyPublic;
};

// Runs a program to its end within 15 s; true when it exited with 0. Its output goes to output
// when given.
bool RunProgram(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
                const QByteArray &input = {});

} // namespace quelmark::test
