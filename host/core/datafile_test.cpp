#include "datafile.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core.h"

namespace {

// A record as a plug-in would lay it out: the key at offset 0, then data.
struct Record {
    char key[UIDSIZ];
    char gap[2];
    int32_t value;
    char tail[4];
};
static_assert(sizeof(Record) == 40);
constexpr int RECORD_LENGTH = sizeof(Record);

Record make(const std::string &key, int32_t value) {
    Record r;
    memset(&r, 0, sizeof r);
    strncpy(r.key, key.c_str(), sizeof r.key - 1);
    r.value = value;
    memcpy(r.tail, "end", 4);
    return r;
}

// A buffer that a read must leave alone when it finds nothing.
Record untouched() {
    Record r;
    memset(&r, 0xAB, sizeof r);
    return r;
}

bool same_bytes(const Record &a, const Record &b) { return memcmp(&a, &b, sizeof a) == 0; }

std::string make_temp_dir() {
    std::string pattern = std::filesystem::temp_directory_path() / "datafile_test.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

class DataFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = make_temp_dir();
        ASSERT_TRUE(bbs::open_data_store(dir_)) << bbs::data_error();
        bbs::clear_startup_errors();
        bbs::clear_data_error();
    }
    void TearDown() override {
        bbs::close_data_store();
        std::filesystem::remove_all(dir_);
    }

    void reopen_store() {
        bbs::close_data_store();
        ASSERT_TRUE(bbs::open_data_store(dir_)) << bbs::data_error();
    }

    // Opens and selects a file for the rest of the test.
    dfa_file *open_selected(const char *name) {
        dfa_file *f = dfaOpen(name, RECORD_LENGTH, nullptr);
        EXPECT_NE(f, nullptr) << (bbs::startup_errors().empty() ? "" : bbs::startup_errors().back());
        dfaSetBlk(f);
        return f;
    }

    static void insert_all(const std::vector<std::pair<std::string, int>> &rows) {
        for (auto &[key, value] : rows) {
            Record r = make(key, value);
            ASSERT_EQ(dfaInsert(&r), 1) << key;
        }
    }

    static std::optional<Record> get(const char *key) {
        Record r = untouched();
        if (dfaAcqLock(&r, key, 0, DFA_GET_EQUAL, 0) == 0) return std::nullopt;
        return r;
    }

    // Every key of the selected file, walked in key order with 12 and 8.
    static std::vector<std::string> keys_in_key_order() {
        std::vector<std::string> keys;
        Record r;
        for (int ok = dfaAcqLock(&r, nullptr, 0, DFA_GET_FIRST, 0); ok; ok = dfaAcqLock(&r, &r, 0, DFA_GET_NEXT, 0))
            keys.push_back(r.key);
        return keys;
    }

    // Every key of the selected file, walked in insertion order with 33 and 24.
    static std::vector<std::string> keys_in_insertion_order() {
        std::vector<std::string> keys;
        Record r;
        for (int ok = dfaStepLock(&r, DFA_STEP_FIRST, 0); ok; ok = dfaStepLock(&r, DFA_STEP_NEXT, 0))
            keys.push_back(r.key);
        return keys;
    }

    // The value of the record with that key; -1 when there is none.
    static int value_of(const char *key) {
        std::optional<Record> r = get(key);
        return r ? r->value : -1;
    }

    std::string dir_;
};

using Keys = std::vector<std::string>;

