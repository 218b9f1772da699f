// Call Back on the test driver: the wait after a hang-up, measured across
// midnight, and the rules that let a caller through before it is over (the
// key, the channel range, the time window, the number of busy lines); what a
// refused caller is shown, the audit entry, and the record kept per user-ID.
// The BBS starts at 12:00:00 on 12/11/26.
#include <gtest/gtest.h>

#include <map>

#include "call_back.h"
#include "datafile.h"
#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

// A wait of ten minutes on every channel, SYSOP exempt, refusals audited;
// `changed` overrides options by number.
BbsOptions call_back_bbs(const std::map<int, std::string> &changed = {}) {
    BbsOptions o;
    o.plugins = {"KRVCALBK"};
    o.options["krvcalbk.mcv"] = {{CB_EXEMPT_KEY, "\"SYSOP\""}, {CB_DELAY_SECONDS, "600"}, {CB_USE_TIME_WINDOW, "no"},
                                 {CB_USE_MIN_USERS, "no"},     {CB_MIN_USERS, "0"},       {CB_FIRST_CHANNEL, "0"},
                                 {CB_LAST_CHANNEL, "FF"},      {CB_AUDIT, "yes"}};
    for (const auto &[number, value] : changed) o.options["krvcalbk.mcv"][number] = value;
    return o;
}

// The record Call Back keeps for `user_id`, read through the host's data
// files as the plug-in reads it.
bool stored_hangup(const std::string &user_id, hangup_record &out) {
    CallTransaction t;
    dfa_file *file = dfaOpen("krvcalbk.dat", sizeof(hangup_record), nullptr);
    char key[UIDSIZ] = {};
    stlcpy(key, user_id.c_str(), sizeof key);
    dfaSetBlk(file);
    int found = dfaAcqLock(&out, key, 0, DFA_GET_EQUAL, 0);
    dfaRstBlk();
    dfaClose(file);
    return found != 0;
}

bool has_record(const std::string &user_id) {
    hangup_record r;
    return stored_hangup(user_id, r);
}

