// The settings store: value encodings, key paths, enumeration, deletion, transactions, and what
// happens to store files that cannot be used.
#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "catalogue/Sqlite.h"
#include "tests/support/Files.h"
#include "tests/support/TempStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace quelmark;
using quelmark::test::TempStore;

namespace {

const QString kBase = QStringLiteral("\\Software\\Varnholt\\Quelmark");

// Runs the sqlite3 command on the store file and returns what it prints.
QString Sqlite3Cli(const QString &file, const QString &command)
{
    QProcess process;
    process.start(QStringLiteral("sqlite3"), {file, command});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("sqlite3 failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString ErrorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const ERegistryException &error) {
        return error.Message();
    }
    return QStringLiteral("<no error>");
}

// The tables as every version so far has written them.
const QString kKeysAndVals = QStringLiteral(R"(
CREATE TABLE keys (
  id     INTEGER PRIMARY KEY,
  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
  name   TEXT NOT NULL,
  UNIQUE (parent, name)
);
CREATE TABLE vals (
  key  INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  kind INTEGER NOT NULL,
  data BLOB,
  PRIMARY KEY (key, name)
);
INSERT INTO keys VALUES (1, NULL, ''), (2, 1, 'Software'), (3, 2, 'Varnholt'), (4, 3, 'Quelmark');
)");

// Makes a store file with the sqlite3 command; false (with a test failure) when it fails.
bool MakeStoreFile(const QString &file, const QString &sql)
{
    QFile::remove(file);
    const QString output = Sqlite3Cli(file, sql);
    EXPECT_FALSE(output.startsWith(QStringLiteral("sqlite3 failed"))) << output.toStdString();
    return !output.startsWith(QStringLiteral("sqlite3 failed"));
}

class RegistryTest : public ::testing::Test {
protected:
    // Runs SQL on the store file through a second connection, as another tool would.
    void Sql(const char *statements)
    {
        sqlite::Connection other(QFile::encodeName(m_store.FilePath()).toStdString());
        other.Exec(statements);
    }
    QString Dump() { return Sqlite3Cli(m_store.FilePath(), QStringLiteral(".dump")); }
    int CountRows(const char *table)
    {
        return Sqlite3Cli(m_store.FilePath(), QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)))
            .trimmed()
            .toInt();
    }

    TempStore m_store;
};

// ---- number encoding ----

struct NumberCase {
    const char *text;
    bool readable;
    std::int32_t value;
};

TEST(StoredNumber, ParsesDecimalAndAllHexPrefixesAndRejectsAnythingElse)
{
    const NumberCase cases[] = {
        {"10", true, 10},
        {"-1", true, -1},
        {"+7", true, 7},
        {"0", true, 0},
        {"007", true, 7},
        {"$1E", true, 30},
        {"0x1E", true, 30},
        {"0X1e", true, 30},
        {"-$1E", true, -30},
        {"$FFFFFFFF", true, -1},
        {"$7FFFFFFF", true, 2147483647},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999999", false, 0},
        {"$100000000", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"$", false, 0},
        {"0x", false, 0},
        {"12abc", false, 0},
        {"1.5", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"$1G", false, 0},
        {"$-1", false, 0},
        {"1E", false, 0},
    };
    for (const NumberCase &c : cases) {
        std::int32_t value = 12345;
        EXPECT_EQ(ParseStoredNumber(QString::fromLatin1(c.text), value), c.readable) << c.text;
        EXPECT_EQ(value, c.readable ? c.value : 12345) << c.text;
    }
}

TEST_F(RegistryTest, NumbersAreWrittenAsDecimalAndUnreadableTextsGiveTheDefault)
{
    TRegIniFile ini(kBase);
    ini.WriteNumber(store::GeneralOptions, QStringLiteral("MinsTestFiles"), -1);
    EXPECT_EQ(ini.ReadText(store::GeneralOptions, QStringLiteral("MinsTestFiles"), {}), QStringLiteral("-1"));
    EXPECT_EQ(ini.ReadNumber(store::GeneralOptions, QStringLiteral("MinsTestFiles"), 5), -1);

    const struct {
        const char *stored;
        std::int32_t expected;
    } cases[] = {{"0x1E", 30}, {"$1E", 30}, {"12abc", 5}, {"", 5}, {"4294967296", 5}};
    for (const auto &c : cases) {
        ini.WriteText(store::GeneralOptions, QStringLiteral("N"), QString::fromLatin1(c.stored));
        EXPECT_EQ(ini.ReadNumber(store::GeneralOptions, QStringLiteral("N"), 5), c.expected) << c.stored;
    }
    EXPECT_EQ(ini.ReadNumber(store::GeneralOptions, QStringLiteral("Missing"), 5), 5);
}

