// Every command of the main window reached the way the user reaches it (menu item, toolbar
// button, pop-up item, double click) and doing its job on the real window and store.
#include "app/F_About.h"
#include "app/F_Instr.h"
#include "app/F_Main.h"
#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/F_RenWWW.h"
#include "catalogue/FileDialogs.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/filedrag.h"
#include "engine/EngineView.h"
#include "engine/F_Prgrss.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "ftp/Ftpcli.h"
#include "net/Sockets.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ModalDialog.h"
#include "tests/support/WindowTest.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace quelmark;

namespace {

// One way of reaching a command: a menu item, a toolbar button or a pop-up item, by name.
struct TRoute {
    const char *name;
    bool isButton;
};

class MainCommandsTest : public test::WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        Open();
        ASSERT_TRUE(TMessageBox::Shown().isEmpty());
    }

    // Runs a command the way the user would: clicks the button or triggers the item.
    void Run(const TRoute &route)
    {
        if (route.isButton) {
            QToolButton *button = Find<QToolButton>(route.name);
            ASSERT_NE(button, nullptr);
            button->click();
        } else {
            QAction *item = Find<QAction>(route.name);
            ASSERT_NE(item, nullptr);
            item->trigger();
        }
    }

    void WhileShown(QDialog *dialog, std::function<void()> act) { test::WhileShown(dialog, std::move(act), leftOpen); }

    void NewSite(const TRoute &route, const QString &server)
    {
        auto *dialog = window->findChild<TfrmAddNewWebSite *>();
        ASSERT_NE(dialog, nullptr);
        WhileShown(dialog, [dialog, server] {
            dialog->edtFTPServer->setText(server);
            dialog->edtUserName->setText(QStringLiteral("user"));
            dialog->edtPassword->setText(QStringLiteral("pw"));
            dialog->edtDefaultHostDir->setText(QStringLiteral("/www"));
            dialog->btnOK->click();
        });
        Run(route);
    }

    QString SelectedNodeText() const
    {
        const QTreeWidgetItem *node = window->Navigator()->currentItem();
        return node ? node->text(0) : QString();
    }

    TRegListView *List() { return Find<TRegListView>("lvFileDetails"); }

    TListRow *AddRow(const QString &local, const QString &param = QStringLiteral("%IP%"))
    {
        TListRow *row = List()->AddRow();
        row->SetCaption(local);
        row->SetSubItems({"index.html", FileType::Ascii, param, FileStatus::New, "", "", ""});
        return row;
    }

    QString Title() { return Find<QLabel>("pnlDetailTitle")->text(); }
    QStringList LogLines() { return Find<TTextArea>("memoLog")->Lines(); }

    int leftOpen = 0;
};

TEST_F(MainCommandsTest, EveryToolbarButtonShowsItsHintAndAPicture)
{
    const struct {
        const char *name;
        const char *hint;
    } buttons[] = {
        {"btnStartStop", "Toggle the timer on/off"},
        {"btnPushAllNow", "Send ALL files to ALL servers NOW as needed..."},
        {"btnHelp", "Instructions/Help"},
        {"btnNewWebSite", "New Web Site"},
        {"btnDeleteWebSite", "Delete Web Site"},
        {"btnPushSelectedNow", "Force the selected file to the server (Push Now)"},
        {"btnPushAllSiteNow", "Push below files to the server..."},
        {"btnNewFile", "Add a new file"},
        {"btnEditFile", "Edit selected file(s)"},
        {"btnRemoveFile", "Remove selected file(s)"},
        {"btnSaveCurrentFile", "Save current file"},
    };
    for (const auto &b : buttons) {
        const QToolButton *button = Find<QToolButton>(b.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(b.hint)) << b.name;
    }
    // Every button on every toolbar, whatever its name, must draw something.
    int seen = 0;
    for (const QToolBar *toolbar : window->findChildren<QToolBar *>()) {
        for (QAction *action : toolbar->actions()) {
            if (auto *button = qobject_cast<QToolButton *>(toolbar->widgetForAction(action))) {
                ++seen;
                EXPECT_FALSE(button->icon().pixmap(20, 20).isNull()) << button->objectName().toStdString();
            }
        }
    }
    EXPECT_EQ(seen, static_cast<int>(std::size(buttons)));
    for (int kind : {nkGeneralOptions, nkWebSites, nkSite, nkViewLog})
        EXPECT_FALSE(NodeImage(kind).pixmap(16, 16).isNull()) << "node kind " << kind;
    EXPECT_FALSE(window->windowIcon().pixmap(32, 32).isNull());
}

TEST_F(MainCommandsTest, MenusAndPopupsOfferTheirItemsInOrder)
{
    auto texts = [](const QMenu *menu) {
        QStringList items;
        for (const QAction *action : menu->actions())
            items.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        return items;
    };
    QStringList titles;
    for (const QAction *action : window->menuBar()->actions())
        titles.append(action->text());
    EXPECT_EQ(titles, QStringList({"&File", "&View", "&Push", "&Help"}));
    EXPECT_EQ(texts(Find<QMenu>("mnuFile")),
              QStringList({"&New Web Site", "&Rename Web Site", "&Delete Web Site", "-", "E&xit"}));
    EXPECT_EQ(texts(Find<QMenu>("mnuView")), QStringList({"&General Options", "&Log"}));
    EXPECT_EQ(texts(Find<QMenu>("mnuPush")), QStringList({"&Start/Stop Timer", "Push &All", "Push &Site"}));
    EXPECT_EQ(texts(Find<QMenu>("mnuHelp")), QStringList({"&Instructions...", "-", "&About"}));
    EXPECT_EQ(texts(Find<QMenu>("popNavigator")),
              QStringList({"&New Web Site", "&Rename Web Site", "&Delete Web Site"}));
    EXPECT_EQ(texts(Find<QMenu>("popFiles")),
              QStringList({"&Push File(s)", "-", "&New File", "&Edit File(s)", "&Remove File(s)"}));
}

TEST_F(MainCommandsTest, PopupsOpenOnTheirControls)
{
    auto *navigator = window->Navigator();
    emit navigator->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(Find<QMenu>("popNavigator")->isVisible());
    Find<QMenu>("popNavigator")->hide();
    emit List()->customContextMenuRequested(QPoint(5, 5));
    EXPECT_TRUE(Find<QMenu>("popFiles")->isVisible());
    Find<QMenu>("popFiles")->hide();
}

