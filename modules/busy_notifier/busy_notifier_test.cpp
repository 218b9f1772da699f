// The Busy Notifier on the test driver: the three forms of the command, the
// lookup of the named caller, and the timer that sends the notice once the
// busy bit clears or the caller leaves. The busy bit is set here by hand, as
// the File Viewer or AFK would set it.
#include <gtest/gtest.h>

#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

const std::string kNobodyWaited = "<10|Busy|Busy|Status><11|Busy|<Nobody>>";

BbsOptions notifier(std::map<int, std::string> options = {}) {
    BbsOptions o;
    o.plugins = {"KRVBSYNT"};
    o.lines = 6;
    o.options["krvbsynt.mcv"] = {{2, "\"USER\""}, {4, "\"Busy\""}, {5, "\"Status\""}, {6, "yes"}, {7, "5"}};
    for (const auto &[number, value] : options) o.options["krvbsynt.mcv"][number] = value;
    return o;
}

std::string waiting_for(const std::string &user_id) { return "<10|Busy|Busy|Status><11|Busy|" + user_id + ">"; }

class Notifier : public ::testing::Test {
protected:
    explicit Notifier(BbsOptions options = notifier()) : bbs(std::move(options)) {
        for (const char *id : {"Alice", "Bobby", "Bobcat", "Mary Ann", "Statler", "Root"})
            bbs.add_user(id, "secret", id[0] == 'R' ? "SYSOP" : "USER");
        bbs.add_user("Guest", "secret", "DEMO");
    }
    int on(const std::string &user_id) {
        int n = bbs.log_on(user_id, "secret");
        bbs.take_output(n);
        return n;
    }
    std::string say(int n, const std::string &text) {
        bbs.take_output(n);
        bbs.type(n, text);
        return bbs.take_output(n);
    }
    void busy(int n, bool on) {
        if (on)
            bbs.line(n).session.session_flags |= SESSION_BUSY;
        else
            bbs.line(n).session.session_flags &= ~SESSION_BUSY;
    }
    Bbs bbs;
};

TEST_F(Notifier, KeyHoldersAreToldOfTheCommandWhenTheyLogOn) {
    int alice = bbs.log_on("Alice", "secret");
    EXPECT_NE(bbs.take_output(alice).find("<9|2.3|Busy|Status>"), std::string::npos);
    int guest = bbs.log_on("Guest", "secret");
    std::string shown = bbs.take_output(guest);
    EXPECT_EQ(shown.find("<9|"), std::string::npos);
    EXPECT_EQ(shown.find("Busy Notifier"), std::string::npos);  // no dialogue: not on the menu
    int m = findmod("Busy Notifier");
    ASSERT_GT(m, 0);
    EXPECT_EQ(module[m]->status_routine, dfsthn);
    EXPECT_NE(module[m]->hangup_routine, nullptr);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Notifier, ACallerWithoutTheKeyIsRefusedEveryFormAndOtherLinesPassOn) {
    int guest = on("Guest");
    int bobby = on("Bobby");
    busy(bobby, true);
    for (const char *typed : {"busy", "busy status", "BUSY bobby", "busy bob by"})
        EXPECT_EQ(say(guest, typed), "<15|DEMO>") << typed;
    bbs.advance(10);
    EXPECT_EQ(bbs.take_output(guest), "");  // nothing was recorded
    EXPECT_NE(say(guest, "busybody").find("There is no choice busybody"), std::string::npos);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Notifier, TheNamedCallerIsLookedUpAndOnlyABusyOneIsWaitedFor) {
    int alice = on("Alice");
    int bobby = on("Bobby");
    on("Bobcat");
    int mary = on("Mary Ann");
    busy(mary, true);
    struct Case {
        const char *typed, *answer;
    } cases[] = {
        {"busy zed", "<12|zed>"},
        {"busy bob", "<17|bob|Busy>"},         // begins Bobby and Bobcat
        {"busy bobb", "<14|Bobby>"},           // on-line and not busy: nothing recorded
        {"busy mary   ann", "<16|Mary Ann>"},  // the words joined with one blank; the full user-ID
        {"busy BOBBY", "<14|Bobby>"},          // a pending request stays
        {"busy mary an x", "<12|mary an x>"},
    };
    for (const Case &c : cases) EXPECT_EQ(say(alice, c.typed), c.answer) << c.typed;
    EXPECT_EQ(say(alice, "busy status"), waiting_for("Mary Ann"));

    // A second busy caller takes the place of the first without a word.
    busy(bobby, true);
    EXPECT_EQ(say(alice, "busy bobby"), "<16|Bobby>");
    EXPECT_EQ(say(alice, "busy status"), waiting_for("Bobby"));
    busy(mary, false);
    bbs.advance(10);
    EXPECT_EQ(bbs.take_output(alice), "");

    // Hidden lines and lines not signed on are never found, even by the exact user-ID.
    bbs.line(mary).session.session_flags |= SESSION_HIDDEN;
    EXPECT_EQ(say(alice, "busy mary ann"), "<12|mary ann>");
    int logging_on = bbs.connect();
    (void)logging_on;
    EXPECT_EQ(say(alice, "busy (logging on)"), "<12|(logging on)>");
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Notifier, TheStatusWordIsAlwaysTheQueryAndAnyOtherTwoWordLineARequest) {
    int alice = on("Alice");
    int statler = on("Statler");
    busy(statler, true);
    EXPECT_EQ(say(alice, "busy status"), kNobodyWaited);
    EXPECT_EQ(say(alice, "BUSY STATUS"), kNobodyWaited);
    EXPECT_EQ(say(alice, "busy stat"), "<16|Statler>");
    EXPECT_EQ(say(alice, "busy status"), waiting_for("Statler"));
    EXPECT_EQ(say(alice, "busy status now"), "<12|status now>");  // three words: a request
}

