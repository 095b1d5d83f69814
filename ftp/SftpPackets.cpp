#include "ftp/SftpPackets.h"

#include "base/Printable.h"

#include <QtEndian>

#include <iterator>

namespace quelmark::sftp {

namespace {

// Attribute flags (section 5).
enum TAttrFlag : std::uint32_t {
    AttrSize = 0x01,
    AttrUidGid = 0x02,
    AttrPermissions = 0x04,
    AttrTimes = 0x08,
    AttrExtended = 0x80000000,
};

constexpr std::uint32_t kProtocolVersion = 3;

// Builds one packet: the length is filled in when the packet is taken.
class TPacketWriter {
public:
    explicit TPacketWriter(TPacket type, qsizetype reserve = 64)
    {
        m_bytes.reserve(reserve);
        m_bytes.append(4, '\0');
        m_bytes.append(static_cast<char>(type));
    }
    template <typename Number> TPacketWriter &BigEndian(Number value)
    {
        char raw[sizeof value];
        qToBigEndian(value, raw);
        m_bytes.append(raw, sizeof value);
        return *this;
    }
    TPacketWriter &U32(std::uint32_t value) { return BigEndian(value); }
    TPacketWriter &U64(std::uint64_t value) { return BigEndian(value); }
    TPacketWriter &String(QByteArrayView text)
    {
        U32(static_cast<std::uint32_t>(text.size()));
        m_bytes.append(text.data(), text.size());
        return *this;
    }
    TPacketWriter &Attrs(const TAttrs &attrs)
    {
        std::uint32_t flags = 0;
        if (attrs.size)
            flags |= AttrSize;
        if (attrs.permissions)
            flags |= AttrPermissions;
        U32(flags);
        if (attrs.size)
            U64(*attrs.size);
        if (attrs.permissions)
            U32(*attrs.permissions);
        return *this;
    }
    QByteArray Take()
    {
        qToBigEndian(static_cast<std::uint32_t>(m_bytes.size() - 4), m_bytes.data());
        return std::move(m_bytes);
    }

private:
    QByteArray m_bytes;
};

// Reads the fields of one packet body in order; any read past the end marks the reader failed.
class TPacketReader {
public:
    explicit TPacketReader(QByteArrayView bytes) : m_bytes(bytes) {}

