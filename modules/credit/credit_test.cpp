// The Credit on the test driver: the monthly allotment at the host's daily
// clean-up, the cut to the retained credits, the credit records, the days it
// does nothing (a restart on the allotment day included), the 32-bit limits,
// the account-deletion routine and the pseudo-key.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <cstring>

#include "credit.h"
#include "datafile.h"
#include "driver.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

constexpr int32_t SECOND_CLASS_ALLOTMENT = 300;

BbsOptions credit_bbs() {
    BbsOptions o;
    o.plugins = {"KRVCRED"};
    o.options["krvcred.mcv"] = {
        {2, "\"HasCredit\""}, {4, "\"user\""},  {5, "\"GOLD\""}, {6, "\"POOR\""}, {7, "\"USER\""}, {8, "\"\""},
        {9, "100"},           {10, "300"},      {11, "0"},       {12, "999"},     {13, "5"},      {14, "15"},
    };
    o.classes = {
        {"DEMO", "Visitors", {}, "", 0, 0, 0},      {"USER", "Members", {"USER"}, "", 0, 0, 0},
        {"GOLD", "Gold members", {"USER"}, "", 0, 0, 0}, {"POOR", "Members without credits", {}, "", 0, 0, 0},
        {"SYSOP", "Operators", {"SYSOP"}, "", 0, 0, 0},
    };
    // 02:00 on the allotment day: a new BBS's last clean-up was yesterday's,
    // and today's comes at 03:00.
    o.day = 15;
    o.hour = 2;
    return o;
}

class Credit : public ::testing::Test {
protected:
    explicit Credit(BbsOptions o = credit_bbs()) : bbs(std::move(o)) {}

    void add(const std::string &id, const std::string &cls, int32_t balance, int32_t posted = 0,
             int32_t retained = 0) {
        account_record a = bbs.add_user(id, "secret1", cls);
        a.credit_balance = balance;
        a.credits_posted = posted;
        a.retained_credits = retained;
        bbs.write_account(a);
    }
    account_record stored(const std::string &id) {
        account_record a{};
        EXPECT_TRUE(bbs.read_account(id, a)) << id;
        return a;
    }
    // The user's credit record; false when he has none.
    bool credit(const std::string &id, credit_record &out) {
        CallTransaction t;
        dfa_file *f = dfaOpen("krvcred.dat", sizeof(credit_record), nullptr);
        dfaSetBlk(f);
        char key[UIDSIZ] = {};
        stlcpy(key, id.c_str(), sizeof key);
        bool found = dfaAcqLock(&out, key, 0, DFA_GET_EQUAL, 0) != 0;
        dfaRstBlk();
        dfaClose(f);
        return found;
    }
    void write_credit(const credit_record &r) {
        CallTransaction t;
        dfa_file *f = dfaOpen("krvcred.dat", sizeof(credit_record), nullptr);
        dfaSetBlk(f);
        credit_record old;
        if (dfaAcqLock(&old, &r, 0, DFA_GET_EQUAL, 0) != 0)
            EXPECT_TRUE(dfaUpdate(&r));
        else
            EXPECT_TRUE(dfaInsert(&r));
        dfaRstBlk();
        dfaClose(f);
    }
    credit_record record(const std::string &id, int32_t retained, int32_t posted, int32_t allotted) {
        credit_record r;
        std::memset(&r, 0x5A, sizeof r);  // the reserved bytes as something else left them
        stlcpy(r.user_id, id.c_str(), sizeof r.user_id);
        r.last_retained = retained;
        r.posted_total = posted;
        r.allotted_total = allotted;
        return r;
    }
    // Runs the clock on to the next daily clean-up (03:00) and through it.
    void next_cleanup() {
        int64_t s = local_seconds() % 86400;
        bbs.clock().step((3 * 3600 - s + 86400 - 1) % 86400);
        bbs.advance(2);
    }
    Bbs bbs;
};

TEST_F(Credit, TheSecondClassesUserIsCutToHisRetainedCreditsBeforeHisAllotment) {
    add("Gilda", "GOLD", 500, 2000, 100);
    write_credit(record("Gilda", 50, 1800, 1200));
    add("Newcomer", "GOLD", 500, 2000, 100);  // the same, on his first allotment
    next_cleanup();

    account_record a = stored("Gilda");
    EXPECT_EQ(a.credit_balance, 400);
    EXPECT_EQ(a.credits_posted, 2000 - 400 + SECOND_CLASS_ALLOTMENT);
    EXPECT_EQ(a.retained_credits, 100);
    credit_record r;
    ASSERT_TRUE(credit("Gilda", r));
    EXPECT_EQ(r.allotted_total, 1200 + SECOND_CLASS_ALLOTMENT);
    EXPECT_EQ(r.last_retained, 100);
    EXPECT_EQ(r.posted_total, 1800 - 400 + SECOND_CLASS_ALLOTMENT);
    EXPECT_EQ(r.reserved_b, 0);

    // No cut on the first allotment; the record is made.
    a = stored("Newcomer");
    EXPECT_EQ(a.credit_balance, 800);
    EXPECT_EQ(a.credits_posted, 2300);
    ASSERT_TRUE(credit("Newcomer", r));
    EXPECT_STREQ(r.user_id, "Newcomer");
    EXPECT_EQ(r.allotted_total, SECOND_CLASS_ALLOTMENT);
    EXPECT_EQ(r.posted_total, a.credits_posted);
    EXPECT_EQ(r.last_retained, 100);
    EXPECT_EQ(r.reserved_b, 0);
}

