// AFK on the test driver: its name from its own option, the three forms of
// the command, the busy bit, and parking: where a caller was is kept while
// he is away and given back when he returns.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

BbsOptions afk(std::map<int, std::string> options = {}) {
    BbsOptions o;
    o.plugins = {"KRVTSTA", "KRVAFK"};
    o.lines = 5;
    o.options["krvtsta.mcv"][3] = "0";  // the test plug-in's own timer stays off
    o.options["krvafk.mcv"] = {{2, "\"USER\""},           {4, "\"Afk\""},        {5, "no"},
                               {6, "\"Test plug-in A\""}, {7, "\"words a b\""}, {8, "\"back\""},
                               {9, "yes"},                {10, "\"AFK\""},       {11, "yes"}};
    for (const auto &[number, value] : options) o.options["krvafk.mcv"][number] = value;
    return o;
}

class Afk : public ::testing::Test {
protected:
    explicit Afk(BbsOptions options = afk()) : bbs(std::move(options)) {
        for (const char *id : {"Alice", "Bobby", "Bobcat", "Mary Ann"}) bbs.add_user(id, "secret", "USER");
        bbs.add_user("Guest", "secret", "DEMO");
        afk_module = findmod("AFK");
    }
    int on(const std::string &user_id, int line = -1) {
        int n = bbs.log_on(user_id, "secret", line);
        bbs.take_output(n);
        return n;
    }
    std::string say(int n, const std::string &text) {
        bbs.take_output(n);
        bbs.type(n, text);
        return bbs.take_output(n);
    }
    session_record &session(int n) { return bbs.line(n).session; }
    Bbs bbs;
    int afk_module = -1;
};

