#include "engine/Transfer.h"

#include "base/Exception.h"
#include "catalogue/P_Types.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Printing.h"
#include "tests/support/TempStore.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quelmark {
namespace {

using test::EngineWindow;
using test::PyFtpServer;

int Mode(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

TEST(TransferLines, LinesEndAtCrLfLfOrCrAndAreNeverDecoded)
{
    const struct {
        QByteArray bytes;
        QList<QByteArray> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a\r\n", {"a"}},
        {"\n\n", {"", ""}},
        {"a\r\r\nb", {"a", "", "b"}},
        {QByteArray("\xe9\xff\x00z\n", 5), {QByteArray("\xe9\xff\x00z", 4)}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SplitLines(c.bytes), c.lines) << c.bytes.toStdString();
}

TEST(TransferLines, OnlyTheFirstExactOccurrencePerLineIsReplaced)
{
    const QByteArray longLine = QByteArray(10000, 'x') + "%IP%";
    QList<QByteArray> lines = {"a %IP% b %IP%", "%ip% %Ip%", "none", "", "\xe9%IP%\xff", "%IP%%IP%", longLine};
    ReplaceIPParam(lines, "%IP%", "192.168.100.200");
    EXPECT_EQ(lines, (QList<QByteArray>{"a 192.168.100.200 b %IP%", "%ip% %Ip%", "none", "",
                                        "\xe9"
                                        "192.168.100.200\xff",
                                        "192.168.100.200%IP%", QByteArray(10000, 'x') + "192.168.100.200"}));

    QList<QByteArray> untouched = {"a %IP%"};
    ReplaceIPParam(untouched, QByteArray(), "1.2.3.4");
    EXPECT_EQ(untouched, QList<QByteArray>{"a %IP%"}) << "an empty parameter is found nowhere";
}

class UploadCopyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.IsValid());
        ASSERT_TRUE(dir.isValid());
    }

    test::TempStore store; // the cache folder too
    QTemporaryDir dir;
};

TEST_F(UploadCopyTest, DefaultFolderIsCreatedPrivateAndTheCopyIsPrivate)
{
    const QString path = DefaultUploadCopyPath();
    ASSERT_TRUE(path.startsWith(store.CacheDir()));
    WriteUploadCopy({"one", "", "three"}, path);
    EXPECT_EQ(test::ReadFile(path, "<missing>"), QByteArray("one\r\n\r\nthree\r\n"));
    EXPECT_EQ(Mode(QFileInfo(path).absolutePath()), 0700);
    EXPECT_EQ(Mode(path), 0600);
}

TEST_F(UploadCopyTest, LinkPlantedAtThePathIsReplacedNotFollowed)
{
    const QString victim = dir.filePath(QStringLiteral("victim"));
    ASSERT_TRUE(test::WriteFile(victim, "keep"));
    const QString path = dir.filePath(QStringLiteral("copy.$$$"));
    ASSERT_TRUE(QFile::link(victim, path));

    WriteUploadCopy({"new"}, path);
    EXPECT_EQ(test::ReadFile(victim, "<missing>"), QByteArray("keep"));
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(test::ReadFile(path, "<missing>"), QByteArray("new\r\n"));
}

TEST_F(UploadCopyTest, MissingFolderElsewhereRaisesCannotCreateFile)
{
    const QString path = dir.filePath(QStringLiteral("absent/copy.$$$"));
    EXPECT_EQ(test::MessageOf<Exception>([&] { WriteUploadCopy({"x"}, path); }),
              QStringLiteral("Cannot create file ") + path);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("absent"))));
}

// Transfers against a real server on loopback.
class TransferTest : public UploadCopyTest {
protected:
    void SetUp() override
    {
        UploadCopyTest::SetUp();
        if (!server->Running())
            GTEST_SKIP() << "pyftpdlib server: " << server->Failure().toStdString();
        w = std::make_unique<EngineWindow>();
        w->SetSite(server->Port(), server->User(), server->Password());
        w->options->edtTempFileName->setText(DefaultUploadCopyPath());
        w->parts.edtLocalAddress->setText(QStringLiteral("10.9.9.9"));
        w->window.show();
    }

