// The Demo Clean on the test driver: which accounts the daily clean-up tags
// (the key, the protection bit, the age with its 29/30-day boundary, dates
// after today or not dates at all), the other flag bits left alone, the
// audit entries and the report in user-ID order, tagging again at every
// run, and the report that does not open.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "datafile.h"
#include "driver.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

const char *const kTagged = "KRV Demo Clean Kill Tagged";

BbsOptions demo_clean_bbs(const std::string &audit, const std::string &report,
                          const std::string &name = "\"/var/bbs/EZECID.TXT\"") {
    BbsOptions o;
    o.plugins = {"KRVDMCLN"};
    o.options["krvdmcln.mcv"] = {{2, "\"USER\""}, {4, "30"}, {5, audit}, {6, report}, {7, name}};
    return o;  // the BBS starts at 12:00:00 on 12/11/26
}

uint16_t packed(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

class DemoClean : public ::testing::Test {
protected:
    explicit DemoClean(BbsOptions o = demo_clean_bbs("yes", "yes")) : bbs(std::move(o)) {}

    void add(const std::string &id, const std::string &cls, uint16_t date, uint16_t flags = 0) {
        account_record a = bbs.add_user(id, "secret1", cls);
        a.account_date = date;
        a.account_flags = flags;
        bbs.write_account(a);
    }
    uint16_t days_ago(int days) { return packed_date_after(today(), -days); }
    uint16_t flags(const std::string &id) {
        account_record a{};
        EXPECT_TRUE(bbs.read_account(id, a)) << id;
        return a.account_flags;
    }
    std::string report() {
        std::ifstream in(bbs.directory() + "/EZECID.TXT");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    Bbs bbs;
};

TEST_F(DemoClean, TagsOldAccountsWithoutTheKeyThatAreNotProtected) {
    struct Case {
        const char *id, *cls;
        uint16_t date, flags;
        bool tagged;
    } cases[] = {
        {"Amy", "DEMO", days_ago(29), 0, false},
        {"Ben", "DEMO", days_ago(30), 0, true},
        {"Cal", "DEMO", days_ago(4000), 0, true},
        {"Dan", "USER", days_ago(4000), 0, false},   // holds the key through his class
        {"Eve", "SYSOP", days_ago(4000), 0, false},  // SYSOP holds every key
        {"Fay", "DEMO", days_ago(4000), ACCOUNT_PROTECTED, false},
        {"Gus", "DEMO", days_ago(4000), ACCOUNT_NO_DEADBEAT | ACCOUNT_SUSPENDED | ACCOUNT_CALLBACK_EXEMPT, true},
        {"Hal", "DEMO", packed(2026, 11, 0), 0, true},   // day 0: October 31, 41 days ago
        {"Ida", "DEMO", packed(2026, 12, 0), 0, false},  // November 30, 11 days ago
        {"Jon", "DEMO", packed(2026, 12, 12), 0, false},  // tomorrow: the count would wrap
        {"Kim", "DEMO", packed(2027, 1, 1), 0, false},
        {"Lea", "DEMO", packed(2026, 13, 1), 0, false},  // not a date: month 13
        {"Max", "DEMO", packed(2025, 2, 30), 0, false},  // nor February 30
        {"Ned", "DEMO", 0, 0, false},                    // the host's "no date"
        {"Oli", "DEMO", days_ago(400), ACCOUNT_TAGGED_FOR_DELETION, true},
    };
    for (const Case &c : cases) add(c.id, c.cls, c.date, c.flags);
    {
        CallTransaction t;
        give_key("Pat", "user", true);
    }
    add("Pat", "DEMO", days_ago(4000));  // validated by a key of her own
    run_daily_cleanup();

    std::vector<std::string> tagged;
    for (const Case &c : cases) {
        uint16_t expected = c.tagged ? c.flags | ACCOUNT_TAGGED_FOR_DELETION : c.flags;
        EXPECT_EQ(flags(c.id), expected) << c.id;
        if (c.tagged) tagged.push_back(c.id);
    }
    EXPECT_EQ(flags("Pat"), 0);
    std::vector<std::string> entries, lines;
    for (const std::string &id : tagged) {
        entries.push_back("User-ID: " + id);
        lines.push_back("12/11/26 " + id + "\n");
    }
    EXPECT_EQ(details(bbs, kTagged), entries);
    std::string all;
    for (const std::string &l : lines) all += l;
    EXPECT_EQ(report(), all);  // in the BBS directory, the host's working directory while it runs
}

TEST_F(DemoClean, VisitsAccountsInUserIdOrderAndTagsThemAgainAtEveryRun) {
    for (const char *id : {"zed", "Bea", "alf", "Carl"}) add(id, "DEMO", days_ago(100));
    run_daily_cleanup();
    bbs.clock().step(86400);
    run_daily_cleanup();
    const std::vector<std::string> once = {"User-ID: alf", "User-ID: Bea", "User-ID: Carl", "User-ID: zed"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(details(bbs, kTagged), twice);
    EXPECT_EQ(report(),
              "12/11/26 alf\n12/11/26 Bea\n12/11/26 Carl\n12/11/26 zed\n"
              "12/12/26 alf\n12/12/26 Bea\n12/12/26 Carl\n12/12/26 zed\n");
}

TEST_F(DemoClean, AReportThatDoesNotOpenIsLoggedForEachAccountAndTheAccountStaysTagged) {
    std::filesystem::create_directory(bbs.directory() + "/EZECID.TXT");  // fopen fails on a directory
    add("Ann", "DEMO", days_ago(100));
    add("Bob", "DEMO", days_ago(100));
    run_daily_cleanup();
    EXPECT_EQ(flags("Ann"), ACCOUNT_TAGGED_FOR_DELETION);
    EXPECT_EQ(flags("Bob"), ACCOUNT_TAGGED_FOR_DELETION);
    EXPECT_EQ(details(bbs, "KRV Demo Clean FILE OPEN ERROR"),
              std::vector<std::string>(2, "Could not open EZECID.TXT for output"));
    EXPECT_EQ(details(bbs, kTagged).size(), 2u);
}

class SilentDemoClean : public DemoClean {
protected:
    SilentDemoClean() : DemoClean(demo_clean_bbs("no", "no")) {}
};

TEST_F(SilentDemoClean, TagsWithoutAuditEntriesOrReport) {
    add("Ann", "DEMO", days_ago(100), ACCOUNT_SUSPENDED);
    run_daily_cleanup();
    EXPECT_EQ(flags("Ann"), ACCOUNT_SUSPENDED | ACCOUNT_TAGGED_FOR_DELETION);
    EXPECT_TRUE(details(bbs, kTagged).empty());
    EXPECT_FALSE(std::filesystem::exists(bbs.directory() + "/EZECID.TXT"));
}

class DemoCleanReportOnly : public DemoClean {
protected:
    DemoCleanReportOnly() : DemoClean(demo_clean_bbs("no", "yes")) {}
};

TEST_F(DemoCleanReportOnly, TheOpenFailureIsLoggedWhateverTheAuditOptionSays) {
    std::filesystem::create_directory(bbs.directory() + "/EZECID.TXT");
    add("Ann", "DEMO", days_ago(100));
    run_daily_cleanup();
    EXPECT_EQ(flags("Ann"), ACCOUNT_TAGGED_FOR_DELETION);
    EXPECT_TRUE(details(bbs, kTagged).empty());
    EXPECT_EQ(details(bbs, "KRV Demo Clean FILE OPEN ERROR"),
              std::vector<std::string>{"Could not open EZECID.TXT for output"});
}

}  // namespace
