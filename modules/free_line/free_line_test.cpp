// Free Line on the test driver: the count of busy lines by hardware channel,
// the choice of the caller to warn, the warning and the cut that follows it,
// with the virtual clock running the two timers.
#include <gtest/gtest.h>

#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

const char *kWarned = "KRV Free Line warned DEMO user";
const char *kBumped = "KRV Free Line bumped DEMO user";
const char *kConfigError = "KRV Free Line Config Error";

using Strings = std::vector<std::string>;

// Lines 0 to 5 on hardware channels 0 to 5; the range is 1 to 4 with one
// line kept spare, so three busy lines of the range make it act. Members
// hold the exempt key.
BbsOptions free_line(std::map<int, std::string> options = {}, std::vector<int> channels = {}) {
    BbsOptions o;
    o.plugins = {"KRVFRELN"};
    o.lines = 6;
    o.channels = std::move(channels);
    o.options["krvfreln.mcv"] = {{2, "\"USER\""}, {4, "1"},   {5, "20"},  {6, "1"},
                                 {7, "4"},        {8, "10"},  {9, "no"},  {10, "yes"}, {11, "yes"}};
    for (const auto &[number, value] : options) o.options["krvfreln.mcv"][number] = value;
    return o;
}

class FreeLine : public ::testing::Test {
protected:
    explicit FreeLine(BbsOptions options = free_line()) : bbs(std::move(options)) {
        for (const char *id : {"Guest1", "Guest2", "Guest3", "Guest4"}) bbs.add_user(id, "secret", "DEMO");
        bbs.add_user("Member", "secret", "USER");
        bbs.add_user("Root", "secret", "SYSOP");
    }
    int on(const std::string &user_id, int line) {
        int n = bbs.log_on(user_id, "secret", line);
        EXPECT_EQ(n, line);
        bbs.take_output(n);
        return n;
    }
    // The host counts a line's session_tally in seconds from the start of
    // the call; a call made to have begun `seconds` before now.
    void begun_before(int line, int seconds) {
        bbs.line(line).connected_ms = bbs.clock().monotonic_ms() - int64_t{seconds} * 1000;
    }
    Bbs bbs;
};

TEST_F(FreeLine, HasNoDialogueAndStaysOffTheMenu) {
    int m = findmod("Free Line");
    ASSERT_GT(m, 0);
    EXPECT_NE(module[m]->input_routine, nullptr);
    EXPECT_EQ(module[m]->status_routine, dfsthn);
    EXPECT_EQ(module[m]->logon_routine, nullptr);
    EXPECT_EQ(module[m]->hangup_routine, nullptr);
    EXPECT_NE(module[m]->shutdown_routine, nullptr);
    int n = bbs.log_on("Member", "secret");
    EXPECT_EQ(bbs.take_output(n).find("Free Line"), std::string::npos);
    EXPECT_TRUE(details(bbs, kConfigError).empty());
}

TEST_F(FreeLine, WarnsTheDemoCallerOnLongestAndCutsHimWhenTheTimeIsUp) {
    int outside = on("Guest3", 0);  // channel 0 is outside the range: never counted, never warned
    int member = on("Member", 1);
    int newer = on("Guest1", 2);
    int older = on("Guest2", 3);
    begun_before(older, 5);
    bbs.advance(19);
    EXPECT_EQ(bbs.take_output(older), "");
    bbs.advance(1);  // the first count: three busy lines of the range
    EXPECT_EQ(bbs.take_output(older), "<13|10>");
    EXPECT_EQ(bbs.take_output(newer), "");
    EXPECT_EQ(bbs.take_output(member), "");
    EXPECT_EQ(details(bbs, kWarned), Strings{"User-ID: Guest2"});

    // A line freed meanwhile does not save him: the lines are not counted
    // again before the cut.
    bbs.hang_up(member);
    bbs.advance(9);
    EXPECT_TRUE(bbs.connected(older));
    bbs.advance(1);
    EXPECT_FALSE(bbs.connected(older));
    EXPECT_EQ(details(bbs, kBumped), Strings{"User-ID: Guest2"});
    EXPECT_TRUE(bbs.connected(newer));
    EXPECT_TRUE(bbs.connected(outside));

    // One busy line left in the range: the next counts do nothing.
    bbs.advance(60);
    EXPECT_EQ(details(bbs, kWarned).size(), 1u);
    EXPECT_EQ(bbs.take_output(newer), "");
    EXPECT_EQ(bbs.take_output(outside), "");
    EXPECT_EQ(message_selection_depth(), 0u);
}

