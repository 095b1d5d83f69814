// The SFTP wire format: requests byte for byte as the draft lays them out, replies read from
// bytes written by hand, and packets split off a stream that arrives in pieces.
#include "ftp/SftpPackets.h"

#include "tests/support/Printing.h"

#include <gtest/gtest.h>

using namespace quelmark::sftp;

namespace {

// Reads hex digits; the blanks between fields are skipped.
QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(text);
}

TEST(SftpPackets, RequestsAreLaidOutAsTheDraftSays)
{
    TAttrs mode;
    mode.permissions = 0600;
    const struct {
        const char *what;
        QByteArray built;
        QByteArray expected;
    } rows[] = {
        {"INIT", InitRequest(), Hex("00000005 01 00000003")},
        {"STAT", StatRequest(7, "a"), Hex("0000000a 11 00000007 0000000161")},
        {"OPEN write|create|excl, mode 0600", OpenRequest(1, "f", kOpenWrite | kOpenCreate | kOpenExclusive, mode),
         Hex("00000016 03 00000001 0000000166 0000002a 00000004 00000180")},
        {"WRITE at 4 GiB", WriteRequest(2, "h", 0x100000000, "xy"),
         Hex("00000018 06 00000002 0000000168 0000000100000000 000000027879")},
        {"FSETSTAT", FsetstatRequest(4, "h", mode), Hex("00000012 0a 00000004 0000000168 00000004 00000180")},
        {"RENAME", RenameRequest(5, "a", "b"), Hex("0000000f 12 00000005 0000000161 0000000162")},
        {"posix-rename", PosixRenameRequest(3, "a", "b"),
         Hex("0000002b c8 00000003 00000018") + "posix-rename@openssh.com" + Hex("0000000161 0000000162")},
        {"REMOVE", RemoveRequest(6, "ab"), Hex("0000000b 0d 00000006 000000026162")},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.built.toHex(), row.expected.toHex()) << row.what;
}

TEST(SftpPackets, RepliesAreReadFieldByField)
{
    const auto status = ParseReply(Hex("65 00000009 00000002 00000007") + "no file" + Hex("00000000"));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->type, TPacket::Status);
    EXPECT_EQ(status->id, 9u);
    EXPECT_EQ(status->status, TStatus::NoSuchFile);
    EXPECT_EQ(status->message, QStringLiteral("no file"));

    // Version 3 lets a server end a STATUS after its code.
    const auto bare = ParseReply(Hex("65 00000001 00000000"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->status, TStatus::Ok);
    EXPECT_TRUE(bare->message.isEmpty());

    const auto handle = ParseReply(Hex("66 00000002 00000002") + "H1");
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->handle, QByteArray("H1"));

    // Size, owner, mode, times and one extension: the reader must step over what it ignores.
    const auto attrs = ParseReply(Hex("69 00000003 8000000f 0000000000001000 000003e8000003e8 000081a4 "
                                      "0000000100000002 00000001 0000000178 0000000179"));
    ASSERT_TRUE(attrs);
    EXPECT_EQ(attrs->attrs.size, 4096u);
    EXPECT_EQ(attrs->attrs.permissions, 0100644u);
    EXPECT_TRUE(attrs->attrs.IsRegularFile());
    EXPECT_FALSE(attrs->attrs.IsFolder());

    for (const QByteArray &garbled :
         {Hex("65 00000001 0000"), Hex("66 00000002 00000009") + "H1", Hex("69 00000003 00000004"), QByteArray()})
        EXPECT_FALSE(ParseReply(garbled)) << garbled.toHex().toStdString();
}

TEST(SftpPackets, VersionListsItsExtensions)
{
    const auto version = ParseVersion(Hex("02 00000003 00000018") + "posix-rename@openssh.com" + Hex("0000000131") +
                                      Hex("00000013") + "statvfs@openssh.com" + Hex("0000000132"));
    ASSERT_TRUE(version);
    EXPECT_EQ(version->version, 3u);
    EXPECT_TRUE(version->Offers(kPosixRenameExtension));
    EXPECT_FALSE(version->Offers("hardlink@openssh.com"));
    EXPECT_FALSE(ParseVersion(Hex("02 00000003 00000018") + "posix-rename")) << "cut short";
    EXPECT_FALSE(ParseVersion(Hex("65 00000003"))) << "not a VERSION";
}

TEST(SftpPackets, PacketsAreSplitOffAStreamThatArrivesInPieces)
{
    QByteArray stream = InitRequest() + StatRequest(1, "x");
    const QByteArray third = RemoveRequest(2, "y");
    stream += third.left(6);
    QByteArray body;
    EXPECT_EQ(TakePacket(stream, body), TTake::Packet);
    EXPECT_EQ(body, InitRequest().mid(4));
    EXPECT_EQ(TakePacket(stream, body), TTake::Packet);
    EXPECT_EQ(body, StatRequest(1, "x").mid(4));
    EXPECT_EQ(TakePacket(stream, body), TTake::Incomplete);
    EXPECT_EQ(stream, third.left(6)) << "an incomplete packet stays for the rest";
    stream += third.mid(6);
    EXPECT_EQ(TakePacket(stream, body), TTake::Packet);
    EXPECT_TRUE(stream.isEmpty());
    QByteArray tiny = Hex("0000");
    EXPECT_EQ(TakePacket(tiny, body), TTake::Incomplete);
    for (QByteArray wrong : {Hex("00000000"), Hex("00040001 65")}) {
        EXPECT_EQ(TakePacket(wrong, body), TTake::Malformed) << wrong.toHex().toStdString();
    }
}

TEST(SftpPackets, StatusTextPrefersTheServersMessage)
{
    EXPECT_EQ(StatusText(TStatus::PermissionDenied, QString()), QStringLiteral("permission denied"));
    EXPECT_EQ(StatusText(TStatus::Failure, QStringLiteral("Disk full")), QStringLiteral("Disk full"));
    // The server's words stay on one line and act on nothing.
    EXPECT_EQ(StatusText(TStatus::Failure, QStringLiteral("no\r\nForged line: Done\x1b[2J")),
              QStringLiteral("no\\x0d\\x0aForged line: Done\\x1b[2J"));
    EXPECT_EQ(StatusText(static_cast<TStatus>(42), QString()), QStringLiteral("status 42"));
}

} // namespace