TEST_F(RegistryTest, FlagsAreOneAndZeroAndAnyNonZeroNumberReadsTrue)
{
    TRegIniFile ini(kBase);
    const QString section = store::GeneralOptions;
    ini.WriteFlag(section, QStringLiteral("On"), true);
    ini.WriteFlag(section, QStringLiteral("Off"), false);
    EXPECT_EQ(ini.ReadText(section, QStringLiteral("On"), {}), QStringLiteral("1"));
    EXPECT_EQ(ini.ReadText(section, QStringLiteral("Off"), {}), QStringLiteral("0"));
    EXPECT_FALSE(ini.ReadFlag(section, QStringLiteral("Off"), true));

    ini.WriteText(section, QStringLiteral("Two"), QStringLiteral("2"));
    ini.WriteText(section, QStringLiteral("Empty"), QString());
    ini.WriteText(section, QStringLiteral("Junk"), QStringLiteral("yes"));
    EXPECT_TRUE(ini.ReadFlag(section, QStringLiteral("Two"), false));
    for (bool fallback : {false, true}) {
        EXPECT_EQ(ini.ReadFlag(section, QStringLiteral("Empty"), fallback), fallback);
        EXPECT_EQ(ini.ReadFlag(section, QStringLiteral("Junk"), fallback), fallback);
        EXPECT_EQ(ini.ReadFlag(section, QStringLiteral("Missing"), fallback), fallback);
    }
}

// ---- texts and kinds ----

TEST_F(RegistryTest, TextsComeBackExactlyAsWritten)
{
    TRegIniFile ini(kBase);
    const QString texts[] = {QString(),
                             QStringLiteral("C:\\TEMP\\QUELMARK.$$$"),
                             QStringLiteral("  padded  "),
                             QStringLiteral("Grüße – ⌘ 日本"),
                             QStringLiteral("line\r\nbreak"),
                             QString::fromUtf16(u"nul\0inside", 10)};
    int i = 0;
    for (const QString &text : texts) {
        const QString name = QStringLiteral("V%1").arg(i++);
        ini.WriteText(QStringLiteral("Texts"), name, text);
        EXPECT_EQ(ini.ReadText(QStringLiteral("Texts"), name, QStringLiteral("default")), text) << name.toStdString();
    }
    ini.WriteText(QStringLiteral("Texts"), QStringLiteral("V0"), QStringLiteral("replaced"));
    EXPECT_EQ(ini.ReadText(QStringLiteral("Texts"), QStringLiteral("V0"), {}), QStringLiteral("replaced"));
}

TEST_F(RegistryTest, ValuesOfAnotherKindFailToReadAsTextExceptExpandableText)
{
    TRegIniFile ini(kBase);
    ini.WriteText(store::GeneralOptions, QStringLiteral("Autoprocess"), QStringLiteral("1"));
    Sql("UPDATE vals SET kind=4, data=x'1e000000' WHERE name='Autoprocess';"
        "INSERT INTO vals SELECT key, 'Bin', 3, x'00ff' FROM vals WHERE name='Autoprocess';"
        "INSERT INTO vals SELECT key, 'List', 7, 'a' FROM vals WHERE name='Autoprocess';"
        "INSERT INTO vals SELECT key, 'Path', 2, '%HOME%\\x' FROM vals WHERE name='Autoprocess';");

    const QString section = store::GeneralOptions;
    EXPECT_EQ(ErrorOf([&] { ini.ReadText(section, QStringLiteral("Autoprocess"), {}); }),
              QStringLiteral("Invalid data type for 'Autoprocess'"));
    EXPECT_EQ(ErrorOf([&] { ini.ReadFlag(section, QStringLiteral("Autoprocess"), false); }),
              QStringLiteral("Invalid data type for 'Autoprocess'"));
    EXPECT_EQ(ErrorOf([&] { ini.ReadNumber(section, QStringLiteral("Bin"), 0); }),
              QStringLiteral("Invalid data type for 'Bin'"));
    EXPECT_EQ(ErrorOf([&] { ini.ReadText(section, QStringLiteral("List"), {}); }),
              QStringLiteral("Invalid data type for 'List'"));
    EXPECT_EQ(ini.ReadText(section, QStringLiteral("Path"), {}), QStringLiteral("%HOME%\\x"));

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kBase + QStringLiteral("\\General Options"), false));
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Autoprocess")), int(TRegDataType::Number));
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Missing")), -1);
    // Writing over a value of another kind makes it text again.
    ini.WriteFlag(section, QStringLiteral("Autoprocess"), true);
    EXPECT_TRUE(ini.ReadFlag(section, QStringLiteral("Autoprocess"), false));
}

// ---- key paths ----

