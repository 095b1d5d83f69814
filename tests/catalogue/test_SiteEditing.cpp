#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/FileDialogs.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "catalogue/SiteEditing.h"
#include "tests/support/CatalogueWindow.h"
#include "tests/support/ModalDialog.h"
#include "tests/support/StoreDump.h"
#include "tests/support/TestModes.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace quelmark;

namespace {

using TAnswer = TMessageBox::TAnswer;

// The main window's catalogue parts, the two dialogs and the editing commands, with message
// boxes and file choosers answered from the test.
class SiteEditingTest : public ::testing::Test, public test::CatalogueWindow {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.IsValid());
        editor = new TSiteEditor(
            {&window, navigator, catalogue.get(), &siteDialog, &fileDialog, options->edtDefaultIPParam, fileDrag},
            &window);
        editor->FileDetails = [](const QString &path, QString &dateTime, QString &size, QString &attribs) {
            if (!path.endsWith(QLatin1String(".html")))
                return false;
            dateTime = QStringLiteral("07.12.2024 10:00:00");
            size = QStringLiteral("123");
            attribs = QStringLiteral("R");
            return true;
        };
    }

    void WhileShown(QDialog *dialog, std::function<void()> act) { test::WhileShown(dialog, std::move(act), leftOpen); }

    void TypeSite(const QString &server, const QString &user, const QString &password, const QString &dir)
    {
        siteDialog.edtFTPServer->setText(server);
        siteDialog.edtUserName->setText(user);
        siteDialog.edtPassword->setText(password);
        siteDialog.edtDefaultHostDir->setText(dir);
    }

    void NewSite(const QString &server, const QString &dir = QString())
    {
        WhileShown(&siteDialog, [this, server, dir] {
            TypeSite(server, QStringLiteral("user"), QStringLiteral("pw"), dir);
            siteDialog.btnOK->click();
        });
        editor->NewWebSite();
    }

    TListRow *AddRow(const QString &local, const QString &type, const QString &param, const QString &status)
    {
        return CatalogueWindow::AddRow(local, {"/www" + local, type, param, status, "d", "s", "a"});
    }

    void Select(std::initializer_list<int> rows)
    {
        Shown().lvFileDetails->clearSelection();
        for (int i : rows)
            Shown().lvFileDetails->Row(i)->setSelected(true);
    }

    QStringList Texts() const
    {
        QStringList texts;
        for (const TMessageBox::TShown &box : TMessageBox::Shown())
            texts.append(box.text);
        return texts;
    }

    test::TestModes<TMessageBox, TFileDialogs> modes;
    TfrmAddNewWebSite siteDialog;
    TfrmAddNewFile fileDialog;
    TSiteEditor *editor = nullptr;
    int leftOpen = 0;
};

TEST_F(SiteEditingTest, NewSiteKeepsTheBlanksOfItsNameTidiesTheDirectoryAndIsShownAtOnce)
{
    navigator->BuildNavigator();
    WhileShown(&siteDialog, [this] {
        TypeSite(QStringLiteral("   "), "anna", "secret", "  /www  ");
        siteDialog.btnOK->click();
        EXPECT_TRUE(siteDialog.isVisible()) << "a blank server name keeps the dialog open";
        siteDialog.edtFTPServer->setText(QStringLiteral(" ftp.example.org "));
        siteDialog.btnOK->click();
    });
    editor->NewWebSite();

    EXPECT_EQ(leftOpen, 0);
    EXPECT_EQ(Texts(), QStringList({"Please enter an FTP server name."}));
    EXPECT_EQ(SiteNames(), QStringList({" ftp.example.org "}));
    EXPECT_EQ(navigator->currentItem()->text(0), QStringLiteral(" ftp.example.org "));
    EXPECT_EQ(catalogue->CurrentSiteName(), QStringLiteral(" ftp.example.org "));
    EXPECT_EQ(title->text(), pages::SiteInformationFor + " ftp.example.org ");
    EXPECT_TRUE(fileDrag->EnableDrop());
    EXPECT_EQ(Shown().edtDefaultDir->text(), QStringLiteral("/www/"));
    EXPECT_EQ(Shown().edtPassword->text(), QStringLiteral("secret"));
    const QString key = BaseKeyPath() + "\\WWWSites\\ ftp.example.org ";
    EXPECT_EQ(Stored("WWWSites\\"), QStringList({key})) << "the empty key exists at once";

    navigator->SelectNode(navigator->GeneralOptionsNode);
    EXPECT_TRUE(Stored(key + "|DefaultDir|1|/www/").size() == 1)
        << test::DumpStore(store.FilePath()).join('\n').toStdString();
}

