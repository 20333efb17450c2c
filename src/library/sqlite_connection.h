#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace tallowcrest {

// An SQLite result code other than OK, ROW or DONE, with SQLite's message.
class SqliteError : public std::runtime_error {
public:
    SqliteError(int code, const std::string& message);
    int code() const { return m_code; }

private:
    int m_code;
};

// One prepared statement. Binding an empty text binds NULL.
class SqliteStatement {
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3* db, std::string_view sql);
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    ~SqliteStatement();

    SqliteStatement& bind(int index, std::int64_t value);
    SqliteStatement& bind(int index, const QString& text);
    SqliteStatement& bindBlob(int index, std::string_view bytes);
    SqliteStatement& bindNull(int index);
    // True while there is a row; resets itself at the end.
    bool step();
    // Steps to the end.
    void run();
    void reset();

    std::int64_t integer(int column) const;
    QString text(int column) const;
    std::string_view blob(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
};

class SqliteConnection {
public:
    // Opens or creates `file`; throws SqliteError.
    explicit SqliteConnection(const std::string& file);
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;
    ~SqliteConnection();

    void exec(const std::string& sql);
    std::int64_t number(const std::string& sql);
    SqliteStatement prepare(std::string_view sql) { return SqliteStatement(m_db, sql); }
    sqlite3* handle() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

}  // namespace tallowcrest
