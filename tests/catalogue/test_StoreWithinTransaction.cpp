// Inside one transaction the store takes shortcuts: it reads all values of a key with one query
// and fills keys it has just made without looking for what they hold. These tests hold the
// shortcuts to what the same operations give one at a time, and to the file's rows as SQL
// reads them.
#include "catalogue/Catalogue.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/ShownSite.h"
#include "tests/support/StoreDump.h"
#include "tests/support/TempStore.h"

#include <gtest/gtest.h>

#include <memory>

using namespace quelmark;

namespace {

const QString kBase = QStringLiteral("\\Software\\Varnholt\\Quelmark");
const QString kSite = QStringLiteral("ftp.example.org");

class StoreWithinTransactionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_store.IsValid()); }
    // Returns a second store file of this test; SetStoreFilePath points the program at it.
    QString OtherStore() const { return m_store.ConfigDir() + QStringLiteral("/other.db"); }
    void TearDown() override { SetStoreFilePath(QString()); }

    test::TempStore m_store;
};

TEST_F(StoreWithinTransactionTest, ReadsInsideATransactionGiveWhatSeparateReadsGive)
{
    TRegIniFile(kBase).WriteText(QStringLiteral("Odd"), QStringLiteral("Caption"), QStringLiteral("plain"));
    CloseStore();
    // What another tool or an earlier version may have left: twins differing in case, a name
    // that is the prefix of another, the unnamed value, non-ASCII, BLOB and NULL data, and
    // values of other kinds.
    test::ExecSql(m_store.FilePath(),
                  QStringLiteral("INSERT INTO vals SELECT key, n, k, d FROM vals, (SELECT 'caption' n, 1 k, 'twin' d "
                                 "UNION ALL SELECT 'Capt', 1, 'prefix' UNION ALL SELECT '', 1, 'unnamed' "
                                 "UNION ALL SELECT 'Grüße', 1, 'named in UTF-8' UNION ALL SELECT 'Text', 1, '日本 ⌘' "
                                 "UNION ALL SELECT 'Blob', 1, CAST('as blob' AS BLOB) UNION ALL SELECT 'Null', 1, NULL "
                                 "UNION ALL SELECT 'Empty', 1, '' UNION ALL SELECT 'Expand', 2, '%HOME%\\x' "
                                 "UNION ALL SELECT 'Number', 4, x'1e000000' UNION ALL SELECT 'Binary', 3, x'00ff') "
                                 "WHERE name='Caption'"));
    const struct {
        const char *name;
        const char *expected; // the text, "<default>" when absent, or the error
        int kind;             // -1 when absent
    } cases[] = {
        {"Caption", "plain", 1},
        {"caption", "twin", 1},
        {"Capt", "prefix", 1},
        {"Capti", "<default>", -1},
        {"CAPTION", "<default>", -1},
        {"", "unnamed", 1},
        {"Grüße", "named in UTF-8", 1},
        {"Gruße", "<default>", -1},
        {"Text", "日本 ⌘", 1},
        {"Blob", "as blob", 1},
        {"Null", "", 1},
        {"Empty", "", 1},
        {"Expand", "%HOME%\\x", 2},
        {"Number", "Invalid data type for 'Number'", 4},
        {"Binary", "Invalid data type for 'Binary'", 3},
        {"Missing", "<default>", -1},
    };
    TRegIniFile ini(kBase);
    TRegistry key;
    ASSERT_TRUE(key.OpenKey(kBase + QStringLiteral("\\Odd"), false));
    const auto read = [&](const char *name) {
        try {
            return ini.ReadText(QStringLiteral("Odd"), QString::fromUtf8(name), QStringLiteral("<default>"));
        } catch (const ERegistryException &error) {
            return error.Message();
        }
    };
    for (const auto &c : cases) {
        EXPECT_EQ(read(c.name), QString::fromUtf8(c.expected)) << "alone: " << c.name;
        EXPECT_EQ(key.GetDataType(QString::fromUtf8(c.name)), c.kind) << "alone: " << c.name;
    }
    TStoreTransaction transaction;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t n = 0; n < std::size(cases); ++n) {
            const auto &c = cases[pass == 0 ? n : std::size(cases) - 1 - n];
            EXPECT_EQ(read(c.name), QString::fromUtf8(c.expected)) << "pass " << pass << ": " << c.name;
            EXPECT_EQ(key.GetDataType(QString::fromUtf8(c.name)), c.kind) << "pass " << pass << ": " << c.name;
        }
    }
    transaction.Commit();
}

