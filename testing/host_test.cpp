// The host core with real plug-ins on the test driver: the loader, the
// frame's routines, timers, polling, global commands, chained checks and the
// caller's road.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "datafile.h"
#include "driver.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

BbsOptions with_plugins(std::vector<std::string> plugins) {
    BbsOptions o;
    o.plugins = std::move(plugins);
    return o;
}

TEST(Loader, InitialisesPluginsInTheOrderOfTheirLines) {
    Bbs bbs(with_plugins({"KRVTSTB", "KRVTSTA"}));
    EXPECT_EQ(details(bbs, "TEST INIT"), (std::vector<std::string>{"KRVTSTB", "KRVTSTA"}));
    EXPECT_EQ(findmod("Test plug-in B"), 1);
    EXPECT_EQ(findmod("test plug-in a"), 2);
    EXPECT_EQ(findmod("nothing"), -1);
    ASSERT_EQ(loaded_modules().size(), 2u);
    EXPECT_EQ(loaded_modules()[0].status, "loaded");
}

TEST(Loader, ReportsAndSkipsAPluginThatIsMissing) {
    Bbs bbs(with_plugins({"KRVNONE", "KRVTSTA"}));
    ASSERT_EQ(loaded_modules().size(), 2u);
    EXPECT_NE(loaded_modules()[0].status.find("not found"), std::string::npos);
    EXPECT_EQ(loaded_modules()[1].status, "loaded");
}

TEST(Loader, RefusesAnOptionOutsideTheRangeThePluginAllows) {
    BbsOptions o = with_plugins({"KRVTSTA"});
    o.options["krvtsta.mcv"][2] = "61";  // the file allows 0..3600, the plug-in 1..60
    o.start = false;
    Bbs bbs(o);
    EXPECT_FALSE(bbs.start());
    ASSERT_EQ(bbs.start_errors().size(), 1u);
    const std::string &e = bbs.start_errors()[0];
    for (const char *part : {"krvtsta.mcv:", "option 2", "61", "1..60"})
        EXPECT_NE(e.find(part), std::string::npos) << part << " in " << e;
}

TEST(Loader, RefusesMoreThan256Lines) {
    BbsOptions o = with_plugins({});
    o.lines = 257;
    o.start = false;
    Bbs bbs(o);
    EXPECT_FALSE(bbs.start());
    ASSERT_FALSE(bbs.start_errors().empty());
    EXPECT_NE(bbs.start_errors()[0].find("256"), std::string::npos) << bbs.start_errors()[0];
}

TEST(Timers, ReArmingTimerRunsAtItsIntervalAndStops) {
    Bbs bbs(with_plugins({"KRVTSTA"}));
    bbs.advance(4);
    EXPECT_TRUE(details(bbs, "TEST TICK").empty());
    bbs.advance(1);
    EXPECT_EQ(details(bbs, "TEST TICK"), std::vector<std::string>{"KRVTSTA 1"});
    bbs.advance(60);
    EXPECT_EQ(details(bbs, "TEST TICK"), (std::vector<std::string>{"KRVTSTA 1", "KRVTSTA 2", "KRVTSTA 3"}));
}

TEST(Timers, TimersDueTogetherRunInTheOrderTheyWereArmed) {
    Bbs bbs(with_plugins({"KRVTSTB", "KRVTSTA"}));
    bbs.advance(5);
    EXPECT_EQ(details(bbs, "TEST TICK"), (std::vector<std::string>{"KRVTSTB 1", "KRVTSTA 1"}));
}

class Callers : public ::testing::Test {
protected:
    Callers() : bbs(with_plugins({"KRVTSTA", "KRVTSTB"})) {
        bbs.add_user("Alice", "secret1", "USER");
        bbs.add_user("Root", "secret2", "SYSOP");
    }
    Bbs bbs;
};

TEST_F(Callers, PollingStepsOnlyWhileTheLineHasOutputRoom) {
    int n = bbs.log_on("Alice", "secret1");
    bbs.take_output(n);
    bbs.type(n, "testa poll 3");
    bbs.set_room(n, 50);
    bbs.poll(10);
    EXPECT_EQ(bbs.take_output(n), "");
    bbs.set_room(n, 1000);
    bbs.poll(1);
    EXPECT_EQ(bbs.take_output(n), "chunk 1\n");
    bbs.poll(10);
    EXPECT_EQ(bbs.take_output(n), "chunk 2\nchunk 3\n");
    EXPECT_FALSE(polling_pending());
}

TEST_F(Callers, GlobalCommandTakesItsLineAndPassesOthers) {
    int n = bbs.log_on("Alice", "secret1");
    bbs.take_output(n);
    bbs.type(n, "TESTB one two");
    EXPECT_EQ(bbs.take_output(n), "<10|3>");  // test message files show the message and its arguments
    bbs.type(n, "hello");
    EXPECT_NE(bbs.take_output(n).find("There is no choice hello"), std::string::npos);
}

