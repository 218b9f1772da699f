// The dfa… operations and the data store under them. See datafile.h for the
// file format and the transaction rules.
#include "datafile.h"

#include <sqlite3.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string_view>

#include "core.h"

namespace {

enum Statement {
    GET_EQUAL,
    GET_FIRST,
    GET_NEXT,
    STEP_FIRST,
    STEP_NEXT,
    INSERT,
    UPDATE,
    UPDATE_RECORD,
    DELETE,
    STATEMENT_COUNT
};

// Every statement reads or writes the file's schema, whose name stands
// where the SQL says "$".
constexpr std::array<const char *, STATEMENT_COUNT> statement_sql = {
    "SELECT seq, record, key FROM $.records WHERE key = ?1",
    "SELECT seq, record, key FROM $.records ORDER BY key LIMIT 1",
    "SELECT seq, record, key FROM $.records WHERE key > ?1 ORDER BY key LIMIT 1",
    "SELECT seq, record, key FROM $.records ORDER BY seq LIMIT 1",
    "SELECT seq, record, key FROM $.records WHERE seq > ?1 ORDER BY seq LIMIT 1",
    "INSERT INTO $.records(key, record) VALUES(?1, ?2)",
    "UPDATE $.records SET key = ?1, record = ?2 WHERE seq = ?3",
    // A rewrite that keeps the key leaves the key's index alone: most
    // updates are of this kind, and the index is half their cost.
    "UPDATE $.records SET record = ?2 WHERE seq = ?3",
    "DELETE FROM $.records WHERE seq = ?1",
};

// A key is the text at the head of the record: a user-ID, NUL included in
// UIDSIZ bytes.
constexpr size_t KEY_LIMIT = UIDSIZ;

}  // namespace

// A plug-in's handle. Handles are never freed while the process lives, so a
// plug-in holding one after dfaClose (or after the store was closed) gets 0
// from every operation rather than touching freed memory.
struct dfa_file {
    std::string name;    // as the plug-in gave it, for messages
    std::string path;
    std::string schema;  // the name it is ATTACHed under
    int record_length = 0;
    int open_count = 0;  // 0: closed
    std::array<sqlite3_stmt *, STATEMENT_COUNT> statements{};

    // The current record (what dfaUpdate and dfaDelete act on) and the
    // place in insertion order that DFA_STEP_NEXT goes on from. A delete
    // ends the first but keeps the second, so a walk can delete as it goes.
    bool has_current = false;
    sqlite3_int64 current = 0;
    std::string current_key;  // the key column of the current record, as stored
    bool has_position = false;
    sqlite3_int64 position = 0;
};