// Writes into keys made on the way, writes a name twice, reads back what it wrote, deletes a
// key it made and makes another, and writes over values that were there before; `whole` writes
// the lists of values with WriteValues, otherwise value by value.
void WriteScript(bool whole)
{
    TRegIniFile ini(kBase);
    const auto write = [&](const char *section, const char *name, const char *text) {
        ini.WriteText(QString::fromUtf8(section), QString::fromUtf8(name), QString::fromUtf8(text));
    };
    const auto writeAll = [&](const char *section, const TRegValues &values) {
        if (whole) {
            ini.WriteValues(QString::fromUtf8(section), values);
            return;
        }
        for (qsizetype i = 0; i < values.Count(); ++i)
            ini.WriteText(QString::fromUtf8(section), values.Ident(i), values.Text(i));
    };
    const auto read = [&](const char *section, const char *name) {
        return ini.ReadText(QString::fromUtf8(section), QString::fromUtf8(name), QStringLiteral("<gone>"));
    };
    write("Site\\Row0", "Caption", "a");
    write("Site\\Row0", "Checked", "0");
    EXPECT_EQ(read("Site\\Row0", "Caption"), QStringLiteral("a"));
    write("Site\\Row0", "Caption", "b");
    EXPECT_EQ(read("Site\\Row0", "Caption"), QStringLiteral("b"));
    write("Site\\Row1\\Deep", "Grüße", "日本");
    write("Site\\Row1", "", "unnamed");
    write("Site\\Row0", "Line0", "");
    ini.DeleteSection(QStringLiteral("Site\\Row1"));
    EXPECT_EQ(read("Site\\Row1", ""), QStringLiteral("<gone>"));
    write("Site\\Row2", "Caption", "made after a deletion");
    write("Existing", "V", "new");
    EXPECT_EQ(read("Existing", "V"), QStringLiteral("new"));
    write("Site", "FTPServer", "");

    TRegValues values;
    values.AddText(QStringLiteral("Caption"), QStringLiteral("first"));
    values.AddFlag(QStringLiteral("Checked"), true);
    values.AddText(QStringLiteral("Caption"), QStringLiteral("second"));
    values.AddNumber(QStringLiteral("Größe"), -12);
    writeAll("Site\\Row3", values);
    EXPECT_EQ(read("Site\\Row3", "Caption"), QStringLiteral("second"));
    values.Clear();
    values.AddText(QStringLiteral("W"), QStringLiteral("w"));
    values.AddText(QStringLiteral("V"), QStringLiteral("newer"));
    writeAll("Existing", values);
    values.Clear();
    for (int k = 0; k < 40; ++k)
        values.AddText(QStringLiteral("Line%1").arg(k % 37), QStringLiteral("text %1").arg(k));
    writeAll("Site\\Row4", values);
    writeAll("Site\\Never", TRegValues());
}

TEST_F(StoreWithinTransactionTest, WritesInsideATransactionLeaveTheRowsThatSeparateWritesLeave)
{
    const QString files[] = {m_store.FilePath(), OtherStore()};
    QStringList rows[2];
    for (int whole = 0; whole < 2; ++whole) {
        SetStoreFilePath(files[whole]);
        TRegIniFile(kBase).WriteText(QStringLiteral("Existing"), QStringLiteral("V"), QStringLiteral("old"));
        if (whole) {
            TStoreTransaction transaction;
            WriteScript(true);
            transaction.Commit();
        } else {
            WriteScript(false);
        }
        CloseStore();
        rows[whole] = test::RawStoreRows(files[whole]);
    }
    EXPECT_EQ(rows[1], rows[0]);
    // The second write of a name replaces the first in its place.
    EXPECT_EQ(test::ValueNamesInWriteOrder(files[1], kBase + QStringLiteral("\\Site\\Row0")),
              QStringList({"Caption", "Checked", "Line0"}));
    EXPECT_EQ(test::ValueNamesInWriteOrder(files[1], kBase + QStringLiteral("\\Site\\Row3")),
              QStringList({"Caption", "Checked", "Größe"}));
    EXPECT_EQ(test::ValueNamesInWriteOrder(files[1], kBase + QStringLiteral("\\Site\\Row4")).size(), 37);
    EXPECT_EQ(test::SubkeyNames(files[1], kBase + QStringLiteral("\\Site")),
              QStringList({"Row0", "Row2", "Row3", "Row4"}));
}

