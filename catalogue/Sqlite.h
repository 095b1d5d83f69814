// A thin RAII layer over the SQLite C API: a connection with a cache of prepared statements,
// the statements themselves, and a transaction guard. It knows nothing of keys and values;
// every failure becomes an ESqliteError carrying SQLite's result code and message.
#pragma once

#include "base/Exception.h"

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace quelmark::sqlite {

// A failed SQLite call; Code() is the extended result code.
class ESqliteError : public Exception {
public:
    ESqliteError(int code, const QString &message) : Exception(message), m_code(code) {}
    int Code() const noexcept { return m_code; }
    // True for "database is busy" and "database is locked" in all their variants.
    bool IsBusy() const noexcept;

private:
    int m_code;
};

// One prepared statement. Columns and parameters count from 0 and 1 as in SQLite.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql);
    ~Statement();
    Q_DISABLE_COPY(Statement)

    void Bind(int index, std::int64_t value);
    // Binds the bytes as TEXT (they are UTF-8); a null array binds an empty text.
    void Bind(int index, const QByteArray &utf8);
    // Binds the bytes as TEXT without copying them: they must stay unchanged until the statement
    // is reset. A null view binds an empty text.
    void BindInPlace(int index, QByteArrayView utf8);
    // Runs the statement one step; true when a row is available.
    bool Step();
    // Runs a statement that returns no rows.
    void Run();
    // Runs a statement that returns no rows; false, instead of raising, when it stops because the
    // row it adds would repeat a primary key or a unique column.
    bool RunUnlessDuplicate();
    // Makes the statement ready for new bindings and a new run.
    void Reset() noexcept;

    std::int64_t Int64(int column) const;
    bool IsNull(int column) const;
    // Returns the raw bytes of a column (TEXT or BLOB alike).
    QByteArray Bytes(int column) const;
    // Returns the bytes of a column read as UTF-8, as QString::fromUtf8(Bytes(column)) would.
    QString Utf8(int column) const;
    // Returns the raw bytes of a column without copying them: valid until the next step or
    // reset. Null where Bytes() would return a null array.
    QByteArrayView View(int column) const;

private:
    [[noreturn]] void Fail(int code) const;

    sqlite3 *m_db;
    sqlite3_stmt *m_stmt = nullptr;
};

// Resets a borrowed (cached) statement when the scope ends, whatever way it ends.
class Use {
public:
    explicit Use(Statement &statement) : m_statement(statement) {}
    ~Use() { m_statement.Reset(); }
    Q_DISABLE_COPY(Use)
    Statement *operator->() const { return &m_statement; }
    Statement &operator*() const { return m_statement; }

private:
    Statement &m_statement;
};

// One open database connection; closed by the destructor after its statements.
class Connection {
public:
    // Opens an existing file for reading and writing, or for reading only; never creates one.
    explicit Connection(const std::string &path, bool readOnly = false);
    ~Connection();
    Q_DISABLE_COPY(Connection)

    // Runs one or more statements that return no rows.
    void Exec(const char *sql);
    // Returns the single text value of a one-row query (a PRAGMA, say).
    QByteArray QueryText(const char *sql);
    // Returns the prepared statement for this SQL, preparing it on first use. The SQL must
    // have static storage: its address is the cache key.
    Statement &Cached(const char *sql);
    // True while a transaction is open on this connection.
    bool InTransaction() const noexcept;
    void SetBusyTimeout(int milliseconds);
    sqlite3 *Handle() const noexcept { return m_db; }

private:
    sqlite3 *m_db = nullptr;
    std::unordered_map<const char *, std::unique_ptr<Statement>> m_statements;
};

// Begins a transaction and rolls it back unless Commit() was called.
class Transaction {
public:
    // `begin` is the BEGIN statement to run ("BEGIN", "BEGIN IMMEDIATE").
    Transaction(Connection &connection, const char *begin = "BEGIN");
    ~Transaction();
    Q_DISABLE_COPY(Transaction)
    void Commit();

private:
    Connection &m_connection;
    bool m_open = true;
};

} // namespace quelmark::sqlite