namespace bbs {
namespace {

struct Store {
    sqlite3 *db = nullptr;
    int depth = 0;        // CallTransactions alive
    bool begun = false;   // the outermost one has issued BEGIN
    bool failed = false;  // this call met an error: its work is gone
    std::vector<dfa_file *> detach_later;
    int next_schema = 0;
};

Store g_store;
std::vector<std::unique_ptr<dfa_file>> g_handles;
std::map<std::string, sqlite3_stmt *> g_kept;
std::vector<dfa_file *> g_selection_stack;
dfa_file *g_selected = nullptr;
std::string g_error;

// A plug-in that sets without restoring must not grow the stack forever;
// the oldest entries go first.
constexpr size_t SELECTION_STACK_LIMIT = 256;

bool exec(const char *sql) { return sqlite3_exec(g_store.db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

void forget_positions() {
    for (auto &f : g_handles) {
        f->has_current = false;
        f->has_position = false;
    }
}

// Everything the current call wrote is thrown away; the positions go too,
// since they may name records that the rollback removed.
void roll_back() {
    if (g_store.db != nullptr && sqlite3_get_autocommit(g_store.db) == 0) exec("ROLLBACK");
    g_store.begun = false;
    forget_positions();
}

void fail(const std::string &what) {
    g_error = what;
    if (g_store.depth > 0) g_store.failed = true;
    roll_back();
}

void fail_sqlite(const dfa_file *f, const char *doing) {
    std::string text = f != nullptr ? f->name + ": " : std::string("BBSHOST.DB: ");
    fail(text + doing + ": " + sqlite3_errmsg(g_store.db));
}

bool is_open(const dfa_file *f) { return f != nullptr && f->open_count > 0 && g_store.db != nullptr; }

void finalize_statements(dfa_file *f) {
    for (auto &s : f->statements) {
        sqlite3_finalize(s);
        s = nullptr;
    }
}

void detach(dfa_file *f) {
    std::string sql = "DETACH DATABASE " + f->schema;
    exec(sql.c_str());
}

void detach_pending() {
    for (dfa_file *f : g_store.detach_later) {
        if (f->open_count == 0) detach(f);
    }
    g_store.detach_later.clear();
}

// Ready to touch data: the store is open, the call has not failed, and the
// call's transaction has begun (deferred, so it takes no lock until the first
// read and writes nothing until the first write).
bool enter_data() {
    if (g_store.db == nullptr || g_store.failed) return false;
    if (g_store.depth > 0 && !g_store.begun) {
        if (!exec("BEGIN")) {
            fail_sqlite(nullptr, "cannot begin a transaction");
            return false;
        }
        g_store.begun = true;
    }
    return true;
}

// Commits what the call did so far. Used at the end of the outermost call,
// and before ATTACH, which SQLite refuses inside a transaction.
void commit() {
    if (!g_store.begun) return;
    if (!exec("COMMIT")) {
        fail_sqlite(nullptr, "commit failed, the call's changes were rolled back");
        return;
    }
    g_store.begun = false;
}

dfa_file *selected() { return is_open(g_selected) ? g_selected : nullptr; }

// The key of a record the plug-in hands in: the text at offset 0, which must
// end within the record and within UIDSIZ bytes.
bool record_key(const void *record, int record_length, std::string_view &key) {
    size_t limit = std::min(static_cast<size_t>(record_length), KEY_LIMIT);
    const char *text = static_cast<const char *>(record);
    size_t length = strnlen(text, limit);
    if (length == limit) return false;
    key = std::string_view(text, length);
    return true;
}

// A key to look up. One that runs past UIDSIZ bytes is cut there: no stored
// key is that long, so it still matches nothing and orders correctly.
std::string_view lookup_key(const void *key) {
    const char *text = static_cast<const char *>(key);
    return std::string_view(text, strnlen(text, KEY_LIMIT));
}

sqlite3_stmt *statement(dfa_file *f, Statement which) {
    sqlite3_stmt *s = f->statements[which];
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return s;
}

void bind_text(sqlite3_stmt *s, int index, std::string_view text) {
    sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// Runs a read; on a hit the record becomes current and its bytes go to
// `record` (when given), padded with zeros if the stored row is short
// (someone edited the file by hand).
int run_read(dfa_file *f, sqlite3_stmt *s, void *record) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        sqlite3_int64 seq = sqlite3_column_int64(s, 0);
        const unsigned char *stored_key = sqlite3_column_text(s, 2);
        f->current_key.assign(stored_key != nullptr ? reinterpret_cast<const char *>(stored_key) : "",
                              static_cast<size_t>(sqlite3_column_bytes(s, 2)));
        if (record != nullptr) {
            const void *bytes = sqlite3_column_blob(s, 1);
            size_t stored = static_cast<size_t>(sqlite3_column_bytes(s, 1));
            size_t length = static_cast<size_t>(f->record_length);
            size_t copied = std::min(stored, length);
            if (copied > 0) memcpy(record, bytes, copied);
            if (copied < length) memset(static_cast<char *>(record) + copied, 0, length - copied);
        }
        sqlite3_reset(s);
        f->has_current = f->has_position = true;
        f->current = f->position = seq;
        return 1;
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) {
        fail_sqlite(f, "read failed");
        return 0;
    }
    f->has_current = f->has_position = false;
    return 0;
}

enum class WriteResult { done, refused, failed };

// Runs a write. A key that another record holds is a refusal, not an error:
// SQLite undoes just that statement and the call goes on.
WriteResult run_write(dfa_file *f, sqlite3_stmt *s, const char *doing) {
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_DONE) return WriteResult::done;
    if (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY) return WriteResult::refused;
    fail_sqlite(f, doing);
    return WriteResult::failed;
}

// Makes a freshly created record file, or checks one that exists. False
// with a start-up error when the file is not one of ours or was made with
// another record length.
bool prepare_file(dfa_file *f) {
    sqlite3 *db = g_store.db;
    auto startup_error = [&](const std::string &why) {
        report_startup_error(f->name + " (" + f->path + "): " + why);
        return false;
    };
    auto sqlite_error = [&](const char *doing) { return startup_error(std::string(doing) + ": " + sqlite3_errmsg(db)); };

    std::string pragma = "PRAGMA " + f->schema + ".journal_mode = DELETE";
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, pragma.c_str(), -1, &s, nullptr) != SQLITE_OK) return sqlite_error("cannot open");
    int rc = sqlite3_step(s);
    std::string mode = rc == SQLITE_ROW ? reinterpret_cast<const char *>(sqlite3_column_text(s, 0)) : "";
    sqlite3_finalize(s);
    if (rc != SQLITE_ROW) return sqlite_error("cannot open");
    if (mode != "delete") return startup_error("cannot use a rollback journal (journal mode stays " + mode + ")");
    pragma = "PRAGMA " + f->schema + ".synchronous = FULL";
    if (!exec(pragma.c_str())) return sqlite_error("cannot set synchronous writes");