TEST_F(SiteEditingTest, NewSiteDialogOpensEmptyEveryTimeAndCancelChangesNothing)
{
    navigator->BuildNavigator();
    WhileShown(&siteDialog, [this] {
        TypeSite("ftp.one.org", "anna", "pw", "/www/");
        siteDialog.Options().Set(TSite{});
        siteDialog.btnCancel->click();
    });
    editor->NewWebSite();
    EXPECT_TRUE(SiteNames().isEmpty());

    QStringList seen;
    TSite options;
    WhileShown(&siteDialog, [&, this] {
        seen = {siteDialog.edtFTPServer->text(), siteDialog.edtSiteName->text(), siteDialog.edtUserName->text(),
                siteDialog.edtPassword->text(), siteDialog.edtDefaultHostDir->text()};
        siteDialog.Options().Get(options);
        siteDialog.btnCancel->click();
    });
    editor->NewWebSite();
    EXPECT_EQ(seen, QStringList(5, QString()));
    EXPECT_TRUE(options.passive) << "the options a new site proposes";
    EXPECT_EQ(options.security, SiteSecurity::TLS);
    EXPECT_EQ(siteDialog.windowTitle(), QStringLiteral("Add a new Web Site..."));
    EXPECT_TRUE(SiteNames().isEmpty());
    EXPECT_TRUE(Texts().isEmpty());
}

TEST_F(SiteEditingTest, NewSiteProposesTheModernOptionsAndStoresThemWithTheSite)
{
    navigator->BuildNavigator();
    NewSite(QStringLiteral("ftp.example.org"));
    navigator->SelectNode(navigator->GeneralOptionsNode);
    const QString key = BaseKeyPath() + "\\WWWSites\\ftp.example.org|";
    for (const char *value : {"Passive|1|1", "CreateFolders|1|1", "UploadViaTempName|1|1", "Retries|1|2",
                              "Security|1|TLS", "Protocol|1|FTP", "TrustedCertificate|1|", "KeyFile|1|"})
        EXPECT_EQ(Stored(key + QLatin1String(value)).size(), 1) << value;
}