TEST_F(DataFile, KeyedReadsFollowKeyOrderWithCaseIgnored) {
    open_selected("people.dat");
    insert_all({{"carol", 1}, {"Bob", 2}, {"alice", 3}, {"Dave", 4}});

    struct Case {
        int operation;
        const char *key;
        const char *found;  // null: nothing found
    };
    std::string too_long = "alice" + std::string(40, 'x');
    const Case cases[] = {
        {DFA_GET_EQUAL, "BOB", "Bob"},
        {DFA_GET_EQUAL, "Alice", "alice"},
        {DFA_GET_EQUAL, "bo", nullptr},
        {DFA_GET_EQUAL, "", nullptr},
        {DFA_GET_EQUAL, too_long.c_str(), nullptr},
        {DFA_GET_FIRST, nullptr, "alice"},
        {DFA_GET_FIRST, "carol", "alice"},  // the key of "first" is ignored
        {DFA_GET_NEXT, "alice", "Bob"},
        {DFA_GET_NEXT, "B", "Bob"},
        {DFA_GET_NEXT, "BOB", "carol"},
        {DFA_GET_NEXT, "", "alice"},
        {DFA_GET_NEXT, too_long.c_str(), "Bob"},
        {DFA_GET_NEXT, "dave", nullptr},
        {DFA_GET_EQUAL, nullptr, nullptr},
        {DFA_GET_NEXT, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.operation) + " " + (c.key != nullptr ? c.key : "(null)"));
        Record r = untouched();
        int ok = dfaAcqLock(&r, c.key, 0, c.operation, 0);
        if (c.found == nullptr) {
            EXPECT_EQ(ok, 0);
            EXPECT_TRUE(same_bytes(r, untouched()));
        } else {
            ASSERT_NE(ok, 0);
            EXPECT_STREQ(r.key, c.found);
            EXPECT_TRUE(same_bytes(r, make(c.found, r.value)));  // all 40 bytes as written
        }
    }
    EXPECT_EQ(keys_in_key_order(), (Keys{"alice", "Bob", "carol", "Dave"}));
    Record r = untouched();
    EXPECT_EQ(dfaAcqLock(&r, "bob", 1, DFA_GET_EQUAL, 0), 0) << "key 0 is the only key";
    EXPECT_EQ(dfaAcqLock(&r, "bob", 0, 99, 0), 0);
    EXPECT_EQ(dfaStepLock(&r, 99, 0), 0);
    EXPECT_TRUE(same_bytes(r, untouched()));
}

TEST_F(DataFile, StepsFollowInsertionOrderThroughKeyChangesAndDeletes) {
    open_selected("steps.dat");
    insert_all({{"c", 1}, {"a", 2}, {"b", 3}});
    Record r;
    EXPECT_EQ(dfaStepLock(&r, DFA_STEP_NEXT, 0), 0) << "no place to go on from yet";
    ASSERT_EQ(dfaStepLock(&r, DFA_STEP_FIRST, 0), 1);
    EXPECT_STREQ(r.key, "c");
    ASSERT_EQ(dfaStepLock(&r, DFA_STEP_NEXT, 0), 1);
    EXPECT_STREQ(r.key, "a");
    Record renamed = make("z", 2);
    ASSERT_EQ(dfaUpdate(&renamed), 1);  // a new key keeps the record's place
    ASSERT_EQ(dfaStepLock(&r, DFA_STEP_NEXT, 0), 1);
    EXPECT_STREQ(r.key, "b");
    EXPECT_EQ(dfaStepLock(&r, DFA_STEP_NEXT, 0), 0);
    EXPECT_EQ(dfaStepLock(&r, DFA_STEP_NEXT, 0), 0);

    // A walk that deletes as it goes visits every record once.
    std::vector<std::string> visited;
    for (int ok = dfaStepLock(&r, DFA_STEP_FIRST, 0); ok; ok = dfaStepLock(&r, DFA_STEP_NEXT, 0)) {
        visited.push_back(r.key);
        if (r.key[0] != 'b') {
            EXPECT_EQ(dfaDelete(), 1);
        }
    }
    EXPECT_EQ(visited, (Keys{"c", "z", "b"}));
    EXPECT_EQ(keys_in_insertion_order(), (Keys{"b"}));

    insert_all({{"y", 4}, {"c", 5}});  // a key used before goes to the end
    EXPECT_EQ(keys_in_insertion_order(), (Keys{"b", "y", "c"}));
    EXPECT_EQ(keys_in_key_order(), (Keys{"b", "c", "y"}));
}