TEST_F(Callers, ChainedPasswordChecksRunLastLoadedFirst) {
    bbs.log_on("Alice", "secret1");
    EXPECT_EQ(details(bbs, "TEST CHKPSW"), (std::vector<std::string>{"KRVTSTB", "KRVTSTA"}));
    EXPECT_EQ(check_chain(true), (std::vector<std::string>{"KRVTSTB", "KRVTSTA", "host"}));
}

TEST(Chains, ReversingTheLinesReversesTheChain) {
    Bbs bbs(with_plugins({"KRVTSTB", "KRVTSTA"}));
    bbs.add_user("Alice", "secret1");
    bbs.log_on("Alice", "secret1");
    EXPECT_EQ(details(bbs, "TEST CHKPSW"), (std::vector<std::string>{"KRVTSTA", "KRVTSTB"}));
}

TEST_F(Callers, LogOnRunsLogOnRoutinesAndShowsTheMenu) {
    int n = bbs.log_on("Root", "secret2");
    std::string out = bbs.take_output(n);
    EXPECT_NE(out.find("<13|KRVTSTA><13|KRVTSTB>"), std::string::npos) << out;
    EXPECT_NE(out.find("Main menu"), std::string::npos);
    EXPECT_EQ(bbs.line(n).session.session_class, SESSION_SIGNED_ON);
    // Alice has no SYSOP key: no notice.
    int m = bbs.log_on("Alice", "secret1");
    EXPECT_EQ(bbs.take_output(m).find("<13|"), std::string::npos);
}

TEST_F(Callers, ThreeWrongPasswordsEndTheCallWithAnAuditEntry) {
    int n = bbs.connect();
    for (int i = 0; i < 3; ++i) {
        bbs.type(n, "Alice");
        bbs.type(n, "wrong");
    }
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_EQ(details(bbs, "LOG-ON FAILED").size(), 1u);
    EXPECT_TRUE(details(bbs, "TEST HANGUP").empty());  // never signed on: no hang-up routines
}

TEST_F(Callers, EnteringAndLeavingAModule) {
    int n = bbs.log_on("Alice", "secret1");
    bbs.take_output(n);
    bbs.type(n, "1");
    EXPECT_EQ(bbs.take_output(n), "<11>");
    EXPECT_EQ(bbs.line(n).session.current_module, 1);
    bbs.type(n, "anything at all");
    EXPECT_EQ(bbs.take_output(n), "<12|anything at all>");
    bbs.type(n, "testb x");  // a global command is taken ahead of the module
    EXPECT_EQ(bbs.take_output(n), "<10|2>");
    bbs.type(n, "quit");
    EXPECT_NE(bbs.take_output(n).find("Main menu"), std::string::npos);
    EXPECT_EQ(bbs.line(n).session.current_module, 0);
}

TEST_F(Callers, HangingUpRunsHangUpRoutinesAndWritesTheAccountBack) {
    int n = bbs.log_on("Alice", "secret1");
    bbs.line(n).account.credit_balance = 77;
    bbs.hang_up(n);
    EXPECT_EQ(details(bbs, "TEST HANGUP"), (std::vector<std::string>{"KRVTSTA Alice", "KRVTSTB Alice"}));
    account_record a;
    ASSERT_TRUE(bbs.read_account("alice", a));
    EXPECT_EQ(a.credit_balance, 77);
    EXPECT_EQ(a.total_calls, 1u);
    EXPECT_FALSE(bbs.connected(n));
}

TEST_F(Callers, TheWindowSizeTheTerminalReportsOutlivesTheAccountsStoredSize) {
    int n = bbs.connect();
    line_set_screen(n, 132, 50);  // reported before log-on
    bbs.log_on("Alice", "secret1", n);
    EXPECT_EQ(bbs.line(n).account.screen_width, 132);
    EXPECT_EQ(bbs.line(n).account.screen_length, 50);
    line_set_screen(n, 100, 0);   // a resize while signed on; the length stays
    EXPECT_EQ(bbs.line(n).account.screen_width, 100);
    EXPECT_EQ(bbs.line(n).account.screen_length, 50);
    bbs.hang_up(n);
    account_record a;
    ASSERT_TRUE(bbs.read_account("Alice", a));
    EXPECT_EQ(a.screen_width, 100);
    int m = bbs.log_on("Alice", "secret1");  // a caller whose terminal does not tell keeps the stored size
    EXPECT_EQ(bbs.line(m).account.screen_width, 100);
}

TEST_F(Callers, NewUserSignsUpWithTheDefaultClass) {
    int n = bbs.connect();
    bbs.type(n, "new");
    bbs.type(n, "Bob Smith");
    bbs.type(n, "pass1234");
    bbs.type(n, "pass1234");
    EXPECT_NE(bbs.take_output(n).find("Welcome, Bob Smith!"), std::string::npos);
    account_record a;
    ASSERT_TRUE(bbs.read_account("BOB SMITH", a));
    EXPECT_STREQ(a.class_name, "DEMO");
    bbs.type(n, "g");
    EXPECT_FALSE(bbs.connected(n));
    int m = bbs.log_on("bob smith", "pass1234");
    EXPECT_TRUE(bbs.connected(m));
    EXPECT_EQ(bbs.line(m).session.session_class, SESSION_SIGNED_ON);
}

