#include "engine/PushCommands.h"

#include "base/Exception.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/StoreDump.h"
#include "tests/support/TestModes.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace quelmark {
namespace {

using test::EntryTexts;
using Answer = TMessageBox::TAnswer;

const QString kChecking = QStringLiteral(">>>> Checking all files...");
const QString kDone = QStringLiteral(">>>> Done checking all files...");

// Counts the window's changes between enabled and disabled.
class EnabledChanges : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::EnabledChange)
            ++count;
        return false;
    }
};

class PushCommandsTest : public test::EngineServerTest {
protected:
    void SetUp() override
    {
        EngineServerTest::SetUp();
        if (!w)
            return;
        connecting = QStringLiteral("Connecting to: ") + w->Server();
        SetTopLevelReporter([this](const QString &message) { reported.append(message); });
    }

    void TearDown() override
    {
        SetTopLevelReporter(nullptr);
        EngineServerTest::TearDown();
    }

    // A local file with that content.
    QString Local(const QString &name, const QByteArray &bytes) { return test::Written(dir.filePath(name), bytes); }

    static QStringList Details(const QString &path)
    {
        QString date, size, attribs;
        GetFileDetails(path, date, size, attribs);
        return {date, size, attribs};
    }

    // An entry of type FileType::Binary without IP parameter, uploaded as it is.
    static EntryTexts Entry(const QString &path, const QString &status, const QStringList &details = {"", "", ""})
    {
        return {path, QStringList{Host(QFileInfo(path).fileName()), FileType::Binary, QString(), status} + details};
    }

    // An entry whose file has not changed since its last push.
    static EntryTexts Unchanged(const QString &path, const QString &status)
    {
        return Entry(path, status, Details(path));
    }

    void StoreSite(const QString &name, const QList<EntryTexts> &entries, const QString &password = QString())
    {
        w->StoreSite(name, server->User(), password.isEmpty() ? server->Password() : password, entries);
    }

    TListRow *Row(int i) const { return w->Shown().lvFileDetails->Row(i); }

    // Shows a site on the server at port of 127.0.0.1, with rows made from entries.
    void ShowSite(std::uint16_t port, const TSite &options, const QList<EntryTexts> &entries)
    {
        w->ftpPort = port;
        connecting = QStringLiteral("Connecting to: ") + w->Server();
        TSite site = options;
        site.server = w->Server();
        w->Shown().SetSite(site);
        for (const EntryTexts &entry : entries)
            w->AddRow(entry.localFile, entry.columns);
    }

    // The commands a scripted server received, with the data port in PORT left out.
    static QStringList Commands(const test::ScriptedFtpServer &scripted, int sessions)
    {
        QStringList lines = scripted.Received(sessions);
        for (QString &line : lines) {
            if (line.startsWith(QLatin1String("PORT ")))
                line = QStringLiteral("PORT");
        }
        return lines;
    }

    bool OnServer(const QString &name) const { return QFile::exists(QDir(server->Home()).filePath(Host(name))); }

    test::TestModes<TMessageBox> modes;
    QString connecting;
    QStringList reported;
};