    std::string sql = "SELECT count(*), sum(name = 'record_file'), sum(name = 'records') FROM " + f->schema +
                      ".sqlite_schema WHERE type = 'table'";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return sqlite_error("cannot read");
    rc = sqlite3_step(s);
    int tables = sqlite3_column_int(s, 0);
    bool ours = sqlite3_column_int(s, 1) == 1 && sqlite3_column_int(s, 2) == 1;
    sqlite3_finalize(s);
    if (rc != SQLITE_ROW) return sqlite_error("cannot read");

    if (tables == 0) {
        std::string create = "BEGIN;"
                             "CREATE TABLE $.record_file(record_length INTEGER NOT NULL);"
                             "CREATE TABLE $.records(seq INTEGER PRIMARY KEY AUTOINCREMENT,"
                             " key TEXT NOT NULL UNIQUE COLLATE NOCASE, record BLOB NOT NULL);"
                             "INSERT INTO $.record_file VALUES(" +
                             std::to_string(f->record_length) + ");COMMIT;";
        for (size_t at; (at = create.find('$')) != std::string::npos;) create.replace(at, 1, f->schema);
        if (!exec(create.c_str())) {
            sqlite_error("cannot create");
            exec("ROLLBACK");
            return false;
        }
    } else if (!ours) {
        return startup_error("is a database but not a record file; left as it is");
    }

    sql = "SELECT record_length FROM " + f->schema + ".record_file";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) return sqlite_error("cannot read");
    rc = sqlite3_step(s);
    int stored_length = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    if (rc != SQLITE_ROW) return sqlite_error("cannot read its record length");
    if (stored_length != f->record_length) {
        return startup_error("holds records of length " + std::to_string(stored_length) + ", opened with length " +
                             std::to_string(f->record_length));
    }

    for (int i = 0; i < STATEMENT_COUNT; ++i) {
        std::string text = statement_sql[i];
        text.replace(text.find('$'), 1, f->schema);
        if (sqlite3_prepare_v3(db, text.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &f->statements[i], nullptr) !=
            SQLITE_OK) {
            sqlite_error("is damaged");
            finalize_statements(f);
            return false;
        }
    }
    return true;
}

}  // namespace