struct RowData {
    QString caption;
    QStringList texts;
    bool checked;
    int image, state;
};

// The rows of a saved site, as the file list holds them before a save.
const RowData kRows[] = {
    {"/home/anna/index.html", {"/www/index.html", "Ascii", "%IP%", "Moved", "1/2/24", "1234", "R"}, true, 4, 7},
    {"/home/anna/Grüße ⌘.html", {"/www/g.html", "Binary", "", "New", "", "", "", ""}, false, 0, -1},
    {"/home/anna/three.txt", {"/www/three.txt", "Ascii", "%ADDR%"}, false, 0, -1},
    {"/home/anna/bare", {}, false, 2, 3},
};

struct TSiteWindow {
    TSiteWindow() { catalogue->SetCurrentSiteName(kSite); }
    // Shows the first `count` rows of kRows.
    void Show(int count)
    {
        for (int i = 0; i < count; ++i) {
            TListRow *row = controls.lvFileDetails->AddRow();
            row->SetCaption(kRows[i].caption);
            row->SetSubItems(kRows[i].texts);
            row->SetChecked(kRows[i].checked);
            row->SetImageIndex(kRows[i].image);
            row->SetStateIndex(kRows[i].state);
        }
    }

    QWidget window;
    std::unique_ptr<TCatalogue> catalogue = std::make_unique<TCatalogue>(&window, &window);
    TShownSite &controls = catalogue->Shown();
};

// Writes the site the way a save is laid down: the old site key goes, each row's values are
// written in their order, then the four fields and the site options; every value in a
// transaction of its own.
void WriteSiteValueByValue(const QString &server, int rows)
{
    TRegIniFile ini(kBase);
    const QString site = store::SiteSection(kSite);
    ini.DeleteSection(site);
    for (int i = 0; i < rows; ++i) {
        const RowData &row = kRows[i];
        const QString item = site + QLatin1Char('\\') + store::ItemSection(i);
        ini.WriteText(item, QStringLiteral("Caption"), row.caption);
        ini.WriteFlag(item, QStringLiteral("Checked"), row.checked);
        ini.WriteNumber(item, QStringLiteral("ImageIndex"), row.image);
        ini.WriteNumber(item, QStringLiteral("StateIndex"), row.state);
        for (int k = 0; k < row.texts.size(); ++k)
            ini.WriteText(item, store::SublineName(k), row.texts[k]);
    }
    ini.WriteText(site, QStringLiteral("FTPServer"), server);
    for (const char *field : {"UserName", "Password", "DefaultDir"})
        ini.WriteText(site, QString::fromLatin1(field), QString());
    for (const char *option : {"Passive", "CreateFolders", "UploadViaTempName", "Retries"})
        ini.WriteText(site, QString::fromLatin1(option), QStringLiteral("0"));
    ini.WriteText(site, QStringLiteral("Security"), QStringLiteral("None"));
    ini.WriteText(site, QStringLiteral("Protocol"), QStringLiteral("FTP"));
    for (const char *text : {"TrustedCertificate", "KeyFile"})
        ini.WriteText(site, QString::fromLatin1(text), QString());
}

