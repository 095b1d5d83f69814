#include "catalogue/Registry.h"

#include "base/Printable.h"
#include "catalogue/Sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quelmark {

namespace {

using sqlite::ESqliteError;
using sqlite::Use;

// The layout of `keys` and `vals` is fixed so that users and tools can read the file with the
// sqlite3 command. `meta` holds the schema version; the previous layout had no `meta`, which
// counts as version 0. IF NOT EXISTS: a version 0 store already has `keys` and `vals`.
constexpr int kSchemaVersion = 1;
constexpr const char *kCreateVersion1 = R"(
CREATE TABLE IF NOT EXISTS keys (
  id     INTEGER PRIMARY KEY,
  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
  name   TEXT NOT NULL,
  UNIQUE (parent, name)
);
CREATE TABLE IF NOT EXISTS vals (
  key  INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  kind INTEGER NOT NULL,
  data BLOB,
  PRIMARY KEY (key, name)
);
CREATE TABLE meta (
  name  TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
)";
constexpr const char *kHasMeta = "SELECT count(*) FROM sqlite_schema WHERE type='table' AND name='meta'";
constexpr const char *kReadVersion = "SELECT value FROM meta WHERE name='schema_version'";
constexpr const char *kWriteVersion = "INSERT INTO meta(name, value) VALUES('schema_version', ?1) "
                                      "ON CONFLICT(name) DO UPDATE SET value=excluded.value";
constexpr const char *kFindRoot = "SELECT id FROM keys WHERE parent IS NULL AND name='' ORDER BY id LIMIT 1";
constexpr const char *kInsertRoot = "INSERT INTO keys(parent, name) VALUES(NULL, '')";
constexpr const char *kFindChild = "SELECT id FROM keys WHERE parent=?1 AND name=?2";
constexpr const char *kInsertChild = "INSERT INTO keys(parent, name) VALUES(?1, ?2)";
// Name order, as the registry lists keys: letter case ignored first, then exact bytes, so the
// list of sites stays the same however often they are saved (a save re-creates a site's key).
constexpr const char *kListChildren =
    "SELECT id, name FROM keys WHERE parent=?1 ORDER BY name COLLATE NOCASE, name COLLATE BINARY";
constexpr const char *kDeleteKey = "DELETE FROM keys WHERE id=?1";
constexpr const char *kRenameKey = "UPDATE keys SET name=?2 WHERE id=?1";
constexpr const char *kDeleteValues = "DELETE FROM vals WHERE key=?1";
constexpr const char *kReadValue = "SELECT kind, data FROM vals WHERE key=?1 AND name=?2";
constexpr const char *kReadValues = "SELECT name, kind, data FROM vals WHERE key=?1";
constexpr const char *kInsertValue = "INSERT INTO vals(key, name, kind, data) VALUES(?1, ?2, 1, ?3)";
constexpr const char *kWriteValue = "INSERT INTO vals(key, name, kind, data) VALUES(?1, ?2, 1, ?3) "
                                    "ON CONFLICT(key, name) DO UPDATE SET kind=1, data=excluded.data";

constexpr int kKindText = int(TRegDataType::Text);
constexpr int kKindExpandText = int(TRegDataType::ExpandText);

bool IsTextKind(int kind)
{
    return kind == kKindText || kind == kKindExpandText;
}

// A value as read: its kind, and its text when it is of a text kind (the only kind ever read).
struct StoredValue {
    int kind;
    QString text;
};

// The one connection of the process, with the state that lives as long as it does.
struct Store {
    QString path;
    std::unique_ptr<sqlite::Connection> db;
    std::int64_t root = 0;
    int depth = 0;       // nesting of TStoreTransaction
    bool doomed = false; // an inner transaction ended without Commit()
    std::uint64_t generation = 0;
    // Key ids by (parent, name); trusted only inside a transaction, where no one else writes.
    QHash<QPair<qint64, QString>, qint64> keyCache;
    // The last path resolved inside a transaction: a row's values are read and written one
    // after the other against the same section, so this spares splitting and walking it again.
    struct {
        std::int64_t from = -2;
        QString path;
        std::int64_t id = 0;
    } lastPath;
    // Keys made inside the current transaction. Every subkey made below one of them went into
    // keyCache, so a child missing there is absent without asking the file, and a value written
    // to one is new unless this transaction wrote it before.
    QSet<qint64> freshKeys;
    // Every value of the key read last inside a transaction: a row's values are read one after
    // the other, and one query for the whole key spares one query per value. Names and data
    // stay UTF-8 in one buffer that is kept from key to key.
    struct Entry {
        qsizetype name, nameSize, data, dataSize;
        int kind;
        bool null; // data is NULL
    };
    struct {
        std::int64_t key = -1;
        std::vector<Entry> entries;
        std::string bytes;
        std::size_t next = 0; // where the next look-up starts: values are mostly read in order
    } lastValues;
    // Reused buffers for the UTF-8 form of values' names and texts as they are written.
    std::string nameUtf8, textUtf8;
    std::vector<std::string> batchUtf8;
    // Statements that insert (into a key made in this transaction) or write several values in
    // one go, by their number of values. Declared after `db`, so they go before it.
    std::vector<std::unique_ptr<sqlite::Statement>> insertRows, writeRows;