TEST_F(MainCommandsTest, EachNewSiteCommandAddsTheSiteAndShowsItWithTheTypedFields)
{
    const TRoute routes[] = {{"mniFileNewWebSite", false}, {"btnNewWebSite", true}, {"mniPopNavNewWebSite", false}};
    QStringList expected;
    for (const TRoute &route : routes) {
        const QString name = QStringLiteral("ftp.") + QString::fromLatin1(route.name) + QStringLiteral(".org");
        NewSite(route, name);
        expected.append(name);
        EXPECT_EQ(SelectedNodeText(), name) << route.name;
        EXPECT_EQ(Title(), pages::SiteInformationFor + name);
        EXPECT_EQ(window->CurrentPageTitle(), pages::WebSites);
        EXPECT_EQ(Find<TRegEdit>("edtFTPServer")->text(), name);
        EXPECT_EQ(Find<TRegEdit>("edtDefaultDir")->text(), QStringLiteral("/www/"));
    }
    EXPECT_EQ(leftOpen, 0);
    EXPECT_EQ(window->Catalogue().ListSites(),
              QStringList({"ftp.btnNewWebSite.org", "ftp.mniFileNewWebSite.org", "ftp.mniPopNavNewWebSite.org"}))
        << "stored in name order";
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());
}

TEST_F(MainCommandsTest, NewSiteNamedWithABackslashIsRefusedAndNothingIsStored)
{
    NewSite({"btnNewWebSite", true}, QStringLiteral("ftp.example.org\\Item#0"));
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].kind, TMessageBox::TKind::Information);
    EXPECT_EQ(window->Navigator()->SiteNodes().size(), 0);
    EXPECT_TRUE(window->Catalogue().ListSites().isEmpty());
    EXPECT_EQ(SelectedNodeText(), pages::GeneralOptions);
}

TEST_F(MainCommandsTest, EachDeleteSiteCommandRemovesTheShownSiteAfterAsking)
{
    const TRoute routes[] = {
        {"mniFileDeleteWebSite", false}, {"btnDeleteWebSite", true}, {"mniPopNavDeleteWebSite", false}};
    for (const TRoute &route : routes) {
        const QString name = QStringLiteral("doomed.example.org");
        NewSite({"btnNewWebSite", true}, name);
        AddRow(QStringLiteral("/tmp/page.html"));
        window->Navigator()->SelectNode(window->Navigator()->GeneralOptionsNode);
        window->Navigator()->SelectNode(window->Navigator()->SiteNodes().value(0));
        ASSERT_EQ(window->Catalogue().ListSites(), QStringList({name}));

        TMessageBox::ClearShown();
        TMessageBox::SetNextAnswer(TMessageBox::TAnswer::Yes);
        Run(route);
        ASSERT_EQ(TMessageBox::Shown().size(), 1) << route.name;
        EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("Delete site: doomed.example.org?"));
        EXPECT_TRUE(window->Catalogue().ListSites().isEmpty()) << route.name;
        EXPECT_TRUE(window->Navigator()->SiteNodes().isEmpty());
        EXPECT_EQ(Title(), pages::WebSites);
        EXPECT_EQ(window->CurrentPageTitle(), pages::SiteList);
    }
}

TEST_F(MainCommandsTest, FileCommandsReachTheEditorFromButtonsPopupAndDoubleClick)
{
    NewSite({"btnNewWebSite", true}, QStringLiteral("files.example.org"));
    auto *dialog = window->findChild<TfrmAddNewFile *>();
    ASSERT_NE(dialog, nullptr);

    // New file: from the toolbar and from the pop-up menu.
    int added = 0;
    for (const TRoute &route : {TRoute{"btnNewFile", true}, TRoute{"mniPopFilesNewFile", false}}) {
        const QString local = folder.filePath(QStringLiteral("page%1.html").arg(++added));
        QFile(local).open(QIODevice::WriteOnly);
        WhileShown(dialog, [dialog, local] {
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Add a new file..."));
            EXPECT_EQ(dialog->edtParameterToReplace->text(), QStringLiteral("%IP%"));
            dialog->edtLocalFileName->setText(local);
            dialog->edtHostFullName->setText(QStringLiteral("/www/page.html"));
            dialog->btnOK->click();
        });
        Run(route);
        ASSERT_EQ(List()->RowCount(), added) << route.name;
        EXPECT_EQ(List()->Row(added - 1)->Caption(), local);
    }

    // Edit: toolbar, pop-up and a double click on the row each open the single edit.
    QStringList captions;
    auto editOnce = [&](std::function<void()> trigger) {
        List()->clearSelection();
        List()->Row(0)->setSelected(true);
        WhileShown(dialog, [dialog, &captions] {
            captions.append(dialog->windowTitle());
            dialog->edtHostFullName->setText(QStringLiteral("/www/edited.html"));
            dialog->btnOK->click();
        });
        trigger();
    };
    editOnce([this] { Run({"btnEditFile", true}); });
    editOnce([this] { Run({"mniPopFilesEditFile", false}); });
    editOnce([this] {
        const QRect rect = List()->visualItemRect(List()->Row(0));
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, rect.center());
    });
    EXPECT_EQ(captions, QStringList(3, QStringLiteral("Edit single file...")));
    EXPECT_EQ(List()->Row(0)->SubItem(0), QStringLiteral("/www/edited.html"));
    EXPECT_EQ(List()->Row(0)->SubItem(3), FileStatus::Edited);

    // Remove: toolbar and pop-up, each after asking.
    for (const TRoute &route : {TRoute{"btnRemoveFile", true}, TRoute{"mniPopFilesRemoveFile", false}}) {
        List()->clearSelection();
        List()->Row(0)->setSelected(true);
        TMessageBox::SetNextAnswer(TMessageBox::TAnswer::Yes);
        Run(route);
        EXPECT_EQ(List()->RowCount(), --added) << route.name;
    }
    EXPECT_EQ(leftOpen, 0);
}

