#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "tests/support/CatalogueWindow.h"
#include "tests/support/StoreDump.h"

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

class CatalogueTest : public ::testing::Test, public test::CatalogueWindow {
protected:
    void SetUp() override { ASSERT_TRUE(store.IsValid()); }

    void ShowSite(const QString &server, const QString &user, const QString &password, const QString &dir)
    {
        Shown().edtFTPServer->setText(server);
        Shown().edtUserName->setText(user);
        Shown().edtPassword->setText(password);
        Shown().edtDefaultDir->setText(dir);
    }

    TListRow *AddFile(const QString &local, const QString &host)
    {
        return AddRow(local, {host, FileType::Ascii, "%IP%", FileStatus::New, "", "", ""});
    }

    // The values of a site's key, in the order they are written: the four fields, the options.
    static QStringList SiteValueNames()
    {
        return {store::FTPServer, store::UserName,      store::Password,           store::DefaultDir,
                store::Passive,   store::CreateFolders, store::UploadViaTempName,  store::Retries,
                store::Security,  store::Protocol,      store::TrustedCertificate, store::KeyFile};
    }

    QString SiteKey(const QString &name) const { return BaseKeyPath() + '\\' + store::SiteSection(name); }

    QString StoredText(const QString &section, const QString &name)
    {
        return TRegIniFile(BaseKeyPath()).ReadText(section, name, QStringLiteral("<absent>"));
    }
};

TEST_F(CatalogueTest, SaveWritesRowsThenTheSiteValuesAndTheOptions)
{
    ShowSite("ftp.example.org", "anna", "secret", "/www/");
    AddFile("/home/anna/index.html", "/www/index.html");
    AddFile("/home/anna/logo.png", "/www/logo.png");
    catalogue->SetCurrentSiteName(QStringLiteral("ftp.example.org"));
    catalogue->SaveCurrentSite();

    const QString key = SiteKey(QStringLiteral("ftp.example.org"));
    EXPECT_EQ(test::SubkeyNames(store.FilePath(), key), QStringList({store::ItemSection(0), store::ItemSection(1)}));
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), key), SiteValueNames());
    EXPECT_EQ(StoredText(store::SiteSection(QStringLiteral("ftp.example.org")), store::Password),
              QStringLiteral("secret"));
    EXPECT_EQ(StoredText(store::SiteSection(QStringLiteral("ftp.example.org")) + '\\' + store::ItemSection(1),
                         store::SublineName(colHostFileName)),
              QStringLiteral("/www/logo.png"));
    EXPECT_EQ(StoredText(store::GeneralOptions, store::DefaultIPParam), QStringLiteral("%IP%"));
    EXPECT_TRUE(Shown().lvFileDetails->RegKeyword().isEmpty()) << "the list's value name is emptied again";
}

TEST_F(CatalogueTest, EmptySiteIsItsKeyWithOnlyItsValues)
{
    ShowSite("empty.example.org", "", "", "");
    catalogue->SetCurrentSiteName(QStringLiteral("empty.example.org"));
    catalogue->SaveCurrentSite();
    const QString key = SiteKey(QStringLiteral("empty.example.org"));
    EXPECT_TRUE(test::SubkeyNames(store.FilePath(), key).isEmpty());
    EXPECT_EQ(test::ValueNamesInWriteOrder(store.FilePath(), key), SiteValueNames());
}

TEST_F(CatalogueTest, SaveWithoutASiteNameWritesOnlyTheOptions)
{
    ShowSite("stale.example.org", "u", "p", "/");
    AddFile("/tmp/a", "/a");
    options->edtDefaultIPParam->setText(QStringLiteral("%ADDR%"));
    catalogue->SaveCurrentSite();
    const QStringList dump = test::DumpStore(store.FilePath());
    EXPECT_TRUE(dump.filter(store::WWWSites).isEmpty()) << dump.join('\n').toStdString();
    EXPECT_EQ(StoredText(store::GeneralOptions, store::DefaultIPParam), QStringLiteral("%ADDR%"));
}

TEST_F(CatalogueTest, LoadSiteBringsBackRowsAndFieldsAndKeepsFieldsAMissingSiteLacks)
{
    ShowSite("one.example.org", "anna", "pw1", "/one/");
    AddFile("/home/anna/a.html", "/one/a.html")->SetChecked(true);
    catalogue->SetCurrentSiteName(QStringLiteral("one"));
    catalogue->SaveCurrentSite();

    catalogue->LoadSite(QStringLiteral("two"));
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 0);
    EXPECT_EQ(Shown().edtUserName->text(), QStringLiteral("anna")) << "a site without values keeps the texts";
    EXPECT_TRUE(test::DumpStore(store.FilePath()).contains(SiteKey(QStringLiteral("two"))));
    EXPECT_EQ(Shown().lvFileDetails->RegKeyword(), QStringLiteral("two"));

    ShowSite("", "", "", "");
    StoredText(store::GeneralOptions, store::DefaultIPParam);
    TRegIniFile(BaseKeyPath()).WriteText(store::GeneralOptions, store::DefaultIPParam, QStringLiteral("%NEW%"));
    catalogue->LoadSite(QStringLiteral("one"));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 1);
    const TListRow *row = Shown().lvFileDetails->Row(0);
    EXPECT_EQ(row->Caption(), QStringLiteral("/home/anna/a.html"));
    EXPECT_EQ(row->SubItems().size(), 8);
    EXPECT_TRUE(row->Checked());
    EXPECT_EQ(Shown().edtFTPServer->text(), QStringLiteral("one.example.org"));
    EXPECT_EQ(Shown().edtPassword->text(), QStringLiteral("pw1"));
    EXPECT_EQ(Shown().edtDefaultDir->text(), QStringLiteral("/one/"));
    EXPECT_EQ(options->edtDefaultIPParam->text(), QStringLiteral("%NEW%")) << "the options are read again";

    const QStringList before = test::DumpStore(store.FilePath());
    catalogue->LoadSite(QString());
    EXPECT_EQ(Shown().lvFileDetails->RowCount(), 1);
    EXPECT_EQ(test::DumpStore(store.FilePath()), before);
}