TEST_F(RegistryTest, SectionsAreRelativeToTheOpenedKeyUnlessTheyStartWithABackslash)
{
    TRegIniFile ini(kBase);
    ini.WriteText(QStringLiteral("WWWSites\\ftp.example.com"), QStringLiteral("UserName"), QStringLiteral("rel"));
    ini.WriteText(QStringLiteral("\\Elsewhere\\Deep"), QStringLiteral("UserName"), QStringLiteral("abs"));
    ini.WriteText(QString(), QString(), QStringLiteral("unnamed"));

    TRegIniFile root(QStringLiteral("\\"));
    EXPECT_EQ(root.ReadText(QStringLiteral("Software\\Varnholt\\Quelmark\\WWWSites\\ftp.example.com"),
                            QStringLiteral("UserName"), {}),
              QStringLiteral("rel"));
    EXPECT_EQ(root.ReadText(QStringLiteral("Elsewhere\\Deep"), QStringLiteral("UserName"), {}), QStringLiteral("abs"));
    EXPECT_EQ(ini.ReadText(QStringLiteral("\\Elsewhere\\Deep"), QStringLiteral("UserName"), {}), QStringLiteral("abs"));
    EXPECT_EQ(root.ReadText(kBase, QString(), {}), QStringLiteral("unnamed"));
    EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), QStringLiteral("SELECT count(*) FROM keys WHERE name='Elsewhere' AND "
                                                            "parent=(SELECT id FROM keys WHERE parent IS NULL)"))
                  .trimmed(),
              QStringLiteral("1"));

    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("Software\\Nobody"), false));
    ASSERT_TRUE(reg.OpenKey(kBase, false));
    ASSERT_TRUE(reg.OpenKey(store::WWWSites, false));
    EXPECT_EQ(reg.CurrentPath(), kBase + QStringLiteral("\\WWWSites"));
}

TEST_F(RegistryTest, NamesDifferingOnlyInCaseAreDistinctKeysAndValues)
{
    TRegIniFile sites(kBase + QStringLiteral("\\WWWSites"));
    sites.WriteText(QStringLiteral("Site"), QStringLiteral("UserName"), QStringLiteral("upper"));
    sites.WriteText(QStringLiteral("site"), QStringLiteral("UserName"), QStringLiteral("lower"));
    sites.WriteText(QStringLiteral("site"), QStringLiteral("username"), QStringLiteral("other value"));
    EXPECT_EQ(sites.ReadText(QStringLiteral("Site"), QStringLiteral("UserName"), {}), QStringLiteral("upper"));
    EXPECT_EQ(sites.ReadText(QStringLiteral("site"), QStringLiteral("UserName"), {}), QStringLiteral("lower"));
    EXPECT_EQ(sites.ReadText(QStringLiteral("Site"), QStringLiteral("username"), QStringLiteral("none")),
              QStringLiteral("none"));
    EXPECT_TRUE(sites.DeleteSection(QStringLiteral("site")));
    QStringList names;
    sites.ListSections(names);
    EXPECT_EQ(names, QStringList{QStringLiteral("Site")});
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderCaseIgnoredFirstThenExactBytes)
{
    TRegIniFile sites(kBase + QStringLiteral("\\WWWSites"));
    for (const QString &name :
         {QStringLiteral("zeta"), QStringLiteral("alpha"), store::ItemSection(10), store::ItemSection(2),
          QStringLiteral("mid"), QStringLiteral("Alpha"), QStringLiteral("ALPHA")})
        sites.WriteText(name, QStringLiteral("x"), QStringLiteral("1"));
    sites.DeleteSection(QStringLiteral("alpha"));
    sites.WriteText(QStringLiteral("alpha"), QStringLiteral("x"), QStringLiteral("1"));
    QStringList names{QStringLiteral("stale entry")};
    sites.ListSections(names);
    EXPECT_EQ(names,
              (QStringList{"ALPHA", "Alpha", "alpha", store::ItemSection(10), store::ItemSection(2), "mid", "zeta"}));
}