    QString Local(const QString &name, const QByteArray &bytes) { return test::Written(dir.filePath(name), bytes); }

    QString HostName() const
    {
        return QStringLiteral("%1.html").arg(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }

    // Checks that the window is back to idle after a transfer, however it ended.
    void ExpectIdle()
    {
        EXPECT_TRUE(w->window.isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(w->parts.frmProgress->isVisible());
        EXPECT_EQ(w->parts.frmProgress->progressBar->value(), 0);
        EXPECT_EQ(w->parts.frmProgress->lblMessage->text(), QStringLiteral("Transfering file... "));
        // The transfer's own line is gone; a failure that stands stays in sight.
        const QString shown = w->parts.statusBar->currentMessage();
        EXPECT_TRUE(shown.isEmpty() || shown.startsWith(QStringLiteral("Push of "))) << shown.toStdString();
        EXPECT_FALSE(w->transfer->TransferCancelled);
    }

    QStringList LogLines() const { return w->parts.memoLog->Lines(); }

    // Uploads local to the test's server under HostName().
    bool Transfer(const QString &local, const QString &fileType, const QString &ipParameter)
    {
        return w->transfer->TransferFile(w->site,
                                         {.localFile = local,
                                          .hostFileName = HostName(),
                                          .fileType = FileTypeOf(fileType),
                                          .ipParameter = ipParameter},
                                         address);
    }

    PyFtpServer *server = &test::SharedPyFtpServer();
    std::unique_ptr<EngineWindow> w;
    // The address of the push the transfer belongs to.
    QString address = QStringLiteral("10.20.30.40");
};

// The server stores an ASCII upload with its own line ends.
QByteArray AsStoredInAscii(QByteArray bytes)
{
    return bytes.replace("\r\n", "\n");
}

TEST_F(TransferTest, SubstitutedCopyCarriesTheFreshAddressAndCrLfLineEnds)
{
    const QByteArray source = "a %IP% b %IP%\r\nno %ip% here\nx%IP%\r\xe9 %IP% \xff\nlast %IP%";
    const QString local = Local(QStringLiteral("page.html"), source);
    w->options->chkDetailedLogging->setChecked(true);

    ASSERT_TRUE(Transfer(local, FileType::Ascii, QStringLiteral("%IP%")));

    const QByteArray copy =
        "a 10.20.30.40 b %IP%\r\nno %ip% here\r\nx10.20.30.40\r\n\xe9 10.20.30.40 \xff\r\nlast 10.20.30.40\r\n";
    EXPECT_EQ(test::ReadFile(w->options->edtTempFileName->text(), "<missing>"), copy);
    EXPECT_EQ(server->Stored(HostName()), AsStoredInAscii(copy));
    EXPECT_EQ(w->parts.edtLocalAddress->text(), QStringLiteral("10.20.30.40")) << "the box shows the address sent";
    EXPECT_TRUE(LogLines().contains(QStringLiteral("> TYPE A")));
    EXPECT_EQ(w->parts.memoLocalFile->LineCount(), 5);
    EXPECT_EQ(w->parts.memoHostFile->Lines().value(2), QStringLiteral("x10.20.30.40"));
    EXPECT_EQ(w->transfer->CurrentFileName, local);
    EXPECT_EQ(w->transfer->CurrentFileSize, QString::number(source.size())) << "the local file's, to store";
    EXPECT_EQ(w->transfer->UploadSize, copy.size()) << "the progress counts the copy that is sent";
    ExpectIdle();
}

TEST_F(TransferTest, BinaryEntryIsSentAsItIsWithImageType)
{
    QByteArray source = "line %IP%\r\nbare\n";
    for (int i = 0; i < 3000; ++i)
        source += char(i * 7);
    const QString local = Local(QStringLiteral("image.bin"), source);
    w->options->chkDetailedLogging->setChecked(true);

    ASSERT_TRUE(Transfer(local, FileType::Binary, QStringLiteral("%IP%")));
    EXPECT_EQ(server->Stored(HostName()), source);
    EXPECT_TRUE(LogLines().contains(QStringLiteral("> TYPE I")));
    EXPECT_FALSE(QFileInfo::exists(w->options->edtTempFileName->text())) << "no copy is made";
    EXPECT_EQ(w->parts.memoHostFile->LineCount(), 0);
}

TEST_F(TransferTest, TypeOtherThanExactlyBinaryIsAsciiWithSubstitution)
{
    const QString local = Local(QStringLiteral("page.html"), "at %IP%\n");
    w->options->chkDetailedLogging->setChecked(true);
    ASSERT_TRUE(Transfer(local, QStringLiteral("binary"), QStringLiteral("%IP%")));
    EXPECT_EQ(server->Stored(HostName()), QByteArray("at 10.20.30.40\n"));
    EXPECT_TRUE(LogLines().contains(QStringLiteral("> TYPE A")));
}

TEST_F(TransferTest, EntryWithoutParameterSendsTheFileItselfAndLeavesTheCopyAlone)
{
    const QString temp = w->options->edtTempFileName->text();
    QDir().mkpath(QFileInfo(temp).absolutePath());
    ASSERT_TRUE(test::WriteFile(temp, "earlier copy"));
    const QString local = Local(QStringLiteral("page.html"), "plain %IP%\n");

    ASSERT_TRUE(Transfer(local, FileType::Ascii, QString()));
    EXPECT_EQ(server->Stored(HostName()), QByteArray("plain %IP%\n"));
    EXPECT_EQ(test::ReadFile(temp, "<missing>"), QByteArray("earlier copy"));
    EXPECT_EQ(w->parts.edtLocalAddress->text(), QStringLiteral("10.9.9.9"));
}

TEST_F(TransferTest, DetailedLogShowsTheConversationBetweenTheEngineLines)
{
    const QString local = Local(QStringLiteral("page.html"), "x\n");
    w->options->chkDetailedLogging->setChecked(true);
    ASSERT_TRUE(Transfer(local, FileType::Ascii, QString()));

    const QStringList lines = LogLines();
    ASSERT_GE(lines.size(), 6);
    EXPECT_EQ(lines[0], QStringLiteral("Connecting to: ") + w->Server());
    EXPECT_EQ(lines[1], QStringLiteral("Transfering file: ") + local);
    EXPECT_EQ(lines[2], QStringLiteral("Connected for FTP"));
    EXPECT_TRUE(lines.contains(QStringLiteral("> PASS ****")));
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("Done"));
    EXPECT_EQ(lines.last(), QString()) << "an empty error message after a success";
}

TEST_F(TransferTest, PlainLogHoldsOnlyTheEngineLines)
{
    const QString local = Local(QStringLiteral("page.html"), "x\n");
    ASSERT_TRUE(Transfer(local, FileType::Ascii, QString()));
    EXPECT_EQ(LogLines(), QStringList({QStringLiteral("Connecting to: ") + w->Server(),
                                       QStringLiteral("Transfering file: ") + local, QString()}));
}

TEST_F(TransferTest, FailuresReturnFalseWithTheClientTextAndRestoreTheWindow)
{
    const QString local = Local(QStringLiteral("page.html"), "x\n");
    w->site.password = QStringLiteral("wrong");
    EXPECT_FALSE(Transfer(local, FileType::Ascii, QStringLiteral("%IP%")));
    EXPECT_TRUE(LogLines().last().startsWith(QStringLiteral("530"))) << LogLines().last().toStdString();
    ExpectIdle();
    EXPECT_EQ(w->parts.statusBar->currentMessage(),
              QStringLiteral("Push of %1 to %2 failed: %3").arg(local, w->site.name, LogLines().last()));

    w->SetSite(test::FreeLoopbackPort(), server->User(), server->Password());
    EXPECT_FALSE(Transfer(local, FileType::Ascii, QString()));
    EXPECT_EQ(LogLines().last(), QStringLiteral("Can't connect to host '127.0.0.1'"));
    ExpectIdle();

    w->SetSite(server->Port(), server->User(), server->Password());
    const QString missing = dir.filePath(QStringLiteral("missing.html"));
    EXPECT_FALSE(Transfer(missing, FileType::Ascii, QString()));
    EXPECT_TRUE(LogLines().last().startsWith(QStringLiteral("Unable to open local file")));
    ExpectIdle();
}

// The server text on the page is not checked as it is typed: a push of its site says what is
// wrong with it, for each file, and goes nowhere.
TEST_F(TransferTest, ServerTextThatNamesNoUsableServerFailsTheFileWithWhy)
{
    const struct {
        const char *server;
        const char *reason;
    } rows[] = {
        {"127.0.0.1:0", R"(The port 0 in "127.0.0.1:0" is outside 1 to 65535)"},
        {"127.0.0.1:99999", R"(The port 99999 in "127.0.0.1:99999" is outside 1 to 65535)"},
        {"[::1", R"(Unbalanced "[" in "[::1")"},
        {"127.0.0.1:21/www", R"(Unexpected text after the port in "127.0.0.1:21/www")"},
    };
    const QString local = Local(QStringLiteral("page.html"), "x\n");
    for (const auto &row : rows) {
        w->parts.memoLog->ClearLines();
        w->site.server = QString::fromLatin1(row.server);
        EXPECT_FALSE(Transfer(local, FileType::Ascii, QStringLiteral("%IP%")));
        EXPECT_EQ(LogLines(),
                  QStringList({QStringLiteral("Connecting to: ") + w->site.server,
                               QStringLiteral("Transfering file: ") + local, QString::fromLatin1(row.reason)}));
        EXPECT_EQ(w->transfer->LastFailure(), QString::fromLatin1(row.reason));
        ExpectIdle();
    }
    EXPECT_FALSE(QFileInfo::exists(QDir(server->Home()).filePath(HostName()))) << "nothing was sent";
}

TEST_F(TransferTest, UnreadablePageFailsWithItsReasonAndAnUnwritableCopyRaisesAfterTheCleanUp)
{
    const QString missing = dir.filePath(QStringLiteral("missing.html"));
    w->parts.memoLocalFile->SetLines({QStringLiteral("earlier page")});
    EXPECT_FALSE(Transfer(missing, FileType::Ascii, QStringLiteral("%IP%")));
    EXPECT_EQ(w->parts.memoLocalFile->Lines(), QStringList{QStringLiteral("earlier page")});
    const QString reason =
        QStringLiteral("Cannot open file ") + missing + QStringLiteral(": No such file or directory");
    EXPECT_EQ(LogLines(), QStringList({QStringLiteral("Connecting to: ") + w->Server(),
                                       QStringLiteral("Transfering file: ") + missing, reason}));
    EXPECT_EQ(w->transfer->LastFailure(), reason);
    ExpectIdle();

    const QString local = Local(QStringLiteral("page.html"), "x %IP%\n");
    const QString badTemp = dir.filePath(QStringLiteral("absent/QUELMARK.$$$"));
    w->options->edtTempFileName->setText(badTemp);
    EXPECT_EQ(test::MessageOf<Exception>([&] { Transfer(local, FileType::Ascii, QStringLiteral("%IP%")); }),
              QStringLiteral("Cannot create file ") + badTemp);
    EXPECT_EQ(w->parts.memoHostFile->Lines(), QStringList{QStringLiteral("x 10.20.30.40")})
        << "the page was read whole before its copy failed";
    ExpectIdle();
    EXPECT_FALSE(QFileInfo::exists(QDir(server->Home()).filePath(HostName()))) << "nothing was sent";
}

TEST_F(TransferTest, CancelDuringTheUploadAbortsIt)
{
    QByteArray big(16 * 1024 * 1024, 'a');
    const QString local = Local(QStringLiteral("big.bin"), big);
    bool sawBusyWindow = false;
    int barSeen = -1;
    int events = 0;
    // The user's click arrives between two progress events: the first one that follows it
    // hands the request to the client.
    w->parts.ftpClient->OnProgress = [&](QObject *sender, std::int64_t count, bool &abort) {
        w->transfer->ftpClientProgress(sender, count, abort);
        if (++events > 1)
            return;
        TfrmProgress *progress = w->parts.frmProgress;
        sawBusyWindow = !w->window.isEnabled() && progress->isVisible() && progress->isEnabled() &&
                        w->parts.statusBar->currentMessage() == QStringLiteral("Transfering file: ") + local &&
                        progress->lblMessage->text() == QStringLiteral("Transfering file: ") + local;
        barSeen = progress->progressBar->value();
        progress->btnCancel->click();
    };

    EXPECT_FALSE(Transfer(local, FileType::Binary, QString()));
    EXPECT_TRUE(sawBusyWindow);
    EXPECT_GE(barSeen, 0);
    EXPECT_LT(barSeen, 100);
    EXPECT_LT(server->Stored(HostName()).size(), big.size());
    EXPECT_EQ(LogLines().last(), QStringLiteral("Cancelled by the user")) << "not an empty line, as after a success";
    EXPECT_EQ(w->transfer->LastFailure(), QStringLiteral("Cancelled by the user"));
    ExpectIdle();
}

TEST_F(TransferTest, CancelAtTheLastProgressEventStillFailsTheEntryAndSaysSo)
{
    // The client has sent every byte when its last progress event asks for the abort: it has
    // nothing left to cut short and the server confirms the file, yet the user said Cancel.
    const QString local = Local(QStringLiteral("page.html"), "x\n");
    int events = 0;
    w->parts.ftpClient->OnProgress = [&](QObject *, std::int64_t, bool &) { ++events; };
    ASSERT_TRUE(Transfer(local, FileType::Binary, QString()));
    const int last = events;
    ASSERT_GT(last, 0);

    int seen = 0;
    w->parts.ftpClient->OnProgress = [&](QObject *sender, std::int64_t count, bool &abort) {
        if (++seen == last)
            w->parts.frmProgress->btnCancel->click();
        w->transfer->ftpClientProgress(sender, count, abort);
    };
    EXPECT_FALSE(Transfer(local, FileType::Binary, QString()));
    EXPECT_EQ(LogLines().last(), QStringLiteral("Cancelled by the user")) << "not the empty line of a success";
    EXPECT_EQ(w->transfer->LastFailure(), QStringLiteral("Cancelled by the user"));
    ExpectIdle();
}

TEST_F(TransferTest, CancelBeforeATransferDoesNotCarryOver)
{
    const QString local = Local(QStringLiteral("page.html"), "x\n");
    w->parts.frmProgress->btnCancel->click();
    EXPECT_TRUE(Transfer(local, FileType::Ascii, QString()));
    EXPECT_EQ(server->Stored(HostName()), QByteArray("x\n"));
}

TEST_F(TransferTest, ProgressHandlerShowsTheNameAndHandsOnCancel)
{
    TTransfer &t = *w->transfer;
    t.CurrentFileName = QStringLiteral("/x/empty.html");
    t.UploadSize = 0;
    bool abort = true;
    t.ftpClientProgress(nullptr, 0, abort);
    EXPECT_FALSE(abort);
    EXPECT_EQ(w->parts.frmProgress->progressBar->value(), 100);
    EXPECT_EQ(w->parts.frmProgress->lblMessage->text(), QStringLiteral("Transfering file: /x/empty.html"));

    t.UploadSize = std::int64_t(4294967296);
    w->parts.frmProgress->btnCancel->click();
    t.ftpClientProgress(nullptr, std::int64_t(1) << 31, abort);
    EXPECT_TRUE(abort);
    EXPECT_EQ(w->parts.frmProgress->progressBar->value(), 50);
}

} // namespace
} // namespace quelmark
