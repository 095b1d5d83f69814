// A remote file's permission bits as FTP servers tell them: the UNIX.mode fact of a reply to
// MLST (RFC 3659, section 7, with the fact of the servers that offer it), or the permission
// letters of a directory-style listing line such as a reply to STAT with a name (RFC 959,
// section 4.1.3). Kept free of sockets so it can be checked alone.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quelmark {

// Reads the mode of the entry that a reply to MLST describes: its lines as read, the facts on
// the line that begins with a blank ("type=file;size=9;UNIX.mode=0750; page.html"). Fact names
// are read in any case. Nothing unless the entry is a file and its UNIX.mode fact is an octal
// number of at most four digits.
std::optional<std::uint32_t> MlstFileMode(const QStringList &replyLines);

// Reads the mode of the file `name` (a host file name; its last part counts) from a listing in a
// reply's lines: the one line that begins, after any blanks, with the ten letters of a regular
// file ("-rwxr-x---", 's', 'S', 't' and 'T' included) and ends with a blank and the name.
// Nothing when there is no such line or more than one.
std::optional<std::uint32_t> ListingFileMode(const QStringList &replyLines, const QString &name);

// Returns the mode as SITE CHMOD takes it: octal, at least three digits ("750", "4755").
QString ChmodArgument(std::uint32_t mode);

} // namespace quelmark