TEST_F(Credit, EachAllottedClassGetsItsOwnAllotmentAndOtherAccountsAreLeftAlone) {
    struct Case {
        const char *id, *cls;
        int32_t balance, retained;
        bool has_record;
        int32_t balance_after;
    } cases[] = {
        {"Ursula", "USER", 40, 0, false, 140},  // class 1 "user": names compare with case ignored
        {"Uwe", "USER", 100, 100, true, 200},   // at his retained credits: no cut
        {"Ulla", "USER", 50, 100, true, 150},   // below them: no cut either
        {"Ute", "USER", 500, 100, true, 200},   // class 4 is USER again: class 1's allotment wins
        {"Paul", "POOR", 500, 100, true, 100},  // an allotment of 0 still cuts...
        {"Pia", "POOR", 70, 0, false, 70},      // ...and makes a record
        {"Dora", "DEMO", 500, 0, false, 500},   // not an allotted class
        {"Root", "SYSOP", 500, 0, true, 500},
    };
    for (const Case &c : cases) {
        add(c.id, c.cls, c.balance, 0, c.retained);
        if (c.has_record) write_credit(record(c.id, 0, 0, 0));
    }
    account_record nameless = bbs.add_user("Nameless", "secret1", "DEMO");
    nameless.class_name[0] = '\0';  // an empty class option (option 8) names no class
    bbs.write_account(nameless);
    next_cleanup();

    credit_record r;
    for (const Case &c : cases) {
        EXPECT_EQ(stored(c.id).credit_balance, c.balance_after) << c.id;
        bool allotted = std::string(c.cls) == "USER" || std::string(c.cls) == "POOR";
        ASSERT_EQ(credit(c.id, r), allotted || c.has_record) << c.id;
        if (allotted) {
            EXPECT_EQ(r.last_retained, c.retained) << c.id;
            EXPECT_EQ(r.reserved_b, 0) << c.id;
        } else if (c.has_record) {
            EXPECT_EQ(r.last_retained, 0) << c.id;  // untouched
        }
    }
    EXPECT_FALSE(credit("Nameless", r));
    EXPECT_EQ(stored("Nameless").credit_balance, 0);
}

TEST_F(Credit, OnlyTheAllotmentDayAndOnlyOnceOnIt) {
    add("Ursula", "USER", 0);
    bbs.clock().step(-2 * 86400);  // the 13th: not the allotment day
    run_daily_cleanup();
    EXPECT_EQ(stored("Ursula").credit_balance, 0);
    bbs.clock().step(2 * 86400);
    next_cleanup();  // 03:00 on the 15th
    EXPECT_EQ(stored("Ursula").credit_balance, 100);

    // The host restarted on the allotment day after its clean-up ran: no
    // second allotment, even when the operator runs the clean-up again.
    bbs.stop();
    bbs.clock().step(3600);
    ASSERT_TRUE(bbs.start());
    run_daily_cleanup();
    EXPECT_EQ(stored("Ursula").credit_balance, 100);
    credit_record r;
    ASSERT_TRUE(credit("Ursula", r));
    EXPECT_EQ(r.allotted_total, 100);

    // The next days give nothing; a month on, the next allotment comes, the
    // balance above the retained credits (0) being cut first.
    for (int day = 16; day <= 31; ++day) next_cleanup();
    EXPECT_EQ(stored("Ursula").credit_balance, 100);
    for (int day = 1; day <= 15; ++day) next_cleanup();
    EXPECT_EQ(stored("Ursula").credit_balance, 100);
    ASSERT_TRUE(credit("Ursula", r));
    EXPECT_EQ(r.allotted_total, 200);
    EXPECT_EQ(stored("Ursula").credits_posted, 200 - 100);
}

BbsOptions credit_bbs_made_at_noon() {
    BbsOptions o = credit_bbs();
    o.hour = 12;
    return o;
}

class CreditOnANewBbs : public Credit {
protected:
    CreditOnANewBbs() : Credit(credit_bbs_made_at_noon()) {}
};