TEST_F(Callers, AUserAlreadyOnLineIsRefused) {
    bbs.log_on("Alice", "secret1");
    int m = bbs.connect();
    bbs.type(m, "alice");
    EXPECT_NE(bbs.take_output(m).find("already on-line"), std::string::npos);
}

// A check in the chain that lets a user-ID through while it is signed on at
// another line (the host's own refuses it) still never puts one account on
// two lines: the password is refused as the account being on-line.
TEST_F(Callers, OneAccountIsNeverSignedOnAtTwoLines) {
    int waiting = bbs.connect();
    bbs.type(waiting, "Alice");                        // at the password prompt
    int other = bbs.log_on("Root", "secret2");
    stlcpy(bbs.line(other).account.user_id, "Alice",   // as if a check had let Alice through there
           sizeof bbs.line(other).account.user_id);
    bbs.take_output(waiting);
    bbs.type(waiting, "secret1");
    EXPECT_NE(bbs.take_output(waiting).find("already on-line"), std::string::npos);
    EXPECT_FALSE(bbs.line(waiting).signed_on);
    EXPECT_STREQ(bbs.line(waiting).account.user_id, "(Logging on)");
}

// Two callers signing up under one new user-ID: the second to finish is
// asked for another, and the first's account and password stand.
TEST_F(Callers, NoNewAccountOverwritesAnother) {
    int a = bbs.connect(), b = bbs.connect();
    for (int n : {a, b}) {
        bbs.type(n, "NEW");
        bbs.type(n, "Zed");
    }
    for (const char *text : {"zedpass1", "zedpass1"}) bbs.type(a, text);
    for (const char *text : {"other22", "other22"}) bbs.type(b, text);
    EXPECT_TRUE(bbs.line(a).signed_on);
    EXPECT_FALSE(bbs.line(b).signed_on);
    EXPECT_NE(bbs.take_output(b).find("taken a moment ago"), std::string::npos);
    bbs.type(b, "Zoe");
    bbs.type(b, "other22");
    bbs.type(b, "other22");
    EXPECT_TRUE(bbs.line(b).signed_on);
    bbs.hang_up(a);
    EXPECT_TRUE(bbs.line(bbs.log_on("Zed", "zedpass1")).signed_on) << "the first sign-up's password stands";
}

TEST_F(Callers, MailIsListedReadWithAReceiptAndDeleted) {
    mail_header h{};
    stlcpy(h.from_name, "Root", sizeof h.from_name);
    stlcpy(h.to_name, "Alice", sizeof h.to_name);
    stlcpy(h.subject, "Hello", sizeof h.subject);
    h.mail_flags = MAIL_RETURN_RECEIPT;
    {
        CallTransaction t;
        ASSERT_EQ(simpsnd(&h, "Line one\n", ""), 1);
    }
    ASSERT_EQ(bbs.sent_mail.size(), 1u);  // the driver sees the header as it was handed over
    EXPECT_EQ(std::memcmp(&bbs.sent_mail[0].header, &h, sizeof h), 0);
    EXPECT_EQ(bbs.sent_mail[0].text, "Line one\n");
    int n = bbs.log_on("Alice", "secret1");
    EXPECT_NE(bbs.take_output(n).find("1 unread mail"), std::string::npos);
    bbs.type(n, "m");
    bbs.type(n, "1");
    std::string out = bbs.take_output(n);
    EXPECT_NE(out.find("Subject: Hello"), std::string::npos);
    EXPECT_NE(out.find("Line one"), std::string::npos);
    std::vector<Mail> receipts = bbs.mail_to("Root");
    ASSERT_EQ(receipts.size(), 1u);
    EXPECT_NE(receipts[0].body.find("Alice read your message"), std::string::npos);
    bbs.type(n, "1");  // read again: no second receipt
    EXPECT_EQ(bbs.mail_to("Root").size(), 1u);
    bbs.type(n, "d 1");
    EXPECT_TRUE(bbs.mail_to("Alice").empty());
}

TEST_F(Callers, ControlBytesAndOverlongLinesNeverReachARoutine) {
    int n = bbs.log_on("Alice", "secret1");
    bbs.type(n, "1");
    bbs.take_output(n);
    std::string line(5000, 'x');
    line[10] = '\0';
    line[11] = '\x1b';
    bbs.type(n, line);
    EXPECT_EQ(bbs.take_output(n), "<12|" + std::string(10, 'x') + std::string(245, 'x') + ">");
    EXPECT_EQ(strlen(input), 255u);
}

TEST_F(Callers, DisconnectionAskedForInsideARoutineWaitsForItsEnd) {
    int a = bbs.log_on("Alice", "secret1");
    int r = bbs.log_on("Root", "secret2");
    begin_plugin_call(r);
    EXPECT_EQ(bbsdsc(a), 1);
    EXPECT_TRUE(bbs.connected(a));  // still there while the routine runs
    end_plugin_call();
    EXPECT_FALSE(bbs.connected(a));
    EXPECT_EQ(usrnum, r);  // the line that was current before the call is current again
}

