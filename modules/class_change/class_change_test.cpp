// The Class Change on the test driver: the log-on notice, the refusals in
// the order of their checks, the number of days as atol reads it, the
// switch of a caller off-line and on-line, the credits and the automatic
// switch they bring, the balance cap and the audit entry.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <cstring>

#include "datafile.h"
#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

BbsOptions class_change_bbs(const std::string &credits = "100", const std::string &target = "\"Premium\"") {
    BbsOptions o;
    o.plugins = {"KRVCLSCG"};
    o.options["krvclscg.mcv"] = {
        {2, "\"SYSOP\""}, {3, "\"FIXED\""}, {5, "\"Upgrade\""}, {6, target}, {7, credits}};
    o.classes = {
        {"DEMO", "Visitors", {}, "USER", CLASS_AUTO_SWITCH, 0, 0},
        {"USER", "Members", {"USER"}, "", 0, 0, 0},
        {"PREMIUM", "Paying members", {"USER", "PREMIUM"}, "", 0, 0, 0},
        {"SYSOP", "Operators", {"SYSOP"}, "", 0, 0, 0},
    };
    return o;  // the BBS starts at 12:00:00 on 12/11/26
}

class ClassChange : public ::testing::Test {
protected:
    explicit ClassChange(BbsOptions o = class_change_bbs()) : bbs(std::move(o)) {
        bbs.add_user("Root", "secret1", "SYSOP");
        bbs.add_user("Member", "secret2", "USER");
        bbs.add_user("Bob", "secret3", "USER");
        bbs.add_user("Big Bob", "secret4", "USER");
        bbs.add_user("Visitor", "secret5", "DEMO");
        bbs.add_user("Fixed", "secret6", "USER");
        CallTransaction t;
        give_key("Fixed", "FIXED", true);
    }
    std::string command(int line, const std::string &text) {
        bbs.take_output(line);
        bbs.type(line, text);
        return bbs.take_output(line);
    }
    account_record stored(const std::string &id) {
        account_record a{};
        EXPECT_TRUE(bbs.read_account(id, a)) << id;
        return a;
    }
    void set_credits(const std::string &id, int32_t balance, int32_t posted) {
        account_record a = stored(id);
        a.credit_balance = balance;
        a.credits_posted = posted;
        bbs.write_account(a);
    }
    Bbs bbs;
};