// What the server field must hold: a host, an address, either with a port. Anything else is
// refused with the dialog kept open over what was typed.
TEST_F(SiteEditingTest, NewSiteRefusesAServerTextThatNamesNoUsableServer)
{
    navigator->BuildNavigator();
    const struct {
        const char *server;
        const char *refusal; // nullptr: accepted
    } rows[] = {
        {"ftp.example.org:2121", nullptr},
        {"2001:db8::5", nullptr},
        {"[2001:db8::5]:2121", nullptr},
        {"ftp.example.org:0", R"(The port 0 in "ftp.example.org:0" is outside 1 to 65535.)"},
        {"ftp.example.org:65536", R"(The port 65536 in "ftp.example.org:65536" is outside 1 to 65535.)"},
        {"[2001:db8::5:2121", R"(Unbalanced "[" in "[2001:db8::5:2121".)"},
        {"ftp.example.org:21/www", R"(Unexpected text after the port in "ftp.example.org:21/www".)"},
        {"[2001:db8::5]:21x", R"(Unexpected text after the port in "[2001:db8::5]:21x".)"},
    };
    QStringList added;
    for (const auto &row : rows) {
        const QString server = QString::fromLatin1(row.server);
        TMessageBox::ClearShown();
        bool keptOpen = false;
        QString kept;
        WhileShown(&siteDialog, [&] {
            TypeSite(server, QStringLiteral("user"), QStringLiteral("pw"), QString());
            siteDialog.btnOK->click();
            keptOpen = siteDialog.isVisible();
            kept = siteDialog.edtFTPServer->text();
        });
        editor->NewWebSite();
        if (!row.refusal) {
            added.append(server);
            EXPECT_TRUE(Texts().isEmpty()) << row.server;
            continue;
        }
        leftOpen = 0;
        EXPECT_EQ(Texts(), QStringList({QString::fromLatin1(row.refusal)}));
        EXPECT_TRUE(keptOpen) << row.server;
        EXPECT_EQ(kept, server);
    }
    EXPECT_EQ(SiteNames(), added);
}

TEST_F(SiteEditingTest, NewSiteRefusesAnExistingNameButNotOneDifferingInCase)
{
    navigator->BuildNavigator();
    NewSite(QStringLiteral("ftp.example.org"));
    NewSite(QStringLiteral("ftp.example.org"));
    EXPECT_EQ(Texts(), QStringList({"A web site with that name already exists..."}));
    EXPECT_EQ(SiteNames(), QStringList({"ftp.example.org"}));
    NewSite(QStringLiteral("FTP.example.org"));
    EXPECT_EQ(SiteNames(), QStringList({"ftp.example.org", "FTP.example.org"}));
}

TEST_F(SiteEditingTest, NewSiteRefusesANameThatWouldAddressAKeyBelowAnotherSite)
{
    navigator->BuildNavigator();
    NewSite(QStringLiteral("a.example"));
    navigator->SelectNode(navigator->GeneralOptionsNode);
    const QStringList before = test::DumpStore(store.FilePath());

    NewSite(QStringLiteral("a.example\\Item#0"));
    ASSERT_EQ(Texts().size(), 1);
    EXPECT_TRUE(Texts().first().contains(QLatin1Char('\\')));
    EXPECT_EQ(SiteNames(), QStringList({"a.example"}));
    EXPECT_EQ(navigator->currentItem(), navigator->GeneralOptionsNode);
    EXPECT_EQ(test::DumpStore(store.FilePath()), before);
}

TEST_F(SiteEditingTest, DeleteSiteAsksFirstAndThenLeavesNothingOfItInTheStore)
{
    navigator->BuildNavigator();
    editor->DeleteWebSite();
    EXPECT_EQ(Texts(), QStringList({"You can only delete web sites."}));

    NewSite(QStringLiteral("keep.example"));
    AddRow("/k.html", FileType::Ascii, "", FileStatus::New);
    NewSite(QStringLiteral("gone.example"));
    AddRow("/a.html", FileType::Ascii, "%IP%", FileStatus::New);
    AddRow("/b.html", FileType::Binary, "", FileStatus::Moved);
    navigator->SelectNode(navigator->SiteNodes().at(1)); // written with its rows
    ASSERT_EQ(Stored("gone.example\\Item#1|Caption").size(), 1);

    TMessageBox::ClearShown();
    TMessageBox::SetNextAnswer(TAnswer::No);
    editor->DeleteWebSite();
    EXPECT_EQ(Texts(), QStringList({"Delete site: gone.example?"}));
    EXPECT_EQ(SiteNames().size(), 2);

    TMessageBox::SetNextAnswer(TAnswer::Yes);
    editor->DeleteWebSite();
    EXPECT_EQ(SiteNames(), QStringList({"keep.example"}));
    EXPECT_TRUE(Stored("gone.example").isEmpty());
    EXPECT_EQ(navigator->currentItem(), navigator->WebSitesNode);
    EXPECT_EQ(ShownPage(), pages::Blank);
    EXPECT_EQ(title->text(), pages::WebSites);
    EXPECT_TRUE(catalogue->CurrentSiteName().isEmpty());

    navigator->SelectNode(navigator->GeneralOptionsNode);
    EXPECT_TRUE(Stored("gone.example").isEmpty()) << "not written back later either";
    EXPECT_EQ(Stored("keep.example\\Item#0|Caption").size(), 1);
}

TEST_F(SiteEditingTest, NewFileRefusesAnEmptyLocalFileAndAddsTheEntryWithItsDetails)
{
    TMessageBox::SetNextAnswer(TAnswer::Yes);
    QStringList shown;
    WhileShown(&fileDialog, [this, &shown] {
        shown = {fileDialog.windowTitle(), fileDialog.cboFileType->currentText(),
                 fileDialog.edtParameterToReplace->text(), fileDialog.cboFileStatus->currentText()};
        EXPECT_TRUE(fileDialog.edtLocalFileName->isEnabled());
        EXPECT_FALSE(fileDialog.btnBrowseForAFile->isHidden());
        fileDialog.btnOK->click();
        EXPECT_TRUE(fileDialog.isVisible());
        fileDialog.edtLocalFileName->setText(QStringLiteral("/home/u/index.html"));
        fileDialog.edtHostFullName->setText(QStringLiteral("/www/index.html"));
        fileDialog.btnOK->click();
    });
    editor->NewFile();

    EXPECT_EQ(shown, QStringList({"Add a new file...", FileType::Ascii, "%IP%", FileStatus::New}));
    EXPECT_EQ(Texts(), QStringList({"Please enter a local file name...",
                                    "The local file /home/u/index.html does not exist. Add it anyway?"}));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 1);
    const TListRow *row = Shown().lvFileDetails->Row(0);
    EXPECT_EQ(row->Caption(), QStringLiteral("/home/u/index.html"));
    EXPECT_EQ(row->SubItems(), QStringList({"/www/index.html", FileType::Ascii, "%IP%", FileStatus::New,
                                            "07.12.2024 10:00:00", "123", "R"}));
}

TEST_F(SiteEditingTest, AddFileEntryRefusesAnExactDuplicateOnly)
{
    EXPECT_TRUE(editor->AddFileEntry({"/home/u/Page.txt", "/p", FileType::Ascii, "", FileStatus::New}));
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItems().mid(4), QStringList({"", "", ""}))
        << "a file that cannot be examined leaves its details empty";
    EXPECT_FALSE(editor->AddFileEntry({"/home/u/Page.txt", "/q", FileType::Binary, "", FileStatus::New}));
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 1);

    EXPECT_TRUE(editor->AddFileEntry({"/home/u/page.txt", "/p", FileType::Ascii, "", FileStatus::New}));
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 2);
}