TEST_F(DataFile, UpdateAndDeleteActOnTheCurrentRecordOnly) {
    open_selected("current.dat");
    Record r = make("x", 0);
    EXPECT_EQ(dfaUpdate(&r), 0) << "nothing read yet";
    EXPECT_EQ(dfaDelete(), 0);
    insert_all({{"alice", 1}, {"Bob", 2}});

    ASSERT_TRUE(get("bob"));
    Record bob = make("Bob", 20);
    ASSERT_EQ(dfaUpdate(&bob), 1);
    EXPECT_EQ(value_of("BOB"), 20);

    Record clash = make("ALICE", 99);
    EXPECT_EQ(dfaUpdate(&clash), 0) << "another record holds that key";
    EXPECT_EQ(value_of("bob"), 20);
    EXPECT_EQ(value_of("alice"), 1);

    ASSERT_TRUE(get("bob"));
    Record robert = make("Robert", 21);
    ASSERT_EQ(dfaUpdate(&robert), 1);
    EXPECT_FALSE(get("bob"));
    EXPECT_EQ(dfaUpdate(&robert), 0) << "a failed read leaves no current record";
    EXPECT_EQ(dfaDelete(), 0);

    ASSERT_TRUE(get("robert"));
    EXPECT_EQ(dfaDelete(), 1);
    EXPECT_EQ(dfaDelete(), 0) << "a delete leaves no current record";
    EXPECT_EQ(dfaUpdate(&robert), 0);
    EXPECT_EQ(keys_in_key_order(), (Keys{"alice"}));

    // Reading into no buffer still makes the record current.
    ASSERT_EQ(dfaAcqLock(nullptr, "ALICE", 0, DFA_GET_EQUAL, 0), 1);
    EXPECT_EQ(dfaDelete(), 1);
    EXPECT_EQ(keys_in_key_order(), Keys{});

    // An insert makes its record current.
    Record carol = make("carol", 3);
    ASSERT_EQ(dfaInsert(&carol), 1);
    carol.value = 30;
    ASSERT_EQ(dfaUpdate(&carol), 1);
    EXPECT_EQ(value_of("carol"), 30);
}

