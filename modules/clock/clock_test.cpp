// The Clock on the test driver: the log-on notice, the command and its
// refusals, the audit entry, and the clock the host reports afterwards. The
// driver's clock is virtual: nothing here touches the machine's clock.
#include <gtest/gtest.h>

#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

BbsOptions clock_bbs(const std::string &mode = "") {
    BbsOptions o;
    o.plugins = {"KRVCLOCK"};
    o.options["krvclock.mcv"] = {{2, "\"SYSOP\""}, {4, "\"SetTime\""}};
    o.clock_mode = mode;
    return o;  // the BBS starts at 12:00:00 on 12/11/26
}

class Clock : public ::testing::Test {
protected:
    explicit Clock(const std::string &mode = "") : bbs(clock_bbs(mode)) {
        bbs.add_user("Root", "secret1", "SYSOP");
        bbs.add_user("Member", "secret2", "USER");
    }
    std::string command(int line, const std::string &text) {
        bbs.take_output(line);
        bbs.type(line, text);
        return bbs.take_output(line);
    }
    Bbs bbs;
};

TEST_F(Clock, KeyHoldersAreToldOfTheCommandWhenTheyLogOn) {
    int root = bbs.log_on("Root", "secret1");
    EXPECT_NE(bbs.take_output(root).find("<6|1.1|SetTime>"), std::string::npos);
    int member = bbs.log_on("Member", "secret2");
    EXPECT_EQ(bbs.take_output(member).find("<6|"), std::string::npos);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Clock, SetsTheTimeOfDayAndLogsWhoDidIt) {
    int root = bbs.log_on("Root", "secret1");
    EXPECT_EQ(command(root, "settime 8:15"), "<10|8:15>");
    EXPECT_STREQ(nctime(now()), "08:15:00");
    EXPECT_STREQ(ncdate(today()), "12/11/26");  // the date stays
    EXPECT_EQ(details(bbs, "USER CHANGED BBS TIME"), std::vector<std::string>{"User: Root, Time: 8:15"});
    bbs.advance(90);
    EXPECT_STREQ(nctime(now()), "08:16:30");  // the clock runs on from the new time

    // Seconds are kept in two-second steps, as the host's packed times are.
    struct Case {
        const char *typed, *reads;
    } cases[] = {{"23:59:58", "23:59:58"}, {"06:07:31", "06:07:30"}, {"0:00", "00:00:00"}, {"12:30:40", "12:30:40"}};
    for (const Case &c : cases) {
        EXPECT_EQ(command(root, std::string("SETTIME ") + c.typed), std::string("<10|") + c.typed + ">");
        EXPECT_STREQ(nctime(now()), c.reads) << c.typed;
    }
    EXPECT_EQ(details(bbs, "USER CHANGED BBS TIME").size(), 5u);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Clock, RefusalsLeaveTheClockAndTheAuditTrailAlone) {
    int root = bbs.log_on("Root", "secret1");
    int member = bbs.log_on("Member", "secret2");
    struct Case {
        int line;
        const char *typed, *answer;
    } cases[] = {
        {member, "settime 08:15", "<7>"},  // no key: refused before anything else is looked at
        {member, "settime", "<7>"},
        {root, "settime", "<8|SetTime>"},
        {root, "settime 08:15 08:20", "<8|SetTime>"},
        {root, "settime 25:00", "<9|25:00>"},
        {root, "settime 12:60", "<9|12:60>"},
        {root, "settime noon", "<9|noon>"},
        {root, "settime 012:00:00", "<9|012:00:00>"},    // 9 characters: dctime refuses it
        {root, "settime 08:15:00:0", "<9|08:15:00:0>"},  // 10: too long to be a time
    };
    for (const Case &c : cases) {
        EXPECT_EQ(command(c.line, c.typed), c.answer) << c.typed;
        EXPECT_STREQ(nctime(now()), "12:00:00") << c.typed;
    }
    EXPECT_TRUE(details(bbs, "USER CHANGED BBS TIME").empty());
    // A line whose first word is not the command word is not the Clock's.
    std::string passed_on = command(root, "settimes 08:15");
    EXPECT_NE(passed_on.find("There is no choice settimes 08:15"), std::string::npos) << passed_on;
    EXPECT_EQ(message_selection_depth(), 0u);
}

class ClockInSystemMode : public Clock {
protected:
    ClockInSystemMode() : Clock("system") {}
};

TEST_F(ClockInSystemMode, TheHostSetsTheMachinesClockOnlyWithThePrivilege) {
    int root = bbs.log_on("Root", "secret1");
    // The host lacks the privilege: the clock stays, the host's entry says
    // why, and the caller's message and the change entry follow as ever.
    EXPECT_EQ(command(root, "settime 08:15"), "<10|08:15>");
    EXPECT_STREQ(nctime(now()), "12:00:00");
    ASSERT_GE(bbs.audit.size(), 2u);
    EXPECT_EQ(bbs.audit[bbs.audit.size() - 2].summary, "CLOCK NOT SET");
    EXPECT_EQ(bbs.audit.back().summary, "USER CHANGED BBS TIME");
    EXPECT_EQ(bbs.audit.back().detail, "User: Root, Time: 08:15");

    bbs.clock().privileged = true;
    EXPECT_EQ(command(root, "settime 08:15"), "<10|08:15>");
    EXPECT_EQ(bbs.clock().system_sets, 1);
    EXPECT_STREQ(nctime(now()), "08:15:00");
    EXPECT_EQ(details(bbs, "CLOCK NOT SET").size(), 1u);
}

}  // namespace
