// What a push came to, in plain sight on the real main window: the status bar, the tooltip of an
// "Error" row, the site's node in the navigator and the list of sites on "Web Sites"; and the
// tray's notifications, which tell only a site's change of state.
#include "app/F_Main.h"
#include "app/Tray.h"
#include "catalogue/F_RenWWW.h"
#include "catalogue/Icons.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "engine/RefreshCycle.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ModalDialog.h"
#include "tests/support/Printing.h"
#include "tests/support/WindowTest.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace quelmark;

namespace {

const QString kSite = QStringLiteral("pages");

class PushResultsTest : public test::WindowTest {
protected:
    PushResultsTest() : WindowTest(true) {}

    // Stores the site with its values and one page that carries the address, not written yet.
    void StoreSite(const QList<std::pair<QString, QString>> &values) { test::StoreSite(kSite, values, {page}); }

    void WritePage() { ASSERT_TRUE(test::WriteFile(page, "<p>at %IP%</p>\n")); }

    TNavigatorNode *SiteNode() { return window->Navigator()->SiteNodes().value(0); }

    void ShowSite() { window->Navigator()->SelectNode(SiteNode()); }

    // Pushes the shown site's due files from its toolbar button, as the user does.
    void PushSite()
    {
        auto *button = window->findChild<QAction *>(QStringLiteral("btnPushAllSiteNow"));
        ASSERT_NE(button, nullptr);
        button->trigger();
    }

    TListRow *Row() { return window->findChild<TRegListView *>(QStringLiteral("lvFileDetails"))->Row(0); }
    QString Status() { return window->statusBar()->currentMessage(); }

    // The lines of the site node's tooltip.
    QStringList NodeTip() { return SiteNode()->toolTip(0).split(QLatin1Char('\n')); }

    // Tells whether the site node shows the site's picture marked as this.
    bool NodeMarked(bool good)
    {
        return SiteNode()->icon(0).pixmap(16, 16).toImage() ==
               MarkedPicture(TPicture::Site, good).pixmap(16, 16).toImage();
    }

    // The row of the site on "Web Sites": site, server, protocol, last push, result.
    QStringList SiteListRow()
    {
        window->Navigator()->SelectNode(window->Navigator()->WebSitesNode);
        EXPECT_EQ(window->CurrentPageTitle(), pages::SiteList);
        auto *list = window->findChild<QTreeWidget *>(QStringLiteral("lvSites"));
        QStringList texts;
        if (const QTreeWidgetItem *item = list ? list->topLevelItem(0) : nullptr) {
            for (int k = 0; k < list->columnCount(); ++k)
                texts.append(item->text(k));
        }
        ShowSite();
        return texts;
    }

    // Chooses where the address comes from; the web's is a URL no check can use.
    void AddressFrom(const QString &source)
    {
        window->findChild<QLineEdit *>(QStringLiteral("edtAddressURL"))->setText(QStringLiteral("ftp://nowhere"));
        window->findChild<QComboBox *>(QStringLiteral("cmbAddressSource"))->setCurrentText(source);
    }

    void Check()
    {
        window->findChild<TRegSpinEdit *>(QStringLiteral("spnTestFilesMinutes"))->SetValue(1);
        window->RefreshCycle().RunTick();
    }