TEST_F(PushCommandsTest, PushAllWalksEverySiteStoresEachAtTheNextAndShowsTheUsersPageAgain)
{
    const QString a = Local(QStringLiteral("a.txt"), "alpha");
    const QString b = Local(QStringLiteral("b.txt"), "kept");
    const QString c = Local(QStringLiteral("c.html"), "at %IP%\r\n");
    const QString d = Local(QStringLiteral("d.txt"), "refused");
    EntryTexts substituted{
        c, {Host(QStringLiteral("c.html")), FileType::Ascii, QStringLiteral("%IP%"), FileStatus::New, "", "", ""}};
    StoreSite(QStringLiteral("Alpha"), {Entry(a, FileStatus::New), Unchanged(b, FileStatus::Moved), substituted});
    StoreSite(QStringLiteral("Empty"), {});
    StoreSite(QStringLiteral("Refused"), {Entry(d, FileStatus::New)}, QStringLiteral("wrong password"));
    w->options->edtLastIPAddress->setText(QStringLiteral("10.20.30.40"));
    w->Build();
    w->parts.edtLocalAddress->setText(QStringLiteral("stale"));
    ASSERT_EQ(w->ShownPage(), pages::GeneralOptions);

    // While the refused site is pushed, the first site is stored already and this one not yet.
    QStringList storedDuringRefused;
    const auto display = w->parts.ftpClient->OnDisplay;
    w->parts.ftpClient->OnDisplay = [&](QObject *sender, QString &msg) {
        display(sender, msg);
        if (storedDuringRefused.isEmpty() && w->Shown().edtPassword->text() == QStringLiteral("wrong password"))
            storedDuringRefused = {w->Stored(QStringLiteral("Alpha"), 0, colStatus),
                                   w->Stored(QStringLiteral("Refused"), 0, colStatus)};
    };
    w->push->btnPushAllNowClick();

    EXPECT_EQ(storedDuringRefused, (QStringList{FileStatus::Moved, FileStatus::New}));
    EXPECT_EQ(w->Stored(QStringLiteral("Alpha"), 0, colStatus), FileStatus::Moved);
    EXPECT_EQ(w->Stored(QStringLiteral("Alpha"), 0, colFileSize), QStringLiteral("5"));
    EXPECT_EQ(w->Stored(QStringLiteral("Alpha"), 1, colStatus), FileStatus::Moved);
    EXPECT_EQ(w->Stored(QStringLiteral("Alpha"), 2, colStatus), FileStatus::Moved);
    EXPECT_EQ(w->Stored(QStringLiteral("Refused"), 0, colStatus), FileStatus::Error);
    EXPECT_EQ(server->Stored(Host(QStringLiteral("a.txt"))), QByteArray("alpha"));
    EXPECT_EQ(server->Stored(Host(QStringLiteral("c.html"))), QByteArray("at 10.20.30.40\n"));
    EXPECT_FALSE(OnServer(QStringLiteral("b.txt"))) << "an unchanged entry is not pushed";

    const QStringList lines = w->LogLines();
    EXPECT_EQ(lines.first(), kChecking);
    EXPECT_EQ(lines.last(), kDone);
    EXPECT_EQ(lines.count(connecting), 3);
    EXPECT_EQ(w->ShownPage(), pages::GeneralOptions);
    EXPECT_EQ(w->title->text(), pages::GeneralOptions);
    EXPECT_EQ(w->catalogue->CurrentSiteName(), QString());
    EXPECT_TRUE(w->window.isEnabled());
    EXPECT_EQ(w->parts.edtLocalAddress->text(), QStringLiteral("10.20.30.40"));
    EXPECT_EQ(w->options->edtLastIPAddress->text(), QStringLiteral("10.20.30.40"));
    EXPECT_TRUE(reported.isEmpty());
    const TPushTally &tally = w->push->LastTally();
    EXPECT_EQ(tally.pushed, 2);
    EXPECT_EQ(tally.failed, 1);
    EXPECT_TRUE(tally.firstFailure.startsWith(QStringLiteral("530"))) << tally.firstFailure.toStdString();
    EXPECT_TRUE(tally.completed);
}

TEST_F(PushCommandsTest, PushAllWithoutSitesWritesOnlyTheCheckingLineAndLeavesTheWindowAlone)
{
    w->Build();
    w->parts.edtLocalAddress->setText(QStringLiteral("as before"));
    EnabledChanges changes;
    w->window.installEventFilter(&changes);
    w->push->btnPushAllNowClick();
    EXPECT_EQ(w->LogLines(), QStringList{kChecking});
    EXPECT_EQ(changes.count, 0) << "the window is never disabled";
    EXPECT_EQ(w->parts.edtLocalAddress->text(), QStringLiteral("as before"));
    EXPECT_EQ(w->lookups, 0);
}