bool open_data_store(const std::string &directory) {
    close_data_store();
    set_bbs_directory(directory);
    std::string path = find_file_ignoring_case("BBSHOST.DB");
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        g_error = path + ": cannot open: " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close(db);
        return false;
    }
    sqlite3_extended_result_codes(db, 1);
    // The host serves every line from one thread: a lock held by the
    // operator's sqlite3 shell may stall it only briefly before the call
    // gives up and reports.
    sqlite3_busy_timeout(db, 1000);
    g_store.db = db;
    sqlite3_stmt *s = nullptr;
    std::string mode;
    if (sqlite3_prepare_v2(db, "PRAGMA main.journal_mode = DELETE", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
        mode = reinterpret_cast<const char *>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
    if (mode != "delete" || !exec("PRAGMA main.synchronous = FULL") ||
        !exec("CREATE TABLE IF NOT EXISTS main.host_blobs(name TEXT PRIMARY KEY, value BLOB NOT NULL)")) {
        g_error = path + ": cannot prepare the host's database: " + sqlite3_errmsg(db);
        sqlite3_close(db);
        g_store.db = nullptr;
        return false;
    }
    return true;
}

void close_data_store() {
    if (g_store.db == nullptr) return;
    roll_back();
    for (auto &f : g_handles) {
        finalize_statements(f.get());
        f->open_count = 0;
    }
    for (auto &[sql, statement] : g_kept) sqlite3_finalize(statement);
    g_kept.clear();
    sqlite3_close(g_store.db);
    int depth = g_store.depth;  // CallTransactions still alive end harmlessly
    g_store = Store{};
    g_store.depth = depth;
    g_selection_stack.clear();
    g_selected = nullptr;
}

bool data_store_open() { return g_store.db != nullptr; }

sqlite3 *host_db() { return g_store.db; }

CallTransaction::CallTransaction() { ++g_store.depth; }

CallTransaction::~CallTransaction() {
    if (--g_store.depth > 0) return;
    g_store.depth = 0;
    if (g_store.db != nullptr) {
        commit();
        detach_pending();
    }
    g_store.failed = false;
}

bool join_transaction() { return enter_data(); }

void report_data_error(const std::string &what) { fail(what); }

sqlite3_stmt *kept_statement(const char *sql) {
    if (g_store.db == nullptr) return nullptr;
    auto it = g_kept.find(sql);
    if (it == g_kept.end()) {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v3(g_store.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) {
            fail_sqlite(nullptr, "cannot prepare a statement");
            return nullptr;
        }
        it = g_kept.emplace(sql, s).first;
    }
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
}

const std::string &data_error() { return g_error; }
void clear_data_error() { g_error.clear(); }

bool store_blob(const std::string &name, const void *data, size_t size) {
    if (!enter_data()) return false;
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(g_store.db, "INSERT OR REPLACE INTO main.host_blobs(name, value) VALUES(?1, ?2)", -1, &s,
                           nullptr) != SQLITE_OK) {
        fail_sqlite(nullptr, "cannot store");
        return false;
    }
    sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_blob64(s, 2, size > 0 ? data : "", size, SQLITE_STATIC);
    int rc = sqlite3_step(s);
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) {
        fail_sqlite(nullptr, ("cannot store " + name).c_str());
        return false;
    }
    return true;
}

bool load_blob(const std::string &name, std::vector<unsigned char> &data) {
    if (!enter_data()) return false;
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(g_store.db, "SELECT value FROM main.host_blobs WHERE name = ?1", -1, &s, nullptr) !=
        SQLITE_OK) {
        fail_sqlite(nullptr, "cannot load");
        return false;
    }
    sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        auto bytes = static_cast<const unsigned char *>(sqlite3_column_blob(s, 0));
        data.assign(bytes, bytes + sqlite3_column_bytes(s, 0));
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail_sqlite(nullptr, ("cannot load " + name).c_str());
    return rc == SQLITE_ROW;
}