// The key column is what the operator reads and what key order follows: an
// update that keeps the key leaves it, one that changes it (its case alone
// included) rewrites it.
TEST_F(DataFile, TheKeyColumnFollowsEveryUpdateThatChangesIt) {
    open_selected("keys.dat");
    insert_all({{"bob", 1}, {"carl", 2}});
    ASSERT_TRUE(get("BOB"));
    Record r = make("bob", 10);
    ASSERT_EQ(dfaUpdate(&r), 1);
    r = make("Bob", 11);
    ASSERT_EQ(dfaUpdate(&r), 1);  // the same record, still current
    ASSERT_TRUE(get("carl"));
    r = make("dora", 20);
    ASSERT_EQ(dfaUpdate(&r), 1);
    r = make("dora", 21);
    ASSERT_EQ(dfaUpdate(&r), 1);
    r = make("Bob", 22);
    EXPECT_EQ(dfaUpdate(&r), 0) << "another record holds that key";
    EXPECT_EQ(value_of("dora"), 21);
    EXPECT_EQ(value_of("bob"), 11);
    EXPECT_FALSE(get("carl"));

    bbs::close_data_store();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((dir_ + "/keys.dat").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT key FROM records ORDER BY seq", -1, &s, nullptr), SQLITE_OK);
    Keys stored;
    while (sqlite3_step(s) == SQLITE_ROW) stored.push_back(reinterpret_cast<const char *>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    sqlite3_close(db);
    EXPECT_EQ(stored, (Keys{"Bob", "dora"}));
    ASSERT_TRUE(bbs::open_data_store(dir_));
}

TEST_F(DataFile, InsertRefusesATakenKeyAndAKeyWithoutEnd) {
    open_selected("dupes.dat");
    insert_all({{"Bob", 1}});
    Record again = make("BOB", 2);
    EXPECT_EQ(dfaInsert(&again), 0);
    Record endless;
    memset(&endless, 'k', sizeof endless);  // no NUL within the key field
    EXPECT_EQ(dfaInsert(&endless), 0);
    EXPECT_EQ(dfaInsert(nullptr), 0);
    EXPECT_EQ(dfaUpdate(nullptr), 0);
    EXPECT_EQ(keys_in_key_order(), (Keys{"Bob"}));
    EXPECT_EQ(value_of("bob"), 1);
    EXPECT_TRUE(bbs::data_error().empty()) << "a refusal is not a failure";
}

TEST_F(DataFile, SelectionStackAndMissingFiles) {
    Record r = untouched();
    auto every_operation_fails = [&](const char *when) {
        SCOPED_TRACE(when);
        Record rec = make("k", 1);
        EXPECT_EQ(dfaInsert(&rec), 0);
        EXPECT_EQ(dfaAcqLock(&r, "k", 0, DFA_GET_EQUAL, 0), 0);
        EXPECT_EQ(dfaAcqLock(&r, nullptr, 0, DFA_GET_FIRST, 0), 0);
        EXPECT_EQ(dfaAcqLock(&r, "a", 0, DFA_GET_NEXT, 0), 0);
        EXPECT_EQ(dfaStepLock(&r, DFA_STEP_FIRST, 0), 0);
        EXPECT_EQ(dfaStepLock(&r, DFA_STEP_NEXT, 0), 0);
        EXPECT_EQ(dfaUpdate(&rec), 0);
        EXPECT_EQ(dfaDelete(), 0);
        EXPECT_TRUE(same_bytes(r, untouched()));
    };
    dfaRstBlk();  // nothing to restore: harmless
    every_operation_fails("nothing selected");

    dfa_file *a = dfaOpen("a.dat", RECORD_LENGTH, nullptr);
    dfa_file *b = dfaOpen("b.dat", RECORD_LENGTH, nullptr);
    ASSERT_TRUE(a && b);
    dfaSetBlk(a);
    insert_all({{"x", 1}});
    ASSERT_TRUE(get("x"));  // a's current record
    dfaSetBlk(b);
    EXPECT_FALSE(get("x"));
    insert_all({{"y", 2}});
    dfaSetBlk(nullptr);
    every_operation_fails("null file selected");
    dfaRstBlk();
    ASSERT_TRUE(get("y"));
    dfaRstBlk();
    Record x = make("x", 10);
    EXPECT_EQ(dfaUpdate(&x), 1) << "each file keeps its own current record";
    EXPECT_EQ(value_of("x"), 10);
    EXPECT_FALSE(get("y"));
    dfaRstBlk();
    every_operation_fails("back to nothing selected");

    dfaClose(b);
    dfaClose(b);
    dfaClose(nullptr);
    dfaSetBlk(b);
    every_operation_fails("closed file selected");
    dfaRstBlk();

    bbs::close_data_store();
    dfaSetBlk(a);
    every_operation_fails("store closed");
    dfaRstBlk();
    EXPECT_EQ(dfaOpen("c.dat", RECORD_LENGTH, nullptr), nullptr);
    EXPECT_FALSE(bbs::startup_errors().empty());
}

TEST_F(DataFile, PersistsAcrossRestartsInAFormTheOperatorCanRead) {
    open_selected("krvcred.dat");
    insert_all({{"Zed", 1}, {"amy", 2}});
    system_variables sv{};
    sv.total_credits_posted = 1234;
    sv.cleanup_date = 777;
    ASSERT_TRUE(bbs::store_blob("sv2", &sv, sizeof sv));
    reopen_store();

    dfa_file *f = open_selected("KRVCRED.DAT");  // the same file, found with case ignored
    EXPECT_EQ(keys_in_insertion_order(), (Keys{"Zed", "amy"}));
    EXPECT_EQ(value_of("zed"), 1);
    system_variables loaded;
    memset(&loaded, 0xFF, sizeof loaded);
    ASSERT_TRUE(bbs::load_blob("sv2", &loaded, sizeof loaded));
    EXPECT_EQ(memcmp(&loaded, &sv, sizeof sv), 0);
    unsigned char small[4] = {1, 2, 3, 4};
    EXPECT_FALSE(bbs::load_blob("nothing", small, sizeof small));
    EXPECT_EQ(small[0], 1);
    dfaClose(f);

    size_t files = 0;
    for (auto &e : std::filesystem::directory_iterator(dir_)) files += e.path().filename() != "BBSHOST.DB";
    EXPECT_EQ(files, 1u);

    // What the operator sees with the sqlite3 shell.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((dir_ + "/krvcred.dat").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt *s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT key, record, (SELECT record_length FROM record_file)"
                                 " FROM records ORDER BY seq",
                                 -1, &s, nullptr),
              SQLITE_OK);
    for (auto [key, value] : {std::pair{"Zed", 1}, std::pair{"amy", 2}}) {
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(s, 0)), key);
        ASSERT_EQ(sqlite3_column_bytes(s, 1), RECORD_LENGTH);
        Record stored;
        memcpy(&stored, sqlite3_column_blob(s, 1), sizeof stored);
        EXPECT_TRUE(same_bytes(stored, make(key, value)));
        EXPECT_EQ(sqlite3_column_int(s, 2), RECORD_LENGTH);
    }
    EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
    sqlite3_finalize(s);
    sqlite3_close(db);
}