    bool Ok() const { return m_ok; }
    bool AtEnd() const { return m_pos == m_bytes.size(); }
    std::uint8_t U8() { return Fits(1) ? static_cast<std::uint8_t>(m_bytes[m_pos++]) : 0; }
    template <typename Number> Number BigEndian()
    {
        if (!Fits(sizeof(Number)))
            return 0;
        const auto value = qFromBigEndian<Number>(m_bytes.data() + m_pos);
        m_pos += sizeof(Number);
        return value;
    }
    std::uint32_t U32() { return BigEndian<std::uint32_t>(); }
    std::uint64_t U64() { return BigEndian<std::uint64_t>(); }
    QByteArray String()
    {
        const std::uint32_t length = U32();
        if (!Fits(length))
            return {};
        QByteArray text(m_bytes.data() + m_pos, static_cast<qsizetype>(length));
        m_pos += length;
        return text;
    }
    TAttrs Attrs()
    {
        TAttrs attrs;
        const std::uint32_t flags = U32();
        if (flags & AttrSize)
            attrs.size = U64();
        if (flags & AttrUidGid) {
            U32();
            U32();
        }
        if (flags & AttrPermissions)
            attrs.permissions = U32();
        if (flags & AttrTimes) {
            U32();
            U32();
        }
        if (flags & AttrExtended) {
            const std::uint32_t count = U32();
            for (std::uint32_t i = 0; i < count && m_ok; ++i) {
                String();
                String();
            }
        }
        return attrs;
    }

private:
    bool Fits(std::uint64_t count)
    {
        if (m_ok && count <= static_cast<std::uint64_t>(m_bytes.size() - m_pos))
            return true;
        m_ok = false;
        return false;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

QByteArray PathRequest(TPacket type, std::uint32_t id, QByteArrayView path)
{
    return TPacketWriter(type).U32(id).String(path).Take();
}

} // namespace

QByteArray InitRequest()
{
    return TPacketWriter(TPacket::Init).U32(kProtocolVersion).Take();
}

QByteArray OpenRequest(std::uint32_t id, QByteArrayView path, std::uint32_t flags, const TAttrs &attrs)
{
    return TPacketWriter(TPacket::Open).U32(id).String(path).U32(flags).Attrs(attrs).Take();
}

QByteArray CloseRequest(std::uint32_t id, QByteArrayView handle)
{
    return PathRequest(TPacket::Close, id, handle);
}

QByteArray WriteRequest(std::uint32_t id, QByteArrayView handle, std::uint64_t offset, QByteArrayView data)
{
    return TPacketWriter(TPacket::Write, 32 + handle.size() + data.size())
        .U32(id)
        .String(handle)
        .U64(offset)
        .String(data)
        .Take();
}

QByteArray StatRequest(std::uint32_t id, QByteArrayView path)
{
    return PathRequest(TPacket::Stat, id, path);
}

QByteArray FstatRequest(std::uint32_t id, QByteArrayView handle)
{
    return PathRequest(TPacket::Fstat, id, handle);
}

QByteArray SetstatRequest(std::uint32_t id, QByteArrayView path, const TAttrs &attrs)
{
    return TPacketWriter(TPacket::Setstat).U32(id).String(path).Attrs(attrs).Take();
}

QByteArray FsetstatRequest(std::uint32_t id, QByteArrayView handle, const TAttrs &attrs)
{
    return TPacketWriter(TPacket::Fsetstat).U32(id).String(handle).Attrs(attrs).Take();
}

QByteArray MkdirRequest(std::uint32_t id, QByteArrayView path, const TAttrs &attrs)
{
    return TPacketWriter(TPacket::Mkdir).U32(id).String(path).Attrs(attrs).Take();
}

QByteArray RemoveRequest(std::uint32_t id, QByteArrayView path)
{
    return PathRequest(TPacket::Remove, id, path);
}

QByteArray RenameRequest(std::uint32_t id, QByteArrayView from, QByteArrayView to)
{
    return TPacketWriter(TPacket::Rename).U32(id).String(from).String(to).Take();
}

QByteArray PosixRenameRequest(std::uint32_t id, QByteArrayView from, QByteArrayView to)
{
    return TPacketWriter(TPacket::Extended).U32(id).String(kPosixRenameExtension).String(from).String(to).Take();
}

TTake TakePacket(QByteArray &buffer, QByteArray &body)
{
    if (buffer.size() < 4)
        return TTake::Incomplete;
    const auto length = qFromBigEndian<std::uint32_t>(buffer.constData());
    if (length == 0 || length > kMaxPacketLength)
        return TTake::Malformed;
    if (static_cast<std::uint64_t>(buffer.size()) - 4 < length)
        return TTake::Incomplete;
    body = buffer.mid(4, static_cast<qsizetype>(length));
    buffer.remove(0, 4 + static_cast<qsizetype>(length));
    return TTake::Packet;
}

bool TVersion::Offers(QByteArrayView name) const
{
    for (const auto &extension : extensions) {
        if (extension.first == name)
            return true;
    }
    return false;
}

std::optional<TVersion> ParseVersion(QByteArrayView body)
{
    TPacketReader reader(body);
    if (reader.U8() != static_cast<std::uint8_t>(TPacket::Version))
        return std::nullopt;
    TVersion version;
    version.version = reader.U32();
    while (reader.Ok() && !reader.AtEnd()) {
        QByteArray name = reader.String();
        QByteArray data = reader.String();
        if (reader.Ok())
            version.extensions.append({std::move(name), std::move(data)});
    }
    if (!reader.Ok())
        return std::nullopt;
    return version;
}

std::optional<TReply> ParseReply(QByteArrayView body)
{
    TPacketReader reader(body);
    TReply reply;
    reply.type = static_cast<TPacket>(reader.U8());
    reply.id = reader.U32();
    switch (reply.type) {
    case TPacket::Status:
        reply.status = static_cast<TStatus>(reader.U32());
        // Version 3 servers may end the packet after the code; the message is optional there.
        if (!reader.AtEnd())
            reply.message = QString::fromUtf8(reader.String());
        break;
    case TPacket::Handle:
        reply.handle = reader.String();
        break;
    case TPacket::Attrs:
        reply.attrs = reader.Attrs();
        break;
    default:
        break;
    }
    if (!reader.Ok())
        return std::nullopt;
    return reply;
}

QString StatusText(TStatus status, const QString &message)
{
    if (!message.isEmpty())
        return PrintableText(message);
    // The texts of the codes 0 to 8, in order.
    static const char *const texts[] = {
        "ok",          "end of file",   "no such file",    "permission denied",     "failure",
        "bad message", "no connection", "connection lost", "operation unsupported",
    };
    if (const auto code = static_cast<std::uint32_t>(status); code < std::size(texts))
        return QString::fromLatin1(texts[code]);
    return QStringLiteral("status %1").arg(static_cast<std::uint32_t>(status));
}

} // namespace quelmark::sftp