TEST_F(SiteEditingTest, BinaryEntryKeepsItsIPParameterWhileTheFieldIsOutOfReach)
{
    TMessageBox::SetNextAnswer(TAnswer::Yes); // the file does not exist
    bool enabledAsBinary = true;
    QColor fillAsBinary;
    WhileShown(&fileDialog, [&, this] {
        fileDialog.edtLocalFileName->setText(QStringLiteral("/home/u/logo.png"));
        fileDialog.edtHostFullName->setText(QStringLiteral("/www/logo.png"));
        fileDialog.cboFileType->setCurrentIndex(1);
        enabledAsBinary = fileDialog.edtParameterToReplace->isEnabled();
        fillAsBinary = fileDialog.edtParameterToReplace->palette().color(QPalette::Base);
        fileDialog.btnOK->click();
    });
    editor->NewFile();

    EXPECT_FALSE(enabledAsBinary);
    EXPECT_EQ(fillAsBinary, QApplication::palette(fileDialog.edtParameterToReplace).color(QPalette::Button));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 1);
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItem(1), FileType::Binary);
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItem(2), QStringLiteral("%IP%"));
}

TEST_F(SiteEditingTest, SingleEditOfALoadedRowKeepsItsEighthColumnText)
{
    AddRow("/a.html", FileType::Ascii, "%IP%", FileStatus::Moved)->AppendSubItem(QString());
    Select({0});
    WhileShown(&fileDialog, [this] {
        fileDialog.edtHostFullName->setText(QStringLiteral("/www/b.html"));
        fileDialog.btnOK->click();
    });
    editor->EditFiles();
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItems(),
              QStringList({"/www/b.html", FileType::Ascii, "%IP%", FileStatus::Edited, "d", "s", "a", ""}));
}

