// The File Viewer on the test driver: the geometry of a screen, the pages
// the formatter makes of small fixtures, the prompts, paging, the page
// limit, the search, the dialogue's cancellations, polling under little
// output room, input while polling, hanging up, and names that try to leave
// the board's files.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "driver.h"
#include "file_viewer.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

// Descriptors open in this process: each viewing holds one while its file
// is open.
int open_fds() {
    int count = 0;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = readdir(d)) count += e->d_name[0] != '.';
    closedir(d);
    return count;
}

// Descriptors open in this process on the file at `path`.
int fds_on(const std::string &path) {
    std::error_code ec;
    const std::filesystem::path wanted = std::filesystem::canonical(path, ec);
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", ec))
        count += std::filesystem::read_symlink(entry.path(), ec) == wanted;
    return count;
}

std::string page(const std::string &text, int prompt) {
    return "<" + std::to_string(FV_PAGE_HEADER) + ">" + text + "<" + std::to_string(prompt) + ">";
}

// "line 01\n" ... "line 10\n": five pages of a 38 x 3 screen.
std::string numbered_lines(int count) {
    std::string text;
    char line[32];
    for (int i = 1; i <= count; ++i) {
        std::snprintf(line, sizeof line, "line %02d\n", i);
        text += line;
    }
    return text;
}

const std::vector<std::string> kNumberedPages = {
    page("line 01\nline 02\nline 03", FV_PROMPT_NEXT_ONLY),
    page("\nline 04\nline 05", FV_PROMPT_BOTH),
    page("\nline 06\nline 07", FV_PROMPT_BOTH),
    page("\nline 08\nline 09", FV_PROMPT_BOTH),
    page("\nline 10\n", FV_PROMPT_PREVIOUS_ONLY),
};

