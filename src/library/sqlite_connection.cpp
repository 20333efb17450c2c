#include "library/sqlite_connection.h"

#include <sqlite3.h>

#include <utility>

namespace tallowcrest {
namespace {

void check(sqlite3* db, int code)
{
    if (code != SQLITE_OK && code != SQLITE_ROW && code != SQLITE_DONE)
        throw SqliteError(code, db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

}  // namespace

SqliteError::SqliteError(int code, const std::string& message)
    : std::runtime_error(message), m_code(code)
{
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql)
{
    check(db, sqlite3_prepare_v3(db, sql.data(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr));
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr))
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    std::swap(m_statement, other.m_statement);
    return *this;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value)
{
    check(sqlite3_db_handle(m_statement), sqlite3_bind_int64(m_statement, index, value));
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, const QString& text)
{
    if (text.isEmpty())
        return bindNull(index);
    const QByteArray utf8 = text.toUtf8();
    check(sqlite3_db_handle(m_statement),
          sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement& SqliteStatement::bindBlob(int index, std::string_view bytes)
{
    check(sqlite3_db_handle(m_statement),
          sqlite3_bind_blob(m_statement, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index)
{
    check(sqlite3_db_handle(m_statement), sqlite3_bind_null(m_statement, index));
    return *this;
}

bool SqliteStatement::step()
{
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    sqlite3_reset(m_statement);
    check(sqlite3_db_handle(m_statement), code);
    return false;
}

void SqliteStatement::run()
{
    while (step()) {
    }
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_statement);
}

std::int64_t SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::text(int column) const
{
    const auto* utf8 = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return utf8 ? QString::fromUtf8(utf8, sqlite3_column_bytes(m_statement, column)) : QString();
}

std::string_view SqliteStatement::blob(int column) const
{
    const void* bytes = sqlite3_column_blob(m_statement, column);
    return bytes ? std::string_view(static_cast<const char*>(bytes), std::size_t(sqlite3_column_bytes(m_statement, column)))
                 : std::string_view();
}

SqliteConnection::SqliteConnection(const std::string& file)
{
    const int code = sqlite3_open_v2(file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                     nullptr);
    if (code != SQLITE_OK) {
        const SqliteError error(code, m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code));
        sqlite3_close(m_db);
        throw error;
    }
    sqlite3_busy_timeout(m_db, 5000);
}

SqliteConnection::~SqliteConnection()
{
    sqlite3_close_v2(m_db);
}

void SqliteConnection::exec(const std::string& sql)
{
    check(m_db, sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr));
}

std::int64_t SqliteConnection::number(const std::string& sql)
{
    SqliteStatement statement(m_db, sql);
    const std::int64_t value = statement.step() ? statement.integer(0) : 0;
    statement.reset();
    return value;
}

}  // namespace tallowcrest