    void ForgetValues() { lastValues.key = -1; }
    void ForgetKeys()
    {
        keyCache.clear();
        freshKeys.clear();
        lastPath.from = -2;
        ForgetValues();
    }
};

std::unique_ptr<Store> g_store;
QString g_pathOverride;
bool g_readOnly = false;

// The id a read-only store gives a key it lacks, its root included: no row has it (the program
// never chooses ids), so the key lists no subkeys and holds no values.
constexpr std::int64_t kAbsentKey = std::numeric_limits<std::int64_t>::max();
int g_busyTimeout = 5000;
std::uint64_t g_generations = 0;

QString Detail(const Store &store, const ESqliteError &error)
{
    return QStringLiteral("Settings store %1: %2")
        .arg(PrintableText(QDir::toNativeSeparators(store.path)), PrintableText(error.Message()));
}

// The fixed first line the user knows (a key or value name in it as text from the store, on one
// line), then what went wrong and in which file.
[[noreturn]] void Fail(const Store &store, const QString &what, const ESqliteError &error)
{
    throw ERegistryException(PrintableText(what) + QLatin1Char('\n') + Detail(store, error));
}

[[noreturn]] void FailOpen(const QString &path, const QString &reason)
{
    throw ERegistryException(QStringLiteral("The settings store %1 cannot be opened: %2")
                                 .arg(PrintableText(QDir::toNativeSeparators(path)), reason));
}

// Creates the missing folders of the path with mode 0700: settings hold passwords.
void MakeFolders(const QString &storePath)
{
    const QString folder = QFileInfo(storePath).absolutePath();
    QString built;
    for (const QString &level : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        built += QLatin1Char('/') + level;
        const QByteArray native = QFile::encodeName(built);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            FailOpen(storePath, QStringLiteral("the folder %1 cannot be created (%2)")
                                    .arg(built, QString::fromLocal8Bit(std::strerror(errno))));
    }
}

// Creates an empty file with mode 0600 when none exists, so SQLite (and its -wal and -shm
// files, which copy the mode) never makes the store readable by others. An existing file is
// left exactly as it is.
void MakeFileIfMissing(const QString &storePath)
{
    const QByteArray native = QFile::encodeName(storePath);
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno != EEXIST)
        FailOpen(storePath, QString::fromLocal8Bit(std::strerror(errno)));
}

std::optional<std::int64_t> FindRoot(sqlite::Connection &db)
{
    Use find(db.Cached(kFindRoot));
    if (!find->Step())
        return std::nullopt;
    return find->Int64(0);
}

// Returns the schema version the file records: 0 for the previous layout (and for an empty
// file), which had no `meta`. A version that is not a plain positive number is refused: the file
// was changed by something that is not this program, and writing to it could lose data.
std::int64_t StoredSchemaVersion(sqlite::Connection &db, const QString &path)
{
    if (db.QueryText(kHasMeta).toInt() == 0)
        return 0;
    const QByteArray text = db.QueryText(kReadVersion);
    bool ok = false;
    const std::int64_t version = text.toLongLong(&ok);
    if (!ok || version < 1 || QByteArray::number(version) != text)
        FailOpen(path, QStringLiteral("its schema version \"%1\" cannot be read").arg(QString::fromUtf8(text)));
    if (version > kSchemaVersion)
        FailOpen(path, QStringLiteral("it has schema version %1, newer than version %2, the newest this program "
                                      "knows; it was left unchanged")
                           .arg(version)
                           .arg(kSchemaVersion));
    return version;
}

// Brings the layout from `version` up to kSchemaVersion, keeping every key and value. Runs in
// the caller's transaction, so a step that fails leaves the file as it was. The next layout
// change adds its step after the last one.
void Migrate(sqlite::Connection &db, std::int64_t version)
{
    if (version < 1)
        db.Exec(kCreateVersion1);
    sqlite::Statement write(db.Handle(), kWriteVersion);
    write.Bind(1, QByteArray::number(kSchemaVersion));
    write.Run();
}