TEST_F(SiteEditingTest, SingleEditProposesEditedAndAcceptsAnEmptyLocalFile)
{
    AddRow("/a.html", FileType::Binary, "", FileStatus::Hold);
    AddRow("/b.html", FileType::Ascii, "%IP%", FileStatus::Moved);
    Select({0});
    QStringList shown;
    WhileShown(&fileDialog, [this, &shown] {
        shown = {fileDialog.windowTitle(), fileDialog.edtLocalFileName->text(), fileDialog.edtHostFullName->text(),
                 fileDialog.cboFileType->currentText(), fileDialog.cboFileStatus->currentText()};
        EXPECT_FALSE(fileDialog.edtParameterToReplace->isEnabled()) << "binary, on activation";
        fileDialog.edtLocalFileName->clear();
        fileDialog.btnOK->click();
    });
    editor->EditFiles();

    EXPECT_EQ(shown,
              QStringList({"Edit single file...", "/a.html", "/www/a.html", FileType::Binary, FileStatus::Edited}));
    EXPECT_EQ(leftOpen, 0);
    EXPECT_TRUE(Texts().isEmpty());
    const TListRow *row = Shown().lvFileDetails->Row(0);
    EXPECT_EQ(row->Caption(), QString());
    EXPECT_EQ(row->SubItems(), QStringList({"/www/a.html", FileType::Binary, "", FileStatus::Edited, "d", "s", "a"}));
}

TEST_F(SiteEditingTest, MultiEditWritesOnlyTheFieldsTheUserChanged)
{
    AddRow("/a.html", FileType::Ascii, "%IP%", FileStatus::Hold);
    AddRow("/b.html", FileType::Ascii, "%IP%", FileStatus::New);
    AddRow("/c.html", FileType::Binary, "%ADDR%", FileStatus::Moved);
    Select({0, 2});
    WhileShown(&fileDialog, [this] {
        EXPECT_EQ(fileDialog.windowTitle(), QStringLiteral("Multiple file edit..."));
        EXPECT_EQ(fileDialog.cboFileType->currentIndex(), -1);
        EXPECT_EQ(fileDialog.cboFileStatus->currentIndex(), -1);
        EXPECT_TRUE(fileDialog.btnBrowseForAFile->isHidden());
        EXPECT_FALSE(fileDialog.edtLocalFileName->isEnabled());
        EXPECT_FALSE(fileDialog.edtHostFullName->isEnabled());
        fileDialog.btnOK->click();
    });
    editor->EditFiles();

    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItems(),
              QStringList({"/www/a.html", FileType::Ascii, "%IP%", FileStatus::Hold, "d", "s", "a"}));
    EXPECT_EQ(Shown().lvFileDetails->Row(2)->SubItems(),
              QStringList({"/www/c.html", FileType::Binary, "%ADDR%", FileStatus::Moved, "d", "s", "a"}))
        << "every field left alone keeps each row's own value";

    // Only the status changed: the parameters stay, the status is shared.
    WhileShown(&fileDialog, [this] {
        fileDialog.cboFileStatus->setCurrentIndex(FileStatus::All.indexOf(FileStatus::Edited));
        fileDialog.btnOK->click();
    });
    editor->EditFiles();
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItems().mid(1, 3),
              QStringList({FileType::Ascii, "%IP%", FileStatus::Edited}));
    EXPECT_EQ(Shown().lvFileDetails->Row(2)->SubItems().mid(1, 3),
              QStringList({FileType::Binary, "%ADDR%", FileStatus::Edited}));

    // Typed, or cleared with its button: the parameter is the user's for every selected row.
    WhileShown(&fileDialog, [this] {
        QTest::keyClicks(fileDialog.edtParameterToReplace, QStringLiteral("%HERE%"));
        fileDialog.btnOK->click();
    });
    editor->EditFiles();
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItem(2), QStringLiteral("%HERE%"));
    EXPECT_EQ(Shown().lvFileDetails->Row(2)->SubItem(2), QStringLiteral("%HERE%"));
    WhileShown(&fileDialog, [this] {
        fileDialog.btnClearIPParameter->click();
        fileDialog.btnOK->click();
    });
    editor->EditFiles();
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItem(2), QString());
    EXPECT_EQ(Shown().lvFileDetails->Row(1)->SubItem(2), QStringLiteral("%IP%")) << "not selected";
    EXPECT_EQ(Shown().lvFileDetails->Row(2)->SubItem(2), QString());

    WhileShown(&fileDialog, [this] {
        fileDialog.cboFileType->setCurrentIndex(1);
        fileDialog.cboFileStatus->setCurrentIndex(0);
        fileDialog.btnSetIPParamToDefault->click();
        fileDialog.btnOK->click();
    });
    editor->EditFiles();
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItems().mid(1, 3),
              QStringList({FileType::Binary, "%IP%", FileStatus::New}));
    EXPECT_EQ(Shown().lvFileDetails->Row(2)->SubItems().mid(1, 3),
              QStringList({FileType::Binary, "%IP%", FileStatus::New}));
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->Caption(), QStringLiteral("/a.html"));
}