TEST_F(RegistryTest, ReadingMissingSectionsCreatesNothing)
{
    TRegIniFile ini(kBase);
    const QString before = Dump();
    EXPECT_EQ(ini.ReadText(QStringLiteral("WWWSites\\nobody"), QStringLiteral("UserName"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(ini.ReadNumber(store::GeneralOptions, QStringLiteral("MinsTestFiles"), 10), 10);
    EXPECT_TRUE(ini.ReadFlag(QStringLiteral("\\Nowhere"), QStringLiteral("Autoprocess"), true));
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("\\Nowhere"), false));
    EXPECT_EQ(Dump(), before);
    EXPECT_EQ(CountRows("keys"), 4); // root, Software, Varnholt, Quelmark
}

TEST_F(RegistryTest, AStoreThatFailsWhileReadingRaisesInsteadOfGivingTheDefault)
{
    // A default in place of an unreadable value would be written back over the real one by
    // the next save.
    TRegIniFile ini(kBase);
    ini.WriteText(store::GeneralOptions, QStringLiteral("RedialCommand"), QStringLiteral("dial"));
    Sql("ALTER TABLE vals RENAME TO moved");
    const QString message = ErrorOf([&] { ini.ReadText(store::GeneralOptions, QStringLiteral("RedialCommand"), {}); });
    EXPECT_TRUE(message.startsWith(QStringLiteral("Failed to get data for 'RedialCommand'\n")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(m_store.FilePath())) << message.toStdString();
}

// ---- deletion ----

TEST_F(RegistryTest, DeleteSectionRemovesTheWholeSubtreeAndOnlyIt)
{
    TRegIniFile sites(kBase + QStringLiteral("\\WWWSites"));
    sites.WriteText(QStringLiteral("doomed"), QStringLiteral("FTPServer"), QStringLiteral("a"));
    for (int i = 0; i < 3; ++i) {
        const QString item = QStringLiteral("doomed\\Item#%1").arg(i);
        sites.WriteText(item, QStringLiteral("Caption"), QStringLiteral("c"));
        sites.WriteText(item + QStringLiteral("\\deeper\\still"), QStringLiteral("v"), QStringLiteral("x"));
    }
    sites.WriteText(QStringLiteral("kept"), QStringLiteral("FTPServer"), QStringLiteral("b"));
    sites.WriteText(QStringLiteral("kept\\Item#0"), QStringLiteral("Caption"), QStringLiteral("k"));
    const int keysBefore = CountRows("keys");

    EXPECT_TRUE(sites.DeleteSection(QStringLiteral("doomed")));
    EXPECT_EQ(CountRows("keys"), keysBefore - 10);
    EXPECT_EQ(CountRows("vals"), 2);
    EXPECT_EQ(sites.ReadText(QStringLiteral("kept\\Item#0"), QStringLiteral("Caption"), {}), QStringLiteral("k"));

    EXPECT_FALSE(sites.DeleteSection(QStringLiteral("doomed")));
    EXPECT_FALSE(sites.DeleteSection(QString()));
    EXPECT_FALSE(sites.DeleteSection(QStringLiteral("\\")));
    QStringList names;
    sites.ListSections(names);
    EXPECT_EQ(names, QStringList{QStringLiteral("kept")});
    // A deleted site written again starts empty.
    sites.WriteText(QStringLiteral("doomed"), QStringLiteral("UserName"), QStringLiteral("u"));
    EXPECT_EQ(sites.ReadText(QStringLiteral("doomed"), QStringLiteral("FTPServer"), QStringLiteral("gone")),
              QStringLiteral("gone"));
}

TEST_F(RegistryTest, MoveKeyRenamesTheWholeSubtreeOrLeavesTheStoreAsItWas)
{
    TRegIniFile sites(kBase + QStringLiteral("\\WWWSites"));
    sites.WriteText(QStringLiteral("old"), QStringLiteral("FTPServer"), QStringLiteral("a"));
    sites.WriteText(QStringLiteral("old\\Item#0"), QStringLiteral("Caption"), QStringLiteral("c"));
    sites.WriteText(QStringLiteral("old\\Item#0\\deeper"), QStringLiteral("v"), QStringLiteral("x"));
    sites.WriteText(QStringLiteral("taken"), QStringLiteral("FTPServer"), QStringLiteral("b"));
    // Read once inside a transaction, so the old name is in the store's own caches too.
    {
        TStoreTransaction reading;
        EXPECT_EQ(sites.ReadText(QStringLiteral("old\\Item#0"), QStringLiteral("Caption"), {}), QStringLiteral("c"));
        reading.Commit();
    }

    EXPECT_TRUE(sites.MoveKey(QStringLiteral("old"), QStringLiteral("New Name")));
    EXPECT_EQ(sites.ReadText(QStringLiteral("New Name"), QStringLiteral("FTPServer"), {}), QStringLiteral("a"));
    EXPECT_EQ(sites.ReadText(QStringLiteral("New Name\\Item#0\\deeper"), QStringLiteral("v"), {}), QStringLiteral("x"));
    EXPECT_EQ(sites.ReadText(QStringLiteral("old\\Item#0"), QStringLiteral("Caption"), QStringLiteral("gone")),
              QStringLiteral("gone"));
    EXPECT_FALSE(sites.MoveKey(QStringLiteral("old"), QStringLiteral("other"))) << "nothing of that name";

    const QString before = Dump();
    const struct {
        const char *from;
        const char *to;
        const char *why;
    } refused[] = {
        {"New Name", "taken", "a key of the new name exists"},
        {"New Name", "a\\b", "the new name is a path"},
        {"New Name", "", "the new name is empty"},
    };
    for (const auto &r : refused) {
        EXPECT_THROW(sites.MoveKey(QString::fromUtf8(r.from), QString::fromUtf8(r.to)), ERegistryException) << r.why;
        EXPECT_EQ(Dump(), before) << r.why;
    }
}

TEST_F(RegistryTest, DeletingAnAbsentKeyInsideASaveDoesNotUndoTheSave)
{
    TRegIniFile sites(kBase + QStringLiteral("\\WWWSites"));
    {
        TStoreTransaction save;
        sites.WriteText(QStringLiteral("fresh"), QStringLiteral("FTPServer"), QStringLiteral("a"));
        EXPECT_FALSE(sites.DeleteSection(QStringLiteral("never-there")));
        sites.WriteText(QStringLiteral("fresh"), QStringLiteral("UserName"), QStringLiteral("u"));
        EXPECT_NO_THROW(save.Commit());
    }
    EXPECT_EQ(sites.ReadText(QStringLiteral("fresh"), QStringLiteral("UserName"), {}), QStringLiteral("u"));
}

// ---- transactions ----

TEST_F(RegistryTest, NestedTransactionsCommitOnlyAtTheOutermostLevel)
{
    TRegIniFile ini(kBase);
    {
        TStoreTransaction outer;
        ini.WriteText(QStringLiteral("A"), QStringLiteral("v"), QStringLiteral("1"));
        {
            TStoreTransaction inner;
            ini.WriteText(QStringLiteral("B"), QStringLiteral("v"), QStringLiteral("2"));
            inner.Commit();
        }
        EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), QStringLiteral("SELECT count(*) FROM vals")).trimmed(),
                  QStringLiteral("0"))
            << "another reader sees nothing before the outermost commit";
        outer.Commit();
    }
    EXPECT_EQ(CountRows("vals"), 2);
}

