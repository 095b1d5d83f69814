// Every command of the main window reached the way the user reaches it (menu item, toolbar
// button, pop-up item, double click) and doing its job on the real window and store.
#include "app/F_About.h"
#include "app/F_Instr.h"
#include "app/F_Main.h"
#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/FileDialogs.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/filedrag.h"
#include "engine/EngineView.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "ftp/Ftpcli.h"
#include "net/Sockets.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ModalDialog.h"
#include "tests/support/TempStore.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
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

class MainCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.IsValid());
        ASSERT_TRUE(folder.isValid());
        TMessageBox::SetTestMode(true);
        TFileDialogs::SetTestMode(true);
        window = std::make_unique<TfrmMain>();
        window->show();
        ASSERT_TRUE(TMessageBox::Shown().isEmpty());
    }
    void TearDown() override
    {
        window.reset();
        TMessageBox::SetTestMode(false);
        TFileDialogs::SetTestMode(false);
    }

    template <typename T> T *Find(const char *name)
    {
        T *widget = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
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

    test::TempStore store;
    QTemporaryDir folder;
    std::unique_ptr<TfrmMain> window;
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
    EXPECT_EQ(texts(Find<QMenu>("mnuFile")), QStringList({"&New Web Site", "&Delete Web Site", "-", "E&xit"}));
    EXPECT_EQ(texts(Find<QMenu>("mnuView")), QStringList({"&General Options", "&Log"}));
    EXPECT_EQ(texts(Find<QMenu>("mnuPush")), QStringList({"&Start/Stop Timer", "Push &All"}));
    EXPECT_EQ(texts(Find<QMenu>("mnuHelp")), QStringList({"&Instructions...", "-", "&About"}));
    EXPECT_EQ(texts(Find<QMenu>("popNavigator")), QStringList({"&New Web Site", "&Delete Web Site"}));
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
        EXPECT_EQ(window->CurrentPageTitle(), pages::Blank);
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

TEST_F(MainCommandsTest, PushMenuRunsTheTimerAndPushAllAndF5AndF6DoSoFromTheWindow)
{
    auto *timer = window->findChild<QTimer *>(QStringLiteral("tmrRefresh"));
    ASSERT_NE(timer, nullptr);
    Run({"mniPushStartStop", false});
    EXPECT_TRUE(timer->isActive());
    Run({"mniPushStartStop", false});
    EXPECT_FALSE(timer->isActive());
    Run({"mniPushAll", false});
    EXPECT_EQ(LogLines(), QStringList({">>>> Checking all files..."}));

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_TRUE(timer->isActive());
    EXPECT_TRUE(window->EngineView().AnimationShown());
    QTest::keyClick(window.get(), Qt::Key_F5);
    EXPECT_FALSE(timer->isActive());
    QTest::keyClick(window.get(), Qt::Key_F6);
    EXPECT_EQ(LogLines().size(), 2);
}

TEST_F(MainCommandsTest, TheAnimationStandsLastOnTheMainToolbarSoTheButtonsStayPut)
{
    QToolBar *bar = Find<QToolBar>("tbGeneralInfo");
    ASSERT_NE(bar, nullptr);
    const QList<QAction *> actions = bar->actions();
    ASSERT_FALSE(actions.isEmpty());
    EXPECT_EQ(bar->widgetForAction(actions.last()), window->EngineView().Animation.data());
    QWidget *push = Find<QToolButton>("btnPushAllNow");
    const QPoint before = push->pos();
    Run({"btnStartStop", true});
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->EngineView().AnimationShown());
    EXPECT_EQ(push->pos(), before);
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

TEST_F(MainCommandsTest, HelpButtonIsDownExactlyWhileTheInstructionsAreShown)
{
    auto *instructions = window->findChild<TfrmInstr *>();
    ASSERT_NE(instructions, nullptr);
    QToolButton *help = Find<QToolButton>("btnHelp");
    ASSERT_NE(help, nullptr);
    EXPECT_FALSE(instructions->isVisible());
    EXPECT_FALSE(help->isChecked());

    help->click();
    EXPECT_TRUE(instructions->isVisible());
    EXPECT_TRUE(help->isChecked());
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
    help->click();
    EXPECT_FALSE(instructions->isVisible());
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

TEST_F(MainCommandsTest, StartStopButtonRunsAndStopsTheTimerWithItsAnimation)
{
    auto *timer = window->findChild<QTimer *>(QStringLiteral("tmrRefresh"));
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(window->EngineView().AnimationShown());
    Run({"btnStartStop", true});
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 60000);
    EXPECT_TRUE(window->EngineView().AnimationShown());
    Run({"btnStartStop", true});
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(window->EngineView().AnimationShown());
}

TEST_F(MainCommandsTest, PushAllAndSaveLogWorkFromTheirButtons)
{
    Run({"btnPushAllNow", true});
    EXPECT_EQ(LogLines(), QStringList({">>>> Checking all files..."}));

    const QString saved = folder.filePath(QStringLiteral("log.txt"));
    TFileDialogs::SetNextAnswer(saved);
    Run({"btnSaveCurrentFile", true});
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(">>>> Checking all files...\r\n"));
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
    QFile page(local);
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<p>Here: %IP%</p>\n");
    page.close();
    AddRow(local);
    const QString address = TSockets().LocalIPAddress();

    // The pop-up item with nothing selected only says so.
    List()->clearSelection();
    Run({"mniPopFilesPushFile", false});
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("No files selected to push..."));

    // The selected file, forced after asking.
    List()->Row(0)->setSelected(true);
    TMessageBox::SetNextAnswer(TMessageBox::TAnswer::Ok);
    Run({"btnPushSelectedNow", true});
    EXPECT_EQ(List()->Row(0)->SubItem(3), FileStatus::Moved);
    // An ASCII upload is stored with the server's own line ends.
    EXPECT_EQ(server.Stored(QStringLiteral("index.html")), QByteArray("<p>Here: ") + address.toLatin1() + "</p>\n");

    // The whole site as due: a file that changed goes again.
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("<p>Now at %IP%, still.</p>\n");
    page.close();
    List()->Row(0)->SetSubItem(4, QStringLiteral("yesterday"));
    Run({"btnPushAllSiteNow", true});
    EXPECT_EQ(server.Stored(QStringLiteral("index.html")),
              QByteArray("<p>Now at ") + address.toLatin1() + ", still.</p>\n");
    EXPECT_TRUE(window->isEnabled());
    EXPECT_TRUE(LogLines().contains(QStringLiteral("Connecting to: ") + host));
}

TEST_F(MainCommandsTest, InstructionsOpenCentredOverTheWindowAndStayWhereTheUserMovesThem)
{
    auto *instructions = window->findChild<TfrmInstr *>();
    ASSERT_NE(instructions, nullptr);
    window->move(40, 30);
    QCoreApplication::processEvents();
    Run({"mniHelpInstructions", false});
    const QPoint offset = instructions->frameGeometry().center() - window->frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();

    instructions->move(5, 400);
    instructions->hide();
    Run({"mniHelpInstructions", false});
    EXPECT_EQ(instructions->pos(), QPoint(5, 400));
}

} // namespace