TEST_F(MainCommandsTest, FileListAnswersEnterWithAnEditDeleteWithARemovalAndInsertWithANewFile)
{
    NewSite({"btnNewWebSite", true}, QStringLiteral("keys.example.org"));
    auto *dialog = window->findChild<TfrmAddNewFile *>();
    ASSERT_NE(dialog, nullptr);
    QStringList titles;
    const auto record = [&titles, dialog] {
        titles.append(dialog->windowTitle());
        dialog->reject();
    };

    WhileShown(dialog, record);
    QTest::keyClick(List(), Qt::Key_Insert);
    AddRow(QStringLiteral("/tmp/a.html"));
    List()->Row(0)->setSelected(true);
    WhileShown(dialog, record);
    QTest::keyClick(List(), Qt::Key_Return);
    WhileShown(dialog, record);
    QTest::keyClick(List(), Qt::Key_Enter);
    EXPECT_EQ(titles, QStringList({"Add a new file...", "Edit single file...", "Edit single file..."}));

    TMessageBox::SetNextAnswer(TMessageBox::TAnswer::No);
    QTest::keyClick(List(), Qt::Key_Delete);
    ASSERT_EQ(TMessageBox::Shown().size(), 1) << "asked first, as the button does";
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("Remove the file /tmp/a.html?"));
    EXPECT_EQ(List()->RowCount(), 1);
    TMessageBox::SetNextAnswer(TMessageBox::TAnswer::Yes);
    QTest::keyClick(List(), Qt::Key_Delete);
    EXPECT_EQ(List()->RowCount(), 0);
    EXPECT_EQ(leftOpen, 0);
    EXPECT_EQ(Find<QAction>("mniPopFilesRemoveFile")->shortcut(), QKeySequence(Qt::Key_Delete)) << "shown in the menu";
}

// Start/Stop from its button, its menu item and F5 runs the timer with the animation and stops
// both; Push All from its button, its menu item and F6 runs one check. The animation stands last
// on the main toolbar, so the buttons stay put when it shows.
TEST_F(MainCommandsTest, TimerAndPushAllRunFromTheirButtonsMenuItemsAndKeys)
{
    auto *timer = window->findChild<QTimer *>(QStringLiteral("tmrRefresh"));
    ASSERT_NE(timer, nullptr);
    QToolBar *bar = Find<QToolBar>("tbGeneralInfo");
    ASSERT_FALSE(bar->actions().isEmpty());
    EXPECT_EQ(bar->widgetForAction(bar->actions().last()), window->EngineView().Animation.data());
    QWidget *push = Find<QToolButton>("btnPushAllNow");
    const QPoint before = push->pos();
    const auto run = [this](const char *name, bool button) { return [this, name, button] { Run({name, button}); }; };
    const auto key = [this](Qt::Key key) {
        return [this, key] {
            window->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
            QTest::keyClick(window.get(), key);
        };
    };
    const struct {
        const char *what;
        std::function<void()> startStop;
        std::function<void()> pushAll;
    } routes[] = {
        {"buttons", run("btnStartStop", true), run("btnPushAllNow", true)},
        {"menu", run("mniPushStartStop", false), run("mniPushAll", false)},
        {"keys", key(Qt::Key_F5), key(Qt::Key_F6)},
    };
    int checks = 0;
    for (const auto &route : routes) {
        SCOPED_TRACE(route.what);
        EXPECT_FALSE(timer->isActive());
        EXPECT_FALSE(window->EngineView().AnimationShown());
        route.startStop();
        QCoreApplication::processEvents();
        EXPECT_TRUE(timer->isActive());
        // "Push changes at once" lets it sleep through the minutes up to the check, ten of them.
        EXPECT_EQ(timer->interval(), 10 * 60000);
        EXPECT_TRUE(window->EngineView().AnimationShown());
        EXPECT_EQ(push->pos(), before);
        route.startStop();
        EXPECT_FALSE(timer->isActive());
        EXPECT_FALSE(window->EngineView().AnimationShown());
        route.pushAll();
        EXPECT_EQ(LogLines(), QStringList(++checks, QStringLiteral(">>>> Checking all files...")));
    }
}

TEST_F(MainCommandsTest, TheLogOpensAtItsNewestLineFromItsLeftEdge)
{
    TTextArea *log = Find<TTextArea>("memoLog");
    const auto expectNewestFromTheLeft = [log](const char *when) {
        QCoreApplication::processEvents();
        EXPECT_GT(log->horizontalScrollBar()->maximum(), 0) << when;
        EXPECT_EQ(log->horizontalScrollBar()->value(), 0) << when;
        EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum()) << when;
    };
    // Lines of every length, as an unattended run leaves them before anyone looks.
    for (int i = 0; i < 300; ++i)
        log->AppendLine(QStringLiteral("line %1 ").arg(i) + QString(i % 7 == 0 ? 400 : 10, QLatin1Char('x')));
    Run({"mniViewLogView", false});
    expectNewestFromTheLeft("first opened");
    log->AppendLine(QStringLiteral("while shown ") + QString(500, QLatin1Char('y')));
    expectNewestFromTheLeft("a line added while shown");

    Run({"mniViewGeneralOptions", false});
    for (int i = 0; i < 50; ++i)
        log->AppendLine(QStringLiteral("later ") + QString(300, QLatin1Char('z')));
    Run({"mniViewLogView", false});
    expectNewestFromTheLeft("opened again");
}

TEST_F(MainCommandsTest, OnlyTheEditingDialogsHoldTheTimersChecksBack)
{
    TRegSpinEdit *minutes = Find<TRegSpinEdit>("spnTestFilesMinutes");
    minutes->SetValue(1);
    const auto checks = [this] {
        return static_cast<int>(LogLines().count(QStringLiteral(">>>> Checking all files...")));
    };
    const auto tickWhileShown = [this](QDialog *dialog) {
        WhileShown(dialog, [this] { window->RefreshCycle().tmrRefreshTimer(); });
    };

    // The about box, a question and the save dialog's like: the check runs.
    QDialog *about = window->findChild<TfrmAbout *>();
    ASSERT_NE(about, nullptr);
    tickWhileShown(about);
    Run({"mniHelpAbout", false});
    EXPECT_EQ(checks(), 1);

    // The site dialog and the file dialog: it waits, and the first tick after checks.
    NewSite({"btnNewWebSite", true}, QStringLiteral("held.example.org"));
    tickWhileShown(window->findChild<TfrmAddNewWebSite *>());
    Run({"btnNewWebSite", true});
    tickWhileShown(window->findChild<TfrmAddNewFile *>());
    Run({"btnNewFile", true});
    EXPECT_EQ(checks(), 1);
    window->RefreshCycle().tmrRefreshTimer();
    EXPECT_EQ(checks(), 2);
}

TEST_F(MainCommandsTest, FilesDroppedOnTheWindowJoinTheShownSiteOnly)
{
    auto *drop = window->findChild<TFileDrag *>();
    ASSERT_NE(drop, nullptr);
    EXPECT_FALSE(drop->EnableDrop()) << "no site is shown at start";
    NewSite({"btnNewWebSite", true}, QStringLiteral("drops.example.org"));
    EXPECT_TRUE(drop->EnableDrop());
    drop->Drop({folder.filePath(QStringLiteral("logo.png"))});
    ASSERT_EQ(List()->RowCount(), 1);
    EXPECT_EQ(List()->Row(0)->SubItem(0), QStringLiteral("/www/logo.png"));
    EXPECT_EQ(List()->Row(0)->SubItem(1), FileType::Binary);
    Run({"mniViewLogView", false});
    EXPECT_FALSE(drop->EnableDrop());
}