TEST_F(PushCommandsTest, PushFilesActsByTheNumberOfSelectedRows)
{
    const QString held = Local(QStringLiteral("held.txt"), "held");
    const QString moved = Local(QStringLiteral("moved.txt"), "moved");
    const QString fresh = Local(QStringLiteral("fresh.txt"), "fresh");
    const QString other = Local(QStringLiteral("other.txt"), "other");
    StoreSite(QStringLiteral("Site"), {Entry(fresh, FileStatus::New), Unchanged(moved, FileStatus::Moved),
                                       Unchanged(held, FileStatus::Hold), Entry(other, FileStatus::New)});
    w->Build();
    w->Select(w->SiteNode(QStringLiteral("Site")));
    ASSERT_EQ(w->Shown().lvFileDetails->RowCount(), 4);

    w->push->mniPopFilesPushFileClick();
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].kind, TMessageBox::TKind::Information);
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("No files selected to push..."));
    EXPECT_EQ(w->LogCount(connecting), 0);
    TMessageBox::ClearShown();

    for (int i : {0, 1, 2})
        Row(i)->setSelected(true);
    const QStringList heldDetails = Row(2)->SubItems().mid(colFileDateTime, 3);
    w->push->mniPopFilesPushFileClick();
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].kind, TMessageBox::TKind::ConfirmOkCancel);
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("Push the 3 selected files?"));
    EXPECT_EQ(w->LogCount(connecting), 0) << "cancelled: nothing goes";
    TMessageBox::ClearShown();

    TMessageBox::SetNextAnswer(Answer::Ok);
    w->push->mniPopFilesPushFileClick();
    EXPECT_EQ(TMessageBox::Shown().size(), 1) << "one question for all three";
    EXPECT_EQ(w->LogCount(connecting), 3);
    for (int i : {0, 1, 2})
        EXPECT_EQ(Row(i)->SubItem(colStatus), FileStatus::Moved) << "forced, whatever its state: row " << i;
    EXPECT_EQ(Row(2)->SubItems().mid(colFileDateTime, 3), heldDetails) << "a forced push writes only the status";
    EXPECT_EQ(Row(3)->SubItem(colStatus), FileStatus::New) << "due, but not selected";
    EXPECT_TRUE(OnServer(QStringLiteral("fresh.txt")));
    EXPECT_TRUE(OnServer(QStringLiteral("moved.txt")));
    EXPECT_TRUE(OnServer(QStringLiteral("held.txt")));
    EXPECT_FALSE(OnServer(QStringLiteral("other.txt")));
    TMessageBox::ClearShown();

    w->Shown().lvFileDetails->clearSelection();
    Row(3)->setSelected(true);
    TMessageBox::SetNextAnswer(Answer::Ok);
    w->push->mniPopFilesPushFileClick();
    ASSERT_EQ(TMessageBox::Shown().size(), 1) << "one row: the selected-file command with its question";
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("Push the file: ") + other + QStringLiteral("?"));
    EXPECT_TRUE(OnServer(QStringLiteral("other.txt")));
}

