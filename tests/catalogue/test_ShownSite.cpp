#include "catalogue/ShownSite.h"

#include "catalogue/Catalogue.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "tests/support/Printing.h"
#include "tests/support/TempStore.h"

#include <QWidget>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(ShownSite, EntriesReadTheColumnsByNameAndARowShortOfTextsGivesEmptyOnes)
{
    QWidget page;
    TShownSite shown(&page);
    const struct {
        QStringList texts;
        TFileEntry entry;
    } rows[] = {
        {{"/www/a.html", "Ascii", "%IP%", "New", "1/2/24", "12", "R", ""},
         {"/a", "/www/a.html", "Ascii", "%IP%", "New", "1/2/24", "12", "R"}},
        {{"/www/b.html", "Binary", ""}, {"/a", "/www/b.html", "Binary", "", "", "", "", ""}},
        {{}, {"/a", "", "", "", "", "", "", ""}},
    };
    for (const auto &r : rows) {
        TListRow row;
        row.SetCaption(QStringLiteral("/a"));
        row.SetSubItems(r.texts);
        const TFileEntry got = FileEntryOf(row);
        const QStringList gotTexts = {got.localFile, got.hostFileName, got.fileType, got.ipParameter,
                                      got.status,    got.fileDateTime, got.fileSize, got.attribs};
        const QStringList wanted = {r.entry.localFile, r.entry.hostFileName, r.entry.fileType, r.entry.ipParameter,
                                    r.entry.status,    r.entry.fileDateTime, r.entry.fileSize, r.entry.attribs};
        EXPECT_EQ(gotTexts, wanted) << r.texts.size() << " texts";
    }

    // A row the program makes holds seven texts, in the list's column order after the caption.
    shown.AddEntry({"/home/u/c.html", "/www/c.html", "Ascii", "", "New", "d", "s", "A"});
    EXPECT_EQ(shown.lvFileDetails->Row(0)->SubItems(), QStringList({"/www/c.html", "Ascii", "", "New", "d", "s", "A"}));
    EXPECT_EQ(shown.lvFileDetails->headerItem()->text(colStatus + 1), QStringLiteral("Status"));
    EXPECT_TRUE(shown.Lists(QStringLiteral("/home/u/c.html")));
    EXPECT_FALSE(shown.Lists(QStringLiteral("/home/u/C.html")));
}

TEST(ShownSite, TheSiteGoesToTheStoreUnderItsNamesAndComesBackAsValues)
{
    test::TempStore store;
    ASSERT_TRUE(store.IsValid());
    QWidget window;
    TCatalogue catalogue(&window, &window);
    catalogue.Shown().SetSite({"ignored", "ftp.example.org", "anna", "secret", "/www/"});
    EXPECT_EQ(catalogue.CurrentSite().name, QString()) << "no site is shown yet";
    catalogue.SetCurrentSiteName(QStringLiteral("Home"));
    catalogue.SaveCurrentSite();

    TRegIniFile site(BaseKeyPath() + '\\' + store::SiteSection(QStringLiteral("Home")));
    EXPECT_EQ(site.ReadText(QString(), store::FTPServer, {}), QStringLiteral("ftp.example.org"));
    EXPECT_EQ(site.ReadText(QString(), store::UserName, {}), QStringLiteral("anna"));
    EXPECT_EQ(site.ReadText(QString(), store::Password, {}), QStringLiteral("secret"));
    EXPECT_EQ(site.ReadText(QString(), store::DefaultDir, {}), QStringLiteral("/www/"));

    catalogue.Shown().SetSite({});
    catalogue.LoadSite(QStringLiteral("Home"));
    const TSite loaded = catalogue.CurrentSite();
    EXPECT_EQ(QStringList({loaded.name, loaded.server, loaded.user, loaded.password, loaded.defaultDir}),
              QStringList({"Home", "ftp.example.org", "anna", "secret", "/www/"}));
}

} // namespace