TEST_F(MainCommandsTest, ViewMenuShowsOptionsAndLogAndExitClosesWithASave)
{
    Run({"mniViewLogView", false});
    EXPECT_EQ(SelectedNodeText(), pages::ViewLog);
    EXPECT_EQ(window->CurrentPageTitle(), pages::LogFiles);
    EXPECT_EQ(Find<QTabWidget>("nbMain")->currentWidget(), Find<TTextArea>("memoLog"));
    Run({"mniViewGeneralOptions", false});
    EXPECT_EQ(SelectedNodeText(), pages::GeneralOptions);
    EXPECT_EQ(Title(), pages::GeneralOptions);

    Find<TRegEdit>("edtDefaultIPParam")->setText(QStringLiteral("%ADDR%"));
    Run({"mniFileExit", false});
    EXPECT_FALSE(window->isVisible());
    TRegIniFile ini(BaseKeyPath());
    EXPECT_EQ(ini.ReadText(store::GeneralOptions, store::DefaultIPParam, QString()), QStringLiteral("%ADDR%"));
}

// The instructions open centred over the window with the help button down, and stay where the
// user moves them.
TEST_F(MainCommandsTest, HelpButtonIsDownExactlyWhileTheInstructionsAreShown)
{
    auto *instructions = window->findChild<TfrmInstr *>();
    ASSERT_NE(instructions, nullptr);
    QToolButton *help = Find<QToolButton>("btnHelp");
    ASSERT_NE(help, nullptr);
    EXPECT_FALSE(instructions->isVisible());
    EXPECT_FALSE(help->isChecked());
    window->move(40, 30);
    QCoreApplication::processEvents();

    help->click();
    EXPECT_TRUE(instructions->isVisible());
    EXPECT_TRUE(help->isChecked());
    const QPoint offset = instructions->frameGeometry().center() - window->frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    help->click();
    EXPECT_FALSE(instructions->isVisible());
    EXPECT_FALSE(help->isChecked());

    // Shown from the menu, closed by the window's own means.
    Run({"mniHelpInstructions", false});
    EXPECT_TRUE(help->isChecked());
    instructions->close();
    EXPECT_FALSE(help->isChecked());
    Run({"mniHelpInstructions", false});
    Run({"mniHelpInstructions", false});
    EXPECT_TRUE(help->isChecked()) << "showing a shown window leaves the button down";
    instructions->move(5, 400);
    help->click();
    EXPECT_FALSE(instructions->isVisible());
    Run({"mniHelpInstructions", false});
    EXPECT_EQ(instructions->pos(), QPoint(5, 400));
}

TEST(InstructionsWindow, HasThreeReadOnlyPagesAndTheSampleUsesThePlaceholderInALinkAndASentence)
{
    TfrmInstr instructions;
    ASSERT_EQ(instructions.nbPages->count(), 3);
    for (int i = 0; i < 3; ++i) {
        auto *page = qobject_cast<QPlainTextEdit *>(instructions.nbPages->widget(i));
        ASSERT_NE(page, nullptr);
        EXPECT_TRUE(page->isReadOnly());
        EXPECT_FALSE(page->toPlainText().isEmpty());
    }
    const QString sample = InstructionsSamplePage();
    EXPECT_TRUE(sample.contains(QStringLiteral("href=\"http://%IP%/\"")));
    EXPECT_TRUE(sample.contains(QStringLiteral("answers at %IP%.")));
}

TEST_F(MainCommandsTest, AboutBoxNamesTheProgramAndItsVersion)
{
    QStringList seen;
    QTimer::singleShot(0, window.get(), [&seen] {
        QWidget *box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        for (const QLabel *label : box->findChildren<QLabel *>())
            seen.append(label->text());
        static_cast<QDialog *>(box)->accept();
    });
    Run({"mniHelpAbout", false});
    EXPECT_TRUE(seen.join(QLatin1Char('\n')).contains(QStringLiteral("Varnholt Quelmark")));
    EXPECT_FALSE(ProgramVersion().isEmpty());
    EXPECT_TRUE(seen.contains(QStringLiteral("Version ") + ProgramVersion()));
}

TEST_F(MainCommandsTest, SaveLogWritesTheLogWithItsLineEnds)
{
    Run({"btnPushAllNow", true});
    EXPECT_EQ(LogLines(), QStringList({">>>> Checking all files..."}));

    const QString saved = folder.filePath(QStringLiteral("log.txt"));
    TFileDialogs::SetNextAnswer(saved);
    Run({"btnSaveCurrentFile", true});
    EXPECT_EQ(test::ReadFile(saved), QByteArray(">>>> Checking all files...\r\n"));
    ASSERT_EQ(TFileDialogs::Shown().size(), 1);
    EXPECT_EQ(TFileDialogs::Shown()[0].title, QStringLiteral("Save log file..."));
}

TEST_F(MainCommandsTest, PushCommandsUploadThroughTheWindowsClientWithTheMachinesAddress)
{
    test::PyFtpServer server;
    if (!server.Running())
        GTEST_SKIP() << server.Failure().toStdString();
    const QString host = QStringLiteral("127.0.0.1:") + server.PortText();
    NewSite({"btnNewWebSite", true}, host);
    // The new site proposes TLS, which this server does not offer.
    Find<QCheckBox>("chkSecurity")->setChecked(false);
    Find<TRegEdit>("edtUserName")->setText(server.User());
    Find<TRegEdit>("edtPassword")->setText(server.Password());

    const QString local = folder.filePath(QStringLiteral("index.html"));
    ASSERT_TRUE(test::WriteFile(local, "<p>Here: %IP%</p>\n"));
    AddRow(local);
    const QString logo = folder.filePath(QStringLiteral("logo.png"));
    ASSERT_TRUE(test::WriteFile(logo, "\x89PNG"));
    TListRow *picturesRow = AddRow(logo, QString());
    picturesRow->SetSubItem(colHostFileName, QStringLiteral("logo.png"));
    picturesRow->SetSubItem(colFileType, FileType::Binary);
    const QString address = TSockets().LocalIPAddress();

    // Nothing selected: nothing to push.
    List()->clearSelection();
    EXPECT_FALSE(Find<QAction>("mniPopFilesPushFile")->isEnabled());
    EXPECT_FALSE(Find<QAction>("btnPushSelectedNow")->isEnabled());

    // Both selected files from the toolbar's button, forced after one question naming the count.
    List()->Row(0)->setSelected(true);
    List()->Row(1)->setSelected(true);
    TMessageBox::SetNextAnswer(TMessageBox::TAnswer::Ok);
    Run({"btnPushSelectedNow", true});
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("Push the 2 selected files?"));
    EXPECT_EQ(List()->Row(0)->SubItem(3), FileStatus::Moved);
    EXPECT_EQ(List()->Row(1)->SubItem(3), FileStatus::Moved);
    // An ASCII upload is stored with the server's own line ends.
    EXPECT_EQ(server.Stored(QStringLiteral("index.html")), QByteArray("<p>Here: ") + address.toLatin1() + "</p>\n");
    EXPECT_EQ(server.Stored(QStringLiteral("logo.png")), QByteArray("\x89PNG"));

    // The whole site as due: a file that changed goes again.
    ASSERT_TRUE(test::WriteFile(local, "<p>Now at %IP%, still.</p>\n"));
    List()->Row(0)->SetSubItem(4, QStringLiteral("yesterday"));
    Run({"btnPushAllSiteNow", true});
    EXPECT_EQ(server.Stored(QStringLiteral("index.html")),
              QByteArray("<p>Now at ") + address.toLatin1() + ", still.</p>\n");
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(LogLines().contains(QStringLiteral("Connecting to: ") + host));
}