TEST_F(PushCommandsTest, ForcedPushAsksFirstWritesOnlyTheStatusAndLeavesAChangedFileDue)
{
    const QString page = Local(QStringLiteral("page.txt"), "version one");
    const QStringList stored = Details(page);
    StoreSite(QStringLiteral("Site"), {Unchanged(page, FileStatus::Hold)});
    w->Build();
    w->Select(w->SiteNode(QStringLiteral("Site")));
    w->push->btnPushSelectedNowClick();
    ASSERT_EQ(TMessageBox::Shown().size(), 1) << "no row selected: nothing to push";
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("No files selected to push..."));
    TMessageBox::ClearShown();

    Row(0)->setSelected(true);
    TMessageBox::SetNextAnswer(Answer::Cancel);
    w->push->btnPushSelectedNowClick();
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("Push the file: ") + page + QStringLiteral("?"));
    EXPECT_EQ(w->LogCount(connecting), 0);
    EXPECT_EQ(Row(0)->SubItem(colStatus), FileStatus::Hold);

    TMessageBox::SetNextAnswer(Answer::Ok);
    w->push->btnPushSelectedNowClick();
    EXPECT_EQ(server->Stored(Host(QStringLiteral("page.txt"))), QByteArray("version one"));
    EXPECT_EQ(Row(0)->SubItem(colStatus), FileStatus::Moved);

    Local(QStringLiteral("page.txt"), "version two, longer");
    TMessageBox::SetNextAnswer(Answer::Ok);
    w->push->btnPushSelectedNowClick();
    EXPECT_EQ(server->Stored(Host(QStringLiteral("page.txt"))), QByteArray("version two, longer"));
    EXPECT_EQ(Row(0)->SubItems().mid(colFileDateTime, 3), stored) << "the details stay those of the last push-all";

    const int before = w->LogCount(connecting);
    w->push->btnPushAllNowClick();
    EXPECT_EQ(w->LogCount(connecting), before + 1) << "the changed file is still found due";
    EXPECT_EQ(w->Stored(QStringLiteral("Site"), 0, colFileSize), QStringLiteral("19"));
}

TEST_F(PushCommandsTest, AnUnreadablePageIsThatEntrysErrorAndTheWalkGoesOnToLaterEntriesAndSites)
{
    const QString first = Local(QStringLiteral("first.txt"), "1");
    const QString before = Local(QStringLiteral("before.txt"), "2");
    const QString after = Local(QStringLiteral("after.txt"), "3");
    const QString third = Local(QStringLiteral("third.txt"), "4");
    const QString missing = dir.filePath(QStringLiteral("missing.html"));
    EntryTexts unreadable{
        missing, {Host(QStringLiteral("missing.html")), FileType::Ascii, QStringLiteral("%IP%"), FileStatus::New}};
    StoreSite(QStringLiteral("First"), {Entry(first, FileStatus::New)});
    StoreSite(QStringLiteral("Second"), {Entry(before, FileStatus::New), unreadable, Entry(after, FileStatus::Error)});
    StoreSite(QStringLiteral("Third"), {Entry(third, FileStatus::New)});
    w->options->edtLastIPAddress->setText(QStringLiteral("10.20.30.40"));
    w->Build();
    w->Select(w->navigator->ViewLogNode);
    w->parts.edtLocalAddress->setText(QStringLiteral("stale"));

    w->push->btnPushAllNowClick();

    const QString reason =
        QStringLiteral("Cannot open file ") + missing + QStringLiteral(": No such file or directory");
    EXPECT_TRUE(reported.isEmpty()) << reported.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(w->Stored(QStringLiteral("First"), 0, colStatus), FileStatus::Moved);
    EXPECT_EQ(w->Stored(QStringLiteral("Second"), 0, colStatus), FileStatus::Moved);
    EXPECT_EQ(w->Stored(QStringLiteral("Second"), 1, colStatus), FileStatus::Error);
    EXPECT_EQ(w->Stored(QStringLiteral("Second"), 2, colStatus), FileStatus::Moved);
    EXPECT_EQ(w->Stored(QStringLiteral("Third"), 0, colStatus), FileStatus::Moved);
    EXPECT_TRUE(OnServer(QStringLiteral("after.txt")));
    EXPECT_TRUE(OnServer(QStringLiteral("third.txt")));
    EXPECT_FALSE(OnServer(QStringLiteral("missing.html")));
    const QStringList lines = w->LogLines();
    const qsizetype at = lines.indexOf(QStringLiteral("Transfering file: ") + missing);
    ASSERT_GE(at, 0);
    EXPECT_EQ(lines.value(at + 1), reason) << "the log says why, right after the file's name";
    EXPECT_EQ(lines.last(), kDone);
    EXPECT_EQ(w->ShownPage(), pages::LogFiles);
    EXPECT_TRUE(w->window.isEnabled());
    EXPECT_EQ(w->options->edtLastIPAddress->text(), QStringLiteral("10.20.30.40"));
    const TPushTally &tally = w->push->LastTally();
    EXPECT_EQ(tally.pushed, 4);
    EXPECT_EQ(tally.failed, 1);
    EXPECT_EQ(tally.firstFailure, reason);

    QFile::copy(first, missing);
    w->push->btnPushAllNowClick();
    EXPECT_EQ(w->Stored(QStringLiteral("Second"), 1, colStatus), FileStatus::Moved) << "retried at the next push-all";
}