// Migrates and creates the root only when needed, so that a current store opens without taking
// the write lock.
std::int64_t PrepareSchema(sqlite::Connection &db, const QString &path, std::int64_t version)
{
    if (version == kSchemaVersion) {
        if (const auto root = FindRoot(db))
            return *root;
    }
    sqlite::Transaction transaction(db, "BEGIN IMMEDIATE");
    // Another program may have migrated the file while this one waited for the lock.
    version = StoredSchemaVersion(db, path);
    if (version < kSchemaVersion)
        Migrate(db, version);
    if (!FindRoot(db))
        db.Exec(kInsertRoot);
    const std::int64_t root = *FindRoot(db);
    transaction.Commit();
    return root;
}

// Opens the file as it stands for reading: the layout of version 0 reads like the current one,
// and a file without its root reads as an empty store.
std::unique_ptr<Store> OpenStoreReadOnly(const QString &path)
{
    if (!QFileInfo::exists(path))
        FailOpen(path, QStringLiteral("it does not exist"));
    auto store = std::make_unique<Store>();
    store->path = path;
    try {
        store->db = std::make_unique<sqlite::Connection>(QFile::encodeName(path).toStdString(), true);
        store->db->SetBusyTimeout(g_busyTimeout);
        StoredSchemaVersion(*store->db, path);
        store->root = FindRoot(*store->db).value_or(kAbsentKey);
    } catch (const ESqliteError &error) {
        FailOpen(path, error.Message());
    }
    store->generation = ++g_generations;
    return store;
}

std::unique_ptr<Store> OpenStore(const QString &path)
{
    if (g_readOnly)
        return OpenStoreReadOnly(path);
    MakeFolders(path);
    MakeFileIfMissing(path);
    auto store = std::make_unique<Store>();
    store->path = path;
    try {
        store->db = std::make_unique<sqlite::Connection>(QFile::encodeName(path).toStdString());
        store->db->SetBusyTimeout(g_busyTimeout);
        store->db->Exec("PRAGMA foreign_keys=ON");
        // The first statement that reads the file: a file that is not a database, or one that a
        // newer program has laid out, stops here, before anything could be written to it (even
        // the switch to WAL below rewrites the header of a file in another journal mode).
        const std::int64_t version = StoredSchemaVersion(*store->db, path);
        store->db->QueryText("PRAGMA journal_mode=WAL");
        store->db->Exec("PRAGMA synchronous=NORMAL");
        store->root = PrepareSchema(*store->db, path, version);
    } catch (const ESqliteError &error) {
        FailOpen(path, error.Message());
    }
    store->generation = ++g_generations;
    return store;
}

Store &TheStore()
{
    if (!g_store)
        g_store = OpenStore(StoreFilePath());
    return *g_store;
}