TEST(DailyCleanUp, RunsAtItsTimeOnceADayAndLogsCallersOff) {
    BbsOptions o = with_plugins({"KRVTSTA"});
    o.hour = 2;
    o.minute = 59;
    o.second = 50;
    Bbs bbs(o);
    bbs.add_user("Alice", "secret1");
    int n = bbs.log_on("Alice", "secret1");
    bbs.advance(5);
    EXPECT_TRUE(details(bbs, "TEST CLEANUP").empty());
    bbs.advance(10);
    // Plug-ins see the date of the clean-up before this one (a new BBS: the
    // day before it was made).
    EXPECT_EQ(details(bbs, "TEST CLEANUP"), std::vector<std::string>{"KRVTSTA 12/10/26"});
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_NE(bbs.output(n).find("daily clean-up"), std::string::npos);
    EXPECT_EQ(sv2.cleanup_date, today());
    bbs.advance(3600);
    EXPECT_EQ(details(bbs, "TEST CLEANUP").size(), 1u);
    // The next one is a day later.
    bbs.clock().step(86400 - 3600);
    bbs.advance(1);
    EXPECT_EQ(details(bbs, "TEST CLEANUP").size(), 2u);
}

TEST(DailyCleanUp, AMissedCleanUpRunsAtStartUpAndNotAgainAfterARestart) {
    BbsOptions o = with_plugins({"KRVTSTA"});
    o.hour = 10;
    Bbs bbs(o);
    EXPECT_TRUE(details(bbs, "TEST CLEANUP").empty());  // a new BBS missed nothing
    bbs.stop();
    bbs.clock().step(86400);  // the host was down over the next clean-up time
    ASSERT_TRUE(bbs.start());
    EXPECT_EQ(details(bbs, "TEST CLEANUP").size(), 1u);
    bbs.stop();
    ASSERT_TRUE(bbs.start());
    EXPECT_EQ(details(bbs, "TEST CLEANUP").size(), 1u);
}

TEST(DailyCleanUp, AStartThatSkipsTheMissedCleanUpLeavesItDue) {
    BbsOptions o = with_plugins({"KRVTSTA"});
    o.hour = 10;
    o.run_missed_cleanup = false;
    Bbs bbs(o);
    uint16_t last = sv2.cleanup_date;
    bbs.stop();
    bbs.clock().step(86400);
    ASSERT_TRUE(bbs.start());
    EXPECT_TRUE(details(bbs, "TEST CLEANUP").empty());
    bbs.stop();
    // Still due for the next start that runs it.
    system_variables saved{};
    ASSERT_TRUE(open_data_store(bbs.directory()));
    EXPECT_TRUE(load_blob("sv2", &saved, sizeof saved));
    close_data_store();
    EXPECT_EQ(saved.cleanup_date, last);
}

TEST(Shutdown, TellsCallersAndRunsHangUpAndShutdownRoutines) {
    Bbs bbs(with_plugins({"KRVTSTA"}));
    bbs.add_user("Alice", "secret1");
    int n = bbs.log_on("Alice", "secret1");
    stop_host("The BBS is going down.\n");
    EXPECT_NE(bbs.output(n).find("going down"), std::string::npos);
    EXPECT_EQ(details(bbs, "TEST HANGUP"), std::vector<std::string>{"KRVTSTA Alice"});
    EXPECT_EQ(details(bbs, "TEST SHUTDOWN"), std::vector<std::string>{"KRVTSTA"});
}

TEST(Purge, RemovesTaggedAccountsAndTellsEveryPlugin) {
    Bbs bbs(with_plugins({"KRVTSTA", "KRVTSTB"}));
    bbs.add_user("Keep", "secret1");
    account_record gone = bbs.add_user("Gone", "secret2");
    gone.account_flags |= ACCOUNT_TAGGED_FOR_DELETION;
    bbs.write_account(gone);
    std::vector<std::string> removed;
    EXPECT_EQ(purge_tagged_accounts(&removed), 1);
    EXPECT_EQ(removed, std::vector<std::string>{"Gone"});
    EXPECT_EQ(details(bbs, "TEST DELETE"), (std::vector<std::string>{"KRVTSTA Gone", "KRVTSTB Gone"}));
    account_record a;
    EXPECT_FALSE(bbs.read_account("Gone", a));
    EXPECT_TRUE(bbs.read_account("Keep", a));
    int n = bbs.connect();
    bbs.type(n, "Gone");
    EXPECT_NE(bbs.take_output(n).find("no user with that ID"), std::string::npos);
}

