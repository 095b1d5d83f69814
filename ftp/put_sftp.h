// The SFTP side of quelmark-put: its options, and the uploads of one or several files over one
// SSH session with the program's SFTP client.
#pragma once

#include <QString>

class QCommandLineParser;

namespace quelmark {

// Adds --sftp, --key, --known-hosts and --accept-host-key.
void AddSftpOptions(QCommandLineParser &parser);

// Returns an empty text when the SFTP arguments make sense, else what is wrong with them.
QString CheckSftpArguments(const QCommandLineParser &parser);

// Uploads each --local file as the --remote name at the same position, one session for all, as
// user with password, and prints each display line, then the error text of each file that
// failed. Returns 0 when every file is in place, 1 otherwise.
int RunSftp(const QCommandLineParser &parser, const QString &user, const QString &password);

} // namespace quelmark