TEST_F(RegistryTest, AnUncommittedInnerTransactionRollsBackEverything)
{
    TRegIniFile ini(kBase);
    ini.WriteText(store::GeneralOptions, QStringLiteral("TempFileName"), QStringLiteral("before"));
    const QString before = Dump();
    {
        TStoreTransaction outer;
        ini.WriteText(store::GeneralOptions, QStringLiteral("TempFileName"), QStringLiteral("after"));
        ini.WriteText(QStringLiteral("WWWSites\\new"), QStringLiteral("UserName"), QStringLiteral("u"));
        {
            TStoreTransaction inner;
            ini.DeleteSection(store::GeneralOptions);
        }
        ini.WriteText(QStringLiteral("Later"), QStringLiteral("v"), QStringLiteral("x"));
        EXPECT_NE(ErrorOf([&] { outer.Commit(); }), QStringLiteral("<no error>"));
    }
    EXPECT_EQ(Dump(), before);

    // Keys made in the rolled-back work must not be remembered as existing.
    ini.WriteText(QStringLiteral("WWWSites\\new"), QStringLiteral("UserName"), QStringLiteral("again"));
    EXPECT_EQ(ini.ReadText(QStringLiteral("WWWSites\\new"), QStringLiteral("UserName"), {}), QStringLiteral("again"));
}

TEST_F(RegistryTest, AFailedOperationInsideATransactionLeavesTheStoreUntouched)
{
    TRegIniFile ini(kBase);
    ini.WriteText(store::GeneralOptions, QStringLiteral("Bad"), QStringLiteral("x"));
    Sql("UPDATE vals SET kind=4 WHERE name='Bad'");
    const QString before = Dump();
    EXPECT_EQ(ErrorOf([&] {
                  TStoreTransaction save;
                  ini.WriteText(store::GeneralOptions, QStringLiteral("Good"), QStringLiteral("y"));
                  ini.ReadText(store::GeneralOptions, QStringLiteral("Bad"), {});
                  save.Commit();
              }),
              QStringLiteral("Invalid data type for 'Bad'"));
    EXPECT_EQ(Dump(), before);
}

TEST_F(RegistryTest, ClosingTheStoreInsideATransactionRollsItBackSafely)
{
    TRegIniFile ini(kBase);
    {
        TStoreTransaction transaction;
        ini.WriteText(QStringLiteral("A"), QStringLiteral("v"), QStringLiteral("1"));
        CloseStore();
        EXPECT_NE(ErrorOf([&] { transaction.Commit(); }), QStringLiteral("<no error>"));
    }
    EXPECT_EQ(ini.ReadText(QStringLiteral("A"), QStringLiteral("v"), QStringLiteral("none")), QStringLiteral("none"));
}

// ---- schema version ----