// Ends one level of TStoreTransaction without committing; the outermost level rolls back.
void LeaveTransaction(Store &store) noexcept
{
    if (--store.depth > 0)
        return;
    if (store.db->InTransaction())
        sqlite3_exec(store.db->Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    store.ForgetKeys();
    store.doomed = false;
}

std::optional<std::int64_t> FindChild(Store &store, std::int64_t parent, const QString &name)
{
    const bool cacheable = store.depth > 0;
    if (cacheable) {
        const auto hit = store.keyCache.constFind(qMakePair(qint64(parent), name));
        if (hit != store.keyCache.cend())
            return *hit;
        if (store.freshKeys.contains(parent))
            return std::nullopt;
    }
    Use find(store.db->Cached(kFindChild));
    find->Bind(1, parent);
    find->Bind(2, name.toUtf8());
    if (!find->Step())
        return std::nullopt;
    const std::int64_t id = find->Int64(0);
    if (cacheable)
        store.keyCache.insert(qMakePair(qint64(parent), name), id);
    return id;
}

std::int64_t CreateChild(Store &store, std::int64_t parent, const QString &name)
{
    Use insert(store.db->Cached(kInsertChild));
    insert->Bind(1, parent);
    insert->Bind(2, name.toUtf8());
    insert->Run();
    const std::int64_t id = sqlite3_last_insert_rowid(store.db->Handle());
    if (store.depth > 0) {
        store.keyCache.insert(qMakePair(qint64(parent), name), id);
        store.freshKeys.insert(id);
    }
    return id;
}

// Follows a key path from `from` (or from the root for an absolute path); with `create`,
// makes the missing levels. nullopt when a level is absent and not created. Raises "Failed to
// open key %s" when a level cannot be looked up and "Failed to create key %s" when one cannot
// be made.
std::optional<std::int64_t> ResolveKey(Store &store, std::int64_t from, const QString &path, bool create)
{
    const bool cacheable = store.depth > 0;
    if (cacheable && store.lastPath.from == from && store.lastPath.path == path)
        return store.lastPath.id;
    bool absolute = false;
    const QStringList levels = SplitKeyPath(path, absolute);
    std::int64_t id = absolute || from < 0 ? store.root : from;
    for (const QString &level : levels) {
        std::optional<std::int64_t> child;
        try {
            child = FindChild(store, id, level);
        } catch (const ESqliteError &error) {
            Fail(store, QStringLiteral("Failed to open key %1").arg(path), error);
        }
        if (child) {
            id = *child;
            continue;
        }
        if (!create)
            return std::nullopt;
        try {
            id = CreateChild(store, id, level);
        } catch (const ESqliteError &error) {
            Fail(store, QStringLiteral("Failed to create key %1").arg(path), error);
        }
    }
    if (cacheable)
        store.lastPath = {from, path, id};
    return id;
}

std::optional<std::int64_t> FindKey(Store &store, std::int64_t from, const QString &path)
{
    return ResolveKey(store, from, path, false);
}

// Returns the text a transaction reports when it cannot begin. Only the outermost one begins,
// so a nested one is spared making it.
template <typename Make> QString BeginFailure(const Store &store, Make make)
{
    return store.depth > 0 ? QString() : make();
}

// Creates the key path in a transaction of its own (nested in the caller's, if any), so a
// failure leaves no half-made path behind.
std::int64_t CreateKey(std::int64_t from, const QString &path)
{
    Store &store = TheStore();
    // Outside a transaction an existing key needs no write lock, so opening an accessor to read
    // never waits for another writer. Inside one the lock is held already: one walk will do. A
    // read-only store makes nothing: a key it lacks reads as empty.
    if (store.depth == 0 || g_readOnly) {
        if (const auto existing = FindKey(store, from, path))
            return *existing;
        if (g_readOnly)
            return kAbsentKey;
    }
    TStoreTransaction transaction(
        BeginFailure(store, [&] { return QStringLiteral("Failed to create key %1").arg(path); }));
    const std::int64_t id = *ResolveKey(store, from, path, true);
    transaction.Commit();
    return id;
}

StoredValue ReadStoredValue(const sqlite::Statement &read, int kindColumn)
{
    const int kind = int(read.Int64(kindColumn));
    return {kind, IsTextKind(kind) ? read.Utf8(kindColumn + 1) : QString()};
}

// Reads every value of the key into store.lastValues, unless they are there already. Trusted
// only inside a transaction, where no one else writes and every write of ours forgets them.
void LoadKeyValues(Store &store, std::int64_t key)
{
    auto &last = store.lastValues;
    if (last.key == key)
        return;
    store.ForgetValues();
    last.entries.clear();
    last.bytes.clear();
    last.next = 0;
    Use read(store.db->Cached(kReadValues));
    read->Bind(1, key);
    while (read->Step()) {
        Store::Entry entry{};
        const QByteArrayView name = read->View(0);
        const QByteArrayView data = read->View(2);
        entry.name = qsizetype(last.bytes.size());
        entry.nameSize = name.size();
        last.bytes.append(name.data(), name.size());
        entry.data = qsizetype(last.bytes.size());
        entry.dataSize = data.size();
        entry.null = data.isNull();
        last.bytes.append(data.data(), data.size());
        entry.kind = int(read->Int64(1));
        last.entries.push_back(entry);
    }
    last.key = key;
}

// Tells whether the stored UTF-8 bytes are the name's UTF-8 form, as the file compares names.
bool SameName(QByteArrayView stored, QStringView name)
{
    // A character never takes fewer UTF-8 bytes than UTF-16 units.
    if (stored.size() < name.size())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c >= 0x80)
            return stored == QByteArrayView(name.toString().toUtf8());
        if (uchar(stored[i]) != c)
            return false;
    }
    return stored.size() == name.size();
}

