// A small owner of one SQLite connection and its prepared statements, so that the store,
// its reader and the import speak SQL without handling raw handles. Errors are thrown as
// DatabaseError carrying SQLite's primary result code (SQLITE_FULL, SQLITE_BUSY, ...),
// which the writer uses to tell a full disk or a locked file from a broken one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace meradon {

class DatabaseError : public std::runtime_error {
public:
    DatabaseError(int code, const std::string &what) : std::runtime_error(what), code_(code) {}
    int Code() const { return code_; }  // the primary result code

private:
    int code_;
};

class Statement;

class Database {
public:
    enum class Access { ReadWrite, ReadOnly };

    // Opens (ReadWrite: creates) the file; throws DatabaseError when it cannot.
    Database(const std::filesystem::path &file, Access access);
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Runs statements that return nothing (several, separated by semicolons).
    void Exec(const std::string &sql);
    Statement Prepare(const std::string &sql);
    // The first column of the first row of a query, or nothing when it has no row.
    std::optional<int64_t> QueryInt(const std::string &sql);
    int64_t LastInsertId() const;
    // How long a statement waits for another connection's lock before SQLITE_BUSY.
    void SetBusyTimeout(int ms);

    sqlite3 *Handle() const { return db_; }

private:
    sqlite3 *db_ = nullptr;
};

// Commits on Commit(); rolls back when it goes out of scope without (an exception).
class Transaction {
public:
    explicit Transaction(Database &db);  // BEGIN IMMEDIATE: the write lock is taken now
    ~Transaction();
    void Commit();

private:
    Database &db_;
    bool open_ = true;
};

class Statement {
public:
    Statement(Database &db, const std::string &sql);
    ~Statement();
    Statement(Statement &&other) noexcept;
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    Statement &operator=(Statement &&) = delete;

    // Parameters count from 1.
    Statement &Bind(int index, int64_t value);
    Statement &Bind(int index, const std::string &text);
    Statement &BindNull(int index);
    // Steps once: true when a row is available, false when the statement is done.
    bool Step();
    // Steps a statement that returns no row, then resets it for the next use.
    void Run();
    void Reset();

    int64_t Int(int column) const;
    double Real(int column) const;
    std::string Text(int column) const;
    bool IsNull(int column) const;

private:
    sqlite3_stmt *stmt_ = nullptr;
    sqlite3 *db_ = nullptr;
};

}  // namespace meradon
