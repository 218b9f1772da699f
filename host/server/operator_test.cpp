// The operator's commands, run as the built bbshost on a BBS directory made
// by `bbshost init`, with the test plug-ins in place of the demo's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "datafile.h"
#include "dir_lock.h"
#include "driver.h"
#include "state.h"

namespace fs = std::filesystem;
using namespace bbs;
using bbs::testing::read_file;
using bbs::testing::write_file;

namespace {

const std::string kProgram = BBS_BIN_DIR "/bbshost";

struct Result {
    int status = -1;
    std::string out, err;
};

size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The words of the line of `text` that starts with `first` and a blank.
std::vector<std::string> words_of_row(const std::string &text, const std::string &first) {
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);) {
        if (l.rfind(first + " ", 0) != 0) continue;
        std::istringstream in(l);
        std::vector<std::string> words;
        for (std::string w; in >> w;) words.push_back(w);
        return words;
    }
    return {};
}

// Runs bbshost with `args`, `input` as its stdin (a file, not a terminal).
Result run(const std::vector<std::string> &args, const std::string &input = "") {
    char in_path[] = "/tmp/bbs-op-in-XXXXXX", out_path[] = "/tmp/bbs-op-out-XXXXXX",
         err_path[] = "/tmp/bbs-op-err-XXXXXX";
    int in = mkstemp(in_path), out = mkstemp(out_path), err = mkstemp(err_path);
    Result r;
    if (in < 0 || out < 0 || err < 0 || write(in, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        ADD_FAILURE() << "cannot make the files of a run";
        return r;
    }
    lseek(in, 0, SEEK_SET);
    std::vector<char *> argv = {const_cast<char *>(kProgram.c_str())};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(kProgram.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    for (int fd : {in, out, err}) close(fd);
    for (const char *p : {in_path, out_path, err_path}) unlink(p);
    return r;
}

// Opens the BBS's data store in this process for a look at what the commands
// left; closed at the end of the scope.
struct Store {
    explicit Store(const std::string &dir) { EXPECT_TRUE(open_data_store(dir)) << data_error(); }
    ~Store() { close_data_store(); }
};

class Operator : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bbs-operator-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        dir_ = root_ + "/bbs";
        Result r = run({"init", dir_});
        ASSERT_EQ(r.status, 0) << r.err;
        size_t at = r.out.find("password ");
        ASSERT_NE(at, std::string::npos) << r.out;
        sysop_password_ = r.out.substr(at + 9, r.out.find(' ', at + 9) - at - 9);
        use_test_plugins();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // The demo's plug-ins give way to the two test plug-ins, whose routines
    // write audit entries ("TEST DELETE", "TEST CLEANUP", ...).
    void use_test_plugins() {
        std::string cfg = "DLL=KRVTSTA\nDLL=KRVTSTB\n";
        std::istringstream lines(read_file(dir_ + "/WGSERV.CFG"));
        for (std::string l; std::getline(lines, l);)
            if (l.rfind("DLL=", 0) != 0) cfg += l + "\n";
        write_file(dir_ + "/WGSERV.CFG", cfg);
        for (const auto &e : fs::directory_iterator(bbs::testing::source_dir() + "/testing/plugin"))
            if (e.path().extension() != ".cpp") fs::copy_file(e.path(), dir_ + "/" + e.path().filename().string());
    }

    Result bbs(std::vector<std::string> args, const std::string &input = "") {
        args.insert(args.begin(), {"-d", dir_});
        return run(args, input);
    }

    void add(const std::string &id, const std::string &password, const std::string &cls = "") {
        std::vector<std::string> args = {"user", "add", id};
        if (!cls.empty()) args.push_back(cls);
        Result r = bbs(args, password + "\n");
        ASSERT_EQ(r.status, 0) << r.err;
    }

    bool password_is(const std::string &id, const std::string &password) {
        Store s(dir_);
        return check_password(id.c_str(), password);
    }

    std::string root_, dir_, sysop_password_;
};

TEST_F(Operator, InitMakesASysopWhosePasswordWorksAndRefusesAnExistingBbs) {
    EXPECT_EQ(sysop_password_.size(), 12u);
    EXPECT_TRUE(password_is("Sysop", sysop_password_));
    Result show = bbs({"user", "show", "sysop"});
    EXPECT_NE(show.out.find("Class:            SYSOP"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("Credits:          1000 "), std::string::npos) << show.out;
    EXPECT_EQ(show.out.find("Account made:     -"), std::string::npos) << show.out;  // dated today
    std::string before = read_file(dir_ + "/WGSERV.CFG");
    Result again = run({"init", dir_});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("already holds a BBS"), std::string::npos) << again.err;
    EXPECT_EQ(read_file(dir_ + "/WGSERV.CFG"), before);
    EXPECT_TRUE(password_is("Sysop", sysop_password_));
}

TEST_F(Operator, InitOnATerminalAsksTwiceWithoutEchoUntilTheTwoMatch) {
    std::string dir = root_ + "/typed";
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(kProgram.c_str(), "bbshost", "init", dir.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    std::string seen;
    size_t from = 0;
    // Reads what the terminal shows until `text` appears after what was
    // already waited for (or, for "", until the program ends).
    auto wait_for = [&](const std::string &text) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!text.empty()) {
                size_t at = seen.find(text, from);
                if (at != std::string::npos) {
                    from = at + text.size();
                    return true;
                }
            }
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[512];
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) return text.empty();
            seen.append(buffer, static_cast<size_t>(n));
        }
        return false;
    };
    auto type = [&](const std::string &line) {
        ASSERT_EQ(write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    };
    ASSERT_TRUE(wait_for("Password for Sysop")) << seen;
    type("first-try\n");
    ASSERT_TRUE(wait_for("again")) << seen;
    type("second-try\n");
    ASSERT_TRUE(wait_for("did not match")) << seen;
    ASSERT_TRUE(wait_for("Password for Sysop")) << seen;
    type("abc\n");  // too short: asked again
    ASSERT_TRUE(wait_for("4 to 64")) << seen;
    ASSERT_TRUE(wait_for("Password for Sysop")) << seen;
    type("typed-secret\n");
    ASSERT_TRUE(wait_for("again")) << seen;
    type("typed-secret\n");
    wait_for("");
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_NE(seen.find("with the password you typed"), std::string::npos) << seen;
    for (const char *typed : {"first-try", "second-try", "typed-secret"})
        EXPECT_EQ(seen.find(typed), std::string::npos) << seen;
    Store s(dir);
    EXPECT_TRUE(check_password("Sysop", "typed-secret"));
}

