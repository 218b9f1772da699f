// AFK meeting other modules: the Busy Notifier waits on the busy bit AFK sets
// for an away caller, and a caller parked from inside a module has the
// configured lines handed to that module. The File Viewer is the module the
// demo names for that; the test plug-in, which echoes what it is given and
// says how a line was parsed, stands in for it here.
#include <gtest/gtest.h>

#include "driver.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

BbsOptions with_others(std::map<int, std::string> afk_options = {}) {
    BbsOptions o;
    o.plugins = {"KRVTSTA", "KRVBSYNT", "KRVAFK"};
    o.lines = 4;
    o.options["krvtsta.mcv"][3] = "0";
    o.options["krvbsynt.mcv"] = {{2, "\"USER\""}, {4, "\"Busy\""}, {5, "\"Status\""}, {6, "no"}, {7, "5"}};
    o.options["krvafk.mcv"] = {{2, "\"USER\""},           {4, "\"Afk\""},              {5, "yes"},
                               {6, "\"Test plug-in A\""}, {7, "\"words going away\""}, {8, "\"back again\""},
                               {9, "yes"},                {10, "\"AFK\""},             {11, "yes"}};
    for (const auto &[number, value] : afk_options) o.options["krvafk.mcv"][number] = value;
    return o;
}

class AfkWithOthers : public ::testing::Test {
protected:
    explicit AfkWithOthers(BbsOptions options = with_others()) : bbs(std::move(options)) {
        bbs.add_user("Alice", "secret", "USER");
        bbs.add_user("Watcher", "secret", "USER");
        test_module = findmod("Test plug-in A");
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
    Bbs bbs;
    int test_module = -1;
};

TEST_F(AfkWithOthers, AWatcherIsToldWithinTheCheckTimeOnceTheAwayCallerIsBack) {
    int alice = on("Alice");
    int watcher = on("Watcher");
    EXPECT_EQ(say(watcher, "busy alice"), "<14|Alice>");  // at the keyboard: not busy
    EXPECT_EQ(say(alice, "afk"), "<15|away from>");
    EXPECT_EQ(say(watcher, "busy alice"), "<16|Alice>");
    EXPECT_EQ(say(watcher, "afk alice"), "<19|Alice|away from>");
    bbs.advance(22);  // she stays away: the checks at 5 to 20 keep the request
    EXPECT_EQ(bbs.take_output(watcher), "");
    std::string back = say(alice, "afk");
    EXPECT_EQ(back.rfind("<15|at>", 0), 0u) << back;
    bbs.advance(3);  // the next check, at 25, finds her busy bit clear
    EXPECT_EQ(bbs.take_output(watcher), "<14|Alice>");
    EXPECT_EQ(say(watcher, "busy status"), "<10|Busy|Busy|Status><11|Busy|<Nobody>>");
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(AfkWithOthers, ACallerParkedFromInsideTheModuleHasTheLinesHandedToIt) {
    int alice = on("Alice");
    EXPECT_EQ(say(alice, "1"), "<11>");
    ASSERT_EQ(bbs.line(alice).session.current_module, test_module);
    // The message first; then the line, parsed, to the module she is still in; then she is parked.
    EXPECT_EQ(say(alice, "afk"), "<15|away from><14|3|away>");
    EXPECT_EQ(bbs.line(alice).session.current_module, findmod("AFK"));
    EXPECT_EQ(say(alice, "next page"), "<20|Afk>");
    // Back: put into the module first, then handed its line.
    EXPECT_EQ(say(alice, "afk"), "<15|at><12|back again>");
    EXPECT_EQ(bbs.line(alice).session.current_module, test_module);
    EXPECT_EQ(bbs.line(alice).session.module_substate, 1);
    EXPECT_EQ(say(alice, "next page"), "<12|next page>");
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(AfkWithOthers, NoLineIsHandedOutsideThatModule) {
    int alice = on("Alice");
    EXPECT_EQ(say(alice, "afk"), "<15|away from>");  // from the menu
    std::string back = say(alice, "afk");
    EXPECT_EQ(back.rfind("<15|at>\nMain menu", 0), 0u) << back;  // back to the menu: nothing handed
    EXPECT_EQ(back.find("<12|"), std::string::npos);
}

class FeedingANameNobodyHas : public AfkWithOthers {
protected:
    FeedingANameNobodyHas() : AfkWithOthers(with_others({{6, "\"File Viewer\""}})) {}
};

TEST_F(FeedingANameNobodyHas, NeverHandsALineOn) {
    int alice = on("Alice");
    say(alice, "1");
    EXPECT_EQ(say(alice, "afk"), "<15|away from>");
    EXPECT_EQ(say(alice, "afk"), "<15|at>");
    EXPECT_EQ(bbs.line(alice).session.current_module, test_module);
}

}  // namespace