bool load_blob(const std::string &name, void *data, size_t size) {
    std::vector<unsigned char> bytes;
    if (!load_blob(name, bytes)) return false;
    size_t copied = std::min(size, bytes.size());
    if (copied > 0) memcpy(data, bytes.data(), copied);
    if (copied < size) memset(static_cast<char *>(data) + copied, 0, size - copied);
    return true;
}

}  // namespace bbs

using namespace bbs;

// Opens a record file for a plug-in: the name is looked up in the BBS
// directory with case ignored, and made there when missing. Opening a file
// that is already open hands back the same handle (one current record for
// both users); each open wants its dfaClose.
extern "C" struct dfa_file *dfaOpen(const char *file_name, int record_length, const char *) {
    std::string name = file_name != nullptr ? file_name : "";
    if (name.empty() || record_length <= 0) {
        report_startup_error("data file \"" + name + "\": a name and a positive record length are needed, got " +
                             std::to_string(record_length));
        return nullptr;
    }
    if (g_store.db == nullptr) {
        report_startup_error(name + ": the data store is not open");
        return nullptr;
    }
    std::string path = find_file_ignoring_case(name);
    for (auto &f : g_handles) {
        if (f->open_count > 0 && f->path == path) {
            if (f->record_length != record_length) {
                report_startup_error(name + " (" + path + "): holds records of length " +
                                     std::to_string(f->record_length) + ", opened with length " +
                                     std::to_string(record_length));
                return nullptr;
            }
            ++f->open_count;
            return f.get();
        }
    }

    // SQLite attaches only outside a transaction. Plug-ins open their files
    // at start-up before writing anything, so this normally ends an empty
    // transaction; should a call have written already, its work so far is
    // committed here rather than lost.
    if (g_store.begun) {
        commit();
        detach_pending();
    }

    auto f = std::make_unique<dfa_file>();
    f->name = name;
    f->path = path;
    f->schema = "dfa" + std::to_string(++g_store.next_schema);
    f->record_length = record_length;
    std::string attach = "ATTACH DATABASE ?1 AS " + f->schema;
    sqlite3_stmt *s = nullptr;
    int rc = sqlite3_prepare_v2(g_store.db, attach.c_str(), -1, &s, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(s, 1, path.c_str(), -1, SQLITE_STATIC);
        rc = sqlite3_step(s);
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) {
        report_startup_error(name + " (" + path + "): cannot open: " + sqlite3_errmsg(g_store.db));
        return nullptr;
    }
    if (!prepare_file(f.get())) {
        detach(f.get());
        return nullptr;
    }
    f->open_count = 1;
    g_handles.push_back(std::move(f));
    return g_handles.back().get();
}

extern "C" void dfaClose(struct dfa_file *file) {
    if (!is_open(file) || --file->open_count > 0) return;
    finalize_statements(file);
    file->has_current = file->has_position = false;
    // DETACH, like ATTACH, waits until no transaction is open.
    if (g_store.begun) {
        g_store.detach_later.push_back(file);
    } else {
        detach(file);
    }
}

extern "C" void dfaSetBlk(struct dfa_file *file) {
    g_selection_stack.push_back(g_selected);
    if (g_selection_stack.size() > SELECTION_STACK_LIMIT) g_selection_stack.erase(g_selection_stack.begin());
    g_selected = file;
}

extern "C" void dfaRstBlk(void) {
    if (g_selection_stack.empty()) return;
    g_selected = g_selection_stack.back();
    g_selection_stack.pop_back();
}