TEST_F(CreditOnANewBbs, MadeOnTheAllotmentDayAfterItsCleanUpTimeItWaitsForTheNextMonth) {
    add("Ursula", "USER", 0);
    run_daily_cleanup();  // a new BBS counts today's clean-up as done
    EXPECT_EQ(stored("Ursula").credit_balance, 0);
    credit_record r;
    EXPECT_FALSE(credit("Ursula", r));
}

TEST_F(Credit, ACleanUpThatFailsKeepsNothingAndTheNextStartAllotsOnce) {
    add("Ursula", "USER", 0);
    add("Uwe", "USER", 0);
    // Another program holds the account file's write lock: the walk cannot
    // write, and the whole clean-up is rolled back.
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open((bbs.directory() + "/ACCBB.DAT").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    uint16_t before = sv2.cleanup_date;
    next_cleanup();
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(stored("Ursula").credit_balance, 0);
    credit_record r;
    EXPECT_FALSE(credit("Ursula", r));
    EXPECT_EQ(sv2.cleanup_date, before);
    ASSERT_FALSE(bbs.audit.empty());
    EXPECT_EQ(bbs.audit.back().summary, "DAILY CLEAN-UP FAILED");
    bbs.advance(60);  // not tried again and again while serving
    EXPECT_EQ(stored("Ursula").credit_balance, 0);

    bbs.stop();
    ASSERT_TRUE(bbs.start());  // the clean-up is still due: it runs at start-up
    for (const char *id : {"Ursula", "Uwe"}) {
        EXPECT_EQ(stored(id).credit_balance, 100) << id;
        ASSERT_TRUE(credit(id, r)) << id;
        EXPECT_EQ(r.allotted_total, 100) << id;
    }
    EXPECT_EQ(sv2.cleanup_date, today());
}

TEST_F(Credit, SumsStopAtTheSigned32BitLimitsInsteadOfWrapping) {
    add("Rich", "USER", INT32_MAX - 10, INT32_MAX - 20, 0);  // first allotment: no cut
    add("Cut", "USER", INT32_MAX, INT32_MIN + 5, INT32_MIN + 1);
    write_credit(record("Cut", 0, INT32_MIN + 5, INT32_MAX - 1));
    next_cleanup();
    account_record a = stored("Rich");
    EXPECT_EQ(a.credit_balance, INT32_MAX);
    EXPECT_EQ(a.credits_posted, INT32_MAX);
    credit_record r;
    ASSERT_TRUE(credit("Rich", r));
    EXPECT_EQ(r.posted_total, INT32_MAX);
    // A cut of nearly 2^32 credits: the balance falls to the retained
    // credits exactly, the posted totals stop at the lowest count.
    a = stored("Cut");
    EXPECT_EQ(a.credit_balance, INT32_MIN + 1 + 100);
    EXPECT_EQ(a.credits_posted, INT32_MIN + 100);
    ASSERT_TRUE(credit("Cut", r));
    EXPECT_EQ(r.posted_total, INT32_MIN + 100);
    EXPECT_EQ(r.allotted_total, INT32_MAX);
}

TEST_F(Credit, DeletingAnAccountRemovesItsCreditRecord) {
    add("Gone", "USER", 0);
    add("Stays", "USER", 0);
    add("Plain", "DEMO", 0);
    next_cleanup();
    credit_record r;
    ASSERT_TRUE(credit("Gone", r));
    for (const char *id : {"Gone", "Plain"}) {
        account_record a = stored(id);
        a.account_flags |= ACCOUNT_TAGGED_FOR_DELETION;
        bbs.write_account(a);
    }
    EXPECT_EQ(purge_tagged_accounts(), 2);  // Plain has no record: nothing else changes
    EXPECT_FALSE(credit("Gone", r));
    EXPECT_TRUE(credit("Stays", r));
}

TEST_F(Credit, ThePseudoKeyIsHeldWithAtLeastOneCredit) {
    add("Penny", "USER", 1);
    add("Broke", "USER", 0);
    int penny = bbs.log_on("Penny", "secret1");
    int broke = bbs.log_on("Broke", "secret1");
    curusr(broke);
    EXPECT_FALSE(haskey("HASCREDIT"));
    othusn = penny;
    EXPECT_TRUE(othkey("hascredit"));
    EXPECT_EQ(usrnum, broke);  // the user current before the check is current again
    EXPECT_TRUE(uhskey(uacoff(penny), "HasCredit"));
    EXPECT_FALSE(haskey("CREDIT"));  // another name is no pseudo-key of the module
    bbs.line(broke).account.credit_balance = -3;
    EXPECT_FALSE(haskey("HASCREDIT"));
    bbs.line(broke).account.credit_balance = 2;
    EXPECT_TRUE(haskey("HASCREDIT"));
}

}  // namespace