TEST_F(Operator, UsersAreAddedListedShownChangedAndDeleted) {
    Result added = bbs({"user", "add", "Big Bob"}, "secret1\n");
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_NE(added.out.find("class DEMO, 0 credits"), std::string::npos) << added.out;  // NEW_USER_CLASS
    add("carol", "secret2", "user");
    EXPECT_TRUE(password_is("Big Bob", "secret1"));

    Result list = bbs({"user", "list"});
    EXPECT_EQ(list.status, 0);
    size_t bob = list.out.find("\nBig Bob "), carol = list.out.find("\ncarol "), sysop = list.out.find("\nSysop ");
    ASSERT_NE(carol, std::string::npos) << list.out;
    EXPECT_TRUE(bob < carol && carol < sysop) << list.out;  // by user-ID, case ignored
    EXPECT_EQ(words_of_row(list.out, "carol"), (std::vector<std::string>{"carol", "USER", "never", "100", "-"}));
    EXPECT_NE(list.out.find("3 accounts"), std::string::npos);

    for (std::vector<std::string> change : {std::vector<std::string>{"credits", "250"},
                                            {"flags", "+suspended,+PROTECTED"},
                                            {"flags", "-protected"},
                                            {"class", "SYSOP"},
                                            {"key", "+chat,+Games"},
                                            {"key", "-GAMES"},
                                            {"screen-width", "132"},
                                            {"screen-length", "0"},
                                            {"account-date", "2020-02-29"}}) {
        Result r = bbs({"user", "set", "Carol", change[0], change[1]});
        EXPECT_EQ(r.status, 0) << change[0] << ": " << r.err;
    }
    Result password = bbs({"user", "set", "CAROL", "password"}, "changed1\n");
    EXPECT_EQ(password.status, 0) << password.err;
    EXPECT_TRUE(password_is("carol", "changed1"));

    Result show = bbs({"user", "show", "CAROL"});
    for (const char *line : {"User-ID:          carol\n", "Class:            SYSOP\n", "Own keys:         CHAT\n",
                             "Class keys:       SYSOP\n", "Flags:            SUSPENDED\n", "Credits:          250 ",
                             "Screen:           132 columns, 0 lines\n", "Mail:             0 (0 unread)\n",
                             "Account made:     2020-02-29\n"})
        EXPECT_NE(show.out.find(line), std::string::npos) << line << " in\n" << show.out;
    EXPECT_NE(read_file(dir_ + "/AUDIT.TXT").find("User-ID: carol: credits 100 -> 250 (by the operator)"),
              std::string::npos);

    Result deleted = bbs({"user", "delete", "carol"});
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_NE(deleted.out.find("TEST DELETE: KRVTSTA carol"), std::string::npos) << deleted.out;
    EXPECT_NE(deleted.out.find("TEST DELETE: KRVTSTB carol"), std::string::npos) << deleted.out;
    EXPECT_EQ(bbs({"user", "show", "carol"}).status, 1);
    EXPECT_FALSE(password_is("carol", "changed1"));
    EXPECT_NE(bbs({"user", "list"}).out.find("2 accounts"), std::string::npos);
}