// An option missing from a site's key is what sites did before it existed, whatever the site
// shown before chose; the site fields keep the designed carry-over.
TEST_F(CatalogueTest, OptionsGoToTheSiteKeyAndOnesTheKeyLacksShowTheBehaviourOfOldSites)
{
    const auto shownOptions = [this] {
        const TSite site = catalogue->CurrentSite();
        return QStringList{QString::number(site.passive),
                           QString::number(site.createFolders),
                           QString::number(site.uploadViaTempName),
                           QString::number(site.retries),
                           site.security,
                           site.protocol,
                           site.trustedCertificate,
                           site.keyFile};
    };
    const QString fingerprint = QStringLiteral("0A:1B:2C");
    ShowSite("modern.example.org", "anna", "pw", "/");
    Shown().Options().Set({.passive = true,
                           .createFolders = true,
                           .uploadViaTempName = false,
                           .retries = 3,
                           .security = QStringLiteral("TLS"),
                           .trustedCertificate = fingerprint,
                           .protocol = QStringLiteral("SFTP"),
                           .keyFile = QStringLiteral("/keys/id")});
    catalogue->SetCurrentSiteName(QStringLiteral("modern"));
    catalogue->SaveCurrentSite();
    const QString section = store::SiteSection(QStringLiteral("modern"));
    QStringList stored;
    for (const QString &name : {store::Passive, store::CreateFolders, store::UploadViaTempName, store::Retries,
                                store::Security, store::Protocol, store::TrustedCertificate, store::KeyFile})
        stored.append(StoredText(section, name));
    const QStringList modern = {"1", "1", "0", "3", "TLS", "SFTP", fingerprint, "/keys/id"};
    EXPECT_EQ(stored, modern);

    // As an older run left it: the four fields only.
    const QString oldSection = store::SiteSection(QStringLiteral("old"));
    TRegIniFile(BaseKeyPath()).WriteText(oldSection, store::FTPServer, QStringLiteral("old.example.org"));
    catalogue->LoadSite(QStringLiteral("old"));
    const QStringList old = {"0", "0", "0", "0", "None", "FTP", "", ""};
    EXPECT_EQ(shownOptions(), old);
    EXPECT_EQ(Shown().edtUserName->text(), QStringLiteral("anna")) << "a field keeps the text of the site before";

    TRegIniFile(BaseKeyPath()).WriteText(oldSection, store::Retries, QStringLiteral("99"));
    catalogue->LoadSite(QStringLiteral("modern"));
    EXPECT_EQ(shownOptions(), modern);
    catalogue->LoadSite(QStringLiteral("old"));
    EXPECT_EQ(shownOptions().value(3), QStringLiteral("10")) << "a number beyond the box's range is its greatest";
    EXPECT_EQ(shownOptions().mid(4), old.mid(4));
}

TEST_F(CatalogueTest, SitesAreListedInNameOrderHoweverOftenTheyAreSavedAndDeletedWhole)
{
    // Each save deletes and re-creates the site's key; the order must not follow that.
    for (const char *name : {"zeta", "beta", "Alpha", "alpha", "zeta", "Alpha"}) {
        ShowSite(QString::fromLatin1(name), "", "", "");
        Shown().lvFileDetails->ClearRows();
        AddFile(QStringLiteral("/f/") + QString::fromLatin1(name), QStringLiteral("/h"));
        catalogue->SetCurrentSiteName(QString::fromLatin1(name));
        catalogue->SaveCurrentSite();
    }
    EXPECT_EQ(catalogue->ListSites(), QStringList({"Alpha", "alpha", "beta", "zeta"})) << "case makes two sites";

    catalogue->DeleteSiteKey(QStringLiteral("Alpha"));
    EXPECT_EQ(catalogue->ListSites(), QStringList({"alpha", "beta", "zeta"}));
    EXPECT_TRUE(test::DumpStore(store.FilePath()).filter(QStringLiteral("\\Alpha")).isEmpty());

    catalogue->DeleteSiteKey(QString());
    catalogue->DeleteSiteKey(QStringLiteral("never-there"));
    EXPECT_EQ(catalogue->ListSites(), QStringList({"alpha", "beta", "zeta"}));
}

TEST_F(CatalogueTest, FailedSaveAfterTheSiteKeyWasDeletedLeavesTheSiteWhole)
{
    ShowSite("site.example.org", "anna", "old", "/old/");
    AddFile("/old/a", "/a");
    AddFile("/old/b", "/b");
    catalogue->SetCurrentSiteName(QStringLiteral("site"));
    catalogue->SaveCurrentSite();
    CloseStore();
    // The fields pass comes after the list pass has deleted and rewritten the site key.
    test::PoisonValueName(store.FilePath(), store::Password);
    const QStringList before = test::DumpStore(store.FilePath());

    Shown().lvFileDetails->ClearRows();
    AddFile("/new/c", "/c");
    Shown().edtPassword->setText(QStringLiteral("new"));
    EXPECT_THROW(catalogue->SaveCurrentSite(), ERegistryException);
    EXPECT_EQ(test::DumpStore(store.FilePath()), before);

    catalogue->LoadSite(QStringLiteral("site"));
    ASSERT_EQ(Shown().lvFileDetails->RowCount(), 2);
    EXPECT_EQ(Shown().lvFileDetails->Row(1)->Caption(), QStringLiteral("/old/b"));
}

} // namespace