    const QString page = folder.filePath(QStringLiteral("index.html"));
};

// Each row: how the push fails, the site's values, a part of the reason, and what mends it.
TEST_F(PushResultsTest, AFailedPushStaysInSightUntilItsFileGoesThrough)
{
    test::PyFtpServer &server = test::SharedPyFtpServer();
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    const QString host = QStringLiteral("127.0.0.1:") + server.PortText();
    const struct {
        const char *what;
        QList<std::pair<QString, QString>> values;
        QString protocol;
        QString reason;
        std::function<void()> mend;
    } rows[] = {
        {"a page that cannot be read",
         {{store::Password, server.Password()}},
         QStringLiteral("FTP"),
         QStringLiteral("No such file or directory"),
         [this] { WritePage(); }},
        {"a wrong password",
         {{store::Password, QStringLiteral("not the password")}},
         QStringLiteral("FTP"),
         QStringLiteral("530 "),
         [this, &server] {
             window->findChild<QLineEdit *>(QStringLiteral("edtPassword"))->setText(server.Password());
         }},
        {"TLS the server does not offer",
         {{store::Password, server.Password()}, {store::Security, SiteSecurity::TLS}},
         QStringLiteral("FTPS"),
         QStringLiteral("TLS"),
         [this] { window->findChild<QCheckBox *>(QStringLiteral("chkSecurity"))->setChecked(false); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QFile::remove(page);
        if (&row != &rows[0])
            WritePage();
        QList<std::pair<QString, QString>> values = row.values;
        values.append({{store::FTPServer, host}, {store::UserName, server.User()}});
        StoreSite(values);
        Open();
        ShowSite();
        EXPECT_EQ(NodeTip().value(3), QStringLiteral("Last push: none since the program started"));
        EXPECT_TRUE(SiteListRow().value(4).isEmpty());

        PushSite();
        ASSERT_EQ(Row()->SubItem(colStatus), FileStatus::Error);
        const QString failed = QStringLiteral("Push of %1 to pages failed: ").arg(page);
        EXPECT_TRUE(Status().startsWith(failed)) << Status().toStdString();
        const QString reason = Status().mid(failed.size());
        EXPECT_TRUE(reason.contains(row.reason)) << reason.toStdString();
        const QStringList rowTip = Row()->toolTip(colStatus + 1).split(QLatin1Char('\n'));
        EXPECT_TRUE(rowTip.value(0).startsWith(QStringLiteral("Last push failed: "))) << rowTip.value(0).toStdString();
        EXPECT_EQ(rowTip.value(1), reason);
        EXPECT_EQ(Row()->toolTip(0), Row()->toolTip(colStatus + 1)) << "the whole row tells it";
        EXPECT_TRUE(NodeMarked(false));
        const QStringList tip = NodeTip();
        EXPECT_EQ(tip.mid(0, 3),
                  QStringList({"Server: " + host, "User: " + server.User(), "Protocol: " + row.protocol}));
        EXPECT_TRUE(tip.value(3).endsWith(QStringLiteral(", failed: ") + reason)) << tip.value(3).toStdString();
        const QStringList listed = SiteListRow();
        EXPECT_EQ(listed.mid(0, 3), QStringList({kSite, host, row.protocol}));
        EXPECT_FALSE(listed.value(3).isEmpty());
        EXPECT_EQ(listed.value(4), QStringLiteral("failed: ") + reason);
        EXPECT_TRUE(window->isEnabled());

        // Mended and pushed again: nothing stands any more.
        row.mend();
        PushSite();
        ASSERT_EQ(Row()->SubItem(colStatus), FileStatus::Moved);
        EXPECT_EQ(Status(), QString());
        EXPECT_EQ(Row()->toolTip(colStatus + 1), QString());
        EXPECT_TRUE(NodeMarked(true));
        EXPECT_TRUE(NodeTip().value(3).endsWith(QStringLiteral(", OK")));
        EXPECT_EQ(SiteListRow().value(4), QStringLiteral("OK"));
        window.reset();
        TRegIniFile(BaseKeyPath()).DeleteSection(store::SiteSection(kSite));
    }
}

// The failure of a row stands as long as the row says "Error"; a renamed site keeps its results,
// a deleted one takes them with it.
TEST_F(PushResultsTest, TheResultsFollowTheRowsAndTheSite)
{
    StoreSite({{store::FTPServer, QStringLiteral("127.0.0.1:1")}});
    Open();
    ShowSite();
    PushSite();
    ASSERT_TRUE(NodeMarked(false));
    ASSERT_FALSE(Status().isEmpty());

    // Renamed with F2: the node keeps its mark and the row its tooltip.
    auto *rename = window->findChild<TfrmRenameWebSite *>();
    ASSERT_NE(rename, nullptr);
    int leftOpen = 0;
    test::WhileShown(
        rename,
        [rename] {
            rename->edtSiteName->setText(QStringLiteral("renamed"));
            rename->btnOK->click();
        },
        leftOpen);
    window->Navigator()->setFocus();
    QTest::keyClick(window->Navigator(), Qt::Key_F2);
    ASSERT_EQ(leftOpen, 0);
    ASSERT_EQ(SiteNode()->text(0), QStringLiteral("renamed"));
    EXPECT_TRUE(NodeMarked(false));
    EXPECT_FALSE(Row()->toolTip(0).isEmpty());
    EXPECT_TRUE(Status().contains(QStringLiteral(" to pages failed: "))) << "the push was to its old name";

    // Set to "Hold" by the user: no failure stands.
    Row()->SetSubItem(colStatus, FileStatus::Hold);
    QCoreApplication::processEvents();
    EXPECT_TRUE(NodeMarked(true));
    EXPECT_EQ(Row()->toolTip(0), QString());
    EXPECT_EQ(Status(), QString());

    // Failed again, then deleted: the results go with the site.
    Row()->SetSubItem(colStatus, FileStatus::New);
    PushSite();
    ASSERT_FALSE(Status().isEmpty());
    TMessageBox::SetNextAnswer(TBoxAnswer::Yes);
    window->findChild<QAction *>(QStringLiteral("mniFileDeleteWebSite"))->trigger();
    ASSERT_TRUE(window->Navigator()->SiteNodes().isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(Status(), QString());
}

// A timer's check tells the tray only what changed: a site that starts failing names the site,
// the file and why; the same failure at the next check tells nothing; the site pushing again
// says so once.
TEST_F(PushResultsTest, TheTrayTellsOnlyWhenASiteStartsOrStopsFailing)
{
    test::PyFtpServer &server = test::SharedPyFtpServer();
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    StoreSite({{store::FTPServer, QStringLiteral("127.0.0.1:") + server.PortText()},
               {store::UserName, server.User()},
               {store::Password, server.Password()}});
    Open();
    const QString failed =
        QStringLiteral("Push of %1 to pages failed: Cannot open file %1: No such file or directory").arg(page);
    const QString again = QStringLiteral("Push of %1 to pages works again").arg(page);
    const QString noAddress = QStringLiteral("Address check failed: ftp://nowhere is not an http or https URL");
    const struct {
        const char *what;
        std::function<void()> before;
        QStringList told;
    } checks[] = {
        {"the page is missing", {}, {failed}},
        {"still missing", {}, {}},
        {"the page is there", [this] { WritePage(); }, {again}},
        {"nothing due", {}, {}},
        {"a user's push fails it, the check finds it failing still",
         [this] {
             QFile::remove(page);
             ShowSite();
             Row()->SetSubItem(colStatus, FileStatus::New);
             PushSite();
             window->Navigator()->SelectNode(window->Navigator()->GeneralOptionsNode);
         },
         {}},
        {"the address cannot be found", [this] { AddressFrom(AddressFrom::Web); }, {noAddress}},
        {"still not found", {}, {}},
        {"found again, the page still missing",
         [this] { AddressFrom(AddressFrom::Local); },
         {QStringLiteral("Checks work again: 1 of 1 files failed")}},
    };
    for (const auto &check : checks) {
        SCOPED_TRACE(check.what);
        if (check.before)
            check.before();
        TTray::ClearShown();
        Check();
        QStringList told;
        for (const TTrayMessage &message : TTray::Shown())
            told.append(message.text);
        EXPECT_EQ(told, check.told);
    }
}

} // namespace