TEST_F(DataFile, RefusesAFileMadeWithAnotherRecordLengthOrNotARecordFile) {
    dfa_file *f = dfaOpen("krvcalbk.dat", 34, nullptr);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(dfaOpen("KRVCALBK.DAT", 48, nullptr), nullptr) << "while open";
    dfaClose(f);
    reopen_store();
    EXPECT_EQ(dfaOpen("krvcalbk.dat", 48, nullptr), nullptr) << "after a restart";
    ASSERT_EQ(bbs::startup_errors().size(), 2u);
    for (const std::string &e : bbs::startup_errors()) {
        EXPECT_NE(e.find("krvcalbk.dat"), std::string::npos) << e;
        EXPECT_NE(e.find("34"), std::string::npos) << e;
        EXPECT_NE(e.find("48"), std::string::npos) << e;
    }

    bbs::clear_startup_errors();
    const std::string text = "not a database, and it must stay as it is\n";
    std::ofstream(dir_ + "/notes.dat") << text;
    EXPECT_EQ(dfaOpen("notes.dat", 34, nullptr), nullptr);
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ + "/other.dat").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(dfaOpen("other.dat", 34, nullptr), nullptr);
    EXPECT_EQ(dfaOpen("zero.dat", 0, nullptr), nullptr);
    EXPECT_EQ(dfaOpen(nullptr, 34, nullptr), nullptr);
    EXPECT_EQ(bbs::startup_errors().size(), 4u);
    std::ifstream in(dir_ + "/notes.dat");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);

    // The refused files left no attachment behind: the good one still opens.
    EXPECT_NE(dfaOpen("krvcalbk.dat", 34, nullptr), nullptr);
}

// Counts the records of a file through a separate connection, as another
// program would see them (what is committed, nothing else).
int committed_rows(const std::string &path) {
    sqlite3 *db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM records", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW)
            rows = sqlite3_column_int(s, 0);
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return rows;
}

// The SQLite name the store gave the file at `path`.
std::string schema_of(const std::string &path) {
    sqlite3_stmt *s = nullptr;
    std::string found;
    sqlite3_prepare_v2(bbs::host_db(), "PRAGMA database_list", -1, &s, nullptr);
    while (sqlite3_step(s) == SQLITE_ROW) {
        if (std::filesystem::path(reinterpret_cast<const char *>(sqlite3_column_text(s, 2))).filename() ==
            std::filesystem::path(path).filename())
            found = reinterpret_cast<const char *>(sqlite3_column_text(s, 1));
    }
    sqlite3_finalize(s);
    return found;
}

TEST_F(DataFile, ACallCommitsWholeAtItsOutermostEnd) {
    dfa_file *a, *b;
    {
        // Files opened inside a call (a plug-in's start-up) work in it.
        bbs::CallTransaction call;
        a = dfaOpen("a.dat", RECORD_LENGTH, nullptr);
        dfaSetBlk(a);
        insert_all({{"one", 1}});
        b = dfaOpen("b.dat", RECORD_LENGTH, nullptr);
        dfaSetBlk(b);
        insert_all({{"two", 2}});
        dfaRstBlk();
        dfaRstBlk();
    }
    EXPECT_EQ(committed_rows(dir_ + "/a.dat"), 1);
    EXPECT_EQ(committed_rows(dir_ + "/b.dat"), 1);
    {
        bbs::CallTransaction call;
        dfaSetBlk(a);
        insert_all({{"three", 3}});
        {
            bbs::CallTransaction nested;
            dfaSetBlk(b);
            insert_all({{"four", 4}});
            dfaRstBlk();
        }
        dfaRstBlk();
        EXPECT_EQ(committed_rows(dir_ + "/a.dat"), 1) << "not before the outermost call ends";
        EXPECT_EQ(committed_rows(dir_ + "/b.dat"), 1);
    }
    EXPECT_EQ(committed_rows(dir_ + "/a.dat"), 2);
    EXPECT_EQ(committed_rows(dir_ + "/b.dat"), 2);
    {
        // A shutdown routine closes its file after writing to it.
        bbs::CallTransaction call;
        dfaSetBlk(b);
        insert_all({{"five", 5}});
        dfaRstBlk();
        dfaClose(b);
        dfaSetBlk(b);
        EXPECT_FALSE(get("five")) << "closed";
        dfaRstBlk();
    }
    EXPECT_EQ(committed_rows(dir_ + "/b.dat"), 3);
    b = dfaOpen("b.dat", RECORD_LENGTH, nullptr);
    dfaSetBlk(b);
    EXPECT_EQ(keys_in_insertion_order(), (Keys{"two", "four", "five"}));
    EXPECT_TRUE(bbs::data_error().empty()) << bbs::data_error();
}