TEST_F(Operator, BadUsageAndBadValuesAreRefusedWithNothingChanged) {
    add("Carol", "secret2", "USER");
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string message;
    };
    const Case cases[] = {
        {{"user", "add", "bad-id"}, "secret9\n", 1, "only letters, digits and blanks"},
        {{"user", "add", " Lead"}, "secret9\n", 1, "start with a letter or a digit"},
        {{"user", "add", "Trail "}, "secret9\n", 1, "may not end with a blank"},
        {{"user", "add", std::string(30, 'a')}, "secret9\n", 1, "at most 29 characters"},
        {{"user", "add", "new"}, "secret9\n", 1, "sign up"},
        {{"user", "add", "Dave", "NOCLASS"},
         "secret9\n",
         1,
         "no class 'NOCLASS' in CLASSES.CFG (classes: DEMO, USER, PREMIUM, SYSOP)"},
        {{"user", "add", "CAROL"}, "secret9\n", 1, "already an account 'Carol'"},
        {{"user", "add", "Dave"}, "abc\n", 1, "4 to 64 characters"},
        {{"user", "add", "Dave"}, "", 1, "no password for Dave on stdin"},
        {{"user", "add", "Dave"}, "tab\there\n", 1, "control character"},
        {{"user", "set", "Carol", "credits", "-1"}, "", 1, "outside 0..2147483647"},
        {{"user", "set", "Carol", "credits", "12x"}, "", 1, "'12x' is not a whole number"},
        {{"user", "set", "Carol", "credits", "99999999999"}, "", 1, "outside 0..2147483647"},
        {{"user", "set", "Carol", "flags", "+SUSPENDED,+FOO"}, "", 1, "no flag 'FOO'"},
        {{"user", "set", "Carol", "flags", "SUSPENDED"}, "", 1, "is not +NAME or -NAME"},
        {{"user", "set", "Carol", "screen-width", "10"}, "", 1, "outside 20..255"},
        {{"user", "set", "Carol", "screen-length", "256"}, "", 1, "outside 0..255"},
        {{"user", "set", "Carol", "class", "NOPE"}, "", 1, "no class 'NOPE'"},
        {{"user", "set", "Carol", "account-date", "2021-02-29"}, "", 1, "not a day written YYYY-MM-DD"},
        {{"user", "set", "Carol", "account-date", "1979-12-31"}, "", 1, "from 1980-01-01 to 2107-12-31"},
        {{"user", "set", "Carol", "account-date", "2020-1-05"}, "", 1, "'2020-1-05' is not a day"},
        {{"user", "set", "Carol", "account-date", "2020-04-31"}, "", 1, "is not a day"},
        {{"user", "set", "Carol", "key", "-USER"}, "", 1, "the class USER gives it"},
        {{"user", "set", "Carol", "key", "+CHAT,+A B"}, "", 1, "'A B' is not a key name"},
        {{"user", "set", "Carol", "password"}, "abc\n", 1, "4 to 64 characters"},
        {{"user", "set", "Carol", "password", "visible1"}, "", 2, "takes no value on the command line"},
        {{"user", "set", "Carol", "colour", "1"}, "", 2, "no field 'colour'"},
        {{"user", "set", "Carol", "credits"}, "", 2, "needs a VALUE"},
        {{"user", "set", "Nobody", "credits", "5"}, "", 1, "no account with the user-ID 'Nobody'"},
        {{"user", "show", "Nobody"}, "", 1, "no account with the user-ID 'Nobody'"},
        {{"user", "delete", "Nobody"}, "", 1, "no account with the user-ID 'Nobody'"},
        {{"user", "frob"}, "", 2, "user takes: list"},
        {{"user", "show"}, "", 2, "user takes: list"},
        {{"class", "show"}, "", 2, "class takes one word: list"},
        {{"purge", "now"}, "", 2, "unknown command or wrong arguments"},
    };
    std::string list = bbs({"user", "list"}).out, show = bbs({"user", "show", "Carol"}).out;
    std::string audit = read_file(dir_ + "/AUDIT.TXT");
    for (const Case &c : cases) {
        Result r = bbs(c.args, c.input);
        std::string what = c.args[0] + " " + c.args[1] + (c.args.size() > 2 ? " " + c.args[2] : "");
        EXPECT_EQ(r.status, c.status) << what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << ": " << r.err;
        EXPECT_EQ(r.out, "") << what;
    }
    EXPECT_EQ(bbs({"user", "list"}).out, list);
    EXPECT_EQ(bbs({"user", "show", "Carol"}).out, show);
    EXPECT_EQ(read_file(dir_ + "/AUDIT.TXT"), audit);
    EXPECT_TRUE(password_is("Carol", "secret2"));

    Result missing = run({"-d", root_ + "/none", "user", "list"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(root_ + "/none: no such directory"), std::string::npos) << missing.err;
    Result not_bbs = run({"-d", root_, "purge"});
    EXPECT_EQ(not_bbs.status, 1);
    EXPECT_NE(not_bbs.err.find("is not a BBS directory"), std::string::npos) << not_bbs.err;
    EXPECT_FALSE(fs::exists(root_ + "/BBSHOST.DB"));
}