TEST_F(ClassChange, KeyHoldersAreToldOfTheCommandWhenTheyLogOn) {
    int root = bbs.log_on("Root", "secret1");
    EXPECT_NE(bbs.take_output(root).find("<9|1.3|Upgrade>"), std::string::npos);
    int member = bbs.log_on("Member", "secret2");
    EXPECT_EQ(bbs.take_output(member).find("<9|"), std::string::npos);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(ClassChange, RefusalsComeInTheOrderOfTheChecksAndChangeNothing) {
    int root = bbs.log_on("Root", "secret1");
    int member = bbs.log_on("Member", "secret2");
    const std::string usage = "<16|PREMIUM|1|90|100|Upgrade|PREMIUM>", bad_days = "<12|PREMIUM|1|90>";
    struct Case {
        int line;
        const char *typed;
        std::string answer;
    } cases[] = {
        {member, "upgrade Bob 5", "<10>"},  // the key first, before the words are looked at
        {member, "upgrade", "<10>"},
        {root, "upgrade", usage},
        {root, "UPGRADE Bob", usage},  // a user-ID without days: the usage, not a bad number
        {root, "upgrade Nobody 5", "<14|Nobody>"},
        {root, "upgrade Nobody 0", "<14|Nobody>"},  // the account before the days
        {root, "upgrade Big 5", "<14|Big>"},        // no partial user-IDs
        {root, "upgrade Bob 0", bad_days},
        {root, "upgrade Bob 91", bad_days},
        {root, "upgrade Bob 100", bad_days},
        {root, "upgrade Bob -5", bad_days},
        {root, "upgrade Bob x", bad_days},
        {root, "upgrade Bob 005", bad_days},  // three characters, though it reads as 5
        {root, "upgrade Fixed 0", bad_days},  // the days before the exempt key
        {root, "upgrade fixed 5", "<13|Fixed>"},
        {root, "upgrade Root 5", "<13|Root>"},  // SYSOP holds every key, FIXED too
    };
    for (const Case &c : cases) EXPECT_EQ(command(c.line, c.typed), c.answer) << c.typed;
    for (const char *id : {"Bob", "Fixed", "Root", "Big Bob"}) {
        account_record a = stored(id);
        EXPECT_STRNE(a.class_name, "PREMIUM") << id;
        EXPECT_EQ(a.credit_balance, 0) << id;
    }
    EXPECT_TRUE(details(bbs, "CLASS SWITCH : PREMIUM").empty());
    EXPECT_EQ(sv2.total_credits_posted, 0);
    // A line that is not the command goes on to the menu untouched.
    EXPECT_NE(command(root, "upgrades Bob 5").find("There is no choice upgrades Bob 5"), std::string::npos);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(ClassChange, TheDaysAreReadAsAtolReadsThem) {
    int root = bbs.log_on("Root", "secret1");
    struct Case {
        const char *word;
        int days;
    } cases[] = {{"1", 1}, {"90", 90}, {"05", 5}, {"7x", 7}, {"+9", 9}};
    for (const Case &c : cases) {
        EXPECT_EQ(command(root, std::string("upgrade Bob ") + c.word),
                  "<15|Bob|PREMIUM|" + std::to_string(c.days) + "|100>")
            << c.word;
        account_record a = stored("Bob");
        EXPECT_STREQ(a.class_name, "PREMIUM");
        EXPECT_EQ(a.class_until, packed_date_after(today(), c.days)) << c.word;
    }
}

TEST_F(ClassChange, ACallerOffLineIsSwitchedInTheFileWithHisCredits) {
    int root = bbs.log_on("Root", "secret1");
    set_credits("Big Bob", 20, 70);
    EXPECT_EQ(command(root, "upgrade   big   BOB 30"), "<15|Big Bob|PREMIUM|30|100>");
    account_record a = stored("Big Bob");
    EXPECT_STREQ(a.class_name, "PREMIUM");  // as CLASSES.CFG names it
    EXPECT_STREQ(a.previous_class_name, "USER");
    EXPECT_EQ(a.credit_balance, 120);
    EXPECT_EQ(a.credits_posted, 170);
    EXPECT_EQ(sv2.total_credits_posted, 100);
    EXPECT_EQ(details(bbs, "CLASS SWITCH : PREMIUM"), std::vector<std::string>{"Big Bob by Root"});

    // The switch ends at the clean-up after its days; the caller is back in
    // his own class and keeps his credits.
    bbs.clock().step(30 * 86400);
    run_daily_cleanup();
    a = stored("Big Bob");
    EXPECT_STREQ(a.class_name, "USER");
    EXPECT_EQ(a.credit_balance, 120);
}

TEST_F(ClassChange, ACallerOnLineGetsTheCreditsAndTheClassInTheFileAndInMemory) {
    int root = bbs.log_on("Root", "secret1");
    int bob = bbs.log_on("Bob", "secret3");
    set_credits("Bob", 5, 5);                // the file
    bbs.line(bob).account.credit_balance = 7;  // the record in memory has moved on since
    curusr(bob);
    EXPECT_FALSE(haskey("PREMIUM"));
    EXPECT_EQ(command(root, "upgrade bob 10"), "<15|Bob|PREMIUM|10|100>");
    account_record file = stored("Bob");
    EXPECT_EQ(file.credit_balance, 105);
    EXPECT_EQ(bbs.line(bob).account.credit_balance, 107);
    EXPECT_STREQ(file.class_name, "PREMIUM");
    EXPECT_STREQ(bbs.line(bob).account.class_name, "PREMIUM");
    curusr(bob);
    EXPECT_TRUE(haskey("PREMIUM"));  // his keys follow at once
    // A second switch before the first ends starts the days again and still
    // goes back to his own class.
    bbs.clock().step(5 * 86400);
    EXPECT_EQ(command(root, "upgrade bob 10"), "<15|Bob|PREMIUM|10|100>");
    bbs.hang_up(bob);  // the record in memory is written back: both posts are in it
    file = stored("Bob");
    EXPECT_EQ(file.credit_balance, 207);
    EXPECT_STREQ(file.previous_class_name, "USER");
    EXPECT_EQ(file.class_until, packed_date_after(today(), 10));
    bbs.clock().step(10 * 86400);
    run_daily_cleanup();
    EXPECT_STREQ(stored("Bob").class_name, "USER");
}

TEST_F(ClassChange, PostedCreditsBringTheAutomaticSwitchOfAPositiveBalance) {
    int root = bbs.log_on("Root", "secret1");
    bbs.add_user("Debtor", "secret7", "DEMO");
    set_credits("Debtor", -500, 0);
    // Visitor: DEMO asks to move to USER when credits are posted; that move
    // comes first, so the class remembered is USER.
    EXPECT_EQ(command(root, "upgrade visitor 3"), "<15|Visitor|PREMIUM|3|100>");
    account_record a = stored("Visitor");
    EXPECT_STREQ(a.class_name, "PREMIUM");
    EXPECT_STREQ(a.previous_class_name, "USER");
    EXPECT_EQ(a.credit_balance, 100);
    // A balance still at or below 0 after the credits: no automatic move.
    EXPECT_EQ(command(root, "upgrade debtor 3"), "<15|Debtor|PREMIUM|3|100>");
    a = stored("Debtor");
    EXPECT_EQ(a.credit_balance, -400);  // a negative balance is simply raised
    EXPECT_STREQ(a.previous_class_name, "DEMO");
    EXPECT_EQ(sv2.total_credits_posted, 200);
    EXPECT_EQ(details(bbs, "CLASS SWITCH : PREMIUM"), (std::vector<std::string>{"Visitor by Root", "Debtor by Root"}));
}

TEST_F(ClassChange, BalancesAndTotalsStopAtTheLargestSigned32BitCount) {
    int root = bbs.log_on("Root", "secret1");
    set_credits("Bob", INT32_MAX - 40, INT32_MAX - 10);
    sv2.total_credits_posted = INT32_MAX - 1;
    EXPECT_EQ(command(root, "upgrade bob 1"), "<15|Bob|PREMIUM|1|100>");
    account_record a = stored("Bob");
    EXPECT_EQ(a.credit_balance, INT32_MAX);
    EXPECT_EQ(a.credits_posted, INT32_MAX);
    EXPECT_EQ(sv2.total_credits_posted, INT32_MAX);
}

TEST_F(ClassChange, TheSystemTotalIsKeptWithTheCommandThatChangedIt) {
    int root = bbs.log_on("Root", "secret1");
    EXPECT_EQ(command(root, "upgrade bob 1"), "<15|Bob|PREMIUM|1|100>");
    // Read as another program would, while the host still runs: a host
    // killed now would find the total again when it starts.
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((bbs.directory() + "/BBSHOST.DB").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt *s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT value FROM host_blobs WHERE name = 'sv2'", -1, &s, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    system_variables saved{};
    ASSERT_EQ(sqlite3_column_bytes(s, 0), static_cast<int>(sizeof saved));
    std::memcpy(&saved, sqlite3_column_blob(s, 0), sizeof saved);
    sqlite3_finalize(s);
    sqlite3_close(db);
    EXPECT_EQ(saved.total_credits_posted, 100);
    bbs.stop();
    sv2.total_credits_posted = 0;
    ASSERT_TRUE(bbs.start());
    EXPECT_EQ(sv2.total_credits_posted, 100);
}

class ClassChangeWithoutCredits : public ClassChange {
protected:
    ClassChangeWithoutCredits() : ClassChange(class_change_bbs("0")) {}
};

TEST_F(ClassChangeWithoutCredits, NothingIsPostedAndNoAutomaticSwitchIsMade) {
    int root = bbs.log_on("Root", "secret1");
    set_credits("Visitor", 50, 50);
    EXPECT_EQ(command(root, "upgrade visitor 3"), "<15|Visitor|PREMIUM|3|0>");
    account_record a = stored("Visitor");
    EXPECT_EQ(a.credit_balance, 50);
    EXPECT_EQ(a.credits_posted, 50);
    EXPECT_STREQ(a.previous_class_name, "DEMO");  // no move to USER on the way
    EXPECT_EQ(sv2.total_credits_posted, 0);
}

class ClassChangeToAClassThatIsMissing : public ClassChange {
protected:
    ClassChangeToAClassThatIsMissing() : ClassChange(class_change_bbs("100", "\"Gold\"")) {}
};

TEST_F(ClassChangeToAClassThatIsMissing, IsRefusedAfterTheUsageAndBeforeTheUserIsLookedUp) {
    int root = bbs.log_on("Root", "secret1");
    EXPECT_EQ(command(root, "upgrade Nobody 5"), "<11|GOLD>");
    EXPECT_EQ(command(root, "upgrade Bob"), "<16|GOLD|1|90|100|Upgrade|GOLD>");
    EXPECT_STREQ(stored("Bob").class_name, "USER");
}

}  // namespace