class FileViewer : public ::testing::Test {
protected:
    explicit FileViewer(std::vector<std::string> plugins = {"KRVFV"}) : bbs(options(std::move(plugins))) {
        account = bbs.add_user("Reader", "secret1");
        module_number = findmod("File Viewer");
    }
    static BbsOptions options(std::vector<std::string> plugins) {
        BbsOptions o;
        o.plugins = std::move(plugins);
        return o;
    }
    void put(const std::string &name, const std::string &bytes) {
        std::filesystem::path path = std::filesystem::path(bbs.directory()) / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // Signs the reader on with a screen of the given size (20 x 6: pages of
    // 38 x 3) and takes him into the viewer.
    int enter(int width = 20, int length = 6) {
        account.screen_width = static_cast<uint8_t>(width);
        account.screen_length = static_cast<uint8_t>(length);
        bbs.write_account(account);
        int n = bbs.log_on("Reader", "secret1");
        bbs.take_output(n);
        bbs.type(n, "1");
        entered = bbs.take_output(n);
        return n;
    }
    std::string say(int n, const std::string &text) {
        bbs.type(n, text);
        return bbs.take_output(n);
    }
    // Lets the page routine run until it stops polling.
    std::string run(int n) {
        bbs.poll(1 << 20);
        return bbs.take_output(n);
    }
    std::string command(int n, const std::string &text) {
        std::string out = say(n, text);
        return out + run(n);
    }
    // What a name typed at the file prompt shows, the echo taken off.
    std::string open(int n, const std::string &name) {
        std::string echo = say(n, name);
        EXPECT_EQ(echo.substr(0, name.size() + 1), name + "\n");
        return echo.substr(std::min(echo.size(), name.size() + 1)) + run(n);
    }
    view_state &view(int n) { return *reinterpret_cast<view_state *>(bbs.line(n).vda.data()); }
    int32_t substate(int n) { return bbs.line(n).session.module_substate; }
    bool in_viewer(int n) { return bbs.line(n).session.current_module == module_number; }
    uint32_t busy_bits(int n) { return bbs.line(n).session.session_flags & FV_SESSION_BITS; }
    std::vector<std::string> audit(const std::string &summary) { return details(bbs, summary); }
    // Output of a call that left the viewer, up to the host's menu.
    static std::string before_menu(const std::string &out) { return out.substr(0, out.find("\nMain menu")); }

    Bbs bbs;
    account_record account;
    int module_number = -1;
    std::string entered;
};

TEST_F(FileViewer, RegistersItsThreeRoutinesAndItsViewState) {
    ASSERT_GT(module_number, 0);
    const module_descriptor *d = module[module_number];
    EXPECT_STREQ(d->name, "File Viewer");
    EXPECT_NE(d->input_routine, nullptr);
    EXPECT_NE(d->hangup_routine, nullptr);
    EXPECT_NE(d->shutdown_routine, nullptr);
    EXPECT_EQ(d->logon_routine, nullptr);
    EXPECT_EQ(d->status_routine, nullptr);
    EXPECT_EQ(d->daily_cleanup_routine, nullptr);
    EXPECT_EQ(d->delete_account_routine, nullptr);
    int n = enter();
    EXPECT_GE(bbs.line(n).vda.size(), sizeof(view_state));
    EXPECT_EQ(entered, "<4>");  // the file prompt and nothing else
    EXPECT_EQ(substate(n), FV_FILE_NAME);
}

TEST_F(FileViewer, PageGeometryFollowsTheScreenOfTheAccount) {
    put("ONE.TXT", "one\n");
    struct Case {
        int width, length, page_width, page_length;
    } cases[] = {
        {80, 24, 78, 21}, {40, 21, 39, 18}, {30, 5, 38, 21}, {132, 6, 78, 3}, {20, 0, 38, 21},
        {39, 22, 38, 21}, {41, 255, 40, 21}, {79, 20, 78, 17}, {255, 7, 78, 4},
    };
    for (const Case &c : cases) {
        int n = enter(c.width, c.length);
        open(n, "ONE.TXT");
        EXPECT_EQ(view(n).page_width, c.page_width) << c.width << " x " << c.length;
        EXPECT_EQ(view(n).page_length, c.page_length) << c.width << " x " << c.length;
        bbs.hang_up(n);
    }
}

// Each rule of the formatter on a fixture of its own, on pages of 38 x 3:
// every page exactly as shown, header and prompt included.
TEST_F(FileViewer, TheFormatterMakesTheseExactPages) {
    const std::string a30(30, 'a');
    struct Case {
        const char *rule;
        std::string file;
        std::vector<std::string> pages;
    } cases[] = {
        {"CR LF: CR ends the line, the LF after it is a blank; an empty line is one blank",
         "ab\r\ncd\r\n\r\nef",
         {page("ab\n cd\n ", FV_PROMPT_NEXT_ONLY), page("\n ef", FV_PROMPT_PREVIOUS_ONLY)}},
        {"LF only: an LF after a line end is a blank, so an empty line goes",
         "ab\n\ncd\nef\ngh",
         {page("ab\n cd\nef", FV_PROMPT_NEXT_ONLY), page("\ngh", FV_PROMPT_PREVIOUS_ONLY)}},
        {"a long line breaks at its last blank; the next break comes 38 after that line's start",
         a30 + " " + std::string(50, 'b'),
         {page(a30 + "\n" + std::string(37, 'b') + "\n" + std::string(12, 'b'), FV_PROMPT_SINGLE_PAGE)}},
        {"a run without a blank breaks after 37; the character at the break is not shown",
         std::string(45, 'x'),
         {page(std::string(37, 'x') + "\n" + std::string(7, 'x'), FV_PROMPT_SINGLE_PAGE)}},
        {"a break without a blank that ends the page: the next page begins with its character",
         std::string(120, 'x'),
         {page(std::string(37, 'x') + "\n" + std::string(37, 'x') + "\n" + std::string(37, 'x'), FV_PROMPT_NEXT_ONLY),
          page(std::string(7, 'x'), FV_PROMPT_PREVIOUS_ONLY)}},
        {"a page that ends at a break on a blank shows the unfinished line, and the next page goes on with it",
         "l1\nl2\n" + a30 + " " + std::string(10, 'b'),
         {page("l1\nl2\n" + a30 + "\n" + std::string(6, 'b'), FV_PROMPT_NEXT_ONLY),
          page("bbbb", FV_PROMPT_PREVIOUS_ONLY)}},
        {"NUL and FF are blanks; TAB, other control bytes, high bytes and % are shown as they are",
         std::string("a") + '\0' + "b\fc\td\x01" "e \xe9t\xe9 100% %s %d\n",
         {page(std::string("a b c\td\x01" "e \xe9t\xe9 100% %s %d\n"), FV_PROMPT_SINGLE_PAGE)}},
        {"blanks from NUL and FF are break points",
         std::string(30, 'c') + std::string("\0", 1) + std::string(10, 'd'),
         {page(std::string(30, 'c') + "\n" + std::string(10, 'd'), FV_PROMPT_SINGLE_PAGE)}},
        {"pages of numbered lines", numbered_lines(10), kNumberedPages},
    };
    for (const Case &c : cases) {
        put("FIX.TXT", c.file);
        int n = enter();
        std::vector<std::string> shown = {open(n, "FIX.TXT")};
        while (shown.size() < c.pages.size() && in_viewer(n)) shown.push_back(command(n, "n"));
        EXPECT_EQ(shown, c.pages) << c.rule;
        EXPECT_EQ(view(n).more_text, 0) << c.rule;
        bbs.hang_up(n);
    }
}

TEST_F(FileViewer, PagingForwardAndBackShowsTheSamePagesAndTheEndsLeave) {
    put("LINES.TXT", numbered_lines(10));
    int base = open_fds();
    int n = enter();
    EXPECT_EQ(open(n, "LINES.TXT"), kNumberedPages[0]);
    EXPECT_EQ(busy_bits(n), FV_SESSION_BITS);
    EXPECT_EQ(open_fds(), base + 1);
    EXPECT_EQ(command(n, "N"), kNumberedPages[1]);  // words compare as the host compares them
    EXPECT_EQ(command(n, ""), kNumberedPages[2]);   // Enter is the next page
    EXPECT_EQ(command(n, "n and more"), kNumberedPages[3]);
    EXPECT_EQ(command(n, "p"), kNumberedPages[2]);
    EXPECT_EQ(command(n, "P"), kNumberedPages[1]);
    EXPECT_EQ(command(n, "p"), kNumberedPages[0]);
    EXPECT_EQ(view(n).page_index, 0u);
    EXPECT_EQ(message_selection_depth(), 0u);

    // Ways out: "p" on the first page, "n" or Enter on the last, "x".
    struct Case {
        int pages_forward;
        const char *typed;
    } ends[] = {{0, "p"}, {4, "n"}, {4, ""}, {2, "x"}, {0, "X"}};
    bool first = true;
    for (const Case &c : ends) {
        if (!first) {
            n = enter();
            open(n, "LINES.TXT");
        }
        first = false;
        for (int i = 0; i < c.pages_forward; ++i) command(n, "n");
        std::string out = command(n, c.typed);
        EXPECT_EQ(before_menu(out), "") << c.typed;
        EXPECT_FALSE(in_viewer(n)) << c.typed;
        EXPECT_EQ(busy_bits(n), 0u) << c.typed;
        EXPECT_EQ(open_fds(), base) << c.typed;
        bbs.hang_up(n);
    }
}

TEST_F(FileViewer, NamesThatDoNotOpenTakeTheCallerOutWithTheBusyBitsCleared) {
    std::string long_name(92, 'L');
    struct Case {
        std::string typed, shown;
    } cases[] = {
        {"", "\nYou must pass a filename!"},
        {"a", "a\nYou must pass a filename!"},
        {"NONE.TXT", "NONE.TXT\nError opening NONE.TXT.\n"},
        {"files", "files\nError opening files.\n"},  // a directory
        {long_name, long_name + "\nError opening " + long_name + ".\n"},
    };
    std::filesystem::create_directories(bbs.directory() + "/files");
    int base = open_fds();
    for (const Case &c : cases) {
        int n = enter();
        std::string out = say(n, c.typed);
        EXPECT_EQ(before_menu(out), c.shown);
        EXPECT_NE(out.find("Main menu"), std::string::npos);
        EXPECT_FALSE(in_viewer(n));
        EXPECT_EQ(busy_bits(n), 0u);
        EXPECT_EQ(open_fds(), base);
        bbs.hang_up(n);
    }
    EXPECT_TRUE(audit("KRV File Viewer REFUSED").empty());
}

// A name that reaches outside the board's files, or at the host's own,
// is answered like a file that does not exist, and goes to the audit trail.
TEST_F(FileViewer, NamesLeavingTheBoardsFilesAreAnsweredAsMissingAndAudited) {
    const std::string dir = bbs.directory();
    char outside_pattern[] = "/tmp/bbs-outside-XXXXXX";
    ASSERT_NE(mkdtemp(outside_pattern), nullptr);
    const std::string outside = outside_pattern;
    std::ofstream(outside + "/SECRET.TXT") << "secret\n";
    put("files/NEWS.TXT", "news\n");
    std::filesystem::create_symlink(outside + "/SECRET.TXT", dir + "/files/out");
    std::filesystem::create_symlink("../../" + std::filesystem::path(outside).filename().string() + "/SECRET.TXT",
                                    dir + "/files/up");
    std::filesystem::create_symlink("NEWS.TXT", dir + "/files/in");
    const std::string refused[] = {outside + "/SECRET.TXT", "/etc/passwd", "../SECRET.TXT", "files/../files/NEWS.TXT",
                                   "files/out", "files/up", "ACCBB.DAT", "BBSHOST.DB", "AUDIT.TXT"};
    for (const std::string &name : refused) {
        int n = enter();
        EXPECT_EQ(before_menu(say(n, name)), name + "\nError opening " + name + ".\n");
        EXPECT_FALSE(in_viewer(n)) << name;
        bbs.hang_up(n);
    }
    std::vector<std::string> logged = audit("KRV File Viewer REFUSED");
    ASSERT_EQ(logged.size(), std::size(refused));
    for (size_t i = 0; i < logged.size(); ++i) EXPECT_EQ(logged[i], "User-ID: Reader, File: " + refused[i]);

    int n = enter();  // a link that stays within the board's files opens
    EXPECT_EQ(open(n, "files/in"), page("news\n", FV_PROMPT_SINGLE_PAGE));
    std::filesystem::remove_all(outside);
}

TEST_F(FileViewer, AnEmptyFileShowsTheEndAndTheNextInputLeavesWithAnAuditEntry) {
    put("EMPTY.TXT", "");
    int base = open_fds();
    int n = enter();
    EXPECT_EQ(open(n, "EMPTY.TXT"), "<10>");
    EXPECT_EQ(substate(n), FV_SCANNING);
    EXPECT_FALSE(polling_pending());
    EXPECT_EQ(open_fds(), base + 1);
    EXPECT_EQ(before_menu(say(n, "n")), "");
    EXPECT_FALSE(in_viewer(n));
    EXPECT_EQ(busy_bits(n), 0u);
    EXPECT_EQ(open_fds(), base);
    EXPECT_EQ(audit("KRV File Viewer UxEof"), std::vector<std::string>{"FvW Unexpected EOF"});
}

TEST_F(FileViewer, NoPageGoesPastThe1100thAndAForwardSearchStopsThere) {
    std::string lines;
    for (int i = 0; i < 2400; ++i) lines += "x\n";  // two lines to a page after the first
    put("LONG.TXT", lines);
    int n = enter();
    open(n, "LONG.TXT");
    for (int i = 1; i < FV_PAGE_LIMIT_PAGES; ++i) command(n, "n");
    EXPECT_EQ(view(n).page_index, 1099u);
    EXPECT_EQ(view(n).more_text, 1);
    EXPECT_EQ(command(n, "n"), "<11>");
    EXPECT_EQ(view(n).page_index, 1099u);
    EXPECT_EQ(substate(n), FV_SHOWING);
    EXPECT_EQ(command(n, "p"), page("\nx\nx", FV_PROMPT_BOTH));
    EXPECT_EQ(view(n).page_index, 1098u);
    // The page table's offsets are where each page began.
    for (uint32_t i = 1; i < 1099; ++i) ASSERT_EQ(view(n).page_offsets[i], 4 * i + 1) << i;

    // A fruitless forward search from the first page ends on page 1099.
    bbs.hang_up(n);
    n = enter();
    open(n, "LONG.TXT");
    say(n, "k");
    say(n, "absent");
    EXPECT_EQ(command(n, "f"), page("\nx\nx", FV_PROMPT_BOTH));
    EXPECT_EQ(view(n).page_index, 1099u);
    EXPECT_EQ(view(n).searching, 0u);
}

// Pages of 38 x 3 over these lines: page 0 holds lines 1-3, page k lines
// 2k+2 and 2k+3 after an empty first line.
const std::vector<std::string> kSearchLines = {
    "one two",         // 1  page 0
    "three",           // 2
    "four",            // 3
    "a weekend off",   // 4  page 1
    "five",            // 5
    "ending soon",     // 6  page 2
    "send e-mail",     // 7
    "(see below)",     // 8  page 3
    "the end.",        // 9
    "ten",             // 10 page 4
    "eleven",          // 11
    "twelve",          // 12 page 5
    "END, it says",    // 13
    "fourteen",        // 14 page 6
    "fifteen",         // 15
    "sixteen",         // 16 page 7, the last
};

std::string joined(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &l : lines) text += l + "\n";
    return text;
}