TEST_F(Afk, RegistersUnderItsOptionAndKeepsOffTheMenu) {
    ASSERT_GT(afk_module, 0);
    EXPECT_EQ(module[afk_module]->status_routine, dfsthn);
    EXPECT_EQ(module[afk_module]->hangup_routine, nullptr);
    EXPECT_NE(module[afk_module]->input_routine, nullptr);
    int alice = bbs.log_on("Alice", "secret");
    std::string shown = bbs.take_output(alice);
    EXPECT_NE(shown.find("<13|1.4|Afk>"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Test plug-in A"), std::string::npos);
    EXPECT_EQ(shown.find("AFK"), std::string::npos) << shown;  // its descriptor file says MENU=no
    int guest = bbs.log_on("Guest", "secret");
    EXPECT_EQ(bbs.take_output(guest).find("<13|"), std::string::npos);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST(AfkName, ALongNameIsCutTo24Characters) {
    Bbs bbs(afk({{10, "\"Away From The Keyboard Module\""}}));
    int m = findmod("Away From The Keyboard M");
    ASSERT_GT(m, 0);
    EXPECT_STREQ(module[m]->name, "Away From The Keyboard M");
}

TEST(AfkMenu, WithoutItsDescriptorFileItIsOfferedButSendsTheCallerBack) {
    BbsOptions o = afk();
    o.start = false;
    Bbs bbs(o);
    std::filesystem::remove(bbs.directory() + "/KRVAFK.MDF");
    ASSERT_TRUE(bbs.start());
    bbs.add_user("Alice", "secret", "USER");
    int alice = bbs.log_on("Alice", "secret");
    EXPECT_NE(bbs.take_output(alice).find("2  AFK"), std::string::npos);
    bbs.type(alice, "2");  // not away: nothing holds him there
    EXPECT_NE(bbs.take_output(alice).find("Your choice: "), std::string::npos);
    EXPECT_EQ(bbs.line(alice).session.current_module, 0);
}

TEST_F(Afk, TheBareCommandTogglesAndTheQuestionMarkOnlyTells) {
    int alice = on("Alice");
    EXPECT_EQ(say(alice, "afk ?"), "<14|Afk|Afk|at>");
    EXPECT_EQ(say(alice, "AFK"), "<15|away from>");
    EXPECT_EQ(say(alice, "afk ?"), "<14|Afk|Afk|away from>");
    EXPECT_EQ(say(alice, "afk ?"), "<14|Afk|Afk|away from>");
    std::string back = say(alice, "afk");
    EXPECT_EQ(back.rfind("<15|at>", 0), 0u) << back;
    EXPECT_EQ(say(alice, "afk ?"), "<14|Afk|Afk|at>");
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Afk, ACallerWithoutTheKeyIsRefusedAndOtherLinesPassOn) {
    int guest = on("Guest");
    int alice = on("Alice");
    for (const char *typed : {"afk", "afk ?", "afk alice"}) EXPECT_EQ(say(guest, typed), "<17>") << typed;
    EXPECT_EQ(say(alice, "afk guest"), "<19|Guest|at>");  // his state did not change
    EXPECT_EQ(session(guest).session_flags & SESSION_BUSY, 0u);
    EXPECT_NE(say(alice, "afkx").find("There is no choice afkx"), std::string::npos);
}

TEST_F(Afk, AskingAfterACaller) {
    int alice = on("Alice");
    on("Bobby");
    on("Bobcat");
    int mary = on("Mary Ann");
    say(mary, "afk");
    struct Case {
        const char *typed, *answer;
    } cases[] = {
        {"afk zed", "<16|zed>"},
        {"afk bob", "<18|bob|Afk>"},
        {"afk BOBC", "<19|Bobcat|at>"},
        {"afk mary  ann", "<19|Mary Ann|away from>"},
        {"afk mary", "<19|Mary Ann|away from>"},
        {"afk alice", "<19|Alice|at>"},  // himself
        {"afk ?x", "<16|?x>"},           // one argument that is not "?" is a user-ID
        {"afk ? ?", "<16|? ?>"},
    };
    for (const Case &c : cases) EXPECT_EQ(say(alice, c.typed), c.answer) << c.typed;
    session(mary).session_flags |= SESSION_HIDDEN;  // a hidden caller is never found
    EXPECT_EQ(say(alice, "afk mary ann"), "<16|mary ann>");
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Afk, AParkedCallerIsRemindedOfTheCommandUntilHeIsBack) {
    int alice = on("Alice");
    EXPECT_EQ(say(alice, "afk"), "<15|away from>");
    EXPECT_EQ(session(alice).current_module, afk_module);
    EXPECT_EQ(session(alice).module_substate, 1);
    for (const char *typed : {"hello", "1", "G", "w", ""}) EXPECT_EQ(say(alice, typed), "<20|Afk>") << typed;
    EXPECT_TRUE(bbs.connected(alice));
    // Global commands still reach him; only the command brings him back.
    EXPECT_EQ(say(alice, "testa one"), "<10|2>");
    std::string back = say(alice, "afk");
    EXPECT_EQ(back.rfind("<15|at>", 0), 0u) << back;
    EXPECT_NE(back.find("Your choice: "), std::string::npos) << back;  // back at the menu he left
    EXPECT_EQ(session(alice).current_module, 0);
    bbs.type(alice, "1");
    EXPECT_EQ(bbs.take_output(alice), "<11>");
}

TEST_F(Afk, ParkingKeepsTheModuleItsStateAndTheSessionClass) {
    int alice = on("Alice");
    say(alice, "1");  // into the test plug-in
    say(alice, "first");
    const int test_module = findmod("Test plug-in A");
    ASSERT_EQ(session(alice).current_module, test_module);
    ASSERT_EQ(session(alice).module_substate, 1);
    session(alice).session_class = 7;
    EXPECT_EQ(say(alice, "afk"), "<15|away from>");
    EXPECT_EQ(session(alice).current_module, afk_module);
    session(alice).module_substate = 9;  // whatever happens meanwhile
    session(alice).session_class = 6;
    EXPECT_EQ(say(alice, "quit"), "<20|Afk>");
    EXPECT_EQ(say(alice, "afk"), "<15|at>");  // no line is handed on: feeding is off
    EXPECT_EQ(session(alice).current_module, test_module);
    EXPECT_EQ(session(alice).module_substate, 1);
    EXPECT_EQ(session(alice).session_class, 7);
    EXPECT_EQ(say(alice, "still here"), "<12|still here>");
}

TEST_F(Afk, TheBusyBitIsClearedOnlyWhenAfkSetIt) {
    int alice = on("Alice");
    say(alice, "afk");
    EXPECT_NE(session(alice).session_flags & SESSION_BUSY, 0u);
    say(alice, "afk");
    EXPECT_EQ(session(alice).session_flags & SESSION_BUSY, 0u);

    session(alice).session_flags |= SESSION_BUSY;  // set by another module (a file on display)
    say(alice, "afk");
    say(alice, "afk");
    EXPECT_NE(session(alice).session_flags & SESSION_BUSY, 0u);
    session(alice).session_flags &= ~SESSION_BUSY;
    say(alice, "afk");
    say(alice, "afk");
    EXPECT_EQ(session(alice).session_flags & SESSION_BUSY, 0u);  // and AFK holds it again next time
}

TEST_F(Afk, ACallerWhoHangsUpAwayStartsTheNextCallOnTheLineAtTheKeyboard) {
    int alice = on("Alice", 2);
    say(alice, "afk");
    bbs.hang_up(alice);
    int bobby = on("Bobby", 2);
    EXPECT_EQ(say(bobby, "afk ?"), "<14|Afk|Afk|at>");
    EXPECT_EQ(say(bobby, "afk"), "<15|away from>");  // the first toggle of a call always goes away
    EXPECT_NE(session(bobby).session_flags & SESSION_BUSY, 0u);
    std::string back = say(bobby, "afk");
    EXPECT_EQ(back.rfind("<15|at>", 0), 0u);
    EXPECT_EQ(session(bobby).current_module, 0);  // Alice's saved place is not his
}

class NoParkNoBusy : public Afk {
protected:
    NoParkNoBusy() : Afk(afk({{9, "no"}, {11, "no"}, {5, "yes"}})) {}
};

TEST_F(NoParkNoBusy, AwayOnlyChangesTheStateOthersAreTold) {
    int alice = on("Alice");
    int bobby = on("Bobby");
    say(alice, "1");
    EXPECT_EQ(say(alice, "afk"), "<15|away from>");  // feeding on, but without parking it does nothing
    EXPECT_EQ(session(alice).current_module, findmod("Test plug-in A"));
    EXPECT_EQ(session(alice).session_flags & SESSION_BUSY, 0u);
    EXPECT_EQ(say(alice, "typing on"), "<12|typing on>");
    EXPECT_EQ(say(bobby, "afk alice"), "<19|Alice|away from>");
    EXPECT_EQ(say(alice, "afk"), "<15|at>");
    EXPECT_EQ(say(bobby, "afk alice"), "<19|Alice|at>");
}

}  // namespace
