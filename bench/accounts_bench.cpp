// The daily clean-up at the scale of a large user base: the Credit's monthly
// pass and the Demo Clean's daily pass through the host, against a plain
// SQLite program doing the same reads and writes on copies of the same
// files, in one transaction each, with the same durability (rollback
// journal, synchronous FULL). The plain program is the floor for the work.
//
//   accounts_bench [--audit] [--keep] [ACCOUNTS ...]    (default: 100000 1000000)
//   accounts_bench --make DIR ACCOUNTS                  a BBS directory to serve, for the crash test
//
// The accounts: half in the allotted classes (USER and PREMIUM, which hold
// the key USER), the other half DEMO; two thirds of the DEMO accounts (a
// third of all) are old enough to be tagged. User-IDs do not follow the
// order the accounts were made in, as on a real board, so the Credit's walk
// (the order records were made) and the Demo Clean's (user-ID order) differ.
// With --audit the Demo Clean writes its audit entry and report line for
// each tagged account, as the demo BBS has it; without, only the data work
// is timed.
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core.h"
#include "datafile.h"
#include "settings.h"
#include "state.h"

namespace fs = std::filesystem;

namespace {

// The BBS's day: March 5, 2026, noon; the allotment day is the 5th.
constexpr int YEAR = 2026, MONTH = 3, DAY = 5;
constexpr uint16_t OLD_DATE = ((2025 - 1980) << 9) | (1 << 5) | 1;          // 2025-01-01
constexpr uint16_t RECENT_DATE = ((YEAR - 1980) << 9) | (MONTH << 5) | 1;   // 2026-03-01
constexpr int32_t USER_ALLOTMENT = 100, PREMIUM_ALLOTMENT = 500;
constexpr int32_t START_BALANCE = 1000, START_POSTED = 5000, RETAINED = 50;

[[noreturn]] void die(const std::string &what) {
    fprintf(stderr, "accounts_bench: %s\n", what.c_str());
    exit(1);
}

double seconds_for(const std::function<void()> &work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot read " + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) die("cannot write " + path);
}

// Sets the value of option `number` in the text of a message file.
std::string set_option(const std::string &text, int number, const std::string &value) {
    std::istringstream in(text);
    std::string out, prefix = std::to_string(number) + " ";
    bool found = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0 && line.find('=') != std::string::npos) {
            line = line.substr(0, line.rfind('=')) + "= " + value;
            found = true;
        }
        out += line + "\n";
    }
    if (!found) die("no option " + std::to_string(number) + " to set");
    return out;
}

// What account i is: its class and the day it was made.
enum class Kind { user, premium, old_demo, recent_demo };

Kind kind_of(long i) {
    switch (i % 6) {
    case 0:
    case 4: return Kind::user;
    case 2: return Kind::premium;
    case 1:
    case 3: return Kind::old_demo;
    default: return Kind::recent_demo;
    }
}

// User-ID of the i-th account made: a permutation of 0..n-1, so that user-ID
// order is not the order of making.
std::string user_id_of(long i, long n) {
    long number = (i * 7919L + 13) % n;
    char text[UIDSIZ];
    snprintf(text, sizeof text, "Caller %07ld", number);
    return text;
}

account_record make_account(long i, long n) {
    account_record a;
    memset(&a, 0, sizeof a);
    stlcpy(a.user_id, user_id_of(i, n).c_str(), sizeof a.user_id);
    Kind k = kind_of(i);
    const char *cls = k == Kind::user ? "USER" : k == Kind::premium ? "PREMIUM" : "DEMO";
    stlcpy(a.class_name, cls, sizeof a.class_name);
    a.account_date = k == Kind::recent_demo ? RECENT_DATE : OLD_DATE;
    a.screen_width = 80;
    a.screen_length = 24;
    a.credit_balance = START_BALANCE;
    a.credits_posted = START_POSTED;
    a.retained_credits = RETAINED;
    a.total_calls = static_cast<uint32_t>(i);
    return a;
}