TEST_F(Operator, PurgeRemovesOnlyTaggedAccountsAndLeavesAMissedCleanUpToCleanup) {
    for (const char *id : {"Keep", "Gone One", "Gone Two", "Spare"}) add(id, "secret1");
    for (const char *id : {"Gone One", "Gone Two"})
        EXPECT_EQ(bbs({"user", "set", id, "flags", "+TAGGED_FOR_DELETION"}).status, 0);
    EXPECT_EQ(bbs({"user", "set", "Spare", "flags", "+SUSPENDED"}).status, 0);
    {
        // The host was down over the last clean-up time.
        Store s(dir_);
        system_variables old{};
        old.cleanup_date = static_cast<uint16_t>((40 << 9) | (1 << 5) | 1);
        CallTransaction t;
        ASSERT_TRUE(store_blob("sv2", &old, sizeof old));
    }
    Result purge = bbs({"purge"});
    EXPECT_EQ(purge.status, 0) << purge.err;
    EXPECT_NE(purge.out.find("removed Gone One\nremoved Gone Two\n2 accounts removed\n"), std::string::npos)
        << purge.out;
    EXPECT_NE(purge.out.find("TEST DELETE: KRVTSTB Gone Two"), std::string::npos) << purge.out;
    Result deleted = bbs({"user", "delete", "Spare"});
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    Result list = bbs({"user", "list"});
    EXPECT_NE(list.out.find("\nKeep "), std::string::npos);
    EXPECT_EQ(list.out.find("Gone"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("2 accounts"), std::string::npos) << list.out;
    EXPECT_NE(bbs({"purge"}).out.find("0 accounts removed"), std::string::npos);
    EXPECT_EQ(read_file(dir_ + "/AUDIT.TXT").find("TEST CLEANUP"), std::string::npos);

    Result cleanup = bbs({"cleanup"});
    EXPECT_EQ(cleanup.status, 0) << cleanup.err;
    EXPECT_NE(cleanup.out.find("daily clean-up done"), std::string::npos);
    // Once, not a missed one at start-up and another after it.
    EXPECT_EQ(occurrences(read_file(dir_ + "/AUDIT.TXT"), "TEST CLEANUP\n"), 2u);
    EXPECT_EQ(occurrences(cleanup.out, "TEST CLEANUP: KRVTSTA"), 1u) << cleanup.out;
}

TEST_F(Operator, CheckFindsFaultsByFileAndLineWithoutTouchingTheDirectory) {
    auto snapshot = [&] {
        std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
        for (const auto &e : fs::recursive_directory_iterator(dir_))
            if (e.is_regular_file())
                files[fs::relative(e.path(), dir_).string()] = {e.file_size(), e.last_write_time()};
        return files;
    };
    Result sound = bbs({"check"});
    EXPECT_EQ(sound.status, 0) << sound.out;
    EXPECT_NE(sound.out.find("no faults found"), std::string::npos) << sound.out;

    std::string cfg = read_file(dir_ + "/WGSERV.CFG");
    write_file(dir_ + "/WGSERV.CFG", "DLL=KRVNONE\n" + cfg + "LINES=300\n");
    int lines_line = static_cast<int>(occurrences(cfg, "\n")) + 2;
    std::string mcv = read_file(dir_ + "/krvtsta.mcv");
    size_t at = mcv.find("= 5\n");
    ASSERT_NE(at, std::string::npos);
    write_file(dir_ + "/krvtsta.mcv", mcv.replace(at, 4, "= 5000\n"));
    auto before = snapshot();
    Result broken = bbs({"check"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.out.find("WGSERV.CFG:1: DLL=KRVNONE: there is no KRVNONE.so in " BBS_BIN_DIR), std::string::npos)
        << broken.out;
    EXPECT_NE(broken.out.find("WGSERV.CFG:" + std::to_string(lines_line) + ": LINES is set twice"), std::string::npos)
        << broken.out;
    EXPECT_NE(broken.out.find("krvtsta.mcv:3: option 2 (TST_TICK_SECONDS) is 5000, outside its range 0..3600"),
              std::string::npos)
        << broken.out;
    EXPECT_NE(broken.out.find("3 faults found"), std::string::npos) << broken.out;
    EXPECT_EQ(snapshot(), before);
}

TEST(DirectoryLockTest, OneHolderAtATimeAndTheRefusalNamesIt) {
    char pattern[] = "/tmp/bbs-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern, pid = std::to_string(getpid());
    {
        DirectoryLock serving, other;
        ASSERT_TRUE(serving.acquire(dir));
        EXPECT_FALSE(other.acquire(dir, "purge"));
        EXPECT_EQ(other.error(), "the BBS in " + dir + " is being served by bbshost (pid " + pid + "); stop it first");
        serving.release();
        ASSERT_TRUE(other.acquire(dir, "purge"));
        EXPECT_FALSE(serving.acquire(dir));
        EXPECT_EQ(serving.error(), "the BBS in " + dir + " is in use by bbshost purge (pid " + pid +
                                       "); try again when it has finished");
    }
    DirectoryLock after;
    EXPECT_TRUE(after.acquire(dir));  // released with its holder
    after.release();
    DirectoryLock nowhere;
    EXPECT_FALSE(nowhere.acquire(dir + "/none"));
    EXPECT_NE(nowhere.error().find("cannot lock the BBS in " + dir + "/none"), std::string::npos) << nowhere.error();
    fs::remove_all(dir);
}

TEST_F(Operator, WhileTheBbsIsServedOnlyTheCommandsThatChangeNothingServingKeepsRun) {
    add("Gone", "secret1");
    EXPECT_EQ(bbs({"user", "set", "Gone", "flags", "+TAGGED_FOR_DELETION"}).status, 0);
    DirectoryLock serving;
    ASSERT_TRUE(serving.acquire(dir_));
    std::string refusal =
        "the BBS in " + dir_ + " is being served by bbshost (pid " + std::to_string(getpid()) + "); stop it first";
    for (std::vector<std::string> args : {std::vector<std::string>{"purge"},
                                          {"cleanup"},
                                          {"user", "delete", "Gone"},
                                          {"user", "set", "Gone", "credits", "5"}}) {
        Result r = bbs(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err.find(refusal), std::string::npos) << r.err;
    }
    for (std::vector<std::string> args :
         {std::vector<std::string>{"user", "list"}, {"user", "show", "Gone"}, {"class", "list"}, {"check"}})
        EXPECT_EQ(bbs(args).status, 0) << args[0];
    add("Newcomer", "secret2");
    Result show = bbs({"user", "show", "Gone"});
    EXPECT_NE(show.out.find("TAGGED_FOR_DELETION"), std::string::npos);
    EXPECT_NE(show.out.find("Credits:          0 "), std::string::npos) << show.out;
}

}  // namespace
