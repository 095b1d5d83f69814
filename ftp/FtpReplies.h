// The text side of the FTP conversation, kept free of sockets so it can be checked alone:
// reading reply codes (RFC 959, section 4.2), the arguments of PORT and the reply to PASV
// (RFC 959, section 4.1.2), the argument of EPRT and the reply to EPSV (RFC 2428), the
// statistics line shown when a data connection closes, and the names and delays an upload
// works with.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quelmark {

// Reads the reply code of a reply line: leading blanks skipped, then the longest run of decimal
// digits as a number; no digit gives 0. A run too long for 32 bits reads as the largest value.
std::int32_t ReplyCode(const QString &line);

// Tells whether a reply line is followed by another line of the same reply: RFC 959 marks the
// lines of a multi-line reply with '-' in the fourth character.
bool ReplyContinues(const QString &line);

// Tells whether a line read after the opening line of a reply is its last: RFC 959 ends a
// multi-line reply only at a line that begins with the opening code and a blank, whatever the
// lines between look like, an empty one included. A single-line reply has nothing after its
// opening line.
bool ReplyEnds(const QString &opening, const QString &line);

// Formats the PORT argument "h1,h2,h3,h4,p1,p2" for an IPv4 address and a port, both in host
// byte order.
QString PortArgument(std::uint32_t address, std::uint16_t port);

// Address and port announced by a reply to PASV, both in host byte order.
struct TPassiveAddress {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};

// Reads the first "h1,h2,h3,h4,p1,p2" of a reply to PASV ("227 Entering Passive Mode
// (192,0,2,7,4,1)"; servers differ in what surrounds it): six numbers from 0 to 255, blanks
// allowed around the commas. Nothing when there is none or its port is 0.
std::optional<TPassiveAddress> ParsePasvReply(const QString &reply);

// Reads the port of a reply to EPSV: RFC 2428 puts it between the delimiters of
// "(<d><d><d>port<d>)", <d> one printable character other than a digit ("(|||6446|)").
// Nothing for any other form or a port outside 1 to 65535.
std::optional<std::uint16_t> ParseEpsvReply(const QString &reply);

// Formats the EPRT argument "|1|192.0.2.7|6275|" (IPv4) or "|2|2001:db8::5|6275|" (IPv6).
QString EprtArgument(bool ipv6, const QString &address, std::uint16_t port);

// Returns the folders a host file name lies in, outermost first, each as a path the server can
// create: "/a/b/page.html" gives "/a", "/a/b"; "a/page.html" gives "a"; a bare name none.
QStringList FolderPrefixes(const QString &hostFileName);

// Returns the pause before the given retry (1 for the first) in milliseconds: the base for the
// first, doubling with each retry, at most 60 seconds.
std::int64_t RetryPauseMs(int retry, std::int64_t baseMs);

// Returns the transfer rate in bytes per second, as the statistics line shows it: exact up to
// 32767 bytes, in whole thousands of the per-millisecond rate above; a rate too large for 64
// bits reads as the largest value. Needs count >= 0 and elapsedMs > 0.
std::int64_t TransferRate(std::int64_t count, std::int64_t elapsedMs);

// Returns the statistics line of a data step: head, ", <s> Seconds elapsed" and, once time has
// elapsed, ", <rate> Bytes/Sec".
QString StatisticsLine(const QString &head, std::int64_t count, std::int64_t elapsedMs);

// Builds the line shown when the data connection closes; the rate is left off when no time
// has elapsed.
QString SessionClosedLine(std::int64_t count, std::int64_t elapsedMs);

// Tells whether a text holds a CR or an LF, which would end a command line early.
bool ContainsLineBreak(const QString &text);

// Tells whether a text holds a control character (U+0000 to U+001F, U+007F), which a server may
// take for the end of a name (a NUL) or as an instruction of its own.
bool ContainsControl(const QString &text);

// Returns a command line (without CR LF) as it may be shown: the password of PASS is never shown.
QString ShownCommand(const QString &line);

} // namespace quelmark