TEST_F(PushCommandsTest, AWalkEndedByAnErrorKeepsTheLastAddressSoUnreachedSitesStayDue)
{
    const QString first = Local(QStringLiteral("first.html"), "at %IP%\n");
    const QString later = Local(QStringLiteral("later.txt"), "later");
    EntryTexts substituted{
        first, {Host(QStringLiteral("first.html")), FileType::Ascii, QStringLiteral("%IP%"), FileStatus::New}};
    EntryTexts withAddress = Unchanged(later, FileStatus::Moved);
    withAddress.columns[colIPParameter] = QStringLiteral("%IP%");
    StoreSite(QStringLiteral("First"), {substituted});
    StoreSite(QStringLiteral("Second"), {withAddress});
    w->options->edtLastIPAddress->setText(QStringLiteral("10.0.0.1"));
    w->Build();
    // The upload copy cannot be written: an error that ends the walk in the first site.
    const QString badCopy = dir.filePath(QStringLiteral("absent/upload.tmp"));
    w->options->edtTempFileName->setText(badCopy);

    Guarded([this] { w->push->btnPushAllNowClick(); });
    EXPECT_EQ(reported, QStringList{QStringLiteral("Cannot create file ") + badCopy});
    EXPECT_FALSE(w->push->LastTally().completed);
    EXPECT_EQ(w->LogCount(kDone), 0);
    EXPECT_EQ(w->options->edtLastIPAddress->text(), QStringLiteral("10.0.0.1")) << "the walk did not complete";
    EXPECT_EQ(w->parts.edtLocalAddress->text(), QStringLiteral("10.20.30.40"));
    EXPECT_FALSE(OnServer(QStringLiteral("later.txt")));

    w->options->edtTempFileName->setText(dir.filePath(QStringLiteral("upload.tmp")));
    w->push->btnPushAllNowClick();
    EXPECT_EQ(server->Stored(Host(QStringLiteral("later.txt"))), QByteArray("later"))
        << "the address still differs from the last one, so the unreached site's entry goes now";
    EXPECT_EQ(w->options->edtLastIPAddress->text(), QStringLiteral("10.20.30.40"));
}

TEST_F(PushCommandsTest, ASiteThatFailsToLoadIsNeverStoredOverThePreviousSite)
{
    const QString good = Local(QStringLiteral("good.txt"), "good");
    const QString other = Local(QStringLiteral("other.txt"), "other");
    StoreSite(QStringLiteral("Good"), {Entry(good, FileStatus::New)});
    w->StoreSite(QStringLiteral("Unreadable"), QStringLiteral("someone else"), QStringLiteral("secret"),
                 {Entry(other, FileStatus::New)});
    // Its fields load, then its list stops at a value of the wrong kind.
    test::SetValueKind(w->store.FilePath(),
                       BaseKeyPath() + '\\' + store::SiteSection(QStringLiteral("Unreadable")) + '\\' +
                           store::ItemSection(0),
                       store::SublineName(0), 4);
    w->Build();

    Guarded([this] { w->push->btnPushAllNowClick(); });

    ASSERT_EQ(reported.size(), 1) << "the store's error reaches the error display";
    EXPECT_EQ(w->Stored(QStringLiteral("Good"), 0, colStatus), FileStatus::Moved);
    TRegIniFile goodSite(BaseKeyPath() + '\\' + store::SiteSection(QStringLiteral("Good")));
    EXPECT_EQ(goodSite.ReadText(store::ItemSection(0), store::Caption, QString()), good);
    EXPECT_EQ(goodSite.ReadText(QString(), store::UserName, QString()), server->User());
    EXPECT_EQ(w->Stored(QStringLiteral("Unreadable"), 0, colStatus), FileStatus::New);
    EXPECT_EQ(w->ShownPage(), pages::GeneralOptions);
}