TEST_F(DataFile, AFailedWriteRollsTheWholeCallBackAndIsReported) {
    dfa_file *a = dfaOpen("a.dat", RECORD_LENGTH, nullptr);
    dfa_file *b = dfaOpen("b.dat", RECORD_LENGTH, nullptr);
    ASSERT_TRUE(a && b);
    dfaSetBlk(b);
    insert_all({{"kept", 1}});
    dfaRstBlk();
    // b.dat cannot grow any more: the next new page is a full disk.
    std::string limit = "PRAGMA " + schema_of(dir_ + "/b.dat") + ".max_page_count = 1";
    ASSERT_EQ(sqlite3_exec(bbs::host_db(), limit.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    {
        bbs::CallTransaction call;
        dfaSetBlk(a);
        insert_all({{"first", 1}});
        ASSERT_TRUE(bbs::store_blob("settings", "abc", 3));
        dfaRstBlk();
        dfaSetBlk(b);
        int inserted = 0;
        for (; inserted < 10000; ++inserted) {
            Record r = make("r" + std::to_string(inserted), inserted);
            if (dfaInsert(&r) == 0) break;
        }
        ASSERT_LT(inserted, 10000);
        EXPECT_NE(bbs::data_error().find("b.dat"), std::string::npos) << bbs::data_error();
        EXPECT_FALSE(get("kept")) << "nothing more is done in a failed call";
        EXPECT_FALSE(bbs::join_transaction());
        dfaRstBlk();
    }
    EXPECT_FALSE(bbs::data_error().empty()) << "the failure stays visible until the core clears it";
    bbs::clear_data_error();
    dfaSetBlk(a);
    EXPECT_EQ(keys_in_key_order(), Keys{});
    dfaRstBlk();
    dfaSetBlk(b);
    EXPECT_EQ(keys_in_key_order(), Keys{"kept"});
    dfaRstBlk();
    char blob[3];
    EXPECT_FALSE(bbs::load_blob("settings", blob, sizeof blob));
    {
        bbs::CallTransaction call;  // the next call goes on as usual
        dfaSetBlk(a);
        insert_all({{"second", 2}});
        dfaRstBlk();
    }
    EXPECT_EQ(committed_rows(dir_ + "/a.dat"), 1);
    EXPECT_TRUE(bbs::data_error().empty());
}

// ------------------------------------------------------------ crash test
//
// A child process runs calls against two files, each call keeping the
// invariant "the ledger's count equals the number of items", and is killed
// with SIGKILL at random moments (and once while it is stopped half-way
// through a call). After each kill the files must show exactly the state
// after some call, no earlier than the last call the child reported done.

constexpr int CRASH_LENGTH = 64;

struct LedgerRecord {
    char key[UIDSIZ];
    char gap[2];
    int32_t count;  // items in items.dat
    int32_t last;   // the last call that ran
    char pad[CRASH_LENGTH - UIDSIZ - 10];
};
struct ItemRecord {
    char key[UIDSIZ];
    char gap[2];
    int32_t id;       // the call that added it
    int32_t touched;  // the call that last updated it
    unsigned char pattern[CRASH_LENGTH - UIDSIZ - 10];
};
static_assert(sizeof(LedgerRecord) == CRASH_LENGTH && sizeof(ItemRecord) == CRASH_LENGTH);

ItemRecord make_item(int id, int touched) {
    ItemRecord item{};
    snprintf(item.key, sizeof item.key, "item%08d", id);
    item.id = id;
    item.touched = touched;
    for (size_t k = 0; k < sizeof item.pattern; ++k) item.pattern[k] = static_cast<unsigned char>(id * 7 + k);
    return item;
}

// What the call `i` does besides adding item i: every fifth call updates the
// item before it and deletes the one three before it.
bool deletes_in(int call) { return call % 5 == 0 && call >= 5; }

// The exact contents of items.dat after calls 1..last.
std::vector<ItemRecord> expected_items(int last) {
    std::vector<ItemRecord> items;
    for (int j = 1; j <= last; ++j) {
        if (j % 5 == 2 && j + 3 <= last) continue;
        items.push_back(make_item(j, j % 5 == 4 && j + 1 <= last ? j + 1 : 0));
    }
    return items;
}

struct Message {
    char kind;  // 'R' ready (id: last call in the files), 'B' call begins, 'E' call ended, 'M' stopped mid-call, 'X' fault
    int32_t id;
};

void send(int fd, char kind, int id) {
    Message m{kind, id};
    if (write(fd, &m, sizeof m) != sizeof m) _exit(3);
}

// The child: never returns.
[[noreturn]] void run_calls(const std::string &dir, int fd, bool stop_mid_call) {
    auto fault = [&](int where) {
        send(fd, 'X', where);
        _exit(2);
    };
    if (!bbs::open_data_store(dir)) fault(1);
    dfa_file *ledger = dfaOpen("ledger.dat", CRASH_LENGTH, nullptr);
    dfa_file *items = dfaOpen("items.dat", CRASH_LENGTH, nullptr);
    if (ledger == nullptr || items == nullptr) fault(2);
    LedgerRecord l{};
    dfaSetBlk(ledger);
    if (!dfaAcqLock(&l, "ledger", 0, DFA_GET_EQUAL, 0)) {
        bbs::CallTransaction call;
        strcpy(l.key, "ledger");
        if (!dfaInsert(&l)) fault(3);
    }
    dfaRstBlk();
    send(fd, 'R', l.last);
    for (int i = l.last + 1;; ++i) {
        send(fd, 'B', i);
        {
            bbs::CallTransaction call;
            dfaSetBlk(ledger);
            if (!dfaAcqLock(&l, "LEDGER", 0, DFA_GET_EQUAL, 0)) fault(4);
            dfaSetBlk(items);
            ItemRecord item = make_item(i, 0);
            if (!dfaInsert(&item)) fault(5);
            if (deletes_in(i)) {
                ItemRecord before;
                if (!dfaAcqLock(&before, make_item(i - 1, 0).key, 0, DFA_GET_EQUAL, 0)) fault(6);
                before.touched = i;
                if (!dfaUpdate(&before)) fault(7);
                if (!dfaAcqLock(nullptr, make_item(i - 3, 0).key, 0, DFA_GET_EQUAL, 0) || !dfaDelete()) fault(8);
            }
            dfaRstBlk();
            l.count += deletes_in(i) ? 0 : 1;
            l.last = i;
            if (!dfaUpdate(&l)) fault(9);
            dfaRstBlk();
            if (!bbs::data_error().empty()) fault(10);
            if (stop_mid_call && i % 5 == 0) {
                send(fd, 'M', i);
                for (;;) pause();
            }
        }
        if (!bbs::data_error().empty()) fault(11);
        send(fd, 'E', i);
    }
}

struct CrashFigures {
    int rounds = 0;
    int calls_finished = 0;
    int kills_mid_call = 0;       // a call had begun and was not reported done
    int mid_call_committed = 0;   // ... and its commit had gone through
    int mid_call_rolled_back = 0; // ... and nothing of it was kept
};

// Reads the files as they are after a kill: the ledger's last call, or -1
// with a failure recorded when the files are not the state after that call.
int check_files(const std::string &dir) {
    EXPECT_TRUE(bbs::open_data_store(dir)) << bbs::data_error();
    dfa_file *ledger = dfaOpen("ledger.dat", CRASH_LENGTH, nullptr);
    dfa_file *items = dfaOpen("items.dat", CRASH_LENGTH, nullptr);
    int last = -1;
    LedgerRecord l{};
    dfaSetBlk(ledger);
    bool has_ledger = dfaAcqLock(&l, "ledger", 0, DFA_GET_EQUAL, 0);
    dfaRstBlk();
    if (ledger != nullptr && items != nullptr) {
        last = has_ledger ? l.last : 0;
        std::vector<ItemRecord> expected = expected_items(last);
        std::vector<ItemRecord> found;
        ItemRecord item;
        dfaSetBlk(items);
        for (int ok = dfaStepLock(&item, DFA_STEP_FIRST, 0); ok; ok = dfaStepLock(&item, DFA_STEP_NEXT, 0))
            found.push_back(item);
        dfaRstBlk();
        EXPECT_EQ(l.count, static_cast<int>(found.size())) << "the ledger disagrees with the items";
        bool same = found.size() == expected.size();
        for (size_t k = 0; same && k < found.size(); ++k)
            same = memcmp(&found[k], &expected[k], sizeof(ItemRecord)) == 0;
        EXPECT_TRUE(same) << "items.dat is not the state after call " << last;
        if (!same || l.count != static_cast<int>(found.size())) last = -1;
    } else {
        ADD_FAILURE() << "cannot reopen the files";
    }
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(bbs::host_db(), "PRAGMA integrity_check", -1, &s, nullptr);
    EXPECT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(s, 0)), "ok");
    sqlite3_finalize(s);
    bbs::close_data_store();
    return last;
}