TEST(Classes, TimedSwitchEndsAtTheCleanUpAfterItsDays) {
    std::vector<std::string> none;
    Bbs bbs(with_plugins({}));
    account_record a = bbs.add_user("Alice", "secret1", "DEMO");
    ASSERT_EQ(swtcls(&a, 1, "USER", 2, 2), 1);
    account_record stored;
    ASSERT_TRUE(bbs.read_account("Alice", stored));
    EXPECT_STREQ(stored.class_name, "USER");
    EXPECT_EQ(swtcls(&a, 1, "NO SUCH CLASS", 2, 2), 0);
    bbs.clock().step(86400);
    run_daily_cleanup();
    ASSERT_TRUE(bbs.read_account("Alice", stored));
    EXPECT_STREQ(stored.class_name, "USER");
    bbs.clock().step(86400);
    run_daily_cleanup();
    ASSERT_TRUE(bbs.read_account("Alice", stored));
    EXPECT_STREQ(stored.class_name, "DEMO");
}

TEST(Classes, ATimedSwitchIntoTheSameClassStartsItsDaysAgainAndStillGoesBack) {
    Bbs bbs(with_plugins({}));
    account_record a = bbs.add_user("Alice", "secret1", "DEMO");
    ASSERT_EQ(swtcls(&a, 1, "user", 2, 3), 1);
    EXPECT_STREQ(a.class_name, "USER");  // as CLASSES.CFG names it
    bbs.clock().step(2 * 86400);
    ASSERT_EQ(swtcls(&a, 1, "USER", 2, 3), 1);
    EXPECT_STREQ(a.previous_class_name, "DEMO");
    EXPECT_EQ(a.class_until, packed_date_after(today(), 3));
    account_record stored;
    for (int day = 1; day <= 3; ++day) {
        bbs.clock().step(86400);
        run_daily_cleanup();
        ASSERT_TRUE(bbs.read_account("Alice", stored));
        EXPECT_STREQ(stored.class_name, day < 3 ? "USER" : "DEMO") << day;
    }
    // A class the account holds for good is the one it goes back to.
    ASSERT_EQ(swtcls(&stored, 1, "USER", 2, 0), 1);
    ASSERT_EQ(swtcls(&stored, 1, "USER", 2, 2), 1);
    EXPECT_STREQ(stored.previous_class_name, "USER");
}

TEST(Keys, ClassKeysOwnKeysTheEmptyKeyAndSysop) {
    Bbs bbs(with_plugins({}));
    bbs.add_user("Alice", "secret1", "USER");
    bbs.add_user("Root", "secret2", "SYSOP");
    int a = bbs.log_on("Alice", "secret1");
    int r = bbs.log_on("Root", "secret2");
    curusr(a);
    EXPECT_TRUE(haskey("USER"));
    EXPECT_TRUE(haskey("user"));
    EXPECT_TRUE(haskey(""));
    EXPECT_FALSE(haskey("SYSOP"));
    curusr(r);
    EXPECT_TRUE(haskey("ANYTHING"));
    othusn = a;
    EXPECT_FALSE(othkey("SYSOP"));
    account_record off{};
    stlcpy(off.user_id, "Nobody", sizeof off.user_id);
    stlcpy(off.class_name, "SYSOP", sizeof off.class_name);
    EXPECT_TRUE(uhskey(&off, "WHATEVER"));
    stlcpy(off.class_name, "DEMO", sizeof off.class_name);
    EXPECT_FALSE(uhskey(&off, "USER"));
    {
        CallTransaction t;
        give_key("Nobody", "USER", true);
    }
    EXPECT_TRUE(uhskey(&off, "USER"));
}

TEST(Lookup, OnsysFindsSignedOnUsersOnly) {
    Bbs bbs(with_plugins({}));
    bbs.add_user("Alice", "secret1");
    int a = bbs.log_on("Alice", "secret1");
    int b = bbs.connect();
    bbs.type(b, "Alice");  // a second caller at the password prompt as Alice? refused: on-line
    EXPECT_EQ(onsys("ALICE"), 1);
    EXPECT_EQ(othusn, a);
    EXPECT_EQ(othuap, uacoff(a));
    EXPECT_EQ(onsys("Al"), 0);
    EXPECT_EQ(onbbs("alice", 1), 1);
    EXPECT_EQ(uisusn, a);
}

TEST(Lookup, TheWhoListShowsTheWholeStatusOfALineLoggingOn) {
    Bbs bbs(with_plugins({}));
    bbs.add_user("Alice", "secret1");
    int caller = bbs.connect();
    int a = bbs.log_on("Alice", "secret1");
    curusr(caller);
    shochl("Suspended user (hanging up)", 9, baudat(0, 0));
    bbs.take_output(a);
    bbs.type(a, "W");
    std::string out = bbs.take_output(a);
    EXPECT_NE(out.find("(Logging on)                   Suspended user (hanging up)\n"), std::string::npos) << out;
    // A new call starts without it.
    bbs.hang_up(caller);
    EXPECT_EQ(bbs.line(caller).status_text, "Suspended user (hanging up)");
    bbs.connect(caller);
    EXPECT_EQ(bbs.line(caller).status_text, "");
}