uint16_t packed_date(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

uint16_t packed_time(int hour, int minute, int second) {
    return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

// What a caller refused at 12/11/26 `now` sees, with the end of the wait.
std::string refusal(const std::string &end_date, const std::string &end_time, const std::string &date,
                    const std::string &time) {
    return "<14|" + end_date + "|" + end_time + "><15|" + date + "|" + time + ">";
}

class CallBack : public ::testing::Test {
protected:
    explicit CallBack(const std::map<int, std::string> &changed = {}) : bbs(call_back_bbs(changed)) {
        bbs.add_user("Alice", "alicepw", "USER");
        bbs.add_user("Root", "rootpw", "SYSOP");
    }
    // A call that ends at once: logs on, then drops the line.
    void call_and_hang_up(const std::string &user_id, const std::string &password, int line = -1) {
        int n = bbs.log_on(user_id, password, line);
        ASSERT_TRUE(bbs.connected(n)) << user_id << " could not log on: " << bbs.output(n);
        bbs.hang_up(n);
        bbs.take_output(n);
    }
    // A log-on; the output of the line, and whether the caller is still on.
    std::string call(const std::string &user_id, const std::string &password, bool &on, int line = -1) {
        int n = bbs.log_on(user_id, password, line);
        on = bbs.connected(n);
        std::string out = bbs.take_output(n);
        if (on) bbs.hang_up(n);
        return out;
    }
    Bbs bbs;
};

TEST_F(CallBack, ACallerWhoCallsBackTooSoonIsToldWhenHeMayAndLetInThen) {
    call_and_hang_up("Alice", "alicepw");
    hangup_record r;
    ASSERT_TRUE(stored_hangup("alice", r));
    EXPECT_STREQ(r.user_id, "Alice");
    EXPECT_EQ(r.hangup_date, packed_date(2026, 12, 11));
    EXPECT_EQ(r.hangup_time, packed_time(12, 0, 0));

    bbs.advance(60);
    int n = bbs.log_on("Alice", "alicepw");
    std::string out = bbs.take_output(n);
    EXPECT_NE(out.find(refusal("12/11/26", "12:10:00", "12/11/26", "12:01:00")), std::string::npos) << out;
    EXPECT_EQ(out.find("Welcome,"), std::string::npos) << out;
    EXPECT_EQ(out.find("Wrong password"), std::string::npos) << out;
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_EQ(details(bbs, "KRV Call Back delayed Log-on"), std::vector<std::string>{"User-ID: Alice"});

    // Every try during the wait is measured from the same hang-up.
    bbs.advance(8 * 60);
    bool on = true;
    out = call("Alice", "alicepw", on);
    EXPECT_FALSE(on);
    EXPECT_NE(out.find(refusal("12/11/26", "12:10:00", "12/11/26", "12:09:00")), std::string::npos) << out;
    ASSERT_TRUE(stored_hangup("Alice", r));
    EXPECT_EQ(r.hangup_time, packed_time(12, 0, 0));

    // A wrong password is the password check's to answer; the wait is not shown.
    n = bbs.log_on("Alice", "wrong");
    out = bbs.take_output(n);
    EXPECT_NE(out.find("Wrong password"), std::string::npos) << out;
    EXPECT_EQ(out.find("<14|"), std::string::npos) << out;
    bbs.hang_up(n);

    bbs.advance(60);  // 12:10:00: the wait is over, and the record goes
    n = bbs.log_on("Alice", "alicepw");
    EXPECT_TRUE(bbs.connected(n));
    EXPECT_NE(bbs.take_output(n).find("Welcome, Alice!"), std::string::npos);
    EXPECT_FALSE(has_record("Alice"));
    EXPECT_EQ(details(bbs, "KRV Call Back delayed Log-on").size(), 2u);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(CallBack, TheKeyHolderNeverWaitsAndHisRecordGoes) {
    call_and_hang_up("Root", "rootpw");
    EXPECT_TRUE(has_record("Root"));
    int n = bbs.log_on("Root", "rootpw");
    EXPECT_TRUE(bbs.connected(n));
    EXPECT_FALSE(has_record("Root"));
    EXPECT_TRUE(details(bbs, "KRV Call Back delayed Log-on").empty());
}

TEST_F(CallBack, AnInjectingLineIsShownTheSameAndDropped) {
    call_and_hang_up("Alice", "alicepw");
    bbs.advance(30);
    int n = bbs.connect();
    int drops = bbs.hang_ups(n);
    bbs.line(n).session.session_flags |= SESSION_INJECT_ON_REFUSAL;
    bbs.type(n, "Alice");
    bbs.type(n, "alicepw");
    std::string out = bbs.take_output(n);
    EXPECT_NE(out.find(refusal("12/11/26", "12:10:00", "12/11/26", "12:00:30")), std::string::npos) << out;
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_EQ(bbs.hang_ups(n), drops + 1);
    EXPECT_EQ(message_selection_depth(), 0u);
}

// Whoever's line it is, the hang-up routine leaves out an account with the
// flag 0x8000; the disconnect hook, which runs at every hang-up too, does not.
TEST_F(CallBack, TheFlag8000SparesTheRecordOfTheHangUpRoutineOnly) {
    account_record a;
    ASSERT_TRUE(bbs.read_account("Alice", a));
    a.account_flags |= ACCOUNT_CALLBACK_EXEMPT;
    bbs.write_account(a);
    int n = bbs.log_on("Alice", "alicepw");
    ASSERT_TRUE(bbs.connected(n));
    module_descriptor *call_back = module[findmod("Call Back")];
    plugin_call(n, [&] { call_back->hangup_routine(); });
    EXPECT_FALSE(has_record("Alice"));
    int r = bbs.log_on("Root", "rootpw");
    plugin_call(r, [&] { call_back->hangup_routine(); });
    EXPECT_TRUE(has_record("Root"));

    bbs.hang_up(n);
    EXPECT_TRUE(has_record("Alice"));
    bool on = true;
    call("Alice", "alicepw", on);
    EXPECT_FALSE(on);
}

TEST_F(CallBack, NothingIsKeptForAUserIdThatCannotBeOne) {
    int n = bbs.log_on("Alice", "alicepw");
    stlcpy(bbs.line(n).account.user_id, "-Alice", UIDSIZ);
    bbs.hang_up(n);
    EXPECT_FALSE(has_record("-Alice"));
    EXPECT_FALSE(has_record("Alice"));
}

TEST_F(CallBack, ANewCallerUnderAUserIdStillWaitingIsSentAwayByTheConnectHook) {
    call_and_hang_up("Alice", "alicepw");
    account_record a;
    ASSERT_TRUE(bbs.read_account("Alice", a));
    {
        CallTransaction t;
        remove_account(a, "test");  // the record of the hang-up outlives the account
    }
    bbs.advance(60);
    int n = bbs.connect();
    for (const char *typed : {"NEW", "Alice", "newpass", "newpass"}) bbs.type(n, typed);
    std::string out = bbs.take_output(n);
    EXPECT_NE(out.find(refusal("12/11/26", "12:10:00", "12/11/26", "12:01:00")), std::string::npos) << out;
    EXPECT_EQ(out.find("Welcome,"), std::string::npos) << out;
    EXPECT_FALSE(bbs.connected(n));
}

class CallBackWithoutWait : public CallBack {
protected:
    CallBackWithoutWait() : CallBack({{CB_DELAY_SECONDS, "0"}}) {}
};

TEST_F(CallBackWithoutWait, ACallerCallingBackAtOnceIsLetInAndTheRecordGoes) {
    call_and_hang_up("Alice", "alicepw");
    EXPECT_TRUE(has_record("Alice"));
    int n = bbs.log_on("Alice", "alicepw");
    EXPECT_TRUE(bbs.connected(n));
    EXPECT_FALSE(has_record("Alice"));
}

class CallBackOverMidnight : public CallBack {
protected:
    CallBackOverMidnight() : CallBack({{CB_DELAY_SECONDS, "7200"}, {CB_AUDIT, "no"}}) {}
};

TEST_F(CallBackOverMidnight, AWaitPastMidnightEndsOnTheNextDay) {
    bbs.clock().set(2026, 12, 31, 23, 30, 0);
    call_and_hang_up("Alice", "alicepw");
    struct Case {
        int year, month, day, hour, minute;
        bool let_in;
        const char *now_date, *now_time;
    } cases[] = {
        {2026, 12, 31, 23, 45, false, "12/31/26", "23:45:00"},
        {2027, 1, 1, 1, 0, false, "01/01/27", "01:00:00"},
        {2027, 1, 1, 1, 29, false, "01/01/27", "01:29:00"},
        {2027, 1, 1, 1, 30, true, "", ""},
    };
    for (const Case &c : cases) {
        bbs.clock().set(c.year, c.month, c.day, c.hour, c.minute, 0);
        bool on = false;
        std::string out = call("Alice", "alicepw", on);
        EXPECT_EQ(on, c.let_in) << c.now_date << " " << c.now_time;
        if (!c.let_in) {
            EXPECT_NE(out.find(refusal("01/01/27", "01:30:00", c.now_date, c.now_time)), std::string::npos) << out;
        }
    }
    EXPECT_TRUE(details(bbs, "KRV Call Back delayed Log-on").empty());  // not asked for

    // A hang-up whose wait ended on an earlier day never delays.
    bbs.clock().set(2027, 1, 3, 23, 0, 0);
    call_and_hang_up("Alice", "alicepw");
    bbs.clock().set(2027, 1, 5, 0, 0, 0);
    bool on = false;
    call("Alice", "alicepw", on);
    EXPECT_TRUE(on);
}

// Each case: a fresh BBS with the options given; Alice hangs up at `hung_up`
// and calls again at `calls`.
struct RuleCase {
    const char *what;
    std::map<int, std::string> options;
    int hung_up_hour, hung_up_minute;
    int calls_hour, calls_minute;
    int busy;  // other callers signed on when she calls
    bool let_in;
};

void run_rule_case(const RuleCase &c) {
    SCOPED_TRACE(c.what);
    BbsOptions o = call_back_bbs(c.options);
    o.lines = 8;
    Bbs bbs(o);
    bbs.add_user("Alice", "alicepw");
    for (int i = 0; i < c.busy; ++i) bbs.add_user("Busy" + std::to_string(i), "busypw");
    bbs.clock().set(2026, 12, 11, c.hung_up_hour, c.hung_up_minute, 0);
    int n = bbs.log_on("Alice", "alicepw");
    ASSERT_TRUE(bbs.connected(n));
    bbs.hang_up(n);
    bbs.clock().set(2026, 12, c.calls_hour < c.hung_up_hour ? 12 : 11, c.calls_hour, c.calls_minute, 0);
    for (int i = 0; i < c.busy; ++i) ASSERT_TRUE(bbs.connected(bbs.log_on("Busy" + std::to_string(i), "busypw")));
    n = bbs.log_on("Alice", "alicepw");
    EXPECT_EQ(bbs.connected(n), c.let_in) << bbs.output(n);
    EXPECT_EQ(has_record("Alice"), !c.let_in);
}

TEST(CallBackRules, TheTimeWindowDecidesWhenTheWaitApplies) {
    const std::map<int, std::string> night = {
        {CB_DELAY_SECONDS, "7200"}, {CB_USE_TIME_WINDOW, "yes"}, {CB_WINDOW_START, "\"22:00\""}, {CB_WINDOW_END, "\"06:00\""}};
    const std::map<int, std::string> day = {
        {CB_DELAY_SECONDS, "7200"}, {CB_USE_TIME_WINDOW, "yes"}, {CB_WINDOW_START, "\"09:00\""}, {CB_WINDOW_END, "\"17:00\""}};
    const RuleCase cases[] = {
        {"over midnight, 21:00 is outside", night, 20, 0, 21, 0, 0, true},
        {"over midnight, 23:00 is inside", night, 22, 30, 23, 0, 0, false},
        {"over midnight, 05:00 after a hang-up at 04:00 is inside", night, 4, 0, 5, 0, 0, false},
        {"over midnight, 00:30 after a hang-up at 23:30 is inside", night, 23, 30, 0, 30, 0, false},
        {"over midnight, its end 06:00 is inside", night, 5, 0, 6, 0, 0, false},
        {"over midnight, 06:01 is outside", night, 5, 0, 6, 1, 0, true},
        {"by day, 12:00 is inside", day, 11, 0, 12, 0, 0, false},
        {"by day, its start 09:00 is inside", day, 8, 0, 9, 0, 0, false},
        {"by day, 08:59 is outside", day, 8, 0, 8, 59, 0, true},
        {"by day, 17:30 is outside", day, 17, 0, 17, 30, 0, true},
        {"by day, within the window but the wait is over", day, 9, 0, 11, 0, 0, true},
    };
    for (const RuleCase &c : cases) run_rule_case(c);
}

TEST(CallBackRules, TheNumberOfBusyLinesDecidesUnlessTheWindowIsUsed) {
    const RuleCase cases[] = {
        {"at least 0 busy: always", {{CB_USE_MIN_USERS, "yes"}, {CB_MIN_USERS, "0"}}, 12, 0, 12, 1, 0, false},
        {"two busy of three needed", {{CB_USE_MIN_USERS, "yes"}, {CB_MIN_USERS, "3"}}, 12, 0, 12, 1, 2, true},
        {"three busy of three needed", {{CB_USE_MIN_USERS, "yes"}, {CB_MIN_USERS, "3"}}, 12, 0, 12, 1, 3, false},
        {"the window takes over from the count",
         {{CB_USE_MIN_USERS, "yes"}, {CB_MIN_USERS, "3"}, {CB_USE_TIME_WINDOW, "yes"}, {CB_WINDOW_START, "\"09:00\""},
          {CB_WINDOW_END, "\"17:00\""}},
         12, 0, 12, 1, 0, false},
    };
    for (const RuleCase &c : cases) run_rule_case(c);
}

// Callers at the new-user form show a placeholder in parentheses and count as
// busy; callers at the log-on prompts do not.
TEST(CallBackRules, ACallerSigningUpCountsAsBusyOneLoggingOnDoesNot) {
    Bbs bbs(call_back_bbs({{CB_USE_MIN_USERS, "yes"}, {CB_MIN_USERS, "1"}}));
    bbs.add_user("Alice", "alicepw");
    int n = bbs.log_on("Alice", "alicepw");
    bbs.hang_up(n);
    int at_prompt = bbs.connect();
    n = bbs.log_on("Alice", "alicepw");
    EXPECT_TRUE(bbs.connected(n));  // nobody busy: let in (the record goes)
    bbs.hang_up(n);
    int signing_up = bbs.connect();
    bbs.type(signing_up, "NEW");
    n = bbs.log_on("Alice", "alicepw");
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_TRUE(bbs.connected(at_prompt));
}

// The range compares hardware channel numbers, given in either order.
TEST(CallBackRules, TheChannelRangeIsReadInEitherOrder) {
    BbsOptions o = call_back_bbs({{CB_FIRST_CHANNEL, "20"}, {CB_LAST_CHANNEL, "08"}});
    o.channels = {0x07, 0x08, 0x20, 0x21};
    Bbs bbs(o);
    bbs.add_user("Alice", "alicepw");
    int n = bbs.log_on("Alice", "alicepw", 0);
    bbs.hang_up(n);
    struct Case {
        int line;
        bool let_in;
    } cases[] = {{1, false}, {2, false}, {3, true}};  // 08 and 20 are in the range, 21 is not
    for (const Case &c : cases) {
        n = bbs.log_on("Alice", "alicepw", c.line);
        EXPECT_EQ(bbs.connected(n), c.let_in) << "line " << c.line;
        if (bbs.connected(n)) bbs.hang_up(n);  // a new hang-up, on 21
    }
    n = bbs.log_on("Alice", "alicepw", 0);  // 07: outside
    EXPECT_TRUE(bbs.connected(n));
}

TEST(CallBackRules, AWindowTimeThatIsNotATimeLeavesTheWindowUnusedAndSaysSo) {
    Bbs bbs(call_back_bbs({{CB_USE_TIME_WINDOW, "yes"}, {CB_WINDOW_START, "\"25:00\""}, {CB_WINDOW_END, "\"06:00\""}}));
    EXPECT_EQ(details(bbs, "KRV Call Back time window not used"),
              std::vector<std::string>{"Option 10 is '25:00', not a time of day (HH:MM)"});
    bbs.add_user("Alice", "alicepw");
    int n = bbs.log_on("Alice", "alicepw");
    bbs.hang_up(n);
    n = bbs.log_on("Alice", "alicepw");  // without a window the wait applies at every hour
    EXPECT_FALSE(bbs.connected(n));
}

}  // namespace