TEST_F(SiteEditingTest, RefusalsKeepTheDialogOpenWithWhatWasTyped)
{
    navigator->BuildNavigator();
    NewSite(QStringLiteral("ftp.example.org"));
    AddRow("/listed.html", FileType::Ascii, "%IP%", FileStatus::New);
    TMessageBox::ClearShown();

    // A new file: first without a host file name, then as one listed already.
    TMessageBox::SetNextAnswer(TAnswer::Yes); // "/other.html" does not exist
    QStringList kept;
    WhileShown(&fileDialog, [&, this] {
        fileDialog.edtLocalFileName->setText(QStringLiteral("/listed.html"));
        fileDialog.edtHostFullName->setText(QStringLiteral("   "));
        fileDialog.btnOK->click();
        kept << (fileDialog.isVisible() ? fileDialog.edtLocalFileName->text() : QStringLiteral("closed"));
        fileDialog.edtHostFullName->setText(QStringLiteral("/www/other.html"));
        fileDialog.btnOK->click();
        kept << (fileDialog.isVisible() ? fileDialog.edtHostFullName->text() : QStringLiteral("closed"));
        fileDialog.edtLocalFileName->setText(QStringLiteral("/other.html"));
        fileDialog.btnOK->click();
    });
    editor->NewFile();
    EXPECT_EQ(kept, QStringList({"/listed.html", "/www/other.html"}));
    EXPECT_EQ(Texts(), QStringList({"Please enter a host file name...", "The file you are adding already exists...",
                                    "The local file /other.html does not exist. Add it anyway?"}));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 2);
    EXPECT_EQ(Shown().lvFileDetails->Row(1)->SubItem(0), QStringLiteral("/www/other.html"));

    // A single edit may not empty the host file name either.
    TMessageBox::ClearShown();
    Select({0});
    WhileShown(&fileDialog, [this] {
        fileDialog.edtHostFullName->clear();
        fileDialog.btnOK->click();
    });
    editor->EditFiles();
    EXPECT_EQ(Texts(), QStringList({"Please enter a host file name..."}));
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItem(0), QStringLiteral("/www/listed.html"));

    // A new site under a name in use.
    TMessageBox::ClearShown();
    kept.clear();
    WhileShown(&siteDialog, [&, this] {
        TypeSite(QStringLiteral("ftp.example.org"), QStringLiteral("anna"), QStringLiteral("pw"), QString());
        siteDialog.btnOK->click();
        kept << (siteDialog.isVisible() ? siteDialog.edtUserName->text() : QStringLiteral("closed"));
        siteDialog.edtFTPServer->setText(QStringLiteral("ftp.example.net"));
        siteDialog.btnOK->click();
    });
    editor->NewWebSite();
    EXPECT_EQ(kept, QStringList({"anna"}));
    EXPECT_EQ(Texts(), QStringList({"A web site with that name already exists..."}));
    EXPECT_EQ(SiteNames(), QStringList({"ftp.example.org", "ftp.example.net"}));
    EXPECT_EQ(leftOpen, 1) << "only the single edit was left open, and cancelled";
}