TEST(DataFileCrash, KillNineLosesNothingFinishedAndLeavesNothingHalfWritten) {
    const std::string dir = make_temp_dir();
    const int max_rounds = 120;
    const auto budget = std::chrono::seconds(10);
    std::random_device seed_source;
    const unsigned seed = seed_source();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_ms(5, 150);
    CrashFigures figures;
    int deliberate_mid_call = -1;
    int last = 0;
    const auto start = std::chrono::steady_clock::now();
    bbs::close_data_store();  // a connection must not cross fork()

    for (int round = 0; round < max_rounds && std::chrono::steady_clock::now() - start < budget; ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(seed));
        const bool stop_mid_call = round == 1;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(fds[0]);
            run_calls(dir, fds[1], stop_mid_call);
        }
        close(fds[1]);

        std::vector<Message> messages;
        auto take = [&](int timeout_ms) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, timeout_ms) <= 0) return false;
            Message m;
            ssize_t n = read(fds[0], &m, sizeof m);
            if (n != sizeof m) return false;
            messages.push_back(m);
            return true;
        };
        // Wait until the child is running calls (or stopped in one), then
        // let it run a while, reading its reports, and kill it.
        const auto wait_until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (messages.empty() || messages.back().kind == 'R') {
            if (!take(100) && std::chrono::steady_clock::now() > wait_until) break;
        }
        if (stop_mid_call) {
            while (messages.back().kind != 'M' && messages.back().kind != 'X' && take(5000)) {}
        } else {
            const auto kill_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay_ms(random));
            while (std::chrono::steady_clock::now() < kill_at) take(1);
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        while (take(0)) {}
        close(fds[0]);

        ASSERT_FALSE(messages.empty()) << "the child never reported";
        ASSERT_EQ(messages.front().kind, 'R');
        ASSERT_EQ(messages.front().id, last) << "the child did not start from the last state";
        int finished = last, begun = last;
        for (const Message &m : messages) {
            ASSERT_NE(m.kind, 'X') << "the child failed at step " << m.id;
            if (m.kind == 'B') begun = m.id;
            if (m.kind == 'E') {
                finished = m.id;
                ++figures.calls_finished;
            }
        }
        if (stop_mid_call) {
            ASSERT_EQ(messages.back().kind, 'M');
            deliberate_mid_call = messages.back().id;
        }

        int found = check_files(dir);
        ASSERT_GE(found, 0);
        EXPECT_GE(found, finished) << "a call reported finished was lost";
        EXPECT_LE(found, begun) << "the files hold a call that never began";
        if (stop_mid_call) {
            EXPECT_EQ(found, deliberate_mid_call - 1) << "half a call was kept";
        }
        if (begun > finished) {
            ++figures.kills_mid_call;
            (found == begun ? figures.mid_call_committed : figures.mid_call_rolled_back)++;
        }
        last = found;
        ++figures.rounds;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("crash test: %d rounds in %.1f s, %d calls finished (%d in the files), %d kills landed mid-call "
           "(%d of them after the commit went through, %d rolled back; one deliberately stopped after its "
           "writes), seed %u\n",
           figures.rounds, seconds, figures.calls_finished, last, figures.kills_mid_call, figures.mid_call_committed,
           figures.mid_call_rolled_back, seed);
    EXPECT_GE(figures.rounds, 10);
    EXPECT_GT(figures.kills_mid_call, 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