class SwappedRange : public FreeLine {
protected:
    // Options 6 = 10 and 7 = 02: the range 02 to 10, fifteen channels; with
    // thirteen spare, two busy lines make it act. Lines sit on the hardware
    // channels 01, 02, 10, 11, 05 and 06.
    SwappedRange() : FreeLine(free_line({{6, "10"}, {7, "2"}, {4, "13"}}, {0x01, 0x02, 0x10, 0x11, 0x05, 0x06})) {}
};

TEST_F(SwappedRange, CountsLinesByTheirHardwareChannelEveryCheck) {
    EXPECT_TRUE(details(bbs, kConfigError).empty());
    int low = on("Guest1", 0);   // channel 01: outside
    int high = on("Guest2", 3);  // channel 11: outside
    bbs.advance(20);
    int inside = on("Guest3", 1);  // channel 02: inside, one busy line
    bbs.advance(20);
    EXPECT_TRUE(details(bbs, kWarned).empty());
    int logging_on = bbs.connect(2);  // channel 10, a caller still at the user-ID prompt: busy
    begun_before(low, 100);           // on longest, but outside the range
    bbs.advance(19);
    EXPECT_TRUE(details(bbs, kWarned).empty());
    bbs.advance(1);  // the third count, 60 seconds after start-up
    EXPECT_EQ(details(bbs, kWarned), Strings{"User-ID: Guest3"});
    EXPECT_EQ(bbs.take_output(inside), "<13|10>");
    EXPECT_EQ(bbs.take_output(low), "");
    EXPECT_EQ(bbs.take_output(high), "");
    EXPECT_EQ(bbs.take_output(logging_on).find("<13|"), std::string::npos);
}

TEST(FreeLineSettings, ARangeWithNoLineToFreeIsAConfigurationError) {
    struct Case {
        const char *first, *last, *spare;
        bool error;
    } cases[] = {{"1", "4", "4", true}, {"1", "4", "3", false}, {"10", "2", "15", true},
                 {"10", "2", "14", false}, {"7", "7", "0", false}, {"7", "7", "1", true}};
    for (const Case &c : cases) {
        Bbs bbs(free_line({{6, c.first}, {7, c.last}, {4, c.spare}, {2, "\"\""}}));
        EXPECT_EQ(details(bbs, kConfigError),
                  c.error ? Strings{"Your settings will not allow DEMOs to be bumped"} : Strings{})
            << c.first << ".." << c.last << " spare " << c.spare;
    }
}

class Idle : public FreeLine {
protected:
    Idle() : FreeLine(free_line({{4, "4"}})) {}
};

TEST_F(Idle, AModuleWithTheConfigurationErrorNeverCounts) {
    for (int line = 1; line <= 4; ++line) on("Guest" + std::to_string(line), line);
    bbs.advance(300);
    EXPECT_TRUE(details(bbs, kWarned).empty());
    for (int line = 1; line <= 4; ++line) EXPECT_EQ(bbs.take_output(line), "") << line;
}

TEST(FreeLineChoice, TheLargestTallyIsWarnedTheLowestChannelOnATieAndNeverANegativeOne) {
    struct Case {
        int tally_1, tally_3;
        int warned;  // line, or -1 for nobody
    } cases[] = {{120, 120, 1}, {5, 10, 3}, {10, 5, 1}, {-5, -1, -1}, {-5, 0, 3}, {0, -1, 1}};
    for (const Case &c : cases) {
        Bbs one(free_line());
        for (const char *id : {"Guest1", "Guest2", "Member"}) one.add_user(id, "secret", id[0] == 'M' ? "USER" : "DEMO");
        one.log_on("Guest1", "secret", 1);
        one.log_on("Member", "secret", 2);
        one.log_on("Guest2", "secret", 3);
        one.clear_output();
        // The count of the first check, 20 seconds on, is what each line was given here.
        int64_t check_ms = one.clock().monotonic_ms() + 20000;
        one.line(1).connected_ms = check_ms - int64_t{c.tally_1} * 1000;
        one.line(3).connected_ms = check_ms - int64_t{c.tally_3} * 1000;
        one.advance(20);
        EXPECT_EQ(one.line(1).session.session_tally, c.tally_1);
        for (int line : {1, 2, 3})
            EXPECT_EQ(one.take_output(line), line == c.warned ? "<13|10>" : "")
                << "tallies " << c.tally_1 << " and " << c.tally_3 << ", line " << line;
    }
}