TEST_F(RegistryTest, AStoreOfThePreviousLayoutIsMigratedToVersionOneKeepingEveryValue)
{
    // As the previous version left it: WAL, no meta table, values bound as UTF-8 text, and
    // values of other kinds that another tool wrote.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(m_store.FilePath()).absolutePath()));
    ASSERT_TRUE(
        MakeStoreFile(m_store.FilePath(), QStringLiteral("PRAGMA journal_mode=WAL;") + kKeysAndVals + QStringLiteral(R"(
INSERT INTO keys VALUES (5, 4, 'General Options'), (6, 4, 'WWWSites'), (7, 6, 'ftp.example.com'),
                        (8, 7, 'Item#0'), (9, 7, 'Item#1'), (10, 6, 'Site');
INSERT INTO vals VALUES
  (5, 'DefaultIPParam', 1, '%IP% ü'), (5, 'MinsTestFiles', 1, '10'), (5, 'Autoprocess', 1, '1'),
  (5, 'RedialCommand', 1, ''), (5, 'Mask', 4, x'1e000000'), (5, 'Raw', 3, x'00ff0d0a'), (5, 'Nothing', 1, NULL),
  (7, 'FTPServer', 1, 'ftp.example.com'), (7, 'UserName', 1, 'user'), (7, 'Password', 1, 'pa''ss'),
  (7, 'DefaultDir', 1, '/www'), (8, 'Caption', 1, '/home/u/index.html'), (8, 'Subline#0', 1, 'index.html'),
  (8, 'Subline#1', 1, 'Ascii'), (8, 'Subline#2', 1, '%IP%'), (9, 'Caption', 1, 'line' || char(13, 10) || 'two'),
  (10, '', 1, 'unnamed');
)")));
    const QString snapshot =
        QStringLiteral("SELECT id, quote(parent), name FROM keys ORDER BY id;"
                       "SELECT key, name, kind, typeof(data), hex(data) FROM vals ORDER BY key, name;"
                       "SELECT name, sql FROM sqlite_schema WHERE name IN ('keys', 'vals') ORDER BY name;");
    const QString before = Sqlite3Cli(m_store.FilePath(), snapshot);
    ASSERT_TRUE(before.contains(QStringLiteral("vals|CREATE TABLE vals"))) << before.toStdString();

    TRegIniFile ini(kBase);
    EXPECT_EQ(ini.ReadText(store::GeneralOptions, store::DefaultIPParam, {}), QStringLiteral("%IP% ü"));
    CloseStore();
    EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), snapshot), before);
    EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), QStringLiteral("SELECT name, value FROM meta")),
              QStringLiteral("schema_version|1\n"));
}

// A read-only store is for looking: a file another tool made (no meta table, rollback journal)
// keeps every byte, keys it lacks read as empty, and a write fails instead of landing.
TEST_F(RegistryTest, AReadOnlyStoreChangesNoByteReadsMissingKeysAsEmptyAndRefusesWrites)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(m_store.FilePath()).absolutePath()));
    ASSERT_TRUE(MakeStoreFile(m_store.FilePath(), kKeysAndVals + QStringLiteral(R"(
INSERT INTO keys VALUES (5, 4, 'General Options');
INSERT INTO vals VALUES (5, 'MinsTestFiles', 1, '30');
)")));
    const QByteArray before = test::ReadFile(m_store.FilePath(), "<unreadable>");
    SetStoreReadOnly(true);
    {
        TRegIniFile ini(kBase);
        EXPECT_EQ(ini.ReadText(store::GeneralOptions, store::MinsTestFiles, {}), QStringLiteral("30"));
        TRegIniFile sites(kBase + QStringLiteral("\\WWWSites"));
        QStringList names{QStringLiteral("stale")};
        sites.ListSections(names);
        EXPECT_TRUE(names.isEmpty());
        EXPECT_TRUE(ErrorOf([&] {
                        ini.WriteText(store::GeneralOptions, store::MinsTestFiles, QStringLiteral("1"));
                    }).startsWith(QStringLiteral("Failed to set data for 'MinsTestFiles'")));
    }
    SetStoreReadOnly(false);
    EXPECT_EQ(test::ReadFile(m_store.FilePath(), "<unreadable>"), before);

    SetStoreReadOnly(true);
    QFile::remove(m_store.FilePath());
    EXPECT_TRUE(ErrorOf([] { TRegIniFile ini(kBase); }).contains(QStringLiteral("it does not exist")));
    SetStoreReadOnly(false);
    EXPECT_FALSE(QFile::exists(m_store.FilePath())) << "a read-only store is never made";
}

// ---- the file ----

TEST_F(RegistryTest, TheStoreIsPlainSqliteThatTheCommandLineToolReads)
{
    TRegIniFile ini(kBase);
    ini.WriteText(store::GeneralOptions, QStringLiteral("DefaultIPParam"), QStringLiteral("%IP% ü"));
    ini.WriteNumber(store::GeneralOptions, QStringLiteral("MinsTestFiles"), 10);

    const QString query = QStringLiteral(
        "SELECT k.name || '|' || v.name || '|' || v.kind || '|' || v.data FROM vals v JOIN keys k ON k.id = v.key "
        "WHERE k.parent = (SELECT id FROM keys WHERE name = 'Quelmark') ORDER BY v.name");
    EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), query),
              QStringLiteral("General Options|DefaultIPParam|1|%IP% ü\nGeneral Options|MinsTestFiles|1|10\n"));
    EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), QStringLiteral("SELECT id, quote(parent), quote(name) FROM keys "
                                                            "WHERE parent IS NULL")),
              QStringLiteral("1|NULL|''\n"));
    const QString schema = Sqlite3Cli(m_store.FilePath(), QStringLiteral(".schema"));
    EXPECT_TRUE(schema.contains(QStringLiteral("parent INTEGER REFERENCES keys(id) ON DELETE CASCADE")))
        << schema.toStdString();
    EXPECT_TRUE(schema.contains(QStringLiteral("PRIMARY KEY (key, name)"))) << schema.toStdString();
    EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), QStringLiteral("PRAGMA journal_mode")).trimmed(), QStringLiteral("wal"));
    EXPECT_EQ(Sqlite3Cli(m_store.FilePath(), QStringLiteral("SELECT name, typeof(value), value FROM meta")),
              QStringLiteral("schema_version|text|1\n"));
}

