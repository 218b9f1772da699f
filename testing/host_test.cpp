// The host core with real plug-ins on the test driver: the loader, the
// frame's routines, timers, polling, global commands, chained checks and the
// caller's road.
#include <gtest/gtest.h>

#include "datafile.h"
#include "driver.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

std::vector<std::string> details(const Bbs &bbs, const std::string &summary) {
    std::vector<std::string> out;
    for (const AuditEntry &e : bbs.audit)
        if (e.summary == summary) out.push_back(e.detail);
    return out;
}

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
    o.options["krvtsta.mcv"][2] = "61";  // the file allows 1..60 too: refused while parsing
    o.start = false;
    Bbs bbs(o);
    EXPECT_FALSE(bbs.start());
    ASSERT_FALSE(bbs.start_errors().empty());
    EXPECT_NE(bbs.start_errors()[0].find("krvtsta.mcv"), std::string::npos) << bbs.start_errors()[0];
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

}  // namespace