// ---- the dialogs and the keyboard -----------------------------------------------------------

// Names the control that holds the focus inside a dialog: a spin box's or a drop-down's own
// text field goes by its box's name.
QString FocusName(const QWidget *dialog)
{
    const QWidget *focus = dialog->focusWidget();
    while (focus && focus->objectName().isEmpty())
        focus = focus->parentWidget();
    return focus ? focus->objectName() : QString();
}

// Each dialog: Tab goes through it in the order it reads (fields, options, OK, Cancel) and
// round; OK stays the default whatever had the focus, so Enter in a field is OK, also after a
// use that Tab took past Cancel and one that ended on Cancel.
TEST_F(MainCommandsTest, DialogsKeepOkTheDefaultAndTabGoesInTheOrderTheyRead)
{
    NewSite({"btnNewWebSite", true}, QStringLiteral("first.example.org"));
    Find<TRegEdit>("edtDefaultDir")->setText(QStringLiteral("/www/"));
    const QString page = folder.filePath(QStringLiteral("page%1.html"));
    for (int i = 0; i < 2; ++i) {
        QFile file(page.arg(i));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const struct {
        const char *what;
        TRoute route;
        QDialog *dialog;
        QStringList tabOrder;
        std::function<void(int use)> type;
        std::function<QString()> result;
        QStringList expected;
    } rows[] = {
        {"new web site",
         {"btnNewWebSite", true},
         window->findChild<TfrmAddNewWebSite *>(),
         {"edtFTPServer", "edtSiteName", "edtUserName", "edtPassword", "edtDefaultHostDir", "chkPassive",
          "chkCreateFolders", "chkUploadViaTempName", "spnRetries", "chkSecurity", "cbxProtocol",
          "edtTrustedCertificate", "edtKeyFile", "btnBrowseKeyFile", "btnOK", "btnCancel"},
         [this](int use) {
             QTest::keyClicks(window->findChild<TfrmAddNewWebSite *>()->edtFTPServer,
                              QStringLiteral("ftp%1.example.org").arg(use));
         },
         [this] { return window->Catalogue().ListSites().join(QLatin1Char(',')); },
         {"first.example.org,ftp0.example.org", "first.example.org,ftp0.example.org,ftp2.example.org"}},
        {"add a new file",
         {"btnNewFile", true},
         window->findChild<TfrmAddNewFile *>(),
         {"edtLocalFileName", "btnBrowseForAFile", "edtHostFullName", "cboFileType", "edtParameterToReplace",
          "btnClearIPParameter", "btnSetIPParamToDefault", "cboFileStatus", "btnOK", "btnCancel"},
         [this, page](int use) {
             QTest::keyClicks(window->findChild<TfrmAddNewFile *>()->edtLocalFileName, page.arg(use / 2));
         },
         [this] { return QString::number(List()->RowCount()); },
         {"1", "2"}},
        {"rename web site",
         {"mniFileRenameWebSite", false},
         window->findChild<TfrmRenameWebSite *>(),
         {"edtSiteName", "btnOK", "btnCancel"},
         [this](int use) {
             QTest::keyClicks(window->findChild<TfrmRenameWebSite *>()->edtSiteName,
                              QStringLiteral("renamed%1").arg(use));
         },
         [this] { return SelectedNodeText(); },
         {"renamed0", "renamed2"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NE(row.dialog, nullptr);
        auto *ok = row.dialog->findChild<QPushButton *>(QStringLiteral("btnOK"));
        QStringList visited;
        for (int use = 0; use < 3; ++use) {
            WhileShown(row.dialog, [&, use] {
                row.dialog->activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(row.dialog));
                row.type(use);
                if (use == 1) {
                    // Back past the first field onto Cancel, and out with Esc.
                    QTest::keyClick(row.dialog->focusWidget(), Qt::Key_Backtab);
                    EXPECT_EQ(FocusName(row.dialog), QStringLiteral("btnCancel"));
                    QTest::keyClick(row.dialog->focusWidget(), Qt::Key_Escape);
                    return;
                }
                if (use == 0) {
                    // Round the whole dialog and on, past Cancel, into the first field.
                    for (int i = 0; i < row.tabOrder.size(); ++i) {
                        visited.append(FocusName(row.dialog));
                        QTest::keyClick(row.dialog->focusWidget(), Qt::Key_Tab);
                    }
                }
                EXPECT_TRUE(ok->isDefault());
                QTest::keyClick(row.dialog->focusWidget(), Qt::Key_Return);
            });
            Run(row.route);
            if (use != 1) {
                EXPECT_EQ(row.result(), row.expected.value(use / 2)) << "use " << use;
            }
        }
        EXPECT_EQ(visited, row.tabOrder);
    }
    EXPECT_EQ(leftOpen, 0);
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());
}

// "New Web Site" opens empty; the site's name is its server text until the user names it, so
// two accounts on one server are two sites.
TEST_F(MainCommandsTest, NewWebSiteOpensEmptyAndNamesTheSiteAfterItsServerUnlessTheUserNamesIt)
{
    auto *dialog = window->findChild<TfrmAddNewWebSite *>();
    const struct {
        const char *server;
        const char *name; // typed into "Site name:" after the server; nullptr: left as proposed
        const char *refusal;
        const char *site;
    } rows[] = {
        {"ftp.shared.org", nullptr, nullptr, "ftp.shared.org"},
        {"ftp.shared.org", "Second account", nullptr, "Second account"},
        {"ftp.shared.org", "", "Please enter a web site name.", nullptr},
        {"ftp.other.org", "Second account", "A web site with that name already exists...", nullptr},
    };
    for (const auto &row : rows) {
        TMessageBox::ClearShown();
        QStringList openedWith;
        WhileShown(dialog, [&] {
            for (QLineEdit *field : dialog->findChildren<QLineEdit *>()) {
                if (field->objectName().startsWith(QLatin1String("edt")))
                    openedWith.append(field->text());
            }
            QTest::keyClicks(dialog->edtFTPServer, QString::fromLatin1(row.server));
            EXPECT_EQ(dialog->edtSiteName->text(), QString::fromLatin1(row.server)) << "proposed";
            QTest::keyClicks(dialog->edtUserName, QStringLiteral("user"));
            if (row.name) {
                dialog->edtSiteName->clear();
                QTest::keyClicks(dialog->edtSiteName, QString::fromLatin1(row.name));
                QTest::keyClicks(dialog->edtFTPServer, QStringLiteral(":21"));
                EXPECT_EQ(dialog->edtSiteName->text(), QString::fromLatin1(row.name)) << "a typed name stays";
            }
            dialog->btnOK->click();
        });
        Run({"btnNewWebSite", true});
        EXPECT_EQ(openedWith, QStringList(openedWith.size(), QString())) << row.server;
        if (row.refusal) {
            EXPECT_EQ(leftOpen, 1);
            leftOpen = 0;
            ASSERT_EQ(TMessageBox::Shown().size(), 1);
            EXPECT_EQ(TMessageBox::Shown()[0].text, QString::fromLatin1(row.refusal));
            continue;
        }
        EXPECT_EQ(SelectedNodeText(), QString::fromLatin1(row.site));
        EXPECT_EQ(Find<TRegEdit>("edtUserName")->text(), QStringLiteral("user"));
    }
    window->Navigator()->SelectNode(window->Navigator()->GeneralOptionsNode);
    EXPECT_EQ(window->Catalogue().ListSites(), QStringList({"ftp.shared.org", "Second account"}));
    TRegIniFile second(BaseKeyPath() + QLatin1Char('\\') + store::SiteSection(QStringLiteral("Second account")));
    EXPECT_EQ(second.ReadText(QString(), store::FTPServer, QString()), QStringLiteral("ftp.shared.org:21"));
}

// With SFTP chosen the options of FTP alone are out of reach, their values kept; the key file
// is browsed for. On the site page as in the new-site dialog.
TEST_F(MainCommandsTest, SftpPutsTheFtpOptionsOutOfReachKeepsTheirValuesAndBrowsesForTheKey)
{
    NewSite({"btnNewWebSite", true}, QStringLiteral("keys.example.org"));
    auto *dialog = window->findChild<TfrmAddNewWebSite *>();
    const QStringList ftpOnly = {"chkPassive", "chkSecurity", "edtTrustedCertificate"};
    const auto reach = [](QWidget *owner, const QStringList &names) {
        QStringList enabled;
        for (const QString &name : names)
            enabled.append(owner->findChild<QWidget *>(name)->isEnabled() ? name : QStringLiteral("-"));
        return enabled;
    };
    const QString key = QStringLiteral("/home/u/.ssh/id_ed25519");
    QWidget *places[] = {window.get(), dialog};
    for (QWidget *place : places) {
        const bool inDialog = place == dialog;
        SCOPED_TRACE(inDialog ? "new-site dialog" : "site page");
        const auto check = [&] {
            auto *protocol = place->findChild<QComboBox *>(QStringLiteral("cbxProtocol"));
            EXPECT_EQ(reach(place, ftpOnly), ftpOnly);
            place->findChild<QCheckBox *>(QStringLiteral("chkPassive"))->setChecked(true);
            place->findChild<QLineEdit *>(QStringLiteral("edtTrustedCertificate"))->setText(QStringLiteral("AB:CD"));
            protocol->setCurrentIndex(protocol->findText(SiteProtocol::SFTP));
            EXPECT_EQ(reach(place, ftpOnly), QStringList(3, QStringLiteral("-")));
            EXPECT_TRUE(place->findChild<QCheckBox *>(QStringLiteral("chkPassive"))->isChecked()) << "kept";
            TFileDialogs::SetNextAnswer(key);
            place->findChild<QToolButton *>(QStringLiteral("btnBrowseKeyFile"))->click();
            EXPECT_EQ(place->findChild<QLineEdit *>(QStringLiteral("edtKeyFile"))->text(), key);
            EXPECT_EQ(TFileDialogs::Shown().value(0).initialPath, QDir::homePath() + QStringLiteral("/.ssh"));
            TFileDialogs::ClearShown();
        };
        if (inDialog) {
            WhileShown(dialog, [&] {
                check();
                QTest::keyClicks(dialog->edtFTPServer, QStringLiteral("sftp.example.org"));
                dialog->btnOK->click();
            });
            Run({"btnNewWebSite", true});
        } else {
            check();
        }
        // Stored, and shown the same way when the site comes back.
        auto *navigator = window->Navigator();
        TNavigatorNode *shown = static_cast<TNavigatorNode *>(navigator->currentItem());
        navigator->SelectNode(navigator->GeneralOptionsNode);
        navigator->SelectNode(shown);
        EXPECT_EQ(reach(window.get(), ftpOnly), QStringList(3, QStringLiteral("-")));
        TRegIniFile site(BaseKeyPath() + QLatin1Char('\\') + store::SiteSection(shown->text(0)));
        EXPECT_EQ(site.ReadText(QString(), store::KeyFile, QString()), key);
        EXPECT_EQ(site.ReadText(QString(), store::Passive, QString()), QStringLiteral("1"));
        EXPECT_EQ(site.ReadText(QString(), store::TrustedCertificate, QString()), QStringLiteral("AB:CD"));
    }
    auto *protocol = Find<QComboBox>("cbxProtocol");
    protocol->setCurrentIndex(protocol->findText(SiteProtocol::FTP));
    EXPECT_EQ(reach(window.get(), ftpOnly), ftpOnly);
}

// A site gets another name from F2 in the navigator, the File menu or the navigator's pop-up: its
// key moves with its rows and values, and what was typed on its page goes along.
TEST_F(MainCommandsTest, RenamingASiteMovesItsKeyWithEverythingBelowIt)
{
    NewSite({"btnNewWebSite", true}, QStringLiteral("other.example.org"));
    NewSite({"btnNewWebSite", true}, QStringLiteral("ftp.example.org"));
    AddRow(QStringLiteral("/home/u/index.html"));
    auto *dialog = window->findChild<TfrmRenameWebSite *>();
    const auto f2 = [this] {
        window->Navigator()->setFocus();
        QTest::keyClick(window->Navigator(), Qt::Key_F2);
    };
    const struct {
        const char *name;
        std::function<void()> route;
        const char *refusal;
    } rows[] = {
        {"Home pages", f2, nullptr},
        {"Work pages",
         [this] {
             Run({"mniFileRenameWebSite", false});
         },
         nullptr},
        {"Home pages",
         [this] {
             Run({"mniPopNavRenameWebSite", false});
         },
         nullptr},
        {"other.example.org", f2, "A web site with that name already exists..."},
        {" ", f2, "Please enter a web site name."},
        {"a\\b", f2, "A web site name cannot contain the character \"\\\"."},
    };
    QString current = QStringLiteral("ftp.example.org");
    for (const auto &row : rows) {
        const QString name = QString::fromLatin1(row.name);
        TMessageBox::ClearShown();
        Find<TRegEdit>("edtUserName")->setText(name + QStringLiteral(" user"));
        QString offered;
        WhileShown(dialog, [&] {
            offered = dialog->edtSiteName->text();
            dialog->edtSiteName->setText(name);
            dialog->btnOK->click();
        });
        row.route();
        EXPECT_EQ(offered, current) << row.name;
        if (row.refusal) {
            EXPECT_EQ(leftOpen, 1) << row.name;
            leftOpen = 0;
            EXPECT_EQ(TMessageBox::Shown().value(0).text, QString::fromLatin1(row.refusal));
            EXPECT_EQ(SelectedNodeText(), current);
            continue;
        }
        current = name;
        EXPECT_EQ(SelectedNodeText(), name);
        EXPECT_EQ(Title(), pages::SiteInformationFor + name);
        EXPECT_EQ(window->Catalogue().CurrentSiteName(), name);
        EXPECT_EQ(window->Catalogue().ListSites().size(), 2);
        EXPECT_TRUE(window->Catalogue().ListSites().contains(name));
        TRegIniFile site(BaseKeyPath() + QLatin1Char('\\') + store::SiteSection(name));
        EXPECT_EQ(site.ReadText(QString(), store::UserName, QString()), name + QStringLiteral(" user"));
        EXPECT_EQ(site.ReadText(store::ItemSection(0), store::Caption, QString()),
                  QStringLiteral("/home/u/index.html"));
        EXPECT_EQ(List()->RowCount(), 1);
    }
    // A name the store holds behind the window's back: the move is refused whole.
    TRegIniFile(BaseKeyPath()).WriteText(store::SiteSection(QStringLiteral("hidden")), store::UserName, "x");
    TMessageBox::ClearShown();
    WhileShown(dialog, [dialog] {
        dialog->edtSiteName->setText(QStringLiteral("hidden"));
        dialog->btnOK->click();
    });
    Run({"mniFileRenameWebSite", false});
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].kind, TMessageBox::TKind::Critical);
    EXPECT_EQ(SelectedNodeText(), current);
    EXPECT_EQ(window->Catalogue().ListSites(), QStringList({"hidden", current, "other.example.org"}));
}

