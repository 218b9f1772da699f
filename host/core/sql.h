// One statement on the host's own tables, inside the current call's
// transaction. A failure is reported to the data-file layer, which rolls the
// call back; the statement then simply finds nothing and changes nothing.
#ifndef BBS_SQL_H
#define BBS_SQL_H

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "datafile.h"

namespace bbs {

// Asks Statement for a kept statement (kept_statement) in place of one
// prepared for this use alone.
struct Kept {};

class Statement {
public:
    explicit Statement(const char *sql) {
        if (!join_transaction()) return;
        if (sqlite3_prepare_v2(host_db(), sql, -1, &st_, nullptr) != SQLITE_OK) fail();
    }
    Statement(const char *sql, Kept) : kept_(true) {
        if (join_transaction()) st_ = kept_statement(sql);
    }
    ~Statement() {
        if (kept_)
            sqlite3_reset(st_);
        else
            sqlite3_finalize(st_);
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int i, const std::string &text) {
        if (st_) sqlite3_bind_text(st_, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(int i, int64_t value) {
        if (st_) sqlite3_bind_int64(st_, i, value);
        return *this;
    }
    // The next row; false at the end or on a failure.
    bool row() {
        if (st_ == nullptr) return false;
        int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc != SQLITE_DONE) fail();
        return false;
    }
    // Runs a statement that returns no rows.
    bool run() {
        if (st_ == nullptr) return false;
        int rc = sqlite3_step(st_);
        if (rc == SQLITE_DONE) return true;
        fail();
        return false;
    }
    std::string text(int i) const {
        const unsigned char *t = sqlite3_column_text(st_, i);
        return t ? reinterpret_cast<const char *>(t) : "";
    }
    int64_t integer(int i) const { return sqlite3_column_int64(st_, i); }
    int changes() const { return sqlite3_changes(host_db()); }

private:
    void fail() {
        report_data_error(sqlite3_errmsg(host_db()));
        if (kept_)
            sqlite3_reset(st_);
        else
            sqlite3_finalize(st_);
        st_ = nullptr;
    }
    sqlite3_stmt *st_ = nullptr;
    bool kept_ = false;
};

}  // namespace bbs

#endif