TEST(Text, WordsAndTheCommandReader) {
    Bbs bbs(with_plugins({}));
    EXPECT_TRUE(sameas("Bob", "bOB"));
    EXPECT_FALSE(sameas("Bob", "Bobby"));
    EXPECT_TRUE(sameto("bob", "Bobby"));
    EXPECT_FALSE(sameto("Bobby", "Bob"));
    EXPECT_TRUE(isuidc('a') && isuidc('Z') && isuidc('7'));
    EXPECT_FALSE(isuidc('(') || isuidc(' ') || isuidc(0xE9));
    stlcpy(input, "  f  yes  rest of it ", INPUT_SIZE);
    parsin();
    ASSERT_EQ(margc, 5);
    EXPECT_STREQ(margv[0], "f");
    EXPECT_STREQ(input, "  f  yes  rest of it ");  // parsin leaves the line as typed
    bgncnc();
    EXPECT_EQ(cncchr(), 'F');
    EXPECT_EQ(cncyesno(), 'Y');
    EXPECT_FALSE(endcnc());
    EXPECT_STREQ(cncall(), "rest of it ");
    EXPECT_TRUE(endcnc());
    EXPECT_EQ(cncchr(), 0);
}

TEST(Text, DatesAndTimes) {
    BbsOptions o = with_plugins({});
    o.year = 2027;
    o.month = 3;
    o.day = 5;
    o.hour = 23;
    o.minute = 59;
    o.second = 58;
    Bbs bbs(o);
    EXPECT_STREQ(ncdate(today()), "03/05/27");
    EXPECT_STREQ(nctime(now()), "23:59:58");
    bbs.clock().step(2);
    EXPECT_STREQ(ncdate(today()), "03/06/27");
    struct Case {
        const char *text;
        uint16_t packed;
    } cases[] = {{"0:00", 0}, {"23:59", (23 << 11) | (59 << 5)}, {"12:30:40", (12 << 11) | (30 << 5) | 20},
                 {"24:00", 0xFFFF}, {"12:60", 0xFFFF}, {"12", 0xFFFF}, {"1:2:3:4", 0xFFFF}, {"ab:cd", 0xFFFF},
                 {"", 0xFFFF}, {"123:00", 0xFFFF}};
    for (const Case &c : cases) EXPECT_EQ(dctime(c.text), c.packed) << c.text;
    char buffer[64];
    EXPECT_STREQ(fileparts(1, "/bbs/reports/EZECID.TXT", buffer, sizeof buffer), "EZECID.TXT");
}

TEST(Text, SettingTheTimeOfDayMovesTheBbsClockNotTheMachines) {
    Bbs bbs(with_plugins({}));
    bbs.clock().privileged = true;  // the default mode never uses the privilege
    ASSERT_EQ(set_time_of_day(8, 15, 0, 0), 1);
    EXPECT_EQ(bbs.clock().system_sets, 0);
    EXPECT_STREQ(nctime(now()), "08:15:00");
    EXPECT_STREQ(ncdate(today()), "12/11/26");  // the date stays
    bbs.advance(60);
    EXPECT_STREQ(nctime(now()), "08:16:00");
    bbs.stop();
    ASSERT_TRUE(bbs.start());  // the BBS keeps its clock across a restart
    EXPECT_STREQ(nctime(now()), "08:16:00");
    EXPECT_EQ(set_time_of_day(24, 0, 0, 0), 0);
}

TEST(Text, InSystemModeTheMachinesClockIsSetOnlyWithThePrivilege) {
    BbsOptions o = with_plugins({});
    o.clock_mode = "system";
    Bbs bbs(o);
    // Without the privilege: nothing moves, and the audit trail says why.
    EXPECT_EQ(set_time_of_day(8, 15, 0, 0), 0);
    EXPECT_STREQ(nctime(now()), "12:00:00");
    EXPECT_EQ(details(bbs, "CLOCK NOT SET"),
              std::vector<std::string>{"The machine's clock could not be set: Operation not permitted"});
    // With it: the (virtual) machine's clock itself is set; the BBS keeps no offset.
    bbs.clock().privileged = true;
    EXPECT_EQ(set_time_of_day(8, 15, 30, 0), 1);
    EXPECT_EQ(bbs.clock().system_sets, 1);
    EXPECT_STREQ(nctime(now()), "08:15:30");
    EXPECT_EQ(bbs.clock().local_seconds() % 86400, 8 * 3600 + 15 * 60 + 30);
    EXPECT_STREQ(ncdate(today()), "12/11/26");
}

TEST(Output, PendingOutputNeverOverrunsTheBuffer) {
    BbsOptions o = with_plugins({});
    o.output_buffer = 1024;
    Bbs bbs(o);
    bbs.add_user("Alice", "secret1");
    int n = bbs.log_on("Alice", "secret1");
    bbs.take_output(n);
    std::string big(3000, 'y');
    prf("%s", big.c_str());
    prf("more");
    outprf(n);
    EXPECT_EQ(bbs.take_output(n), std::string(1023, 'y'));
    char field[25];
    std::memset(field, 'x', sizeof field);
    stzcpy(field, "A name of more than twenty-five characters", sizeof field);
    EXPECT_EQ(std::string(field), std::string("A name of more than twen"));
}