// The BBS directory: the two plug-ins, the classes, the options.
void write_bbs(const std::string &dir, bool audit, int port) {
    fs::create_directories(dir);
    write_file(dir + "/WGSERV.CFG", "DLL=KRVCRED\nDLL=KRVDMCLN\nLINES=4\nPORT=" + std::to_string(port) +
                                        "\nCLEANUP_TIME=23:59\nIDLE_WARN_SECONDS=0\nIDLE_LIMIT_SECONDS=0\n");
    write_file(dir + "/CLASSES.CFG",
               "[DEMO]\nKEYS=\n[USER]\nKEYS=USER\n[PREMIUM]\nKEYS=USER PREMIUM\n[SYSOP]\nKEYS=SYSOP\n");
    std::string source = BBS_SOURCE_DIR;
    std::string credit = read_file(source + "/modules/credit/krvcred.mcv");
    credit = set_option(credit, 4, "\"USER\"");
    credit = set_option(credit, 5, "\"PREMIUM\"");
    credit = set_option(credit, 6, "\"\"");
    credit = set_option(credit, 9, std::to_string(USER_ALLOTMENT));
    credit = set_option(credit, 10, std::to_string(PREMIUM_ALLOTMENT));
    credit = set_option(credit, 14, std::to_string(DAY));
    write_file(dir + "/krvcred.mcv", credit);
    std::string clean = read_file(source + "/modules/demo_clean/krvdmcln.mcv");
    clean = set_option(clean, 2, "\"USER\"");
    clean = set_option(clean, 4, "30");
    clean = set_option(clean, 5, audit ? "yes" : "no");
    clean = set_option(clean, 6, audit ? "yes" : "no");
    write_file(dir + "/krvdmcln.mcv", clean);
    fs::copy_file(source + "/modules/credit/KRVCRED.MDF", dir + "/KRVCRED.MDF", fs::copy_options::overwrite_existing);
    fs::copy_file(source + "/modules/demo_clean/KRVDMCLN.MDF", dir + "/KRVDMCLN.MDF",
                  fs::copy_options::overwrite_existing);
}

void make_accounts(const std::string &dir, long n) {
    if (!bbs::open_data_store(dir)) die(bbs::data_error());
    {
        bbs::CallTransaction t;
        dfa_file *f = dfaOpen("ACCBB.DAT", sizeof(account_record), nullptr);
        if (f == nullptr) die("cannot open ACCBB.DAT");
        dfaSetBlk(f);
        for (long i = 0; i < n; ++i) {
            account_record a = make_account(i, n);
            if (!dfaInsert(&a)) die("cannot insert account " + std::to_string(i) + ": " + bbs::data_error());
        }
        dfaRstBlk();
    }
    if (!bbs::data_error().empty()) die(bbs::data_error());
    bbs::close_data_store();
}

struct FixedClock : bbs::ClockPort {
    int64_t local = bbs::days_from_civil(YEAR, MONTH, DAY) * 86400 + 12 * 3600;
    int64_t monotonic_ms() override { return 1000; }
    int64_t local_seconds() override { return local; }
    bool set_system_time(int64_t, std::string &error) override {
        error = "not here";
        return false;
    }
};

struct NoLines : bbs::TerminalPort {
    void send(int, std::string_view) override {}
    void hang_up(int) override {}
    int free_room(int) override { return 1 << 20; }
    void set_echo(int, bool) override {}
};

std::string program_folder() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }

// Times one plug-in's clean-up routine as the host runs it: one call, one
// transaction, its commit included.
double time_pass(const char *module_name) {
    int number = findmod(module_name);
    if (number < 0 || module[number]->daily_cleanup_routine == nullptr) die(std::string("no ") + module_name);
    plain_routine_t routine = module[number]->daily_cleanup_routine;
    double s = seconds_for([&] { bbs::plugin_call(-1, [&] { routine(); }); });
    if (!bbs::data_error().empty()) die(std::string(module_name) + ": " + bbs::data_error());
    return s;
}

class Db {
public:
    explicit Db(const std::string &path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) die("cannot open " + path);
    }
    ~Db() {
        for (sqlite3_stmt *s : statements_) sqlite3_finalize(s);
        sqlite3_close(db_);
    }
    void exec(const std::string &sql) {
        char *error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) die(sql + ": " + error);
    }
    sqlite3_stmt *prepare(const char *sql) {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) die(std::string(sql) + ": " + sqlite3_errmsg(db_));
        statements_.push_back(s);
        return s;
    }
    long count(const char *sql) {
        sqlite3_stmt *s = prepare(sql);
        if (sqlite3_step(s) != SQLITE_ROW) die(sqlite3_errmsg(db_));
        long n = sqlite3_column_int64(s, 0);
        sqlite3_reset(s);
        return n;
    }
    void done(sqlite3_stmt *s) {
        if (sqlite3_step(s) != SQLITE_DONE) die(sqlite3_errmsg(db_));
        sqlite3_reset(s);
    }

private:
    sqlite3 *db_ = nullptr;
    std::vector<sqlite3_stmt *> statements_;
};