TEST_F(Notifier, TheBareCommandCancelsThePendingRequest) {
    int alice = on("Alice");
    int bobby = on("Bobby");
    EXPECT_EQ(say(alice, "busy"), "<18>");
    busy(bobby, true);
    say(alice, "busy bobby");
    EXPECT_EQ(say(alice, "busy"), "<19|Bobby>");
    EXPECT_EQ(say(alice, "busy"), "<18>");
    busy(bobby, false);
    bbs.advance(10);
    EXPECT_EQ(bbs.take_output(alice), "");
}

TEST_F(Notifier, TheTimerTellsEveryCallerWaitingOnceTheBusyBitClears) {
    int alice = on("Alice");
    int root = on("Root");
    int bobby = on("Bobby");
    busy(bobby, true);
    EXPECT_EQ(say(alice, "busy bobby"), "<16|Bobby>");
    EXPECT_EQ(say(root, "busy bob"), "<16|Bobby>");
    int bobcat = on("Bobcat");  // a second Bob came on: "bob" names nobody now
    EXPECT_EQ(say(root, "busy bob"), "<17|bob|Busy>");
    EXPECT_EQ(say(root, "busy status"), waiting_for("Bobby"));
    bbs.advance(20);  // still busy: the requests wait
    EXPECT_EQ(bbs.take_output(alice), "");
    busy(bobby, false);
    bbs.advance(4);  // the checks fall every five seconds from start-up: 25 is next
    EXPECT_EQ(bbs.take_output(alice), "");
    bbs.advance(1);
    EXPECT_EQ(bbs.take_output(alice), "\a<14|Bobby>");
    EXPECT_EQ(bbs.take_output(root), "\a<14|Bobby>");
    EXPECT_EQ(bbs.take_output(bobby), "");
    EXPECT_EQ(bbs.take_output(bobcat), "");
    EXPECT_EQ(say(alice, "busy status"), kNobodyWaited);
    busy(bobby, true);
    bbs.advance(5);
    busy(bobby, false);
    bbs.advance(10);
    EXPECT_EQ(bbs.take_output(alice), "");  // told once
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Notifier, ACallerWhoLeavesIsReportedGoneOnce) {
    int alice = on("Alice");
    int bobby = on("Bobby");
    busy(bobby, true);
    say(alice, "busy bobby");
    bbs.hang_up(bobby);
    bbs.advance(5);
    EXPECT_EQ(bbs.take_output(alice), "\a<13|Bobby>");
    bbs.advance(20);
    EXPECT_EQ(bbs.take_output(alice), "");
    EXPECT_EQ(say(alice, "busy status"), kNobodyWaited);
}

TEST_F(Notifier, ARequestEndsWithTheCallOfTheCallerWhoMadeIt) {
    int alice = on("Alice");
    int bobby = on("Bobby");
    busy(bobby, true);
    say(alice, "busy bobby");
    bbs.hang_up(alice);
    int next = bbs.log_on("Mary Ann", "secret", alice);  // the next caller on that line
    ASSERT_EQ(next, alice);
    bbs.take_output(next);
    EXPECT_EQ(say(next, "busy status"), kNobodyWaited);
    busy(bobby, false);
    bbs.advance(10);
    EXPECT_EQ(bbs.take_output(next), "");
}

TEST_F(Notifier, ACallerMayWaitForHimself) {
    int alice = on("Alice");
    busy(alice, true);
    EXPECT_EQ(say(alice, "busy alice"), "<16|Alice>");
    busy(alice, false);
    bbs.advance(5);
    EXPECT_EQ(bbs.take_output(alice), "\a<14|Alice>");
}

class NoBeep : public Notifier {
protected:
    NoBeep() : Notifier(notifier({{6, "no"}, {7, "1"}})) {}
};

TEST_F(NoBeep, TheNoticeComesWithoutABellAndWithinTheCheckTime) {
    int alice = on("Alice");
    int bobby = on("Bobby");
    busy(bobby, true);
    say(alice, "busy bobby");
    busy(bobby, false);
    bbs.advance(1);
    EXPECT_EQ(bbs.take_output(alice), "<14|Bobby>");
}

}  // namespace