// The files of one site go over one login; an error in the middle of the site still ends that
// session with QUIT.
TEST_F(PushCommandsTest, ASitesFilesShareOneSessionThatAnErrorInTheMiddleStillEnds)
{
    test::ScriptedFtpServer scripted(QStringLiteral("ok"));
    ASSERT_TRUE(scripted.Running()) << scripted.Failure().toStdString();
    const QString a = Local(QStringLiteral("a.bin"), "aa");
    const QString b = Local(QStringLiteral("b.html"), "bb\n");
    const QString c = Local(QStringLiteral("c.html"), "at %IP%\n");
    EntryTexts text = Entry(b, FileStatus::New);
    text.columns[colFileType] = FileType::Ascii;
    EntryTexts substituted = Entry(c, FileStatus::New);
    substituted.columns[colFileType] = FileType::Ascii;
    substituted.columns[colIPParameter] = QStringLiteral("%IP%");
    ShowSite(scripted.Port(), {.user = QStringLiteral("u"), .password = QStringLiteral("p")},
             {Entry(a, FileStatus::New), text, substituted});
    // The third file's upload copy cannot be written.
    w->options->edtTempFileName->setText(dir.filePath(QStringLiteral("absent/upload.tmp")));

    EXPECT_THROW(w->push->btnPushAllSiteNowClick(), Exception);
    EXPECT_EQ(Commands(scripted, 1), QStringList({"USER u", "PASS p", "TYPE I", "PORT", "STOR " + Host("a.bin"),
                                                  "TYPE A", "PORT", "STOR " + Host("b.html"), "QUIT"}));
    EXPECT_EQ(QStringList({Row(0)->SubItem(colStatus), Row(1)->SubItem(colStatus), Row(2)->SubItem(colStatus)}),
              QStringList({FileStatus::Moved, FileStatus::Moved, FileStatus::New}));
    EXPECT_EQ(w->LogCount(connecting), 3) << "each file has its lines";
    EXPECT_TRUE(w->window.isEnabled());
}

// A file the server refuses ends the session; the next file logs in afresh, and the one after
// it shares that new session.
TEST_F(PushCommandsTest, AFileTheServerRefusesEndsTheSessionAndTheNextLogsInAfresh)
{
    test::ScriptedFtpServer scripted(QStringLiteral("ok"));
    ASSERT_TRUE(scripted.Running()) << scripted.Failure().toStdString();
    const QString file = Local(QStringLiteral("file.bin"), "12");
    const auto to = [&file](const char *host) {
        return EntryTexts{file, {QString::fromLatin1(host), FileType::Binary, QString(), FileStatus::New}};
    };
    ShowSite(scripted.Port(), {.user = QStringLiteral("u"), .password = QStringLiteral("p")},
             {to("one.bin"), to("refused.bin"), to("two.bin"), to("three.bin")});

    w->push->btnPushAllSiteNowClick();
    const QStringList login{"USER u", "PASS p", "TYPE I"};
    EXPECT_EQ(Commands(scripted, 2), login + QStringList({"PORT", "STOR one.bin", "PORT", "STOR refused.bin", "QUIT"}) +
                                         login +
                                         QStringList({"PORT", "STOR two.bin", "PORT", "STOR three.bin", "QUIT"}));
    QStringList statuses;
    for (int i = 0; i < 4; ++i)
        statuses.append(Row(i)->SubItem(colStatus));
    EXPECT_EQ(statuses, QStringList({FileStatus::Moved, FileStatus::Error, FileStatus::Moved, FileStatus::Moved}));
    EXPECT_EQ(w->LogCount(connecting), 4);
}