TEST_F(Callers, ByenowShowsTheMessageAndEndsTheCall) {
    int n = bbs.log_on("Alice", "secret1");
    bbs.take_output(n);
    bbs.type(n, "testa bye");
    EXPECT_EQ(bbs.take_output(n), "<10|2>");
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_EQ(details(bbs, "TEST HANGUP").size(), 2u);  // a signed-on caller: hang-up routines ran
}

TEST_F(Callers, TheEditorFillsThePluginsBuffersAndCallsItsDoneRoutine) {
    int n = bbs.log_on("Alice", "secret1");
    bbs.type(n, "1");
    bbs.type(n, "edit");
    bbs.take_output(n);
    bbs.type(n, "A topic");
    bbs.type(n, "first line");
    bbs.type(n, "testb x");  // inside the editor a line is text, not a command
    bbs.type(n, "/s");
    EXPECT_NE(bbs.take_output(n).find("[edited 0: A topic / first line\ntestb x\n]"), std::string::npos);
    EXPECT_EQ(bbs.line(n).session.current_module, 1);
    bbs.type(n, "edit");
    bbs.type(n, "Another");
    bbs.type(n, "words");
    bbs.type(n, "/A");
    EXPECT_NE(bbs.take_output(n).find("[edited 1: Another / ]"), std::string::npos);
}

TEST_F(Callers, APseudoKeyIsAnsweredByThePluginThatRegisteredIt) {
    int n = bbs.log_on("Alice", "secret1");
    curusr(n);
    EXPECT_FALSE(haskey("TESTCREDIT"));
    bbs.line(n).account.credit_balance = 1;
    EXPECT_TRUE(haskey("testcredit"));
    EXPECT_EQ(usrnum, n);  // the plug-in put the current line back
    othusn = n;
    EXPECT_TRUE(othkey("TESTCREDIT"));
}

TEST_F(Callers, TheModuleTableHoldsEachDescriptorByNumber) {
    ASSERT_EQ(findmod("Test plug-in A"), 1);
    EXPECT_STREQ(module[1]->name, "Test plug-in A");
    EXPECT_NE(module[1]->input_routine, nullptr);
    EXPECT_EQ(module[1]->status_routine, dfsthn);
}

TEST(Hooks, ChecksHooksAndRoutinesRunInTheirOrderOnTheCallersRoad) {
    std::vector<std::string> seen;  // outlives the BBS, whose shutdown still writes entries
    Bbs bbs(with_plugins({"KRVTSTA", "KRVTSTB"}));
    bbs.add_user("Alice", "secret1");
    set_audit_listener([&](const AuditEntry &e) {
        if (e.summary.rfind("TEST ", 0) == 0) seen.push_back(e.summary.substr(5) + " " + e.detail);
    });
    int n = bbs.log_on("Alice", "secret1");
    bbs.hang_up(n);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "CHKUID KRVTSTB Alice", "CHKUID KRVTSTA Alice",  // the last installed first
                        "CHKPSW KRVTSTB", "CHKPSW KRVTSTA",
                        "CONNECT KRVTSTA Alice", "CONNECT KRVTSTB Alice",  // hooks in registration order
                        "LOGON KRVTSTA Alice", "LOGON KRVTSTB Alice",
                        "HANGUP KRVTSTA Alice", "HANGUP KRVTSTB Alice",
                        "DISCONNECT KRVTSTA Alice", "DISCONNECT KRVTSTB Alice"}));
    EXPECT_EQ(check_chain(false), (std::vector<std::string>{"KRVTSTB", "KRVTSTA", "host"}));
}

TEST(Hooks, ACallerTurnedAwayByAConnectHookNeverSignsOn) {
    BbsOptions o = with_plugins({"KRVTSTA", "KRVTSTB"});
    o.options["krvtstb.mcv"][5] = "\"Alice\"";
    Bbs bbs(o);
    bbs.add_user("Alice", "secret1");
    int n = bbs.log_on("Alice", "secret1");
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_EQ(bbs.hang_ups(n), 1);
    EXPECT_EQ(details(bbs, "TEST CONNECT"), (std::vector<std::string>{"KRVTSTA Alice", "KRVTSTB Alice"}));
    // Not signed on: no log-on routines, no hang-up routines, no disconnect hooks.
    EXPECT_TRUE(details(bbs, "TEST LOGON").empty());
    EXPECT_TRUE(details(bbs, "TEST HANGUP").empty());
    EXPECT_TRUE(details(bbs, "TEST DISCONNECT").empty());
}

TEST(Audit, EntriesGoToTheAuditFile) {
    Bbs bbs(with_plugins({"KRVTSTA"}));
    std::ifstream in(bbs.directory() + "/AUDIT.TXT");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("12/11/26 12:00:00  TEST INIT\n                   KRVTSTA\n"), std::string::npos)
        << text.str();
}

