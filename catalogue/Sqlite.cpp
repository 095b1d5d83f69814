#include "catalogue/Sqlite.h"

#include <sqlite3.h>

namespace quelmark::sqlite {

namespace {

[[noreturn]] void Throw(sqlite3 *db, int code)
{
    const char *text = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    throw ESqliteError(db ? sqlite3_extended_errcode(db) : code, QString::fromUtf8(text));
}

} // namespace

bool ESqliteError::IsBusy() const noexcept
{
    const int primary = m_code & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

Statement::Statement(sqlite3 *db, const char *sql) : m_db(db)
{
    const int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        Throw(db, rc);
    }
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

void Statement::Fail(int code) const
{
    Throw(m_db, code);
}

void Statement::Bind(int index, std::int64_t value)
{
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK)
        Fail(rc);
}

void Statement::Bind(int index, const QByteArray &utf8)
{
    // constData() of a null array is "", so an empty text is stored, never NULL.
    const int rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        Fail(rc);
}

void Statement::BindInPlace(int index, QByteArrayView utf8)
{
    // A null pointer would bind NULL, never an empty text.
    const char *data = utf8.data() ? utf8.data() : "";
    const int rc = sqlite3_bind_text(m_stmt, index, data, int(utf8.size()), SQLITE_STATIC);
    if (rc != SQLITE_OK)
        Fail(rc);
}

bool Statement::Step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    Fail(rc);
}

void Statement::Run()
{
    while (Step()) {
    }
}

bool Statement::RunUnlessDuplicate()
{
    for (;;) {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_DONE)
            return true;
        if (rc == SQLITE_ROW)
            continue;
        const int extended = sqlite3_extended_errcode(m_db);
        if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE)
            return false;
        Fail(rc);
    }
}

void Statement::Reset() noexcept
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::int64_t Statement::Int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

bool Statement::IsNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

QByteArray Statement::Bytes(int column) const
{
    // sqlite3_column_blob() returns the stored bytes for TEXT as well, without conversion.
    const void *data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? QByteArray(static_cast<const char *>(data), size) : QByteArray();
}

QString Statement::Utf8(int column) const
{
    const void *data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    return data ? QString::fromUtf8(QByteArrayView(static_cast<const char *>(data), size)) : QString();
}

QByteArrayView Statement::View(int column) const
{
    const void *data = sqlite3_column_blob(m_stmt, column);
    return QByteArrayView(static_cast<const char *>(data), data ? sqlite3_column_bytes(m_stmt, column) : 0);
}

Connection::Connection(const std::string &path, bool readOnly)
{
    const int mode = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    const int rc = sqlite3_open_v2(path.c_str(), &m_db, mode | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const ESqliteError error(m_db ? sqlite3_extended_errcode(m_db) : rc,
                                 QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc)));
        sqlite3_close_v2(m_db);
        throw error;
    }
    sqlite3_extended_result_codes(m_db, 1);
}

Connection::~Connection()
{
    m_statements.clear();
    sqlite3_close_v2(m_db);
}

void Connection::Exec(const char *sql)
{
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        Throw(m_db, rc);
}

QByteArray Connection::QueryText(const char *sql)
{
    Statement statement(m_db, sql);
    return statement.Step() ? statement.Bytes(0) : QByteArray();
}

Statement &Connection::Cached(const char *sql)
{
    std::unique_ptr<Statement> &slot = m_statements[sql];
    if (!slot)
        slot = std::make_unique<Statement>(m_db, sql);
    return *slot;
}

bool Connection::InTransaction() const noexcept
{
    return sqlite3_get_autocommit(m_db) == 0;
}

void Connection::SetBusyTimeout(int milliseconds)
{
    const int rc = sqlite3_busy_timeout(m_db, milliseconds);
    if (rc != SQLITE_OK)
        Throw(m_db, rc);
}

Transaction::Transaction(Connection &connection, const char *begin) : m_connection(connection)
{
    m_connection.Exec(begin);
}

Transaction::~Transaction()
{
    // SQLite may already have rolled back on its own (after SQLITE_FULL, for one).
    if (m_open && m_connection.InTransaction())
        sqlite3_exec(m_connection.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit()
{
    m_connection.Exec("COMMIT");
    m_open = false;
}

} // namespace quelmark::sqlite