class Search : public FileViewer {
protected:
    int view_lines(int pages_forward = 0) {
        put("S.TXT", joined(kSearchLines));
        int n = enter();
        open(n, "S.TXT");
        for (int i = 0; i < pages_forward; ++i) command(n, "n");
        return n;
    }
    // "k", the words, the direction: what the search shows.
    std::string search(int n, const std::string &words, const std::string &direction) {
        EXPECT_EQ(say(n, "k"), "<14><15>");
        EXPECT_EQ(say(n, words), "<15><13>");
        return command(n, direction);
    }
};

TEST_F(Search, ForwardFindsWholeWordsOnlyAndEnterGoesOnToTheNextMatch) {
    int n = view_lines();
    // "end" is not "weekend" (page 1), "ending" (2) or "e-mail"; it is "end." (3)
    EXPECT_EQ(search(n, "end", "f"), page("\n(see below)\nthe end.", FV_PROMPT_BOTH));
    EXPECT_EQ(view(n).page_index, 3u);
    EXPECT_EQ(view(n).searching, 1u);
    EXPECT_EQ(command(n, ""), page("\ntwelve\nEND, it says", FV_PROMPT_BOTH));  // case ignored
    EXPECT_EQ(view(n).page_index, 5u);
    // No more: the last page is shown and the search is over.
    EXPECT_EQ(command(n, ""), page("\nsixteen\n", FV_PROMPT_PREVIOUS_ONLY));
    EXPECT_EQ(view(n).searching, 0u);
    EXPECT_EQ(before_menu(command(n, "")), "");  // Enter on the last page now leaves
    EXPECT_FALSE(in_viewer(n));
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Search, WordsWithPunctuationInsideNeverMatchAndASeventhWordIsDropped) {
    int n = view_lines();
    EXPECT_EQ(search(n, "e-mail (see", "f"), page("\nsixteen\n", FV_PROMPT_PREVIOUS_ONLY));
    EXPECT_EQ(view(n).searching, 0u);
    command(n, "p");
    command(n, "p");
    EXPECT_EQ(search(n, "w1 w2 w3 w4 w5 w6 fourteen", "f"), page("\nsixteen\n", FV_PROMPT_PREVIOUS_ONLY));
    EXPECT_EQ(view(n).word_count, 6u);
    EXPECT_STREQ(view(n).search_words[5], "w6");
    // The page on display is scanned first: a match there shows it again.
    EXPECT_EQ(search(n, "nothing SIXTEEN", "f"), page("\nsixteen\n", FV_PROMPT_PREVIOUS_ONLY));
    EXPECT_EQ(view(n).page_index, 7u);
    EXPECT_EQ(view(n).searching, 1u);
}

