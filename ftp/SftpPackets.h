// The SFTP version 3 wire format (draft-ietf-secsh-filexfer-02), kept free of connections so it
// can be checked alone: the requests an uploading client sends and the replies it reads.
//
// Every packet is a 32-bit length, a type byte and the body; numbers are big-endian, strings are a
// 32-bit length and the bytes. Requests after INIT carry a 32-bit id that the reply repeats.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>

namespace quelmark::sftp {

// Packet types (section 3 of the draft).
enum class TPacket : std::uint8_t {
    Init = 1,
    Version = 2,
    Open = 3,
    Close = 4,
    Write = 6,
    Fstat = 8,
    Setstat = 9,
    Fsetstat = 10,
    Remove = 13,
    Mkdir = 14,
    Stat = 17,
    Rename = 18,
    Status = 101,
    Handle = 102,
    Data = 103,
    Name = 104,
    Attrs = 105,
    Extended = 200,
    ExtendedReply = 201,
};

// Status codes (section 7), numbered from 0 in this order.
enum class TStatus : std::uint32_t {
    Ok,
    Eof,
    NoSuchFile,
    PermissionDenied,
    Failure,
    BadMessage,
    NoConnection,
    ConnectionLost,
    OpUnsupported,
};

// Open flags (section 6.3).
inline constexpr std::uint32_t kOpenWrite = 0x02;
inline constexpr std::uint32_t kOpenCreate = 0x08;
inline constexpr std::uint32_t kOpenTruncate = 0x10;
inline constexpr std::uint32_t kOpenExclusive = 0x20;

// The longest packet taken from a server: OpenSSH's own limit of 256 KiB.
inline constexpr std::uint32_t kMaxPacketLength = 256 * 1024;

// The name of OpenSSH's rename that replaces an existing target as rename(2) does.
inline constexpr char kPosixRenameExtension[] = "posix-rename@openssh.com";

// The attributes an uploader reads and sets (section 5); absent fields are not sent.
struct TAttrs {
    std::optional<std::uint64_t> size;
    // The file type bits and the permission bits, as stat(2) has them.
    std::optional<std::uint32_t> permissions;

    bool IsFolder() const { return permissions && (*permissions & 0170000) == 0040000; }
    bool IsRegularFile() const { return permissions && (*permissions & 0170000) == 0100000; }
};

// Request builders: each returns a whole packet, length field included.
QByteArray InitRequest();
QByteArray OpenRequest(std::uint32_t id, QByteArrayView path, std::uint32_t flags, const TAttrs &attrs);
QByteArray CloseRequest(std::uint32_t id, QByteArrayView handle);
QByteArray WriteRequest(std::uint32_t id, QByteArrayView handle, std::uint64_t offset, QByteArrayView data);
QByteArray StatRequest(std::uint32_t id, QByteArrayView path);
QByteArray FstatRequest(std::uint32_t id, QByteArrayView handle);
QByteArray SetstatRequest(std::uint32_t id, QByteArrayView path, const TAttrs &attrs);
QByteArray FsetstatRequest(std::uint32_t id, QByteArrayView handle, const TAttrs &attrs);
QByteArray MkdirRequest(std::uint32_t id, QByteArrayView path, const TAttrs &attrs);
QByteArray RemoveRequest(std::uint32_t id, QByteArrayView path);
// The plain RENAME, which the draft lets a server refuse when the target exists.
QByteArray RenameRequest(std::uint32_t id, QByteArrayView from, QByteArrayView to);
QByteArray PosixRenameRequest(std::uint32_t id, QByteArrayView from, QByteArrayView to);

// What TakePacket found at the front of the bytes received.
enum class TTake : std::uint8_t {
    Packet,     // a whole packet: its body is out, its bytes are gone from the buffer
    Incomplete, // not all of it has arrived yet
    Malformed,  // a length beyond kMaxPacketLength, or a packet without a type byte
};

// Splits one packet off the front of buffer; body gets its type byte and what follows.
TTake TakePacket(QByteArray &buffer, QByteArray &body);

// The server's VERSION: its protocol version and the extensions it offers (name, data).
struct TVersion {
    std::uint32_t version = 0;
    QList<std::pair<QByteArray, QByteArray>> extensions;

    bool Offers(QByteArrayView name) const;
};

// Reads the body of a VERSION packet; nullopt when it is something else or malformed.
std::optional<TVersion> ParseVersion(QByteArrayView body);

// One reply to a request: the fields that its type carries.
struct TReply {
    TPacket type = TPacket::Status;
    std::uint32_t id = 0;
    TStatus status = TStatus::Ok;
    QString message; // of a STATUS, as the server wrote it (UTF-8)
    QByteArray handle;
    TAttrs attrs;
};

// Reads the body of a STATUS, HANDLE, ATTRS or other reply packet. nullopt when the body is
// malformed; a reply type an uploader never asks for is read as far as its id.
std::optional<TReply> ParseReply(QByteArrayView body);

// Returns the text shown for a status: the server's message when it sent one (made printable,
// on one line), else the status's name ("no such file", "permission denied", ...).
QString StatusText(TStatus status, const QString &message);

} // namespace quelmark::sftp