TEST_F(RegistryTest, TheStoreFileAndItsFolderArePrivateToTheUser)
{
    TRegIniFile ini(kBase);
    ini.WriteText(store::GeneralOptions, QStringLiteral("Password"), QStringLiteral("secret"));
    EXPECT_EQ(m_store.FilePath(), m_store.ConfigDir() + QStringLiteral("/Varnholt/Quelmark/store.db"));
    struct stat info {};
    for (const QString &folder : {QStringLiteral("/Varnholt"), QStringLiteral("/Varnholt/Quelmark")}) {
        ASSERT_EQ(::stat(QFile::encodeName(m_store.ConfigDir() + folder).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder.toStdString();
    }
    for (const QString &suffix : {QString(), QStringLiteral("-wal")}) {
        ASSERT_EQ(::stat(QFile::encodeName(m_store.FilePath() + suffix).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << suffix.toStdString();
    }
}

class UnusableStoreTest : public RegistryTest {
protected:
    void SetUp() override
    {
        SetStoreBusyTimeout(200);
        m_path = m_store.ConfigDir() + QStringLiteral("/elsewhere/store.db");
        SetStoreFilePath(m_path);
        QDir().mkpath(QFileInfo(m_path).absolutePath());
    }
    void TearDown() override { SetStoreBusyTimeout(5000); }

    // Every kind of access fails with a message that names the file.
    void ExpectEveryAccessFails(const QString &reason)
    {
        const auto expectNamed = [&](const QString &message) {
            EXPECT_TRUE(message.contains(m_path)) << message.toStdString();
            EXPECT_TRUE(message.contains(reason)) << message.toStdString();
        };
        expectNamed(ErrorOf([] { TRegIniFile ini(kBase); }));
        expectNamed(ErrorOf([] { TStoreTransaction transaction; }));
        expectNamed(ErrorOf([] { TRegistry().OpenKey(kBase, false); }));
    }

    QString m_path;
};

TEST_F(UnusableStoreTest, ACorruptFileIsReportedAndLeftByteForByte)
{
    QByteArray junk("This is the user's file, not a database.\n");
    junk.append(8192, '\x5a');
    ASSERT_TRUE(test::WriteFile(m_path, junk));
    ExpectEveryAccessFails(QStringLiteral("file is not a database"));
    CloseStore();
    EXPECT_EQ(test::ReadFile(m_path, "<unreadable>"), junk);
    EXPECT_FALSE(QFile::exists(m_path + QStringLiteral("-wal")));
}

TEST_F(UnusableStoreTest, APathThatCannotBeOpenedIsReported)
{
    ASSERT_TRUE(QDir().mkpath(m_path)); // a folder where the file should be
    ExpectEveryAccessFails(QStringLiteral("cannot be opened"));
}

TEST_F(UnusableStoreTest, AnUnreadableFileIsReportedAndLeftAlone)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "file modes do not keep root out";
    {
        TRegIniFile(kBase).WriteText(QStringLiteral("x"), QStringLiteral("v"), QStringLiteral("1"));
    }
    CloseStore();
    const QByteArray before = test::ReadFile(m_path, "<unreadable>");
    ASSERT_TRUE(QFile::setPermissions(m_path, QFileDevice::Permissions()));
    ExpectEveryAccessFails(QStringLiteral("cannot be opened"));
    QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(test::ReadFile(m_path, "<unreadable>"), before);
}

TEST_F(UnusableStoreTest, AFileLockedByAnotherProgramIsReportedAndLeftAlone)
{
    // A database in the classic journal mode, held by another writer for the whole test.
    sqlite::Connection holder((QFile::remove(m_path), QFile(m_path).open(QIODevice::WriteOnly), m_path.toStdString()));
    holder.Exec("CREATE TABLE other(x); INSERT INTO other VALUES(1); BEGIN EXCLUSIVE; INSERT INTO other VALUES(2);");
    const QByteArray before = test::ReadFile(m_path, "<unreadable>");
    ExpectEveryAccessFails(QStringLiteral("locked"));
    EXPECT_EQ(test::ReadFile(m_path, "<unreadable>"), before);
}

TEST_F(UnusableStoreTest, WritesFailClearlyWhileAnotherProgramHoldsTheWriteLock)
{
    TRegIniFile ini(kBase);
    ini.WriteText(store::GeneralOptions, QStringLiteral("A"), QStringLiteral("1"));
    {
        sqlite::Connection holder(m_path.toStdString());
        holder.Exec("BEGIN IMMEDIATE");
        // Reads still see the last committed state.
        EXPECT_EQ(ini.ReadText(store::GeneralOptions, QStringLiteral("A"), {}), QStringLiteral("1"));
        const QString message =
            ErrorOf([&] { ini.WriteText(store::GeneralOptions, QStringLiteral("A"), QStringLiteral("2")); });
        EXPECT_TRUE(message.startsWith(QStringLiteral("Failed to set data for 'A'\n"))) << message.toStdString();
        EXPECT_TRUE(message.contains(m_path)) << message.toStdString();
    }
    ini.WriteText(store::GeneralOptions, QStringLiteral("A"), QStringLiteral("3"));
    EXPECT_EQ(ini.ReadText(store::GeneralOptions, QStringLiteral("A"), {}), QStringLiteral("3"));
}

TEST_F(UnusableStoreTest, AWriteWaitsForALockThatIsReleasedWithinTheBusyTimeout)
{
    TRegIniFile ini(kBase);
    SetStoreBusyTimeout(10000);
    QProcess holder;
    holder.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sqlite3, sys, time\n"
                                 "db = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                 "db.execute('BEGIN IMMEDIATE')\n"
                                 "print('held', flush=True)\n"
                                 "time.sleep(0.5)\n"
                                 "db.execute('COMMIT')\n"),
                  m_path});
    ASSERT_TRUE(holder.waitForReadyRead(10000)) << "the lock holder did not start";
    ini.WriteText(store::GeneralOptions, QStringLiteral("A"), QStringLiteral("written"));
    EXPECT_EQ(ini.ReadText(store::GeneralOptions, QStringLiteral("A"), {}), QStringLiteral("written"));
    holder.waitForFinished(10000);
}