// open_bbs_file: plain files of the BBS directory tree open; the host's own
// databases and audit trail do not, by any name or link; names that leave
// the tree are refused.
TEST(BbsFiles, CallersReadTheTreesTextsButNeverTheHostsOwnFiles) {
    Bbs bbs(with_plugins({"KRVTSTA"}));  // its start-up wrote an audit entry
    const std::string dir = bbs.directory();
    std::filesystem::create_directories(dir + "/files");
    std::ofstream(dir + "/files/NOTE.TXT") << "note";
    std::filesystem::copy_file(dir + "/ACCBB.DAT", dir + "/files/OLD.BAK");
    std::filesystem::create_hard_link(dir + "/AUDIT.TXT", dir + "/files/LOG");
    std::filesystem::create_symlink("../BBSHOST.DB", dir + "/files/db");
    std::filesystem::create_directories(dir + "/empty");
    struct Case {
        const char *name;
        int result;  // 0: opens
    } cases[] = {
        {"files/NOTE.TXT", 0},
        {"Files/note.txt", 0},                // case ignored, as for every name the host is given
        {"WGSERV.CFG", 0},
        {"ACCBB.DAT", BBS_FILE_REFUSED},
        {"accbb.dat", BBS_FILE_REFUSED},
        {"BBSHOST.DB", BBS_FILE_REFUSED},
        {"AUDIT.TXT", BBS_FILE_REFUSED},
        {"files/OLD.BAK", BBS_FILE_REFUSED},  // a copy of the account file
        {"files/LOG", BBS_FILE_REFUSED},      // the audit trail under another name
        {"files/db", BBS_FILE_REFUSED},
        {"/etc/passwd", BBS_FILE_REFUSED},
        {"../AUDIT.TXT", BBS_FILE_REFUSED},
        {"files/NONE.TXT", BBS_FILE_NOT_OPENED},
        {"empty", BBS_FILE_NOT_OPENED},
        {"", BBS_FILE_NOT_OPENED},
    };
    for (const Case &c : cases) {
        int fd = open_bbs_file(c.name);
        if (c.result == 0) {
            ASSERT_GE(fd, 0) << c.name;
            EXPECT_EQ(fcntl(fd, F_GETFL) & (O_ACCMODE | O_NONBLOCK), O_RDONLY) << c.name;
            close(fd);
        } else {
            EXPECT_EQ(fd, c.result) << c.name;
        }
    }
}

TEST(ModuleOrder, TheHostLoadsPluginsInTheOrderTheToolLeaves) {
    BbsOptions o = with_plugins({"KRVTSTA", "KRVTSTB"});
    o.start = false;
    Bbs bbs(o);
    std::string command = "cd '" + bbs.directory() + "' && '" + bin_dir() + "/KRVTOP' krvtstb > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(bbs.start());
    EXPECT_EQ(details(bbs, "TEST INIT"), (std::vector<std::string>{"KRVTSTB", "KRVTSTA"}));
    EXPECT_EQ(check_chain(true), (std::vector<std::string>{"KRVTSTA", "KRVTSTB", "host"}));
}

TEST(Tally, EachLineCountsTheSecondsOfItsCall) {
    Bbs bbs(with_plugins({}));
    bbs.add_user("Alice", "secret1");
    int a = bbs.connect();
    bbs.advance(10);
    EXPECT_EQ(bbs.line(a).session.session_tally, 10);  // counted from the connection, log-on included
    bbs.type(a, "Alice");
    bbs.type(a, "secret1");
    int b = bbs.connect();
    bbs.advance(5);
    EXPECT_EQ(bbs.line(a).session.session_tally, 15);
    EXPECT_EQ(bbs.line(b).session.session_tally, 5);
    bbs.hang_up(a);
    EXPECT_EQ(bbs.line(a).session.session_tally, 0);
    bbs.connect(a);
    bbs.advance(1);
    EXPECT_EQ(bbs.line(a).session.session_tally, 1);  // a new call starts again
}

TEST(Idle, AQuietCallerIsWarnedThenLoggedOffAndInputResetsTheCount) {
    BbsOptions o = with_plugins({"KRVTSTA"});
    o.idle_warn_seconds = 60;
    o.idle_limit_seconds = 90;
    Bbs bbs(o);
    bbs.add_user("Alice", "secret1");
    int n = bbs.log_on("Alice", "secret1");
    bbs.take_output(n);
    bbs.advance(59);
    EXPECT_EQ(bbs.take_output(n), "");
    bbs.advance(1);
    EXPECT_NE(bbs.take_output(n).find("still there"), std::string::npos);
    bbs.type(n, "w");  // any input starts the count again
    bbs.advance(89);
    EXPECT_TRUE(bbs.connected(n));
    bbs.advance(1);
    EXPECT_FALSE(bbs.connected(n));
    EXPECT_EQ(details(bbs, "TEST HANGUP"), std::vector<std::string>{"KRVTSTA Alice"});
}

}  // namespace
