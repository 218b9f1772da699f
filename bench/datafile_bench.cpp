// Cost of the data-file layer against SQLite used directly for the same work,
// measured in the same run on the same disk with the same durability (rollback
// journal, synchronous FULL, one transaction per call).
//
//   datafile_bench [records] [directory]
//
// Each row is one kind of plug-in call, run `records` times: the layer
// through the dfa… operations inside a CallTransaction, the baseline as a
// hand-written loop of prepared statements on a plain table.
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "core.h"
#include "datafile.h"

namespace {

constexpr int RECORD_LENGTH = 304;

struct Record {
    char key[UIDSIZ];
    int32_t value;
    char rest[RECORD_LENGTH - UIDSIZ - 4];
};

Record make(int i, int value) {
    Record r;
    memset(&r, 0, sizeof r);
    snprintf(r.key, sizeof r.key, "User%06d", i);
    r.value = value;
    return r;
}

double seconds_for(const std::function<void()> &work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

[[noreturn]] void die(const std::string &what) {
    fprintf(stderr, "datafile_bench: %s\n", what.c_str());
    exit(1);
}

void check(int ok, const char *what) {
    if (!ok) die(std::string(what) + " failed: " + bbs::data_error());
}

// The baseline: one connection, one plain table, the statements a careful
// hand-written program would use.
class Raw {
public:
    explicit Raw(const std::string &dir) {
        if (sqlite3_open((dir + "/raw.db").c_str(), &db_) != SQLITE_OK) die("cannot open raw.db");
        exec("PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL;");
        exec("ATTACH DATABASE '" + dir + "/raw2.db' AS second; PRAGMA second.synchronous = FULL;");
        exec("CREATE TABLE main.t(seq INTEGER PRIMARY KEY, key TEXT UNIQUE COLLATE NOCASE, record BLOB);"
             "CREATE TABLE second.t(seq INTEGER PRIMARY KEY, key TEXT UNIQUE COLLATE NOCASE, record BLOB);");
        insert_ = prepare("INSERT INTO main.t(key, record) VALUES(?1, ?2)");
        insert2_ = prepare("INSERT INTO second.t(key, record) VALUES(?1, ?2)");
        select_ = prepare("SELECT seq, record FROM main.t WHERE key = ?1");
        update_ = prepare("UPDATE main.t SET key = ?1, record = ?2 WHERE seq = ?3");
        walk_ = prepare("SELECT seq, record FROM main.t ORDER BY seq");
    }
    ~Raw() {
        for (sqlite3_stmt *s : {insert_, insert2_, select_, update_, walk_}) sqlite3_finalize(s);
        sqlite3_close(db_);
    }

    void begin() { exec("BEGIN"); }
    void commit() { exec("COMMIT"); }
    void insert(const Record &r, bool second = false) {
        sqlite3_stmt *s = second ? insert2_ : insert_;
        sqlite3_bind_text(s, 1, r.key, -1, SQLITE_STATIC);
        sqlite3_bind_blob(s, 2, &r, sizeof r, SQLITE_STATIC);
        step_done(s);
    }
    sqlite3_int64 read(const char *key, Record &r) {
        sqlite3_bind_text(select_, 1, key, -1, SQLITE_STATIC);
        if (sqlite3_step(select_) != SQLITE_ROW) die("raw read found nothing");
        sqlite3_int64 seq = sqlite3_column_int64(select_, 0);
        memcpy(&r, sqlite3_column_blob(select_, 1), sizeof r);
        sqlite3_reset(select_);
        return seq;
    }
    void update(sqlite3_int64 seq, const Record &r) {
        sqlite3_bind_text(update_, 1, r.key, -1, SQLITE_STATIC);
        sqlite3_bind_blob(update_, 2, &r, sizeof r, SQLITE_STATIC);
        sqlite3_bind_int64(update_, 3, seq);
        step_done(update_);
    }
    int walk() {
        int n = 0;
        Record r;
        while (sqlite3_step(walk_) == SQLITE_ROW) {
            memcpy(&r, sqlite3_column_blob(walk_, 1), sizeof r);
            ++n;
        }
        sqlite3_reset(walk_);
        return n;
    }

private:
    void exec(const std::string &sql) {
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) die(sqlite3_errmsg(db_));
    }
    sqlite3_stmt *prepare(const char *sql) {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) die(sqlite3_errmsg(db_));
        return s;
    }
    void step_done(sqlite3_stmt *s) {
        if (sqlite3_step(s) != SQLITE_DONE) die(sqlite3_errmsg(db_));
        sqlite3_reset(s);
    }
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_, *insert2_, *select_, *update_, *walk_;
};

struct Times {
    std::vector<double> each;
    double median() {
        std::sort(each.begin(), each.end());
        return each[each.size() / 2];
    }
    double mean() const { return std::accumulate(each.begin(), each.end(), 0.0) / each.size(); }
};