TEST_F(Search, BackwardFindsTheNearestEarlierPageAndEndsOnTheFirst) {
    int n = view_lines(7);
    EXPECT_EQ(search(n, "weekend three", "B"), page("\na weekend off\nfive", FV_PROMPT_BOTH));
    EXPECT_EQ(view(n).page_index, 1u);
    EXPECT_EQ(view(n).search_direction, 'b');
    // Enter goes on backward: page 0 holds "three".
    EXPECT_EQ(command(n, ""), page("one two\nthree\nfour", FV_PROMPT_NEXT_ONLY));
    EXPECT_EQ(view(n).searching, 1u);
    // From the first page Enter is "p", which there leaves.
    EXPECT_EQ(before_menu(command(n, "")), "");
    EXPECT_FALSE(in_viewer(n));

    // No match backward: the first page, and the search is over.
    bbs.hang_up(n);
    n = view_lines(4);
    EXPECT_EQ(search(n, "zebra", "b"), page("one two\nthree\nfour", FV_PROMPT_NEXT_ONLY));
    EXPECT_EQ(view(n).searching, 0u);
    EXPECT_EQ(command(n, ""), page("\na weekend off\nfive", FV_PROMPT_BOTH));  // plain paging again
}

TEST_F(Search, AnEmptyAnswerCancelsAndKeepsWhatItShould) {
    int n = view_lines();
    search(n, "end", "f");  // page 3, searching forward for "end"
    // At the word prompt: nothing changes.
    say(n, "k");
    EXPECT_EQ(say(n, ""), "<12>");
    EXPECT_EQ(substate(n), FV_SHOWING);
    EXPECT_EQ(view(n).word_count, 1u);
    EXPECT_STREQ(view(n).search_words[0], "end");
    // At the direction prompt: the new words stay, the mode and direction too.
    say(n, "k");
    say(n, "fifteen twelve");
    EXPECT_EQ(say(n, ""), "<12>");
    EXPECT_EQ(substate(n), FV_SHOWING);
    EXPECT_EQ(view(n).word_count, 2u);
    EXPECT_STREQ(view(n).search_words[0], "fifteen");
    EXPECT_EQ(view(n).searching, 1u);
    EXPECT_EQ(view(n).search_direction, 'f');
    EXPECT_EQ(view(n).page_index, 3u);
    // Enter goes on searching, now for the new words.
    EXPECT_EQ(command(n, ""), page("\ntwelve\nEND, it says", FV_PROMPT_BOTH));
}