std::optional<StoredValue> ValueOfKey(Store &store, std::int64_t key, const QString &name)
{
    LoadKeyValues(store, key);
    auto &last = store.lastValues;
    const std::size_t count = last.entries.size();
    for (std::size_t n = 0; n < count; ++n) {
        const std::size_t i = (last.next + n) % count;
        const Store::Entry &entry = last.entries[i];
        if (!SameName(QByteArrayView(last.bytes.data() + entry.name, entry.nameSize), name))
            continue;
        last.next = i + 1;
        if (!IsTextKind(entry.kind) || entry.null)
            return StoredValue{entry.kind, QString()};
        return StoredValue{entry.kind,
                           QString::fromUtf8(QByteArrayView(last.bytes.data() + entry.data, entry.dataSize))};
    }
    return std::nullopt;
}

std::optional<StoredValue> FetchValue(Store &store, std::int64_t key, const QString &name)
{
    try {
        if (store.depth > 0)
            return ValueOfKey(store, key, name);
        Use read(store.db->Cached(kReadValue));
        read->Bind(1, key);
        read->Bind(2, name.toUtf8());
        if (!read->Step())
            return std::nullopt;
        return ReadStoredValue(*read, 0);
    } catch (const ESqliteError &error) {
        Fail(store, QStringLiteral("Failed to get data for '%1'").arg(name), error);
    }
}

QString ValueAsText(const StoredValue &value, const QString &name)
{
    // Expandable text is returned as it is stored: the program never expands it.
    if (!IsTextKind(value.kind))
        throw ERegistryException(QStringLiteral("Invalid data type for '%1'").arg(PrintableText(name)));
    return value.text;
}

// Returns the UTF-8 form of the text, made in the buffer, which is kept from call to call:
// ASCII text, as nearly every name and value is, is copied without allocating.
QByteArrayView Utf8In(QStringView text, std::string &buffer)
{
    buffer.resize(std::size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c >= 0x80) {
            const QByteArray utf8 = text.toUtf8();
            buffer.assign(utf8.constData(), std::size_t(utf8.size()));
            break;
        }
        buffer[std::size_t(i)] = char(c);
    }
    return QByteArrayView(buffer.data(), qsizetype(buffer.size()));
}

// Adds a value to a key made in this transaction without looking for one to replace; false
// when this transaction wrote that name there already.
bool InsertNewText(Store &store, std::int64_t key, QByteArrayView name, QByteArrayView value)
{
    Use insert(store.db->Cached(kInsertValue));
    insert->Bind(1, key);
    insert->BindInPlace(2, name);
    insert->BindInPlace(3, value);
    return insert->RunUnlessDuplicate();
}

void StoreText(Store &store, std::int64_t key, const QString &name, const QString &value)
{
    store.ForgetValues();
    const QByteArrayView nameBytes = Utf8In(name, store.nameUtf8);
    const QByteArrayView valueBytes = Utf8In(value, store.textUtf8);
    try {
        if (store.depth > 0 && store.freshKeys.contains(key) && InsertNewText(store, key, nameBytes, valueBytes))
            return;
        Use write(store.db->Cached(kWriteValue));
        write->Bind(1, key);
        write->BindInPlace(2, nameBytes);
        write->BindInPlace(3, valueBytes);
        write->Run();
    } catch (const ESqliteError &error) {
        Fail(store, QStringLiteral("Failed to set data for '%1'").arg(name), error);
    }
}

// At most this many values go into one statement; a longer list takes several.
constexpr qsizetype kValuesPerStatement = 16;

// Returns the statement that inserts, or inserts or replaces, `count` values of one key: ?1 is
// the key, then a name and a text for each value.
sqlite::Statement &RowsStatement(Store &store, qsizetype count, bool insertOnly)
{
    auto &statements = insertOnly ? store.insertRows : store.writeRows;
    if (statements.size() <= std::size_t(count))
        statements.resize(std::size_t(count) + 1);
    std::unique_ptr<sqlite::Statement> &slot = statements[std::size_t(count)];
    if (!slot) {
        QByteArray sql("INSERT INTO vals(key, name, kind, data) VALUES");
        for (qsizetype i = 0; i < count; ++i)
            sql += QByteArray(i ? "," : "") + "(?1, ?" + QByteArray::number(2 + 2 * i) + ", 1, ?" +
                   QByteArray::number(3 + 2 * i) + ")";
        if (!insertOnly)
            sql += " ON CONFLICT(key, name) DO UPDATE SET kind=1, data=excluded.data";
        slot = std::make_unique<sqlite::Statement>(store.db->Handle(), sql.constData());
    }
    return *slot;
}