TEST_F(UnusableStoreTest, AStoreWithANewerOrUnreadableSchemaVersionIsRefusedAndLeftByteForByte)
{
    const struct {
        const char *journal; // a file in another mode than WAL must not even get the switch to WAL
        const char *version;
        QString reason;
    } cases[] = {
        {"wal", "'2'",
         QStringLiteral("it has schema version 2, newer than version 1, the newest this program knows; "
                        "it was left unchanged")},
        {"delete", "'2'", QStringLiteral("it has schema version 2, newer than version 1")},
        {"delete", "'one'", QStringLiteral("its schema version \"one\" cannot be read")},
        {"delete", "'0'", QStringLiteral("its schema version \"0\" cannot be read")},
        {"wal", nullptr, QStringLiteral("its schema version \"\" cannot be read")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.journal) + " " + (c.version ? c.version : "no version"));
        ASSERT_TRUE(MakeStoreFile(
            m_path,
            QStringLiteral("PRAGMA journal_mode=%1;").arg(QLatin1String(c.journal)) + kKeysAndVals +
                QStringLiteral("INSERT INTO vals VALUES (4, 'kept', 1, 'x');"
                               "CREATE TABLE meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);") +
                (c.version
                     ? QStringLiteral("INSERT INTO meta VALUES ('schema_version', %1);").arg(QLatin1String(c.version))
                     : QString())));
        const QByteArray before = test::ReadFile(m_path, "<unreadable>");
        ExpectEveryAccessFails(c.reason);
        EXPECT_TRUE(ErrorOf([] {
                        TRegIniFile ini(kBase);
                    }).startsWith(QStringLiteral("The settings store %1 cannot be opened: ").arg(m_path)));
        CloseStore();
        EXPECT_EQ(test::ReadFile(m_path, "<unreadable>"), before);
        EXPECT_FALSE(QFile::exists(m_path + QStringLiteral("-wal")));
    }
}

TEST_F(UnusableStoreTest, AMigrationThatFailsPartWayLeavesTheFileAsItWas)
{
    // Another program's database where the tables would go: creating `meta` fails after `keys`
    // and `vals` were made, and those must go again with it.
    ASSERT_TRUE(MakeStoreFile(m_path, QStringLiteral("PRAGMA journal_mode=WAL; CREATE TABLE t (x); "
                                                     "CREATE INDEX meta ON t (x); INSERT INTO t VALUES (1);")));
    const QByteArray before = test::ReadFile(m_path, "<unreadable>");
    ExpectEveryAccessFails(QStringLiteral("there is already an index named meta"));
    CloseStore();
    EXPECT_EQ(test::ReadFile(m_path, "<unreadable>"), before);
}

} // namespace
