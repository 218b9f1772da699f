// The data store: the record files plug-ins reach through the dfa…
// operations, and the host's own database, all on one SQLite connection.
//
// The host's own file (BBSHOST.DB in the BBS directory) is the connection's
// main database; every record file is ATTACHed to it. Both run with a
// rollback journal, so a transaction that writes several files commits
// through a super-journal: all of it or none of it reaches the disk, even
// when the process is killed half-way through the commit.
//
// A record file holds one row per record in its table `records`: `seq` (the
// insertion sequence), `key` (the NUL-terminated text at offset 0 of the
// record, at most 29 characters, unique with ASCII case ignored) and
// `record` (the bytes exactly as the plug-in wrote them). Its table
// `record_file` holds the record length the file was made with.
#ifndef BBS_DATAFILE_H
#define BBS_DATAFILE_H

#include <stddef.h>

#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace bbs {

// Opens (creating when missing) the host's own database in `directory`,
// which becomes the BBS directory: record files that plug-ins name are looked
// up there with case ignored. False, with the reason in data_error(), when
// the database cannot be opened. Opening again closes the previous store.
bool open_data_store(const std::string &directory);

// Rolls back whatever is still open, closes every record file and the host's
// database. Handles given out earlier stay safe to pass to the dfa…
// operations: they answer 0.
void close_data_store();

bool data_store_open();

// The connection, for the host's own tables (mail, passwords, settings).
// Writes made on it inside a CallTransaction belong to that call, provided
// join_transaction() was called first. Null when no store is open.
sqlite3 *host_db();

// One call of a plug-in routine, or one piece of the host's own work: every
// change made to any file while the outermost CallTransaction lives commits
// together when it ends, or not at all. Nested ones only count depth. The
// SQLite transaction is begun at the first data access, so a call that never
// touches data costs nothing.
class CallTransaction {
public:
    CallTransaction();
    ~CallTransaction();
    CallTransaction(const CallTransaction &) = delete;
    CallTransaction &operator=(const CallTransaction &) = delete;
};

// Makes sure the current call's SQLite transaction has begun before the core
// uses host_db() itself. False when there is no store or the call has
// already failed (its work is being thrown away; write nothing more).
// Outside any CallTransaction each statement commits on its own and this
// just answers whether the store can be used.
bool join_transaction();

// A statement on the host's own tables that the core runs very often (once
// per account in a clean-up's walk): prepared once, kept while the store is
// open, finalized when it closes. Handed out reset, bindings cleared; the
// user resets it when done (Statement does). Null after a failure, which is
// reported like any other.
sqlite3_stmt *kept_statement(const char *sql);

// Reports a SQLite failure the core met on host_db(): the current call is
// rolled back and every further data access in it fails.
void report_data_error(const std::string &what);

// The last SQLite failure (disk full, I/O error, a lock held too long by
// another program, a commit that did not go through), or empty. The work of
// the call it happened in was rolled back. Stays until cleared.
const std::string &data_error();
void clear_data_error();

// Named blobs in the host's database (the system-variables record, ...),
// kept across restarts. Part of the current call's transaction.
bool store_blob(const std::string &name, const void *data, size_t size);
// Fills `data` with the stored blob, zero-padded or cut to `size`; false
// (buffer untouched) when there is no blob of that name.
bool load_blob(const std::string &name, void *data, size_t size);
bool load_blob(const std::string &name, std::vector<unsigned char> &data);

}  // namespace bbs

#endif