// "Add a new file" names the host file as a drop does, and asks before it takes a local file that
// is not there.
TEST_F(MainCommandsTest, AddANewFileProposesTheHostNameAndWarnsAboutAMissingFile)
{
    NewSite({"btnNewWebSite", true}, QStringLiteral("files.example.org"));
    auto *dialog = window->findChild<TfrmAddNewFile *>();
    const QString there = folder.filePath(QStringLiteral("there.html"));
    QFile(there).open(QIODevice::WriteOnly);
    const QString missing = folder.filePath(QStringLiteral("missing.html"));
    const struct {
        QString local;
        const char *host; // typed after the local file; nullptr: left as proposed
        QList<TBoxAnswer> answers;
        const char *storedHost;
        int asked;
    } rows[] = {
        {there, nullptr, {}, "/www/there.html", 0},
        {missing, "/elsewhere/m.html", {TBoxAnswer::No, TBoxAnswer::Yes}, "/elsewhere/m.html", 2},
    };
    for (const auto &row : rows) {
        TMessageBox::ClearShown();
        for (TBoxAnswer answer : row.answers)
            TMessageBox::SetNextAnswer(answer);
        QStringList proposed;
        WhileShown(dialog, [&] {
            QTest::keyClicks(dialog->edtLocalFileName, row.local);
            proposed.append(dialog->edtHostFullName->text());
            if (row.host)
                dialog->edtHostFullName->setText(QString::fromLatin1(row.host));
            QTest::keyClicks(dialog->edtLocalFileName, QStringLiteral("x"));
            proposed.append(dialog->edtHostFullName->text());
            QTest::keyClick(dialog->edtLocalFileName, Qt::Key_Backspace);
            for (qsizetype i = 0; i < std::max<qsizetype>(1, row.answers.size()); ++i)
                dialog->btnOK->click();
        });
        Run({"btnNewFile", true});
        const QString name = row.local.mid(row.local.lastIndexOf(QLatin1Char('/')) + 1);
        EXPECT_EQ(proposed,
                  QStringList({"/www/" + name, row.host ? QString::fromLatin1(row.host) : "/www/" + name + "x"}));
        EXPECT_EQ(TMessageBox::Shown().size(), row.asked);
        for (const TMessageBox::TShown &box : TMessageBox::Shown())
            EXPECT_EQ(box.text, QStringLiteral("The local file %1 does not exist. Add it anyway?").arg(missing));
        ASSERT_GE(List()->RowCount(), 1);
        EXPECT_EQ(List()->Row(List()->RowCount() - 1)->Caption(), row.local);
        EXPECT_EQ(List()->Row(List()->RowCount() - 1)->SubItem(colHostFileName), QString::fromLatin1(row.storedHost));
    }
    EXPECT_EQ(leftOpen, 0);
}