TEST_F(SiteEditingTest, EditWithNothingSelectedDoesNothingAndCancelKeepsTheRow)
{
    AddRow("/a.html", FileType::Ascii, "%IP%", FileStatus::Hold);
    editor->EditFiles(); // no dialog: a shown one would stay open and fail the test by timeout
    Select({0});
    WhileShown(&fileDialog, [this] {
        fileDialog.btnClearIPParameter->click();
        fileDialog.btnCancel->click();
    });
    editor->EditFiles();
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItems().mid(1, 3),
              QStringList({FileType::Ascii, "%IP%", FileStatus::Hold}));
}

TEST_F(SiteEditingTest, RemoveFilesAsksOnceForOneRowOrForSeveral)
{
    editor->RemoveFiles();
    EXPECT_EQ(Texts(), QStringList({"Please select a file first..."}));
    AddRow("/a.html", FileType::Ascii, "", FileStatus::New);
    AddRow("/b.html", FileType::Ascii, "", FileStatus::New);
    AddRow("/c.html", FileType::Ascii, "", FileStatus::New);
    AddRow("/d.html", FileType::Ascii, "", FileStatus::New);

    TMessageBox::ClearShown();
    Select({1});
    TMessageBox::SetNextAnswer(TAnswer::No);
    editor->RemoveFiles();
    EXPECT_EQ(Texts(), QStringList({"Remove the file /b.html?"}));
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 4);
    TMessageBox::SetNextAnswer(TAnswer::Yes);
    editor->RemoveFiles();
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 3);

    TMessageBox::ClearShown();
    Select({0, 2});
    TMessageBox::SetNextAnswer(TAnswer::Yes);
    editor->RemoveFiles();
    EXPECT_EQ(Texts(), QStringList({"Delete the selected files?"}));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 1);
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->Caption(), QStringLiteral("/c.html"));
}

TEST_F(SiteEditingTest, DroppedFilesBecomeBinaryEntriesNamedAfterTheDefaultDirectory)
{
    fileDrag->Drop({"/home/u/site/page.html"});
    Shown().edtDefaultDir->setText(QStringLiteral("/www/"));
    fileDrag->Drop({"/home/u/site/logo.png", "/home/u/site/page.html"});

    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 2) << "a listed file is passed over";
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->SubItems(),
              QStringList({"page.html", FileType::Binary, "", FileStatus::New, "07.12.2024 10:00:00", "123", "R"}));
    EXPECT_EQ(Shown().lvFileDetails->Row(1)->Caption(), QStringLiteral("/home/u/site/logo.png"));
    EXPECT_EQ(Shown().lvFileDetails->Row(1)->SubItem(0), QStringLiteral("/www/logo.png"));
    EXPECT_TRUE(Texts().isEmpty());
}

TEST_F(SiteEditingTest, DefaultDirectoryIsTidiedWhenItLosesTheFocus)
{
    Shown().edtDefaultDir->setText(QStringLiteral("  /www  "));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(Shown().edtDefaultDir, &out);
    EXPECT_EQ(Shown().edtDefaultDir->text(), QStringLiteral("/www/"));
}