// Writes the values [first, first + count) in one statement; false when the statement failed
// and the file is as it was before it.
bool StoreTextsAtOnce(Store &store, std::int64_t key, const TRegValues &values, qsizetype first, qsizetype count)
{
    const bool fresh = store.depth > 0 && store.freshKeys.contains(key);
    if (store.batchUtf8.size() < std::size_t(2 * count))
        store.batchUtf8.resize(std::size_t(2 * count));
    Use write(RowsStatement(store, count, fresh));
    write->Bind(1, key);
    for (qsizetype i = 0; i < count; ++i) {
        write->BindInPlace(int(2 + 2 * i), Utf8In(values.Ident(first + i), store.batchUtf8[std::size_t(2 * i)]));
        write->BindInPlace(int(3 + 2 * i), Utf8In(values.Text(first + i), store.batchUtf8[std::size_t(2 * i + 1)]));
    }
    try {
        write->Run();
    } catch (const ESqliteError &) {
        // A failed statement leaves nothing of itself behind as long as the transaction
        // survives it; when SQLite has ended the transaction, there is nothing left to redo.
        if (!store.db->InTransaction())
            throw;
        return false;
    }
    return true;
}

void StoreTexts(Store &store, std::int64_t key, const TRegValues &values)
{
    store.ForgetValues();
    for (qsizetype first = 0; first < values.Count(); first += kValuesPerStatement) {
        const qsizetype count = std::min(kValuesPerStatement, values.Count() - first);
        bool done = false;
        try {
            done = StoreTextsAtOnce(store, key, values, first, count);
        } catch (const ESqliteError &error) {
            Fail(store, QStringLiteral("Failed to set data for '%1'").arg(values.Ident(first)), error);
        }
        // A name twice among them, or a failure: one value at a time, which replaces what it
        // must and raises for the very value that fails.
        if (!done) {
            for (qsizetype i = first; i < first + count; ++i)
                StoreText(store, key, values.Ident(i), values.Text(i));
        }
    }
}

std::vector<std::pair<std::int64_t, QString>> Children(Store &store, std::int64_t key)
{
    std::vector<std::pair<std::int64_t, QString>> children;
    Use list(store.db->Cached(kListChildren));
    list->Bind(1, key);
    while (list->Step())
        children.emplace_back(list->Int64(0), list->Utf8(1));
    return children;
}

// Collects the children first: the cached list statement must be free again before the
// recursion uses it.
void DeleteTree(Store &store, std::int64_t key)
{
    store.ForgetValues();
    for (const auto &child : Children(store, key))
        DeleteTree(store, child.first);
    Use values(store.db->Cached(kDeleteValues));
    values->Bind(1, key);
    values->Run();
    Use remove(store.db->Cached(kDeleteKey));
    remove->Bind(1, key);
    remove->Run();
}

} // namespace

QString StoreFilePath()
{
    if (!g_pathOverride.isEmpty())
        return g_pathOverride;
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/store.db");
}

void SetStoreFilePath(const QString &path)
{
    CloseStore();
    g_pathOverride = path;
}

void CloseStore()
{
    g_store.reset();
}

void SetStoreReadOnly(bool readOnly)
{
    CloseStore();
    g_readOnly = readOnly;
}

void SetStoreBusyTimeout(int milliseconds)
{
    g_busyTimeout = milliseconds;
    if (g_store)
        g_store->db->SetBusyTimeout(milliseconds);
}