// The keys: the shown site has a Push item and a key of its own, Shift+F10 opens a pop-up as the
// Menu key does, Escape puts the instructions away; a command with nothing to act on is off.
TEST_F(MainCommandsTest, KeysReachTheCommandsAndCommandsWithNothingToActOnAreOff)
{
    const QStringList commands = {
        "mniFileRenameWebSite", "mniFileDeleteWebSite", "btnDeleteWebSite",    "mniPushSite", "btnPushAllSiteNow",
        "btnNewFile",           "btnPushSelectedNow",   "mniPopFilesPushFile", "btnEditFile", "mniPopFilesRemoveFile"};
    const auto enabled = [&] {
        QStringList on;
        for (const QString &name : commands)
            on.append(Find<QAction>(name.toLatin1().constData())->isEnabled() ? name : QStringLiteral("-"));
        return on;
    };
    NewSite({"btnNewWebSite", true}, QStringLiteral("127.0.0.1:1"));
    Find<TRegSpinEdit>("spnRetries")->SetValue(0);
    Find<QCheckBox>("chkSecurity")->setChecked(false);
    AddRow(folder.filePath(QStringLiteral("a.html")));
    auto *navigator = window->Navigator();
    const QStringList site = commands.mid(0, 6) + QStringList(4, QStringLiteral("-"));
    const struct {
        const char *what;
        std::function<void()> go;
        QStringList on;
    } states[] = {
        {"general options", [&] { navigator->SelectNode(navigator->GeneralOptionsNode); },
         QStringList(commands.size(), QStringLiteral("-"))},
        {"web sites", [&] { navigator->SelectNode(navigator->WebSitesNode); },
         QStringList(commands.size(), QStringLiteral("-"))},
        {"a site", [&] { navigator->SelectNode(navigator->SiteNodes().value(0)); }, site},
        {"a site and a row", [&] { List()->Row(0)->setSelected(true); }, commands},
        {"the log", [&] { navigator->SelectNode(navigator->ViewLogNode); },
         QStringList(commands.size(), QStringLiteral("-"))},
    };
    for (const auto &state : states) {
        state.go();
        EXPECT_EQ(enabled(), state.on) << state.what;
    }

    // F7 pushes the shown site.
    navigator->SelectNode(navigator->SiteNodes().value(0));
    // The offscreen platform leaves a closed dialog the active window of the widgets.
    QApplication::setActiveWindow(window.get());
    QTest::keyClick(window.get(), Qt::Key_F7);
    EXPECT_TRUE(LogLines().contains(QStringLiteral("Connecting to: 127.0.0.1:1")));
    EXPECT_EQ(List()->Row(0)->SubItem(colStatus), FileStatus::Error);

    // Shift+F10 where the Menu key would open the pop-up.
    List()->setCurrentItem(List()->Row(0));
    for (QAbstractItemView *view :
         {static_cast<QAbstractItemView *>(navigator), static_cast<QAbstractItemView *>(List())}) {
        auto *menu = Find<QMenu>(view == navigator ? "popNavigator" : "popFiles");
        QTest::keyClick(view, Qt::Key_F10, Qt::ShiftModifier);
        EXPECT_TRUE(menu->isVisible()) << menu->objectName().toStdString();
        const QRect item = view->visualRect(view->currentIndex());
        EXPECT_TRUE(QRect(view->viewport()->mapToGlobal(item.topLeft()), item.size()).contains(menu->pos()));
        menu->hide();
    }

    // Escape puts the instructions away.
    auto *instructions = window->findChild<TfrmInstr *>();
    Run({"mniHelpInstructions", false});
    instructions->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(instructions));
    QTest::keyClick(instructions->focusWidget() ? instructions->focusWidget() : instructions, Qt::Key_Escape);
    EXPECT_FALSE(instructions->isVisible());
    EXPECT_FALSE(Find<QToolButton>("btnHelp")->isChecked());
}

