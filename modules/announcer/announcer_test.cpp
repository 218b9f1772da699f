// The Announcer on the test driver: its start-up entry, the timer that
// re-arms itself, and who gets the notice.
#include <gtest/gtest.h>

#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

const std::string kNotice = "<8>";

BbsOptions announcer(std::map<int, std::string> options = {}) {
    BbsOptions o;
    o.plugins = {"KRVTSTA", "KRVDMPST"};
    o.options["krvtsta.mcv"][3] = "0";  // the test plug-in's own timer stays off
    o.options["krvdmpst.mcv"] = {{3, "30"}, {1, "\"USER\""}, {4, "no"}, {5, "no"}, {6, "\"Nothing Here\""}};
    for (const auto &[number, value] : options) o.options["krvdmpst.mcv"][number] = value;
    return o;
}

class Announcer : public ::testing::Test {
protected:
    explicit Announcer(std::map<int, std::string> options = {}) : bbs(announcer(std::move(options))) {
        bbs.add_user("Guest", "secret1", "DEMO");
        bbs.add_user("Visitor", "secret2", "DEMO");
        bbs.add_user("Member", "secret3", "USER");
        bbs.add_user("Root", "secret4", "SYSOP");
    }
    int signed_on(const std::string &user_id, const std::string &password) {
        int n = bbs.log_on(user_id, password);
        bbs.take_output(n);
        return n;
    }
    Bbs bbs;
};

TEST_F(Announcer, WritesItsStartUpEntryFirstAndRegistersItsName) {
    ASSERT_FALSE(bbs.audit.empty());
    auto first = std::find_if(bbs.audit.begin(), bbs.audit.end(),
                              [](const AuditEntry &e) { return e.summary.rfind("KRV", 0) == 0; });
    ASSERT_NE(first, bbs.audit.end());
    EXPECT_EQ(first->summary, "KRV Announcer 1.5");
    EXPECT_FALSE(first->detail.empty());
    int m = findmod("Announcer");
    ASSERT_GT(m, 0);
    EXPECT_EQ(module[m]->status_routine, dfsthn);
    EXPECT_EQ(module[m]->logon_routine, nullptr);
    EXPECT_EQ(module[m]->hangup_routine, nullptr);
    EXPECT_NE(module[m]->shutdown_routine, nullptr);
}

TEST_F(Announcer, APassEveryIntervalReachesEachEligibleCallerOnce) {
    bbs.advance(30);  // the first pass, with nobody on-line, sends nothing and re-arms
    int a = signed_on("Guest", "secret1");
    int b = signed_on("Visitor", "secret2");
    bbs.advance(29);
    EXPECT_EQ(bbs.take_output(a), "");
    bbs.advance(1);
    EXPECT_EQ(bbs.take_output(a), kNotice);
    EXPECT_EQ(bbs.take_output(b), kNotice);
    bbs.advance(30);
    EXPECT_EQ(bbs.take_output(a), kNotice);
    EXPECT_EQ(bbs.take_output(b), kNotice);
    EXPECT_EQ(othusn, nterms);  // the pass counts with the host's own othusn
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Announcer, PassesOverKeyHoldersLinesNotSignedOnAndOtherStates) {
    int guest = signed_on("Guest", "secret1");
    int member = signed_on("Member", "secret3");
    int root = signed_on("Root", "secret4");  // SYSOP holds the exempt key too
    int prompt = bbs.connect();               // at the user-ID prompt, "(Logging on)"
    bbs.take_output(prompt);
    bbs.advance(30);
    EXPECT_EQ(bbs.take_output(guest), kNotice);
    EXPECT_EQ(bbs.take_output(member), "");
    EXPECT_EQ(bbs.take_output(root), "");
    EXPECT_EQ(bbs.take_output(prompt), "");

    // Only states 6 and 2 count, and only with a real user-ID.
    struct Case {
        int32_t session_class;
        const char *user_id;
        bool told;
    } cases[] = {{2, "Guest", true}, {4, "Guest", false}, {5, "Guest", false}, {1, "Guest", false},
                 {6, "(Logging on)", false}, {6, "Guest", true}};
    for (const Case &c : cases) {
        bbs.line(guest).session.session_class = c.session_class;
        stlcpy(bbs.line(guest).account.user_id, c.user_id, UIDSIZ);
        bbs.advance(30);
        EXPECT_EQ(bbs.take_output(guest), c.told ? kNotice : "") << c.session_class << " " << c.user_id;
    }
}

TEST_F(Announcer, ANameNoModuleBearsSparesNobody) {
    int n = signed_on("Guest", "secret1");
    bbs.type(n, "1");  // into the test plug-in
    bbs.take_output(n);
    bbs.advance(30);
    EXPECT_EQ(bbs.take_output(n), kNotice);
}

class Spared : public Announcer {
protected:
    explicit Spared(const char *everywhere = "no") : Announcer({{5, everywhere}, {6, "\"test plug-in a\""}}) {
        inside = signed_on("Guest", "secret1");
        bbs.type(inside, "1");
        bbs.take_output(inside);
        outside = signed_on("Visitor", "secret2");
    }
    int inside = -1, outside = -1;
};

TEST_F(Spared, ACallerInsideTheSparedModuleIsLeftInPeace) {
    bbs.advance(30);
    EXPECT_EQ(bbs.take_output(inside), "");
    EXPECT_EQ(bbs.take_output(outside), kNotice);
    bbs.type(inside, "quit");  // back at the menu: no longer spared
    bbs.take_output(inside);
    bbs.advance(30);
    EXPECT_EQ(bbs.take_output(inside), kNotice);
}

class SparedButEverywhere : public Spared {
protected:
    SparedButEverywhere() : Spared("yes") {}
};

TEST_F(SparedButEverywhere, ReachesCallersInsideTheModuleToo) {
    bbs.advance(30);
    EXPECT_EQ(bbs.take_output(inside), kNotice);
    EXPECT_EQ(bbs.take_output(outside), kNotice);
}

class Bell : public Announcer {
protected:
    Bell() : Announcer({{4, "yes"}}) {}
};

TEST_F(Bell, RingsOnceBeforeEachNotice) {
    int n = signed_on("Guest", "secret1");
    bbs.advance(60);
    EXPECT_EQ(bbs.take_output(n), "\a" + kNotice + "\a" + kNotice);
}

}  // namespace