QStringList SplitKeyPath(const QString &path, bool &absolute)
{
    absolute = path.startsWith(QLatin1Char('\\'));
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

TStoreTransaction::TStoreTransaction() : TStoreTransaction(QStringLiteral("Failed to begin a transaction")) {}

TStoreTransaction::TStoreTransaction(const QString &failureText)
{
    Store &store = TheStore();
    if (store.depth == 0) {
        // IMMEDIATE: a deferred transaction that later needs to write cannot wait for another
        // writer (SQLite reports busy at once to avoid a deadlock), so the lock is taken here.
        // A read-only store never writes, and must not keep writers waiting.
        try {
            store.db->Exec(g_readOnly ? "BEGIN" : "BEGIN IMMEDIATE");
        } catch (const ESqliteError &error) {
            Fail(store, failureText, error);
        }
        store.doomed = false;
    }
    ++store.depth;
    m_generation = store.generation;
}

TStoreTransaction::~TStoreTransaction()
{
    if (m_done || !g_store || g_store->generation != m_generation)
        return;
    g_store->doomed = true;
    LeaveTransaction(*g_store);
}

void TStoreTransaction::Commit()
{
    if (m_done)
        return;
    m_done = true;
    if (!g_store || g_store->generation != m_generation)
        throw ERegistryException(QStringLiteral("The settings store was closed before its changes were saved"));
    Store &store = *g_store;
    if (store.depth > 1) {
        --store.depth;
        return;
    }
    if (store.doomed) {
        LeaveTransaction(store);
        throw ERegistryException(QStringLiteral("The changes to the settings store were rolled back because "
                                                "part of them failed"));
    }
    try {
        store.db->Exec("COMMIT");
    } catch (const ESqliteError &error) {
        LeaveTransaction(store);
        Fail(store, QStringLiteral("Failed to save the changes"), error);
    }
    LeaveTransaction(store);
}

TRegistry::TRegistry() = default;
TRegistry::~TRegistry() = default;

bool TRegistry::OpenKey(const QString &key, bool canCreate)
{
    Store &store = TheStore();
    const auto id = canCreate ? std::optional(CreateKey(m_currentKey, key)) : FindKey(store, m_currentKey, key);
    if (!id)
        return false;
    bool absolute = false;
    const QStringList levels = SplitKeyPath(key, absolute);
    if (absolute || m_currentKey < 0)
        m_currentPath.clear();
    for (const QString &level : levels)
        m_currentPath += QLatin1Char('\\') + level;
    m_currentKey = *id;
    return true;
}

void TRegistry::CloseKey()
{
    m_currentKey = -1;
    m_currentPath.clear();
}

bool TRegistry::ValueExists(const QString &name) const
{
    Store &store = TheStore();
    return FetchValue(store, m_currentKey < 0 ? store.root : m_currentKey, name).has_value();
}

int TRegistry::GetDataType(const QString &name) const
{
    Store &store = TheStore();
    const auto value = FetchValue(store, m_currentKey < 0 ? store.root : m_currentKey, name);
    return value ? value->kind : -1;
}

QString TRegistry::ReadString(const QString &name) const
{
    Store &store = TheStore();
    const auto value = FetchValue(store, m_currentKey < 0 ? store.root : m_currentKey, name);
    return value ? ValueAsText(*value, name) : QString();
}

void TRegistry::WriteString(const QString &name, const QString &value)
{
    Store &store = TheStore();
    StoreText(store, m_currentKey < 0 ? store.root : m_currentKey, name, value);
}

void TRegistry::GetKeyNames(QStringList &names) const
{
    Store &store = TheStore();
    names.clear();
    try {
        const std::int64_t key = m_currentKey < 0 ? store.root : m_currentKey;
        for (const auto &child : Children(store, key)) {
            names.append(child.second);
            // The keys listed are usually opened next, one by one.
            if (store.depth > 0)
                store.keyCache.insert(qMakePair(qint64(key), child.second), child.first);
        }
    } catch (const ESqliteError &error) {
        Fail(store, QStringLiteral("Failed to list the keys of %1").arg(m_currentPath), error);
    }
}

bool TRegistry::DeleteKey(const QString &key)
{
    bool absolute = false;
    if (SplitKeyPath(key, absolute).isEmpty())
        return false;
    Store &store = TheStore();
    TStoreTransaction transaction(QStringLiteral("Failed to delete key %1").arg(key));
    const auto id = FindKey(store, m_currentKey, key);
    if (!id) {
        // An absent key is an answer, not a failure: it must not doom an enclosing save.
        transaction.Commit();
        return false;
    }
    try {
        DeleteTree(store, *id);
    } catch (const ESqliteError &error) {
        Fail(store, QStringLiteral("Failed to delete key %1").arg(key), error);
    }
    // Deleted ids may come back for new keys; no cached path may point at them.
    store.ForgetKeys();
    transaction.Commit();
    return true;
}

bool TRegistry::MoveKey(const QString &oldName, const QString &newName)
{
    const QString failure = QStringLiteral("Failed to move key %1 to %2").arg(oldName, newName);
    bool absolute = false;
    if (SplitKeyPath(oldName, absolute) != QStringList{oldName} ||
        SplitKeyPath(newName, absolute) != QStringList{newName})
        throw ERegistryException(failure);
    Store &store = TheStore();
    TStoreTransaction transaction(failure);
    const std::int64_t parent = m_currentKey < 0 ? store.root : m_currentKey;
    std::optional<std::int64_t> id;
    try {
        id = FindChild(store, parent, oldName);
        if (id && FindChild(store, parent, newName))
            throw ERegistryException(failure + QStringLiteral("\nA key of that name exists."));
        if (id) {
            Use rename(store.db->Cached(kRenameKey));
            rename->Bind(1, *id);
            rename->Bind(2, newName.toUtf8());
            rename->Run();
        }
    } catch (const ESqliteError &error) {
        Fail(store, failure, error);
    }
    // Paths cached under the old name lead nowhere now.
    store.ForgetKeys();
    transaction.Commit();
    return id.has_value();
}

TRegIniFile::TRegIniFile(const QString &keyPath)
{
    OpenKey(keyPath, true);
}

QString TRegIniFile::ReadText(const QString &section, const QString &ident, const QString &defaultValue)
{
    Store &store = TheStore();
    const auto key = FindKey(store, m_currentKey, section);
    if (!key)
        return defaultValue;
    const auto value = FetchValue(store, *key, ident);
    return value ? ValueAsText(*value, ident) : defaultValue;
}

void TRegIniFile::WriteText(const QString &section, const QString &ident, const QString &value)
{
    Store &store = TheStore();
    TStoreTransaction transaction(
        BeginFailure(store, [&] { return QStringLiteral("Failed to set data for '%1'").arg(ident); }));
    StoreText(store, CreateKey(m_currentKey, section), ident, value);
    transaction.Commit();
}

std::int32_t TRegIniFile::ReadNumber(const QString &section, const QString &ident, std::int32_t defaultValue)
{
    std::int32_t value = 0;
    return ParseStoredNumber(ReadText(section, ident, QString()), value) ? value : defaultValue;
}

void TRegIniFile::WriteValues(const QString &section, const TRegValues &values)
{
    if (values.Count() == 0)
        return;
    Store &store = TheStore();
    TStoreTransaction transaction(
        BeginFailure(store, [&] { return QStringLiteral("Failed to set data for '%1'").arg(values.Ident(0)); }));
    StoreTexts(store, CreateKey(m_currentKey, section), values);
    transaction.Commit();
}

void TRegIniFile::WriteNumber(const QString &section, const QString &ident, std::int32_t value)
{
    WriteText(section, ident, QString::number(value));
}

bool TRegIniFile::ReadFlag(const QString &section, const QString &ident, bool defaultValue)
{
    return ReadNumber(section, ident, defaultValue ? 1 : 0) != 0;
}

void TRegIniFile::WriteFlag(const QString &section, const QString &ident, bool value)
{
    WriteText(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TRegIniFile::ListSections(QStringList &sections)
{
    GetKeyNames(sections);
}

bool TRegIniFile::DeleteSection(const QString &section)
{
    return DeleteKey(section);
}

void TRegValues::AddText(const QString &ident, const QString &value)
{
    m_idents.append(ident);
    m_texts.append(value);
}

void TRegValues::AddNumber(const QString &ident, std::int32_t value)
{
    AddText(ident, QString::number(value));
}

void TRegValues::AddFlag(const QString &ident, bool value)
{
    AddText(ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TRegValues::Clear()
{
    m_idents.clear();
    m_texts.clear();
}

namespace {

int DigitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int digit = -1;
    if (u >= u'0' && u <= u'9')
        digit = u - u'0';
    else if (u >= u'a' && u <= u'f')
        digit = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        digit = u - u'A' + 10;
    return digit < base ? digit : -1;
}

} // namespace

QString CheckStoreAtStart()
{
    try {
        TStoreTransaction probe;
        probe.Commit();
    } catch (const Exception &error) {
        return error.Message();
    }
    return QString();
}

bool ParseStoredNumber(const QString &text, std::int32_t &value)
{
    QStringView rest(text);
    bool negative = false;
    if (rest.startsWith(QLatin1Char('-')) || rest.startsWith(QLatin1Char('+'))) {
        negative = rest.front() == QLatin1Char('-');
        rest = rest.mid(1);
    }
    int base = 10;
    if (rest.startsWith(QLatin1Char('$'))) {
        base = 16;
        rest = rest.mid(1);
    } else if (rest.startsWith(QLatin1String("0x")) || rest.startsWith(QLatin1String("0X"))) {
        base = 16;
        rest = rest.mid(2);
    }
    if (rest.isEmpty())
        return false;
    // Decimal must fit as it is; hexadecimal may use all 32 bits, as a colour or mask does.
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t magnitude = 0;
    for (const QChar c : rest) {
        const int digit = DigitValue(c, base);
        if (digit < 0)
            return false;
        magnitude = magnitude * base + std::uint64_t(digit);
        if (magnitude > limit)
            return false;
    }
    std::int64_t result = base == 16 ? std::int64_t(std::int32_t(std::uint32_t(magnitude))) : std::int64_t(magnitude);
    if (negative)
        result = -result;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    value = std::int32_t(result);
    return true;
}

} // namespace quelmark