TEST_F(SiteEditingTest, BrowseOffersTheFiltersAndTakesOnlyAChosenFile)
{
    TMessageBox::SetNextAnswer(TAnswer::Yes); // the file does not exist
    TFileDialogs::SetNextAnswer(QStringLiteral("/home/u/chosen.htm"));
    TFileDialogs::SetNextAnswer(QString());
    WhileShown(&fileDialog, [this] {
        fileDialog.btnBrowseForAFile->click();
        EXPECT_EQ(fileDialog.edtLocalFileName->text(), QStringLiteral("/home/u/chosen.htm"));
        fileDialog.btnBrowseForAFile->click();
        EXPECT_EQ(fileDialog.edtLocalFileName->text(), QStringLiteral("/home/u/chosen.htm")) << "cancelled";
        fileDialog.edtHostFullName->setText(QStringLiteral("/www/index.htm"));
        fileDialog.btnOK->click();
    });
    editor->NewFile();

    ASSERT_EQ(TFileDialogs::Shown().size(), 2);
    EXPECT_EQ(TFileDialogs::Shown().first().kind, TFileDialogs::TKind::Open);
    EXPECT_EQ(TFileDialogs::Shown().first().filters,
              QStringList({"html, htm files (*.html *.htm)", "Text Files (*.txt)", "All Files (*)"}));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 1);
    EXPECT_EQ(Shown().lvFileDetails->Row(0)->Caption(), QStringLiteral("/home/u/chosen.htm"));
}

// Names the control that holds the focus inside dialog, empty when none does.
QString FocusedName(const QDialog &dialog)
{
    return dialog.focusWidget() ? dialog.focusWidget()->objectName() : QString();
}

TEST_F(SiteEditingTest, EachOpeningOfADialogStartsAtItsFirstField)
{
    // The first use leaves the focus elsewhere, as a user who clicked on through would.
    WhileShown(&siteDialog, [this] {
        TypeSite(QStringLiteral("ftp.one"), QString(), QString(), QString());
        siteDialog.btnOK->setFocus();
        siteDialog.btnOK->click();
    });
    editor->NewWebSite();
    QString siteFocus;
    WhileShown(&siteDialog, [this, &siteFocus] { siteFocus = FocusedName(siteDialog); });
    editor->NewWebSite();
    EXPECT_EQ(siteFocus, QStringLiteral("edtFTPServer"));

    TMessageBox::SetNextAnswer(TAnswer::Yes); // the file does not exist
    WhileShown(&fileDialog, [this] {
        fileDialog.edtLocalFileName->setText(QStringLiteral("/a.html"));
        fileDialog.edtHostFullName->setText(QStringLiteral("/www/a.html"));
        fileDialog.edtHostFullName->setFocus();
        fileDialog.btnOK->click();
    });
    editor->NewFile();
    QString newFocus;
    WhileShown(&fileDialog, [this, &newFocus] { newFocus = FocusedName(fileDialog); });
    editor->NewFile();
    EXPECT_EQ(newFocus, QStringLiteral("edtLocalFileName"));

    // With both file names out of reach the first field to fill is the file type.
    AddRow("/b.html", FileType::Ascii, "%IP%", FileStatus::New);
    Select({0, 1});
    QString multiFocus;
    WhileShown(&fileDialog, [this, &multiFocus] { multiFocus = FocusedName(fileDialog); });
    editor->EditFiles();
    EXPECT_EQ(multiFocus, QStringLiteral("cboFileType"));
}

TEST_F(SiteEditingTest, FileDialogKeepsOneSizeInEveryMode)
{
    AddRow("/a.html", FileType::Ascii, "%IP%", FileStatus::New);
    AddRow("/b.html", FileType::Ascii, "%IP%", FileStatus::New);
    QSize single;
    QSize multi;
    Select({0});
    WhileShown(&fileDialog, [this, &single] { single = fileDialog.size(); });
    editor->EditFiles();
    Select({0, 1});
    WhileShown(&fileDialog, [this, &multi] { multi = fileDialog.size(); });
    editor->EditFiles();
    EXPECT_EQ(multi, single);
}

} // namespace