// The floor: the same files (copies), the same work, written by hand.
double floor_credit(const std::string &dir) {
    Db db(dir + "/ACCBB.DAT");
    db.exec("PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL;");
    db.exec("ATTACH DATABASE '" + dir + "/krvcred.dat' AS cred; PRAGMA cred.journal_mode = DELETE;"
            " PRAGMA cred.synchronous = FULL;"
            "CREATE TABLE cred.records(seq INTEGER PRIMARY KEY AUTOINCREMENT,"
            " key TEXT NOT NULL UNIQUE COLLATE NOCASE, record BLOB NOT NULL);");
    sqlite3_stmt *walk = db.prepare("SELECT seq, record FROM main.records ORDER BY seq");
    sqlite3_stmt *find = db.prepare("SELECT record FROM cred.records WHERE key = ?1");
    sqlite3_stmt *insert = db.prepare("INSERT INTO cred.records(key, record) VALUES(?1, ?2)");
    sqlite3_stmt *update = db.prepare("UPDATE main.records SET record = ?1 WHERE seq = ?2");
    return seconds_for([&] {
        db.exec("BEGIN");
        while (sqlite3_step(walk) == SQLITE_ROW) {
            account_record a;
            memcpy(&a, sqlite3_column_blob(walk, 1), sizeof a);
            sqlite3_int64 seq = sqlite3_column_int64(walk, 0);
            int32_t allotment = strcmp(a.class_name, "USER") == 0      ? USER_ALLOTMENT
                                : strcmp(a.class_name, "PREMIUM") == 0 ? PREMIUM_ALLOTMENT
                                                                       : -1;
            if (allotment < 0) continue;
            sqlite3_bind_text(find, 1, a.user_id, -1, SQLITE_STATIC);
            bool found = sqlite3_step(find) == SQLITE_ROW;
            sqlite3_reset(find);
            if (found) die("the floor found a credit record");
            unsigned char record[48] = {};
            memcpy(record, a.user_id, UIDSIZ);
            int32_t fields[4] = {a.retained_credits, a.credits_posted + allotment, 0, allotment};
            memcpy(record + 32, fields, sizeof fields);
            sqlite3_bind_text(insert, 1, a.user_id, -1, SQLITE_STATIC);
            sqlite3_bind_blob(insert, 2, record, sizeof record, SQLITE_STATIC);
            db.done(insert);
            a.credits_posted += allotment;
            a.credit_balance += allotment;
            sqlite3_bind_blob(update, 1, &a, sizeof a, SQLITE_STATIC);
            sqlite3_bind_int64(update, 2, seq);
            db.done(update);
        }
        sqlite3_reset(walk);
        db.exec("COMMIT");
    });
}

double floor_demo_clean(const std::string &dir) {
    Db db(dir + "/ACCBB.DAT");
    db.exec("PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL;");
    sqlite3_stmt *walk = db.prepare("SELECT seq, record FROM main.records ORDER BY key");
    sqlite3_stmt *update = db.prepare("UPDATE main.records SET record = ?1 WHERE seq = ?2");
    const uint16_t today = ((YEAR - 1980) << 9) | (MONTH << 5) | DAY;
    return seconds_for([&] {
        db.exec("BEGIN");
        while (sqlite3_step(walk) == SQLITE_ROW) {
            account_record a;
            memcpy(&a, sqlite3_column_blob(walk, 1), sizeof a);
            if (strcmp(a.class_name, "DEMO") != 0 || a.account_date > today ||
                bbs::days_from_civil(YEAR, MONTH, DAY) -
                        bbs::days_from_civil(1980 + (a.account_date >> 9), (a.account_date >> 5) & 15,
                                             a.account_date & 31) <
                    30)
                continue;
            a.account_flags |= ACCOUNT_TAGGED_FOR_DELETION;
            sqlite3_bind_blob(update, 1, &a, sizeof a, SQLITE_STATIC);
            sqlite3_bind_int64(update, 2, sqlite3_column_int64(walk, 0));
            db.done(update);
        }
        sqlite3_reset(walk);
        db.exec("COMMIT");
    });
}