TEST_F(FileViewer, ASearchWordHoldsFortyCharacters) {
    const std::string forty(40, 'w');
    put("W.TXT", "a " + forty + ".\n");
    int n = enter(80, 24);
    open(n, "W.TXT");
    say(n, "k");
    say(n, forty + " " + forty + "w");
    EXPECT_EQ(std::strlen(view(n).search_words[1]), 40u);  // the longer word is cut to 40
    EXPECT_EQ(command(n, "f"), page("a " + forty + ".\n", FV_PROMPT_SINGLE_PAGE));
    EXPECT_EQ(view(n).searching, 1u);  // found, not ended
}

TEST_F(FileViewer, NothingIsDoneWhileTheLineHasLessThan1920BytesOfRoom) {
    put("LINES.TXT", numbered_lines(10));
    int n = enter();
    bbs.set_room(n, 1919);
    EXPECT_EQ(say(n, "LINES.TXT"), "LINES.TXT\n");
    EXPECT_EQ(run(n).size(), 0u);
    bbs.poll(100);
    EXPECT_EQ(substate(n), FV_READING);
    EXPECT_EQ(view(n).bytes_read, 0u);
    EXPECT_TRUE(polling_pending());
    bbs.set_room(n, 1920);
    EXPECT_EQ(run(n), kNumberedPages[0]);
}