// Reads by key 0, the only key: equal (case ignored), first, or the one
// after a given key, in key order.
extern "C" int dfaAcqLock(void *record, const void *key, int key_number, int operation, int) {
    dfa_file *f = selected();
    if (f == nullptr || key_number != 0) return 0;
    if (operation != DFA_GET_FIRST && (operation != DFA_GET_EQUAL && operation != DFA_GET_NEXT)) return 0;
    if (operation != DFA_GET_FIRST && key == nullptr) return 0;
    if (!enter_data()) return 0;
    // The key may lie in the very buffer the record is read into (the key
    // of a walk is the record just read): it is copied before the read.
    char key_copy[KEY_LIMIT];
    if (key != nullptr) {
        std::string_view k = lookup_key(key);
        memcpy(key_copy, k.data(), k.size());
        key = key_copy;
        if (k.size() < KEY_LIMIT) key_copy[k.size()] = '\0';
    }
    sqlite3_stmt *s = nullptr;
    switch (operation) {
    case DFA_GET_EQUAL: s = statement(f, GET_EQUAL); break;
    case DFA_GET_NEXT: s = statement(f, GET_NEXT); break;
    default: s = statement(f, GET_FIRST); break;
    }
    if (operation != DFA_GET_FIRST) bind_text(s, 1, lookup_key(key));
    return run_read(f, s, record);
}

// Reads in the order the records were inserted: the first, or the one after
// the current position.
extern "C" int dfaStepLock(void *record, int operation, int) {
    dfa_file *f = selected();
    if (f == nullptr || (operation != DFA_STEP_FIRST && operation != DFA_STEP_NEXT)) return 0;
    if (!enter_data()) return 0;
    if (operation == DFA_STEP_FIRST) return run_read(f, statement(f, STEP_FIRST), record);
    if (!f->has_position) return 0;
    sqlite3_stmt *s = statement(f, STEP_NEXT);
    sqlite3_bind_int64(s, 1, f->position);
    return run_read(f, s, record);
}

// Adds a record; a key already held (case ignored) is refused. The new
// record becomes current, so an update that follows acts on it.
extern "C" int dfaInsert(const void *record) {
    dfa_file *f = selected();
    std::string_view key;
    if (f == nullptr || record == nullptr || !record_key(record, f->record_length, key)) return 0;
    if (!enter_data()) return 0;
    sqlite3_stmt *s = statement(f, INSERT);
    bind_text(s, 1, key);
    sqlite3_bind_blob(s, 2, record, f->record_length, SQLITE_STATIC);
    if (run_write(f, s, "insert failed") != WriteResult::done) return 0;
    f->current_key.assign(key);
    f->has_current = f->has_position = true;
    f->current = f->position = sqlite3_last_insert_rowid(g_store.db);
    return 1;
}

// Rewrites the current record; it keeps its place in insertion order even
// when its key changes. A key another record holds is refused.
extern "C" int dfaUpdate(const void *record) {
    dfa_file *f = selected();
    std::string_view key;
    if (f == nullptr || record == nullptr || !f->has_current) return 0;
    if (!record_key(record, f->record_length, key)) return 0;
    if (!enter_data()) return 0;
    bool same_key = key == f->current_key;
    sqlite3_stmt *s = statement(f, same_key ? UPDATE_RECORD : UPDATE);
    if (!same_key) bind_text(s, 1, key);
    sqlite3_bind_blob(s, 2, record, f->record_length, SQLITE_STATIC);
    sqlite3_bind_int64(s, 3, f->current);
    if (run_write(f, s, "update failed") != WriteResult::done) return 0;
    if (sqlite3_changes(g_store.db) == 0) {  // gone: deleted through another path
        f->has_current = false;
        return 0;
    }
    if (!same_key) f->current_key.assign(key);
    return 1;
}

extern "C" int dfaDelete(void) {
    dfa_file *f = selected();
    if (f == nullptr || !f->has_current) return 0;
    if (!enter_data()) return 0;
    sqlite3_stmt *s = statement(f, DELETE);
    sqlite3_bind_int64(s, 1, f->current);
    if (run_write(f, s, "delete failed") != WriteResult::done) return 0;
    f->has_current = false;
    return sqlite3_changes(g_store.db) > 0 ? 1 : 0;
}