class AllFour : public FreeLine {
protected:
    AllFour() : FreeLine(free_line({{4, "0"}})) {}  // all four lines of the range must be busy
};

TEST_F(AllFour, KeyHoldersAndPlaceholderIdsCountAsBusyButAreNeverWarned) {
    int member = on("Member", 1);
    int root = on("Root", 2);  // SYSOP holds every key
    int guest = on("Guest1", 3);
    int signing_up = bbs.connect(4);
    bbs.type(signing_up, "NEW");  // the new-user form: state 2, still "(Logging on)"
    ASSERT_EQ(bbs.line(signing_up).session.session_class, SESSION_NEW_USER);
    stlcpy(bbs.line(guest).account.user_id, "(Guest1)", UIDSIZ);
    bbs.clear_output();
    bbs.advance(20);  // four busy lines, no candidate: nothing is shown
    for (int line : {member, root, guest, signing_up}) EXPECT_EQ(bbs.take_output(line), "") << line;
    EXPECT_TRUE(details(bbs, kWarned).empty());

    stlcpy(bbs.line(guest).account.user_id, "Guest1", UIDSIZ);
    bbs.advance(20);  // the next check finds him
    EXPECT_EQ(bbs.take_output(guest), "<13|10>");
    EXPECT_EQ(bbs.take_output(member), "");
    EXPECT_EQ(bbs.take_output(root), "");
}

class Quiet : public FreeLine {
protected:
    Quiet() : FreeLine(free_line({{9, "yes"}, {10, "no"}, {11, "no"}})) {}
};

TEST_F(Quiet, TheBellGoesAheadOfTheWarningAndTheAuditEntriesFollowTheirOptions) {
    int guest = on("Guest1", 1);
    on("Guest2", 2);
    on("Member", 3);
    begun_before(guest, 1);
    bbs.advance(20);
    EXPECT_EQ(bbs.take_output(guest), "\a<13|10>");
    bbs.advance(10);
    EXPECT_FALSE(bbs.connected(guest));
    EXPECT_TRUE(details(bbs, kWarned).empty());
    EXPECT_TRUE(details(bbs, kBumped).empty());
}

class LongWarning : public FreeLine {
protected:
    LongWarning() : FreeLine(free_line({{7, "3"}, {4, "0"}, {8, "30"}})) {}  // range 1..3, all busy
};

TEST_F(LongWarning, TheCutFallsOnTheCallerWarnedLastAndNeverOnOneWhoLeft) {
    int first = on("Guest1", 1);
    int second = on("Guest2", 2);
    on("Member", 3);
    begun_before(first, 10);
    bbs.advance(20);  // Guest1 warned; his cut is armed for 30 seconds on
    EXPECT_EQ(bbs.take_output(first), "<13|30>");
    bbs.advance(5);
    bbs.hang_up(first);  // he leaves; a newer visitor takes his line
    int third = on("Guest3", 1);
    bbs.advance(15);  // the second check warns Guest2, on longer than Guest3
    EXPECT_EQ(bbs.take_output(second), "<13|30>");
    EXPECT_EQ(bbs.take_output(third), "");
    bbs.advance(10);  // the cut armed by the first warning falls on the caller warned last
    EXPECT_FALSE(bbs.connected(second));
    EXPECT_TRUE(bbs.connected(third));
    bbs.advance(20);  // the second cut finds nobody: no entry
    EXPECT_TRUE(bbs.connected(third));
    EXPECT_EQ(details(bbs, kWarned), (Strings{"User-ID: Guest1", "User-ID: Guest2"}));
    EXPECT_EQ(details(bbs, kBumped), Strings{"User-ID: Guest2"});
}

}  // namespace