TEST_F(FileViewer, InputWhilePollingNeitherOpensNorClosesAFile) {
    put("LINES.TXT", numbered_lines(10));
    put("OTHER.TXT", "other\n");
    int base = open_fds();
    int n = enter();
    say(n, "LINES.TXT");
    EXPECT_EQ(say(n, "OTHER.TXT"), "");
    EXPECT_EQ(say(n, "x"), "");
    EXPECT_EQ(open_fds(), base + 1);
    EXPECT_EQ(run(n), kNumberedPages[0]);
    // During a search as well.
    say(n, "k");
    say(n, "fifteen");
    say(n, "f");
    EXPECT_EQ(say(n, "x"), "");
    EXPECT_EQ(say(n, "k"), "");
    EXPECT_EQ(run(n), kNumberedPages[4]);  // no "fifteen": the last page, search over
    EXPECT_TRUE(in_viewer(n));
    EXPECT_EQ(open_fds(), base + 1);
}

TEST_F(FileViewer, ACallerTakenAsideByAnotherModuleKeepsHisPlace) {
    put("LINES.TXT", numbered_lines(10));
    int n = enter();
    say(n, "LINES.TXT");
    bbs.line(n).session.current_module = 0;  // as a module that parks callers would
    bbs.line(n).session.module_substate = 7;
    bbs.poll(100);
    EXPECT_EQ(bbs.line(n).session.module_substate, 7);
    EXPECT_EQ(bbs.take_output(n), "");
    bbs.line(n).session.current_module = module_number;
    bbs.line(n).session.module_substate = FV_READING;
    EXPECT_EQ(run(n), kNumberedPages[0]);
}