// Runs call i of the layer and call i of the baseline in turn, timing each.
// `per` divides every time (records per call, for a walk).
void compare(const char *name, int calls, const std::function<void(int)> &layer_call,
             const std::function<void(int)> &raw_call, int per = 1) {
    Times layer, raw;
    for (int i = 0; i < calls; ++i) {
        layer.each.push_back(seconds_for([&] { layer_call(i); }) / per * 1e6);
        raw.each.push_back(seconds_for([&] { raw_call(i); }) / per * 1e6);
    }
    double layer_mean = layer.mean(), raw_mean = raw.mean();
    double layer_median = layer.median(), raw_median = raw.median();
    char l[64], r[64];
    snprintf(l, sizeof l, "%.2f (%.2f)", layer_median, layer_mean);
    snprintf(r, sizeof r, "%.2f (%.2f)", raw_median, raw_mean);
    printf("%-36s %7d %20s %20s %7.2f\n", name, calls, l, r, layer_median / raw_median);
}

}  // namespace

int main(int argc, char **argv) {
    const int n = argc > 1 ? atoi(argv[1]) : 2000;
    if (n <= 0) die("the number of records must be positive");
    std::string dir;
    if (argc > 2) {
        dir = argv[2];
    } else {
        dir = std::filesystem::temp_directory_path() / "datafile_bench.XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) die("cannot make a temporary directory");
    }
    if (!bbs::open_data_store(dir)) die(bbs::data_error());
    dfa_file *file = dfaOpen("BENCH.DAT", RECORD_LENGTH, nullptr);
    dfa_file *second = dfaOpen("BENCH2.DAT", RECORD_LENGTH, nullptr);
    if (file == nullptr || second == nullptr) die(bbs::startup_errors().back());
    Raw raw(dir);

    printf("%d records of %d bytes in %s, one transaction per call\n", n, RECORD_LENGTH, dir.c_str());
    printf("layer and baseline calls alternate, so both meet the same disk; times are medians (means)\n");
    printf("%-36s %7s %20s %20s %7s\n", "call", "calls", "layer us", "raw us", "ratio");

    compare("insert one record", n, [&](int i) {
        bbs::CallTransaction call;
        Record r = make(i, i);
        dfaSetBlk(file);
        check(dfaInsert(&r), "insert");
        dfaRstBlk();
    }, [&](int i) {
        raw.begin();
        raw.insert(make(i, i));
        raw.commit();
    });

    compare("read one record by key", n, [&](int i) {
        bbs::CallTransaction call;
        Record r = make(i, 0);
        dfaSetBlk(file);
        check(dfaAcqLock(&r, r.key, 0, DFA_GET_EQUAL, 0), "read");
        dfaRstBlk();
    }, [&](int i) {
        Record r = make(i, 0);
        raw.begin();
        raw.read(r.key, r);
        raw.commit();
    });

    compare("read and update one record", n, [&](int i) {
        bbs::CallTransaction call;
        Record r = make(i, 0);
        dfaSetBlk(file);
        check(dfaAcqLock(&r, r.key, 0, DFA_GET_EQUAL, 0), "read");
        r.value += 1;
        check(dfaUpdate(&r), "update");
        dfaRstBlk();
    }, [&](int i) {
        Record r = make(i, 0);
        raw.begin();
        sqlite3_int64 seq = raw.read(r.key, r);
        r.value += 1;
        raw.update(seq, r);
        raw.commit();
    });

    // One call that reads the whole file in insertion order, as a daily
    // clean-up does; timed per record.
    const int walks = 20;
    compare("walk all in one call (per record)", walks, [&](int) {
        bbs::CallTransaction call;
        dfaSetBlk(file);
        Record r;
        int walked = 0;
        for (int ok = dfaStepLock(&r, DFA_STEP_FIRST, 0); ok; ok = dfaStepLock(&r, DFA_STEP_NEXT, 0)) ++walked;
        dfaRstBlk();
        if (walked != n) die("the walk missed records");
    }, [&](int) {
        raw.begin();
        if (raw.walk() != n) die("the raw walk missed records");
        raw.commit();
    }, n);

    compare("insert into two files in one call", n, [&](int i) {
        bbs::CallTransaction call;
        Record r = make(n + i, i);
        dfaSetBlk(file);
        check(dfaInsert(&r), "insert");
        dfaSetBlk(second);
        check(dfaInsert(&r), "insert");
        dfaRstBlk();
        dfaRstBlk();
    }, [&](int i) {
        Record r = make(n + i, i);
        raw.begin();
        raw.insert(r);
        raw.insert(r, true);
        raw.commit();
    });

    if (!bbs::data_error().empty()) die(bbs::data_error());
    bbs::close_data_store();
    if (argc <= 2) std::filesystem::remove_all(dir);
    return 0;
}
