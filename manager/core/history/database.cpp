#include "manager/core/history/database.h"

#include <sqlite3.h>

namespace meradon {

namespace {

[[noreturn]] void Throw(sqlite3 *db, int rc, const std::string &doing) {
    throw DatabaseError(rc & 0xFF, doing + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
}

}  // namespace

Database::Database(const std::filesystem::path &file, Access access) {
    const int flags = access == Access::ReadOnly ? SQLITE_OPEN_READONLY
                                                 : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(file.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        db_ = nullptr;
        throw DatabaseError(rc & 0xFF, "open " + file.string() + ": " + message);
    }
    sqlite3_extended_result_codes(db_, 0);
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::Exec(const std::string &sql) {
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Throw(db_, rc, sql.substr(0, 40));
}

Statement Database::Prepare(const std::string &sql) { return Statement(*this, sql); }

std::optional<int64_t> Database::QueryInt(const std::string &sql) {
    Statement query(*this, sql);
    if (!query.Step() || query.IsNull(0)) return std::nullopt;
    return query.Int(0);
}

int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

void Database::SetBusyTimeout(int ms) { sqlite3_busy_timeout(db_, ms); }

Transaction::Transaction(Database &db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
    if (open_) sqlite3_exec(db_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
    db_.Exec("COMMIT");
    open_ = false;
}

Statement::Statement(Database &db, const std::string &sql) : db_(db.Handle()) {
    const int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt_, nullptr);
    if (rc != SQLITE_OK) Throw(db_, rc, "prepare " + sql.substr(0, 40));
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement::Statement(Statement &&other) noexcept : stmt_(other.stmt_), db_(other.db_) {
    other.stmt_ = nullptr;
}

Statement &Statement::Bind(int index, int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement &Statement::Bind(int index, const std::string &text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement &Statement::BindNull(int index) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const std::string doing = std::string("step ") + sqlite3_sql(stmt_);
    sqlite3_reset(stmt_);
    Throw(db_, rc, doing.substr(0, 45));
}

void Statement::Run() {
    Step();
    Reset();
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

double Statement::Real(int column) const { return sqlite3_column_double(stmt_, column); }

std::string Statement::Text(int column) const {
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

}  // namespace meradon