// Cancel ends the file it came in and the session with it; the next file logs in afresh.
TEST_F(PushCommandsTest, CancelInASharedSessionEndsItAndTheNextFileLogsInAfresh)
{
    test::ScriptedFtpServer scripted(QStringLiteral("ok"));
    ASSERT_TRUE(scripted.Running()) << scripted.Failure().toStdString();
    const QString first = Local(QStringLiteral("first.bin"), "12");
    const QString second = Local(QStringLiteral("second.bin"), "34");
    ShowSite(scripted.Port(), {.user = QStringLiteral("u"), .password = QStringLiteral("p")},
             {Entry(first, FileStatus::New), Entry(second, FileStatus::New)});
    // Cancel comes when the server holds all of the first file: nothing is left to cut short.
    const auto progress = w->parts.ftpClient->OnProgress;
    w->parts.ftpClient->OnProgress = [&](QObject *sender, std::int64_t count, bool &abort) {
        if (count == 2 && w->transfer->CurrentFileName == first)
            w->parts.frmProgress->btnCancel->click();
        progress(sender, count, abort);
    };

    w->push->btnPushAllSiteNowClick();
    w->parts.ftpClient->OnProgress = progress;
    EXPECT_EQ(QStringList({Row(0)->SubItem(colStatus), Row(1)->SubItem(colStatus)}),
              QStringList({FileStatus::Error, FileStatus::Moved}));
    const QStringList commands = Commands(scripted, 2);
    EXPECT_EQ(commands.count(QStringLiteral("USER u")), 2) << commands.join('|').toStdString();
    EXPECT_EQ(commands.mid(commands.lastIndexOf(QStringLiteral("USER u"))),
              QStringList({"USER u", "PASS p", "TYPE I", "PORT", "STOR " + Host("second.bin"), "QUIT"}));
}

TEST_F(PushCommandsTest, TicksAndCommandsDuringAPushStartNothingAndTheNextTickChecks)
{
    const QString page = Local(QStringLiteral("page.txt"), "page");
    StoreSite(QStringLiteral("Site"), {Entry(page, FileStatus::New)});
    w->options->edtLastIPAddress->setText(QStringLiteral("10.20.30.40"));
    w->Build();
    w->options->spnTestFilesMinutes->SetText(QStringLiteral("3"));
    w->cycle->tmrRefreshTimer();
    w->cycle->tmrRefreshTimer();

    // The FTP client dispatches events while it waits; a tick and the user's commands arrive
    // in the middle of the transfer.
    int nested = 0;
    const auto display = w->parts.ftpClient->OnDisplay;
    w->parts.ftpClient->OnDisplay = [&](QObject *sender, QString &msg) {
        display(sender, msg);
        if (nested++ == 0) {
            w->cycle->tmrRefreshTimer();
            TMessageBox::SetNextAnswer(Answer::Ok);
            w->push->btnPushSelectedNowClick();
            w->push->mniPopFilesPushFileClick();
            w->push->btnPushAllSiteNowClick();
            w->push->btnPushAllNowClick();
        }
    };
    w->Select(w->SiteNode(QStringLiteral("Site")));
    Row(0)->setSelected(true);
    w->push->btnPushAllNowClick();
    w->parts.ftpClient->OnDisplay = display;

    EXPECT_GT(nested, 0);
    EXPECT_EQ(w->LogCount(kChecking), 1) << "the tick during the push started no push-all";
    EXPECT_EQ(w->LogCount(connecting), 1);
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());
    EXPECT_EQ(w->cycle->MinuteCount, 3) << "the tick's minute counts, its check waits";

    w->cycle->tmrRefreshTimer();
    EXPECT_EQ(w->LogCount(kChecking), 2) << "the next tick after the push checks";
    EXPECT_EQ(w->cycle->MinuteCount, 1);
}

} // namespace
} // namespace quelmark