// The progress window counts what goes out, a page's copy with the address in it rather than the
// page, with the rate beside it; Escape there is Cancel.
TEST_F(MainCommandsTest, ProgressCountsTheBytesSentOfTheCopyAndEscapeCancels)
{
    test::PyFtpServer server;
    if (!server.Running())
        GTEST_SKIP() << server.Failure().toStdString();
    NewSite({"btnNewWebSite", true}, QStringLiteral("127.0.0.1:") + server.PortText());
    Find<QCheckBox>("chkSecurity")->setChecked(false);
    Find<TRegEdit>("edtUserName")->setText(server.User());
    Find<TRegEdit>("edtPassword")->setText(server.Password());
    const QString address = TSockets().LocalIPAddress();
    const struct {
        const char *what;
        QByteArray bytes;
        const char *type;
        bool escape;
        std::int64_t sent; // the bytes that go out when nobody cancels
        const char *status;
    } rows[] = {
        {"a page with the address", QByteArray("<p>%IP%</p>\n").repeated(2000), "Ascii", false,
         2000 * (7 + address.size() + 2), "Moved"},
        {"a large file, cancelled", QByteArray(16 * 1024 * 1024, 'x'), "Binary", true, 0, "Error"},
    };
    auto *client = window->findChild<TFtpClient *>(QStringLiteral("ftpClient"));
    auto *progress = window->findChild<TfrmProgress *>();
    const QLocale locale;
    QLocale::setDefault(QLocale::c());
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        List()->clear();
        const QString local = folder.filePath(QStringLiteral("upload.%1").arg(row.type));
        ASSERT_TRUE(test::WriteFile(local, row.bytes));
        AddRow(local)->SetSubItem(colFileType, QString::fromLatin1(row.type));
        List()->Row(0)->setSelected(true);
        QStringList lines;
        QList<int> bars;
        const auto shown = client->OnProgress;
        client->OnProgress = [&](QObject *sender, std::int64_t count, bool &abort) {
            if (row.escape && bars.isEmpty()) {
                progress->activateWindow();
                QTest::keyClick(progress, Qt::Key_Escape);
            }
            shown(sender, count, abort);
            lines.append(progress->lblBytes->text());
            bars.append(progress->progressBar->value());
        };
        TMessageBox::SetNextAnswer(TMessageBox::TAnswer::Ok);
        Run({"mniPopFilesPushFile", false});
        client->OnProgress = shown;
        EXPECT_EQ(List()->Row(0)->SubItem(colStatus), QString::fromLatin1(row.status));
        ASSERT_FALSE(lines.isEmpty());
        if (row.escape) {
            EXPECT_EQ(LogLines().last(), QStringLiteral("Cancelled by the user"));
            EXPECT_LT(server.Stored(QStringLiteral("index.html")).size(), row.bytes.size());
            continue;
        }
        const QString total = QLocale::c().formattedDataSize(row.sent);
        EXPECT_TRUE(lines.last().startsWith(total + QStringLiteral(" of ") + total)) << lines.last().toStdString();
        EXPECT_EQ(bars.last(), 100);
        EXPECT_EQ(server.Stored(QStringLiteral("index.html")).size(), row.sent - 2000) << "LF line ends on the server";
    }
    QLocale::setDefault(locale);
    EXPECT_FALSE(progress->isVisible());
}

} // namespace
