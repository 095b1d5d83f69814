// The text side of the FTP conversation, kept free of sockets so it can be checked alone:
// reading reply codes (RFC 959, section 4.2), the argument of the PORT command (RFC 959,
// section 4.1.2) and the statistics line shown when a data connection closes.
#pragma once

#include <QString>

#include <cstdint>

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

// Returns the transfer rate in bytes per second, as the statistics line shows it: exact up to
// 32767 bytes, in whole thousands of the per-millisecond rate above; a rate too large for 64
// bits reads as the largest value. Needs count >= 0 and elapsedMs > 0.
std::int64_t TransferRate(std::int64_t count, std::int64_t elapsedMs);

// Builds the line shown when the data connection closes; the rate is left off when no time
// has elapsed.
QString SessionClosedLine(std::int64_t count, std::int64_t elapsedMs);

// Tells whether a text holds a CR or an LF, which would end a command line early.
bool ContainsLineBreak(const QString &text);

// Returns a command line (without CR LF) as it may be shown: the password of PASS is never shown.
QString ShownCommand(const QString &line);

} // namespace quelmark
