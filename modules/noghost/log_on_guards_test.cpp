// NoGhost and Call Back together: both replace the password check and chain
// to what they found, so the one whose DLL= line comes later runs first.
#include <gtest/gtest.h>

#include "driver.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

std::vector<std::string> summaries(const Bbs &bbs) {
    std::vector<std::string> out;
    for (const AuditEntry &e : bbs.audit)
        if (e.summary.rfind("KRV ", 0) == 0) out.push_back(e.summary);
    return out;
}

BbsOptions guarded_bbs(std::vector<std::string> order) {
    BbsOptions o;
    o.plugins = std::move(order);
    o.options["krvcalbk.mcv"] = {{2, "\"SYSOP\""}, {4, "600"}, {5, "no"}, {6, "no"}, {8, "0"}, {9, "FF"}, {12, "yes"}};
    o.options["krvghost.mcv"] = {{3, "0"}, {4, "FF"}, {5, "no"}, {9, "yes"}};
    return o;
}

const char *kNoGhosted = "KRV NoGhost: USER NOGHOSTED";
const char *kDelayed = "KRV Call Back delayed Log-on";

// A caller whose call died calls again and clears his ghost: the ghost's
// hang-up comes after his log-on, so Call Back does not take the ghost's
// hang-up for his own. The record it leaves, though, is a hang-up like any
// other: should his new call die as well and he call back within the wait,
// the order of the DLL= lines decides what happens.
TEST(LogOnGuards, TheLaterLoadedPasswordCheckRunsFirst) {
    struct Case {
        std::vector<std::string> order;
        std::vector<std::string> chain;
        bool ghost_cleared;                  // on the second call
        std::vector<std::string> entries;    // of that call, in order
    } cases[] = {
        // Call Back runs first, and asks NoGhost first: the ghost is cleared,
        // then the wait refuses the caller.
        {{"KRVGHOST", "KRVCALBK"}, {"KRVCALBK", "KRVGHOST", "host"}, true, {kNoGhosted, kDelayed}},
        // NoGhost runs first and asks Call Back first, which refuses: NoGhost
        // never sees an accepted password and the ghost stays.
        {{"KRVCALBK", "KRVGHOST"}, {"KRVGHOST", "KRVCALBK", "host"}, false, {kDelayed}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.order[0] + " then " + c.order[1]);
        Bbs bbs(guarded_bbs(c.order));
        EXPECT_EQ(check_chain(true), c.chain);
        EXPECT_EQ(check_chain(false), (std::vector<std::string>{"KRVGHOST", "host"}));
        bbs.add_user("Alice", "alicepw");

        int first = bbs.log_on("Alice", "alicepw");
        bbs.advance(30);
        int second = bbs.log_on("Alice", "alicepw");
        EXPECT_NE(bbs.output(second).find("Welcome, Alice!"), std::string::npos) << bbs.output(second);
        EXPECT_TRUE(bbs.connected(second));
        EXPECT_FALSE(bbs.connected(first));
        EXPECT_EQ(summaries(bbs), std::vector<std::string>{kNoGhosted});

        bbs.audit.clear();
        bbs.advance(30);
        int third = bbs.log_on("Alice", "alicepw");
        EXPECT_FALSE(bbs.connected(third));
        EXPECT_NE(bbs.output(third).find("<14|12/11/26|12:10:30>"), std::string::npos) << bbs.output(third);
        EXPECT_EQ(bbs.connected(second), !c.ghost_cleared);
        EXPECT_EQ(summaries(bbs), c.entries);
    }
}

}  // namespace