TEST_F(StoreWithinTransactionTest, ASavedSiteIsTheSiteWrittenValueByValueAndLoadsBackWhole)
{
    const QString files[] = {m_store.FilePath(), OtherStore()};
    QStringList rows[2];
    for (int whole = 0; whole < 2; ++whole) {
        SetStoreFilePath(files[whole]);
        // A first save with fewer rows, so the second one replaces a site that exists.
        for (const int count : {2, int(std::size(kRows))}) {
            const QString server = QStringLiteral("server of %1 rows").arg(count);
            if (!whole) {
                WriteSiteValueByValue(server, count);
                continue;
            }
            TSiteWindow view;
            view.controls.edtFTPServer->setText(server);
            view.Show(count);
            view.catalogue->SaveCurrentSite();
        }
        CloseStore();
        rows[whole] = test::RawStoreRows(files[whole]);
    }
    EXPECT_EQ(rows[1], rows[0]);

    TSiteWindow view;
    view.catalogue->LoadSite(kSite);
    EXPECT_EQ(view.controls.edtFTPServer->text(), QStringLiteral("server of 4 rows"));
    ASSERT_EQ(view.controls.lvFileDetails->RowCount(), int(std::size(kRows)));
    for (int i = 0; i < int(std::size(kRows)); ++i) {
        const TListRow *row = view.controls.lvFileDetails->Row(i);
        QStringList texts = kRows[i].texts;
        while (!texts.isEmpty() && texts.size() < 8)
            texts.append(QString());
        EXPECT_EQ(row->Caption(), kRows[i].caption) << i;
        EXPECT_EQ(row->SubItems(), texts) << i;
        EXPECT_EQ(row->Checked(), kRows[i].checked) << i;
        EXPECT_EQ(row->ImageIndex(), kRows[i].image) << i;
        EXPECT_EQ(row->StateIndex(), kRows[i].state) << i;
    }
}

TEST_F(StoreWithinTransactionTest, AValueThatCannotBeWrittenIsNamedAndTheSaveLeavesTheSiteAsItWas)
{
    TSiteWindow view;
    view.Show(int(std::size(kRows)));
    view.catalogue->SaveCurrentSite();
    CloseStore();
    test::PoisonValueName(m_store.FilePath(), store::SublineName(2));
    const QStringList before = test::DumpStore(m_store.FilePath());

    view.controls.lvFileDetails->Row(0)->SetCaption(QStringLiteral("changed"));
    const QString message = test::MessageOf<ERegistryException>([&] {
                                view.catalogue->SaveCurrentSite();
                            }).section(QLatin1Char('\n'), 0, 0);
    EXPECT_EQ(message, QStringLiteral("Failed to set data for 'Subline#2'"));
    EXPECT_EQ(test::DumpStore(m_store.FilePath()), before);
}

TEST_F(StoreWithinTransactionTest, ARowThatFailsToLoadStaysInTheListAsFarAsItWasRead)
{
    TRegIniFile ini(kBase + QLatin1Char('\\') + store::SiteSection(kSite));
    ini.WriteText(store::ItemSection(0), QStringLiteral("Caption"), QStringLiteral("first"));
    ini.WriteText(store::ItemSection(0), store::SublineName(0), QStringLiteral("/www/first"));
    ini.WriteText(store::ItemSection(1), QStringLiteral("Caption"), QStringLiteral("second"));
    ini.WriteText(store::ItemSection(1), QStringLiteral("Checked"), QStringLiteral("1"));
    ini.WriteText(store::ItemSection(2), QStringLiteral("Caption"), QStringLiteral("never read"));
    test::SetValueKind(m_store.FilePath(), ini.CurrentPath() + QLatin1Char('\\') + store::ItemSection(1),
                       QStringLiteral("Checked"), 4);

    TSiteWindow view;
    EXPECT_THROW(view.catalogue->LoadSite(kSite), ERegistryException);
    ASSERT_EQ(view.controls.lvFileDetails->RowCount(), 2);
    EXPECT_EQ(view.controls.lvFileDetails->Row(0)->SubItems().size(), 8);
    EXPECT_EQ(view.controls.lvFileDetails->Row(1)->Caption(), QStringLiteral("second"));
    EXPECT_TRUE(view.controls.lvFileDetails->Row(1)->SubItems().isEmpty());
}

} // namespace