// The work done, counted in the files.
void check_results(const std::string &dir, long n) {
    Db accounts(dir + "/ACCBB.DAT");
    long tagged = accounts.count("SELECT count(*) FROM records WHERE hex(substr(record, 221, 1)) = '08'");
    long allotted = accounts.count(
        "SELECT count(*) FROM records WHERE substr(record, 257, 4) IN (CAST('USER' AS BLOB), CAST('PREM' AS BLOB))"
        " AND hex(substr(record, 281, 4)) IN ('4C040000', 'DC050000')");
    long expected_allotted = 0, expected_tagged = 0;
    for (long i = 0; i < n; ++i) {
        Kind k = kind_of(i);
        expected_allotted += k == Kind::user || k == Kind::premium;
        expected_tagged += k == Kind::old_demo;
    }
    if (tagged != expected_tagged || allotted != expected_allotted)
        die(dir + ": " + std::to_string(allotted) + " allotted (" + std::to_string(expected_allotted) + " wanted), " +
            std::to_string(tagged) + " tagged (" + std::to_string(expected_tagged) + " wanted)");
    Db credit(dir + "/krvcred.dat");
    if (credit.count("SELECT count(*) FROM records") != expected_allotted) die(dir + ": credit records missing");
}

long peak_rss_kb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmHWM:", 0) == 0) return atol(line.c_str() + 6);
    return 0;
}

void run(long n, bool audit, bool keep) {
    std::string base = fs::temp_directory_path() / "accounts_bench.XXXXXX";
    if (mkdtemp(base.data()) == nullptr) die("cannot make a temporary directory");
    std::string dir = base + "/bbs", floor_dir = base + "/floor";
    write_bbs(dir, audit, 2323);
    double made = seconds_for([&] { make_accounts(dir, n); });
    fs::create_directories(floor_dir);
    fs::copy_file(dir + "/ACCBB.DAT", floor_dir + "/ACCBB.DAT");

    bbs::HostSettings settings;
    std::vector<std::string> errors;
    if (!bbs::load_settings(dir, settings, errors)) die(errors.empty() ? "bad settings" : errors.front());
    settings.run_missed_cleanup = false;
    FixedClock clock;
    NoLines lines;
    if (!bbs::start_host(dir, settings, program_folder(), &lines, &clock, errors))
        die(errors.empty() ? "the host did not start" : errors.front());
    double credit = time_pass("Credit");
    double demo = time_pass("Demo Clean");
    bbs::stop_host("");
    check_results(dir, n);

    double credit_floor = floor_credit(floor_dir);
    double demo_floor = floor_demo_clean(floor_dir);
    check_results(floor_dir, n);

    long bytes = static_cast<long>(fs::file_size(dir + "/ACCBB.DAT"));
    printf("%ld accounts (%ld MB account file; made in %.1f s), Demo Clean audit and report %s\n", n, bytes >> 20,
           made, audit ? "on" : "off");
    printf("  %-26s %10s %10s %8s %12s\n", "pass", "host s", "floor s", "ratio", "host us/acct");
    printf("  %-26s %10.2f %10.2f %8.2f %12.2f\n", "Credit (monthly)", credit, credit_floor, credit / credit_floor,
           credit / n * 1e6);
    printf("  %-26s %10.2f %10.2f %8.2f %12.2f\n", "Demo Clean (daily)", demo, demo_floor, demo / demo_floor,
           demo / n * 1e6);
    printf("  peak memory of this process: %ld MB\n", peak_rss_kb() >> 10);
    fflush(stdout);
    if (keep)
        printf("  kept in %s\n", base.c_str());
    else
        fs::remove_all(base);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<long> sizes;
    bool audit = false, keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--make") {
            if (i + 2 >= argc) die("--make DIR ACCOUNTS");
            std::string dir = argv[i + 1];
            long n = atol(argv[i + 2]);
            if (n <= 0) die("the number of accounts must be positive");
            if (fs::exists(dir + "/ACCBB.DAT")) die(dir + " already holds accounts");
            int port = i + 3 < argc ? atoi(argv[i + 3]) : 2323;
            write_bbs(dir, false, port);
            make_accounts(dir, n);
            printf("%ld accounts in %s\n", n, dir.c_str());
            return 0;
        }
        if (a == "--audit") {
            audit = true;
        } else if (a == "--keep") {
            keep = true;
        } else {
            long n = atol(a.c_str());
            if (n <= 0) die("usage: accounts_bench [--audit] [--keep] [ACCOUNTS ...] | --make DIR ACCOUNTS [PORT]");
            sizes.push_back(n);
        }
    }
    if (sizes.empty()) sizes = {100000, 1000000};
    printf("The clean-up passes through the host against plain SQLite (the floor), one transaction each,\n"
           "rollback journal, synchronous FULL; half the accounts allotted, a third tagged.\n");
    for (long n : sizes) run(n, audit, keep);
    return 0;
}
