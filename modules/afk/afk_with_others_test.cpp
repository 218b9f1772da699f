// AFK meeting other modules: the Busy Notifier waits on the busy bit AFK sets
// for an away caller, and a caller parked from inside a module has the
// configured lines handed to that module. The test plug-in, which echoes what
// it is given and says how a line was parsed, shows the order of things; the
// File Viewer, the module the demo names for the lines, shows that a reader
// parked in the middle of a file comes back to it, and that his file is
// closed when he hangs up while away.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "afk.h"
#include "driver.h"
#include "file_viewer.h"
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

// A module that lets the caller go on the line it is handed has finished
// with him: he comes back to the menu, not into the module he left.
TEST(AfkHandingOn, ALineThatEndsTheModuleSendsTheCallerBackToTheMenu) {
    for (int option : {AFK_AWAY_INPUT, AFK_BACK_INPUT}) {
        Bbs bbs(with_others({{option, "\"quit\""}}));
        bbs.add_user("Alice", "secret", "USER");
        int alice = bbs.log_on("Alice", "secret");
        bbs.type(alice, "1");
        ASSERT_EQ(bbs.line(alice).session.current_module, findmod("Test plug-in A"));
        bbs.type(alice, "afk");
        EXPECT_EQ(bbs.line(alice).session.current_module, findmod("AFK")) << option;
        bbs.type(alice, "afk");
        std::string back = bbs.take_output(alice);
        EXPECT_NE(back.find("<15|at>\nMain menu"), std::string::npos) << option << back;
        EXPECT_EQ(bbs.line(alice).session.current_module, 0) << option;
        bbs.take_output(alice);
        bbs.type(alice, "1");  // into it afresh
        EXPECT_EQ(bbs.take_output(alice), "<11>") << option;
    }
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

// ------------------------------------------------------------ the File Viewer

BbsOptions with_the_viewer(std::map<int, std::string> afk_options = {}) {
    BbsOptions o;
    o.plugins = {"KRVFV", "KRVAFK"};
    o.lines = 4;
    // The away line asks the viewer for search words, the back line cancels
    // the search: the reader comes back to the page he left, with a prompt.
    o.options["krvafk.mcv"] = {{2, "\"USER\""}, {4, "\"Afk\""}, {5, "yes"},  {6, "\"File Viewer\""},
                               {7, "\"k\""},    {8, "\"\""},    {9, "yes"}, {10, "\"AFK\""},
                               {11, "yes"}};
    for (const auto &[number, value] : afk_options) o.options["krvafk.mcv"][number] = value;
    return o;
}

std::string page(const std::string &text, int prompt) {
    return "<" + std::to_string(FV_PAGE_HEADER) + ">" + text + "<" + std::to_string(prompt) + ">";
}

// LINES.TXT on pages of 38 x 3 (a 20 x 6 screen).
const std::string kLines = "line 01\nline 02\nline 03\nline 04\nline 05\nline 06\nline 07\nline 08\n";
const std::string kPages[] = {
    page("line 01\nline 02\nline 03", FV_PROMPT_NEXT_ONLY),
    page("\nline 04\nline 05", FV_PROMPT_BOTH),
    page("\nline 06\nline 07", FV_PROMPT_BOTH),
};

class AfkAndTheFileViewer : public ::testing::Test {
protected:
    explicit AfkAndTheFileViewer(BbsOptions options = with_the_viewer()) : bbs(std::move(options)) {
        account_record alice = bbs.add_user("Alice", "secret", "USER");
        alice.screen_width = 20;
        alice.screen_length = 6;
        bbs.write_account(alice);
        std::ofstream(path(), std::ios::binary) << kLines;
        viewer = findmod("File Viewer");
        afk = findmod("AFK");
    }
    std::string path() { return bbs.directory() + "/LINES.TXT"; }
    // Descriptors this process holds on LINES.TXT.
    int open_on_file() {
        std::error_code ec;
        const std::filesystem::path wanted = std::filesystem::canonical(path(), ec);
        int count = 0;
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", ec))
            count += std::filesystem::read_symlink(entry.path(), ec) == wanted;
        return count;
    }
    // Alice, in the viewer, her file named; polling has not run yet.
    int reading() {
        int n = bbs.log_on("Alice", "secret");
        bbs.type(n, "1");
        EXPECT_EQ(session(n).current_module, viewer);
        bbs.type(n, "LINES.TXT");
        bbs.take_output(n);
        return n;
    }
    std::string say(int n, const std::string &text) {
        bbs.take_output(n);
        bbs.type(n, text);
        return bbs.take_output(n);
    }
    std::string run(int n) {
        bbs.poll(1 << 16);
        return bbs.take_output(n);
    }
    // What a line typed shows, the polling it starts included.
    std::string command(int n, const std::string &text) {
        std::string out = say(n, text);
        return out + run(n);
    }
    session_record &session(int n) { return bbs.line(n).session; }
    Bbs bbs;
    int viewer = -1;
    int afk = -1;
};

TEST_F(AfkAndTheFileViewer, AReaderParkedOnAPageComesBackToItAndPagesOn) {
    ASSERT_GT(viewer, 0);
    int n = reading();
    EXPECT_EQ(run(n), kPages[0]);
    EXPECT_EQ(command(n, "n"), kPages[1]);
    // The viewer gets the away line while she is still in it, then she is parked.
    EXPECT_EQ(say(n, "afk"), "<15|away from><14><15>");
    EXPECT_EQ(session(n).current_module, afk);
    EXPECT_NE(session(n).session_flags & SESSION_BUSY, 0u);
    EXPECT_EQ(command(n, "n"), "<20|Afk>");
    EXPECT_EQ(say(n, "x"), "<20|Afk>");
    EXPECT_EQ(open_on_file(), 1);
    // Back on her page; the back line cancels the search the away line began.
    EXPECT_EQ(command(n, "afk"), "<15|at><12>");
    EXPECT_EQ(session(n).current_module, viewer);
    EXPECT_EQ(session(n).module_substate, FV_SHOWING);
    EXPECT_NE(session(n).session_flags & SESSION_BUSY, 0u);  // the viewer's, not AFK's: it stays
    EXPECT_EQ(command(n, "n"), kPages[2]);
    EXPECT_EQ(command(n, "p"), kPages[1]);
    EXPECT_EQ(say(n, "x").find("Main menu"), 1u);
    EXPECT_EQ(open_on_file(), 0);
    EXPECT_EQ(message_selection_depth(), 0u);
}

// Away while the page is still being made: the page routine waits for her,
// and the page she asked for is shown once she is back.
TEST_F(AfkAndTheFileViewer, AReaderParkedWhileAPageIsMadeGetsItOnHerReturn) {
    int n = reading();
    bbs.poll(1);  // the first buffer read, not yet formatted
    ASSERT_EQ(session(n).module_substate, FV_FILE_NAME);
    EXPECT_EQ(say(n, "afk"), "<15|away from>");  // the away line is not taken while a page is made
    EXPECT_EQ(run(n), "");
    EXPECT_EQ(session(n).module_substate, 1);
    EXPECT_EQ(say(n, "afk"), "<15|at>");
    EXPECT_EQ(run(n), kPages[0]);
    EXPECT_EQ(command(n, "n"), kPages[1]);
    EXPECT_FALSE(polling_pending());
}

// A reader who hangs up while parked has her file closed, whether a page
// was on display or still being made.
TEST_F(AfkAndTheFileViewer, AReaderWhoHangsUpWhileParkedHasHerFileClosed) {
    for (bool page_shown : {true, false}) {
        int n = reading();
        if (page_shown) run(n);
        EXPECT_EQ(open_on_file(), 1);
        say(n, "afk");
        ASSERT_EQ(session(n).current_module, afk);
        bbs.hang_up(n);
        EXPECT_EQ(open_on_file(), 0) << page_shown;
        EXPECT_FALSE(polling_pending()) << page_shown;
    }
    // Calls on the same line one after another leak nothing either.
    for (int i = 0; i < 3; ++i) {
        int n = reading();
        run(n);
        say(n, "afk");
        bbs.hang_up(n);
    }
    EXPECT_EQ(open_on_file(), 0);
}

// An away line on which the viewer ends the viewing: she is not put back
// into it on her return (where the next page would read a closed file).
class AwayLineEndsTheViewing : public AfkAndTheFileViewer {
protected:
    AwayLineEndsTheViewing() : AfkAndTheFileViewer(with_the_viewer({{AFK_AWAY_INPUT, "\"x\""}, {AFK_BACK_INPUT, "\"n\""}})) {}
};

TEST_F(AwayLineEndsTheViewing, TheReaderComesBackToTheMenu) {
    int n = reading();
    run(n);
    command(n, "n");
    EXPECT_EQ(say(n, "afk"), "<15|away from>");
    EXPECT_EQ(open_on_file(), 0);
    EXPECT_EQ(session(n).current_module, afk);
    EXPECT_EQ(session(n).session_flags & FV_SESSION_BITS, 0u);  // the viewer let her go
    std::string back = say(n, "afk");
    EXPECT_EQ(back.substr(0, back.find("\nMain menu")), "<15|at>");
    EXPECT_EQ(session(n).current_module, 0);
    say(n, "1");
    say(n, "LINES.TXT");
    EXPECT_EQ(run(n), kPages[0]);
}

}  // namespace