// The caller's file is the viewer's to close even while another module has
// taken him aside: when he hangs up there, and when he comes into the viewer
// afresh without having been brought back to his viewing.
TEST_F(FileViewer, TheFileOfACallerTakenAsideIsStillClosed) {
    put("LINES.TXT", numbered_lines(10));
    const std::string path = bbs.directory() + "/LINES.TXT";
    int n = enter();
    open(n, "LINES.TXT");
    bbs.line(n).session.current_module = 0;  // as a module that parks callers would
    bbs.hang_up(n);
    EXPECT_EQ(fds_on(path), 0);

    n = enter();
    open(n, "LINES.TXT");
    bbs.line(n).session.current_module = 0;  // and is never brought back
    say(n, "x");                             // the host finds him in no module: the menu
    say(n, "1");
    EXPECT_EQ(fds_on(path), 0);
    EXPECT_EQ(open(n, "LINES.TXT"), kNumberedPages[0]);
    EXPECT_EQ(fds_on(path), 1);
}

// The area is every module's: a handle in it that is not the file the viewer
// opened for the line is never read through; the viewing ends instead.
TEST_F(FileViewer, AHandleInTheAreaThatIsNotTheViewersEndsTheViewing) {
    put("LINES.TXT", numbered_lines(60));
    const std::string path = bbs.directory() + "/LINES.TXT";
    FILE *other = fopen(path.c_str(), "rb");
    ASSERT_NE(other, nullptr);
    for (FILE *stale : {static_cast<FILE *>(nullptr), other}) {
        int n = enter();
        open(n, "LINES.TXT");
        view(n).text_file = stale;
        std::string out = command(n, "n");
        EXPECT_FALSE(in_viewer(n));
        EXPECT_EQ(busy_bits(n), 0u);
        EXPECT_NE(out.find("Main menu"), std::string::npos) << out;
        EXPECT_EQ(fds_on(path), 1) << "only the test's own handle is left";
        bbs.hang_up(n);
    }
    fclose(other);
}

TEST_F(FileViewer, HangingUpWhileAPageIsReadStopsPollingAndClosesTheFile) {
    put("LINES.TXT", numbered_lines(10));
    int base = open_fds();
    int n = enter();
    say(n, "LINES.TXT");
    bbs.poll(1);  // read, not yet shown
    EXPECT_EQ(substate(n), FV_FILE_NAME);
    bbs.hang_up(n);
    EXPECT_FALSE(polling_pending());
    EXPECT_EQ(open_fds(), base);

    n = enter();  // and with a page on display
    open(n, "LINES.TXT");
    bbs.hang_up(n);
    EXPECT_EQ(open_fds(), base);
}

TEST_F(FileViewer, ShuttingDownClosesEveryViewersFile) {
    put("LINES.TXT", numbered_lines(10));
    bbs.add_user("Second", "secret2");
    const std::string path = bbs.directory() + "/LINES.TXT";
    int n = enter();
    open(n, "LINES.TXT");                      // a page on display
    int m = bbs.log_on("Second", "secret2");
    bbs.type(m, "1");
    bbs.type(m, "LINES.TXT");                  // a page being read
    EXPECT_EQ(fds_on(path), 2);
    bbs.stop();
    EXPECT_EQ(fds_on(path), 0);
}

class BesideAnotherModule : public FileViewer {
protected:
    BesideAnotherModule() : FileViewer({"KRVFV", "KRVTSTA"}) {}
};

// The volatile data area is every module's: what stands in it while the
// caller is elsewhere is not the viewer's to close.
TEST_F(BesideAnotherModule, HangingUpInAnotherModuleLeavesTheAreaAlone) {
    put("KEEP.TXT", "keep");
    FILE *kept = fopen((bbs.directory() + "/KEEP.TXT").c_str(), "rb");
    ASSERT_NE(kept, nullptr);
    int fd = fileno(kept);
    int n = bbs.log_on("Reader", "secret1");
    bbs.type(n, "2");  // the test plug-in
    ASSERT_FALSE(in_viewer(n));
    view(n).text_file = kept;
    view(n).polling_active = 1;
    bbs.hang_up(n);
    EXPECT_NE(fcntl(fd, F_GETFD), -1);
    fclose(kept);
}

}  // namespace
