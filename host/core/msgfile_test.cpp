#include "msgfile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core.h"
#include "descriptor.h"

namespace {

using bbs::EntryKind;

std::vector<std::string> parse_errors(const std::string &text) {
    std::vector<std::string> errors;
    std::optional<bbs::MessageFile> file = bbs::parse_message_text("T.MCV", text, errors);
    EXPECT_EQ(file.has_value(), errors.empty());
    return errors;
}

bbs::MessageFile parse_ok(const std::string &text) {
    std::vector<std::string> errors;
    std::optional<bbs::MessageFile> file = bbs::parse_message_text("T.MCV", text, errors);
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
    return file.value_or(bbs::MessageFile{});
}

TEST(MessageFileParse, ReadsEveryKindWithCommentsContinuationsAndEscapes) {
    bbs::MessageFile f = parse_ok(
        "\xEF\xBB\xBF# Call Back\r\n"
        "\r\n"
        "14 CB_WAIT_NOT_OVER message = \"You may call again on %s at %s.\\n\"\r\n"
        "20 FBK_HELP message =   # help screen\n"
        "    \"First line\\n\"\n"
        "    # a note between the lines\n"
        "\n"
        "    \"Tab\\there, quote \\\" backslash \\\\ bell \\a esc \\x1B[0m\" \"joined\"\n"
        "21 EMPTY message \"shown when nothing is left\" = \"\"\n"
        "2 CB_KEY text \"Key whose holders need not wait\" = \"SYSOP\"\n"
        "5 CB_DELAY_SECONDS number 0..7200 \"Seconds a caller waits\" = 600 # ten minutes\n"
        "7 NEG number -50..-10 \"Negative range\" = -20\n"
        "9 CR_BIG long 0..3000000000 \"Largest allotment\" = 2999999999\n"
        "3 CB_FIRST_CHANNEL hex 0..FF \"First channel\" = 1f\n"
        "4 FULL hex 0..FFFFFFFF \"Widest hex\" = FFFFFFFF\n"
        "6 CB_AUDIT YesNo \"Write an audit entry\" = YES\n"
        "8 CB_OTHER yesno \"Other\" = no\n");
    ASSERT_EQ(f.entries.size(), 11u);
    const bbs::MessageEntry *m = f.find(14);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->kind, EntryKind::message);
    EXPECT_EQ(m->name, "CB_WAIT_NOT_OVER");
    EXPECT_EQ(m->line, 3);
    EXPECT_EQ(m->text, "You may call again on %s at %s.\n");
    EXPECT_EQ(f.find(20)->text, "First line\nTab\there, quote \" backslash \\ bell \a esc \x1B[0mjoined");
    EXPECT_EQ(f.find(21)->text, "");
    EXPECT_EQ(f.find(21)->help, "shown when nothing is left");
    EXPECT_EQ(f.find(2)->kind, EntryKind::text);
    EXPECT_EQ(f.find(2)->text, "SYSOP");
    EXPECT_EQ(f.find(2)->help, "Key whose holders need not wait");
    EXPECT_EQ(f.find(5)->value, 600);
    EXPECT_EQ(f.find(5)->maximum, 7200);
    EXPECT_EQ(f.find(7)->value, -20);
    EXPECT_EQ(f.find(7)->minimum, -50);
    EXPECT_EQ(f.find(9)->kind, EntryKind::long_number);
    EXPECT_EQ(f.find(9)->value, 2999999999LL);
    EXPECT_EQ(f.find(3)->value, 0x1F);
    EXPECT_EQ(f.find(3)->maximum, 0xFF);
    EXPECT_EQ(f.find(4)->value, 0xFFFFFFFFLL);
    EXPECT_EQ(f.find(6)->value, 1);
    EXPECT_EQ(f.find(8)->value, 0);
    EXPECT_EQ(f.find(99), nullptr);
}

TEST(MessageFileParse, LongTextOverManyLines) {
    std::string text = "8 NG_MAIL_TEXT text \"The mail's body\" =\n";
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        std::string line(49, static_cast<char>('a' + i % 26));
        text += "    \"" + line + "\\n\"\n";
        expected += line + "\n";
    }
    bbs::MessageFile f = parse_ok(text);
    EXPECT_EQ(f.find(8)->text, expected);
    EXPECT_EQ(f.find(8)->text.size(), 2000u);
}

struct ErrorCase {
    const char *what;
    std::string text;
    std::string error;
};

TEST(MessageFileParse, EachFaultIsNamedWithFileAndLine) {
    const std::string kAllowed =
        "; allowed are %d %i %u %x %X %c %s, l before d i u x X, and %% for a percent sign";
    const ErrorCase cases[] = {
        {"number twice", "5 A number 0..9 \"h\" = 1\n\n5 B number 0..9 \"h\" = 2\n",
         "T.MCV:3: number 5 appears twice (first on line 1)"},
        {"name twice", "5 A number 0..9 \"h\" = 1\n6 A message = \"x\"\n",
         "T.MCV:2: name A appears twice (first on line 1)"},
        {"bad escape", "1 M message = \"a\\qb\"\n",
         "T.MCV:1: bad escape '\\q' (known: \\n \\t \\r \\a \\\\ \\\" \\xHH)"},
        {"short \\x", "1 M message = \"a\\x4\"\n", "T.MCV:1: \\x must be followed by two hexadecimal digits"},
        {"\\x00", "1 M message = \"a\\x00\"\n", "T.MCV:1: \\x00 is not allowed: it would end the text"},
        {"unterminated", "1 M message =\n  \"one\\n\"\n  \"two\n",
         "T.MCV:3: unterminated quoted text (a text that goes on to the next line needs a closing quote here and "
         "a new opening quote there)"},
        {"unknown kind", "1 M numbr 0..9 \"h\" = 1\n",
         "T.MCV:1: unknown kind 'numbr' (message, text, number, long, hex or yesno)"},
        {"missing kind", "1 M = \"x\"\n", "T.MCV:1: missing kind after M (message, text, number, long, hex or yesno)"},
        {"value outside range", "5 CB_DELAY_SECONDS number 0..7200 \"h\" = 9000\n",
         "T.MCV:1: option 5 (CB_DELAY_SECONDS) is 9000, outside its range 0..7200"},
        {"hex outside range", "3 CH hex 0..FF \"h\" = 1ff\n", "T.MCV:1: option 3 (CH) is 1FF, outside its range 0..FF"},
        {"hex with a prefix", "3 CH hex 0..FF \"h\" = 0x1F\n", "T.MCV:1: option 3 (CH): '0x1F' is not a hexadecimal number"},
        {"not a number", "5 N number 0..9 \"h\" = five\n", "T.MCV:1: option 5 (N): 'five' is not a decimal number"},
        {"too large for number", "5 N number 0..9 \"h\" = 99999999999\n",
         "T.MCV:1: option 5 (N): '99999999999' does not fit a number option (-2147483648..2147483647)"},
        {"range too large", "5 N number 0..3000000000 \"h\" = 1\n",
         "T.MCV:1: bad range '0..3000000000' for option 5 (N): '3000000000' does not fit a number option "
         "(-2147483648..2147483647)"},
        {"missing range", "5 N number \"h\" = 1\n",
         "T.MCV:1: missing range for option 5 (N): write MIN..MAX after the kind, e.g. 0..100"},
        {"bad range", "5 N number 0-9 \"h\" = 1\n",
         "T.MCV:1: bad range '0-9' for option 5 (N): write MIN..MAX, e.g. 0..100"},
        {"empty range", "3 H hex FF..0 \"h\" = 1\n", "T.MCV:1: range FF..0 of option 3 (H) is empty"},
        {"range on a text", "2 K text 0..9 \"h\" = \"x\"\n", "T.MCV:1: option 2 (K) is a text and takes no range"},
        {"word after kind", "2 K text help = \"x\"\n", "T.MCV:1: unexpected 'help' after the kind of option 2 (K)"},
        {"missing help", "6 A yesno = yes\n",
         "T.MCV:1: missing help for option 6 (A): one quoted line saying what it does, before '='"},
        {"empty help", "6 A yesno \"\" = yes\n", "T.MCV:1: empty help for option 6 (A)"},
        {"missing =", "6 A yesno \"h\" yes\n", "T.MCV:1: missing '=' before the value of option 6 (A), found 'yes'"},
        {"two helps", "6 A yesno \"h\" \"i\" = yes\n",
         "T.MCV:1: missing '=' before the value of option 6 (A), found a quoted text"},
        {"bad yesno", "6 A yesno \"h\" = maybe\n", "T.MCV:1: option 6 (A) is yes or no, not 'maybe'"},
        {"missing value", "6 A yesno \"h\" =\n", "T.MCV:1: missing value after '=' for option 6 (A), found the end of the line"},
        {"after the value", "5 N number 0..9 \"h\" = 1 2\n", "T.MCV:1: unexpected '2' after the value of option 5 (N)"},
        {"missing text", "1 M message =\n# nothing\n2 N message = \"x\"\n",
         "T.MCV:1: missing text after '=' for message 1 (M) (write \"\" for an empty text)"},
        {"word in a text", "1 M message = \"a\" b\n", "T.MCV:1: expected a quoted text in message 1 (M), found 'b'"},
        {"continuation not indented", "1 M message = \"x\"\n\"a\"\n",
         "T.MCV:2: expected an entry number, found a quoted text; a text that goes on from the line before must be "
         "indented"},
        {"number over several lines", "5 N number 0..9 \"h\" = 1\n    \"2\"\n",
         "T.MCV:2: unexpected indented line: option 5 (N) is a number, and only a text goes on over several lines"},
        {"indented first line", "   1 M message = \"a\"\n",
         "T.MCV:1: indented line before the first entry (entries start at the beginning of a line)"},
        {"entry without a number", "X M message = \"a\"\n", "T.MCV:1: expected an entry number, found 'X'"},
        {"number too high", "40000 M message = \"a\"\n", "T.MCV:1: entry number 40000 is outside 0..32767"},
        {"not a name", "1 9M message = \"a\"\n",
         "T.MCV:1: '9M' is not a name (letters, digits and '_', not starting with a digit)"},
        {"missing name", "1 = \"a\"\n", "T.MCV:1: expected a name after number 1, found '='"},
        {"%n on its line", "1 M message =\n    \"fine %s\\n\"\n    \"then %n\"\n",
         "T.MCV:3: message 1 (M): '%n' is not an allowed conversion" + kAllowed},
        {"%*d", "1 M message = \"%*d\"\n", "T.MCV:1: message 1 (M): '%*' is not an allowed conversion" + kAllowed},
        {"%f", "1 M message = \"%5.2f\"\n", "T.MCV:1: message 1 (M): '%5.2f' is not an allowed conversion" + kAllowed},
        {"%p", "1 M message = \"%p\"\n", "T.MCV:1: message 1 (M): '%p' is not an allowed conversion" + kAllowed},
        {"%lld", "1 M message = \"%lld\"\n", "T.MCV:1: message 1 (M): '%ll' is not an allowed conversion" + kAllowed},
        {"%hd", "1 M message = \"%hd\"\n", "T.MCV:1: message 1 (M): '%h' is not an allowed conversion" + kAllowed},
        {"%ls", "1 M message = \"%ls\"\n", "T.MCV:1: message 1 (M): '%ls': l goes only before d i u x X"},
        {"%#d", "1 M message = \"%#d\"\n", "T.MCV:1: message 1 (M): '%#d': flag '#' does not go with d"},
        {"%05s", "1 M message = \"%05s\"\n", "T.MCV:1: message 1 (M): '%05s': flag '0' does not go with s"},
        {"%.2c", "1 M message = \"%.2c\"\n", "T.MCV:1: message 1 (M): '%.2c': a precision does not go with c"},
        {"%1000d", "1 M message = \"%1000d\"\n", "T.MCV:1: message 1 (M): '%1000d': width and precision are at most 999"},
        {"% at the end", "1 M message = \"50%\"\n",
         "T.MCV:1: message 1 (M): '%' at the end of the text is not a conversion" + kAllowed},
        {"% split by an escape", "1 M message = \"%\\n\"\n",
         "T.MCV:1: message 1 (M): '%\\x0A' is not an allowed conversion" + kAllowed},
        {"conversion made by \\x25", "1 M message = \"\\x25n\"\n",
         "T.MCV:1: message 1 (M): '%n' is not an allowed conversion" + kAllowed},
    };
    for (const ErrorCase &c : cases) {
        EXPECT_EQ(parse_errors(c.text), std::vector<std::string>{c.error}) << c.what;
    }
}

TEST(MessageFileParse, ReportsEveryFaultAndRefusesTheWholeFile) {
    std::vector<std::string> errors = parse_errors(
        "1 GOOD message = \"fine\"\n"
        "2 BAD1 number 0..9 \"h\" = 10\n"
        "3 BAD2 message =\n"
        "    \"%n\"\n"
        "    \"more\"\n"
        "4 GOOD2 yesno \"h\" = yes\n"
        "1 AGAIN message = \"x\"\n");
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "T.MCV:2: option 2 (BAD1) is 10, outside its range 0..9",
                          "T.MCV:4: message 3 (BAD2): '%n' is not an allowed conversion; allowed are %d %i %u %x %X "
                          "%c %s, l before d i u x X, and %% for a percent sign",
                          "T.MCV:7: number 1 appears twice (first on line 1)",
                      }));
}

TEST(MessageFileParse, ConversionsAreCheckedInMessagesOnly) {
    // A text option is handed to the plug-in, never used as a format by the host.
    bbs::MessageFile f = parse_ok("8 BODY text \"Mail body\" = \"100% sure %n\"\n");
    EXPECT_EQ(f.find(8)->text, "100% sure %n");
}

TEST(TestModeText, ShowsNumberAndConversionsInOrder) {
    const struct {
        const char *real;
        const char *expected;
    } cases[] = {
        {"You may call again on %s at %s.\n", "<14|%s|%s>"},
        {"No conversions at all.\n", "<14>"},
        {"", "<14>"},
        {"100%% sure, %d left", "<14|%d>"},
        {"%%%s%%", "<14|%s>"},
        {"%-10s|%ld|%lu|%lx|%lX|%li|%5.2d|%08x|%#X|%+d|% i|%.3s|%c|%-3c|%u|%.d", 
         "<14|%-10s|%ld|%lu|%lx|%lX|%li|%5.2d|%08x|%#X|%+d|% i|%.3s|%c|%-3c|%u|%.d>"},
    };
    for (const auto &c : cases) {
        std::vector<bbs::Conversion> conversions;
        std::string why;
        size_t offset = 0;
        EXPECT_TRUE(bbs::scan_conversions(c.real, conversions, why, offset)) << c.real << ": " << why;
        EXPECT_EQ(bbs::test_mode_text(14, c.real), c.expected) << c.real;
    }
}

// A BBS directory of its own for each test, with the message selection and
// the start-up faults cleared.
class MessageBlocks : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/msgfile_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        bbs::set_bbs_directory(dir_);
        bbs::reset_message_blocks();
        bbs::clear_startup_errors();
        bbs::set_message_test_mode(false);
    }
    void TearDown() override {
        bbs::reset_message_blocks();
        bbs::clear_startup_errors();
        bbs::set_message_test_mode(false);
        bbs::set_bbs_directory(".");
        std::filesystem::remove_all(dir_);
    }
    void write(const std::string &name, const std::string &text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::vector<std::string> errors() const { return bbs::startup_errors(); }

    std::string dir_;
};

const char kCallBack[] =
    "2 CB_KEY text \"Key whose holders need not wait\" = \"SYSOP\"\n"
    "4 CB_DELAY_SECONDS number 0..99999 \"Seconds a caller waits\" = 9000\n"
    "5 CB_USE_WINDOW yesno \"Delay only in the window\" = yes\n"
    "6 CB_MIN_USERS number -10..255 \"Users for option 6\" = -3\n"
    "8 CB_FIRST_CHANNEL hex 0..FFF \"First channel\" = 1A\n"
    "9 CB_LAST_CHANNEL hex 0..FFF \"Last channel\" = 1FF\n"
    "12 CB_AUDIT yesno \"Audit\" = No\n"
    "13 CR_BIG long 0..5000000 \"Allotment\" = 4000000\n"
    "14 CB_WAIT_NOT_OVER message = \"You may call again on %s at %s.\\n\"\n"
    "15 CB_BYE message = \"Bye.\\n\"\n";

TEST_F(MessageBlocks, OptionsOfEveryKindFromAFileFoundWithCaseIgnored) {
    write("KRVCALBK.MCV", kCallBack);
    message_block *block = opnmsg("krvcalbk.mcv");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(bbs::current_block_name(), "KRVCALBK.MCV");

    char *key = stgopt(2);
    EXPECT_STREQ(key, "SYSOP");
    EXPECT_EQ(stgopt(2), key) << "the same option gives the same host-owned text";
    EXPECT_EQ(numopt(4, 0, 10000), 9000);
    EXPECT_EQ(numopt(6, -5, 5), -3);
    EXPECT_EQ(hexopt(8, 0, 255), 0x1Au);
    EXPECT_EQ(lngopt(13, 0, 4000000), 4000000L);
    EXPECT_EQ(ynopt(5), 1);
    EXPECT_EQ(ynopt(12), 0);
    EXPECT_STREQ(bbs::current_message_text(14), "You may call again on %s at %s.\n");
    EXPECT_EQ(bbs::current_message_text(2), nullptr) << "an option is not a message";
    EXPECT_EQ(bbs::current_message_text(77), nullptr);
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(MessageBlocks, ValueOutsideTheModulesRangeIsReportedAndClamped) {
    write("KRVCALBK.MCV", kCallBack);
    opnmsg("krvcalbk.mcv");
    EXPECT_EQ(numopt(4, 0, 7200), 7200);
    EXPECT_EQ(numopt(6, 0, 255), 0);
    EXPECT_EQ(hexopt(9, 0, 255), 255u);
    EXPECT_EQ(lngopt(13, 0, 1000000), 1000000L);
    EXPECT_EQ(errors(), (std::vector<std::string>{
                            "KRVCALBK.MCV:2: option 4 (CB_DELAY_SECONDS) is 9000, outside 0..7200",
                            "KRVCALBK.MCV:4: option 6 (CB_MIN_USERS) is -3, outside 0..255",
                            "KRVCALBK.MCV:6: option 9 (CB_LAST_CHANNEL) is 1FF, outside 0..FF",
                            "KRVCALBK.MCV:8: option 13 (CR_BIG) is 4000000, outside 0..1000000",
                        }));
}

TEST_F(MessageBlocks, MissingOptionOrOtherKindIsAStartupError) {
    write("KRVCALBK.MCV", kCallBack);
    opnmsg("KRVCALBK.MCV");
    EXPECT_EQ(numopt(3, 1, 10), 1);
    EXPECT_STREQ(stgopt(4), "");
    EXPECT_EQ(numopt(2, 0, 10), 0);
    EXPECT_EQ(lngopt(4, 0, 10), 0L);
    EXPECT_EQ(ynopt(14), 0);
    EXPECT_EQ(hexopt(5, 3, 9), 3u);
    EXPECT_EQ(errors(), (std::vector<std::string>{
                            "KRVCALBK.MCV: no option 3 (the module reads it with numopt, a number option)",
                            "KRVCALBK.MCV:2: entry 4 (CB_DELAY_SECONDS) is a number, but the module reads it with "
                            "stgopt, a text option",
                            "KRVCALBK.MCV:1: entry 2 (CB_KEY) is a text, but the module reads it with numopt, a "
                            "number option",
                            "KRVCALBK.MCV:2: entry 4 (CB_DELAY_SECONDS) is a number, but the module reads it with "
                            "lngopt, a long option",
                            "KRVCALBK.MCV:9: entry 14 (CB_WAIT_NOT_OVER) is a message, but the module reads it with "
                            "ynopt, a yesno option",
                            "KRVCALBK.MCV:3: entry 5 (CB_USE_WINDOW) is a yesno, but the module reads it with hexopt, "
                            "a hex option",
                        }));
}

TEST_F(MessageBlocks, MissingOrBrokenFileGivesAnEmptyBlockAndOneReportPerFault) {
    write("KRVFV.MCV", "1 A message = \"x\"\n2 B number 0..5 \"h\" = 6\n3 C message = \"%n\"\n");
    message_block *broken = opnmsg("krvfv.mcv");
    ASSERT_NE(broken, nullptr);
    EXPECT_EQ(bbs::current_message_text(1), nullptr) << "a file that does not parse is refused whole";
    EXPECT_EQ(numopt(2, 0, 5), 0);

    message_block *missing = opnmsg("krvnone.mcv");
    ASSERT_NE(missing, nullptr);
    EXPECT_NE(missing, broken);
    EXPECT_STREQ(stgopt(1), "");
    EXPECT_EQ(ynopt(2), 0);

    EXPECT_EQ(errors(), (std::vector<std::string>{
                            "KRVFV.MCV:2: option 2 (B) is 6, outside its range 0..5",
                            "KRVFV.MCV:3: message 3 (C): '%n' is not an allowed conversion; allowed are %d %i %u %x "
                            "%X %c %s, l before d i u x X, and %% for a percent sign",
                            "krvnone.mcv: cannot read " + dir_ + "/krvnone.mcv: No such file or directory",
                        }));
}

TEST_F(MessageBlocks, SetmbkAndRstmbkFormAStack) {
    write("A.MCV", "1 WHO message = \"a\"\n");
    write("B.MCV", "1 WHO message = \"b\"\n");
    message_block *a = opnmsg("A.MCV");
    message_block *b = opnmsg("B.MCV");
    EXPECT_STREQ(bbs::current_message_text(1), "b") << "the block just opened is selected";
    EXPECT_EQ(bbs::message_selection_depth(), 0u);

    setmbk(a);
    EXPECT_STREQ(bbs::current_message_text(1), "a");
    setmbk(b);
    EXPECT_STREQ(bbs::current_message_text(1), "b");
    setmbk(a);
    EXPECT_EQ(bbs::message_selection_depth(), 3u);
    rstmbk();
    EXPECT_STREQ(bbs::current_message_text(1), "b");
    rstmbk();
    EXPECT_STREQ(bbs::current_message_text(1), "a");
    rstmbk();
    EXPECT_STREQ(bbs::current_message_text(1), "b");
    EXPECT_EQ(bbs::message_selection_depth(), 0u);
    rstmbk();  // nothing to restore: harmless
    EXPECT_STREQ(bbs::current_message_text(1), "b");
    EXPECT_EQ(errors(), std::vector<std::string>{});
}

TEST_F(MessageBlocks, ClosedBlockGivesNothingButItsTextsStay) {
    write("KRVGHOST.MCV",
          "6 NG_MAIL_FROM text \"Sender\" = \"Sysop\"\n"
          "7 NG_MAIL_SUBJECT text \"Subject\" = \"Ghost cleared\"\n"
          "1 HELLO message = \"hi\"\n");
    message_block *ghost = opnmsg("krvghost.mcv");
    char *from = stgopt(6);
    char *subject = stgopt(7);
    clsmsg(ghost);
    EXPECT_EQ(bbs::current_message_text(1), nullptr);

    write("OTHER.MCV", "1 HELLO message = \"other\"\n");
    message_block *other = opnmsg("OTHER.MCV");
    setmbk(ghost);
    EXPECT_EQ(bbs::current_message_text(1), nullptr);
    rstmbk();
    EXPECT_STREQ(bbs::current_message_text(1), "other");
    clsmsg(other);
    clsmsg(nullptr);
    // The plug-in keeps what stgopt gave it after closing its block.
    EXPECT_STREQ(from, "Sysop");
    EXPECT_STREQ(subject, "Ghost cleared");
    EXPECT_EQ(errors(), std::vector<std::string>{});

    setmbk(ghost);
    EXPECT_STREQ(stgopt(6), "");
    EXPECT_EQ(errors(), std::vector<std::string>{"KRVGHOST.MCV: stgopt(6) called after the file was closed"});
}

TEST_F(MessageBlocks, RunawaySetmbkIsBounded) {
    write("A.MCV", "1 WHO message = \"a\"\n");
    message_block *a = opnmsg("A.MCV");
    for (int i = 0; i < 10000; ++i) setmbk(a);
    EXPECT_LE(bbs::message_selection_depth(), 256u);
    while (bbs::message_selection_depth() > 0) rstmbk();
    EXPECT_STREQ(bbs::current_message_text(1), "a");
}

TEST_F(MessageBlocks, TestModeShowsNumbersAndConversions) {
    write("KRVCALBK.MCV", kCallBack);
    bbs::set_message_test_mode(true);
    opnmsg("KRVCALBK.MCV");
    EXPECT_STREQ(bbs::current_message_text(14), "<14|%s|%s>");
    EXPECT_STREQ(bbs::current_message_text(15), "<15>");
    EXPECT_STREQ(stgopt(2), "SYSOP") << "options keep their values";

    bbs::set_message_test_mode(false);
    opnmsg("KRVCALBK.MCV");
    EXPECT_STREQ(bbs::current_message_text(14), "You may call again on %s at %s.\n")
        << "a parse made in test mode is not shared with normal mode";
}

TEST_F(MessageBlocks, SameFileSharesItsParseUntilItChanges) {
    write("A.MCV", "1 WHO message = \"a\"\n");
    opnmsg("A.MCV");
    const char *first = bbs::current_message_text(1);
    opnmsg("a.mcv");
    EXPECT_EQ(bbs::current_message_text(1), first);

    write("A.MCV", "1 WHO message = \"changed\"\n");
    opnmsg("A.MCV");
    EXPECT_STREQ(bbs::current_message_text(1), "changed");
    EXPECT_STREQ(first, "a") << "the block opened first keeps its texts";
}

TEST_F(MessageBlocks, OptionWithNoBlockSelectedIsAStartupError) {
    EXPECT_EQ(numopt(1, 5, 9), 5);
    EXPECT_EQ(errors(), std::vector<std::string>{"numopt(1) called while no message file is selected"});
}

TEST_F(MessageBlocks, CheckListsTheFaultsOfAFile) {
    write("KRVFV.MCV", "1 A message = \"x\"\n2 B yesno = yes\n");
    write("KRVFBK.MCV", "1 A message = \"x\"\n");
    EXPECT_EQ(bbs::check_message_file(dir_ + "/KRVFV.MCV"),
              std::vector<std::string>{
                  "KRVFV.MCV:2: missing help for option 2 (B): one quoted line saying what it does, before '='"});
    EXPECT_EQ(bbs::check_message_file(dir_ + "/KRVFBK.MCV"), std::vector<std::string>{});
    EXPECT_EQ(bbs::check_message_file(dir_ + "/NONE.MCV"),
              std::vector<std::string>{"NONE.MCV: cannot read " + dir_ + "/NONE.MCV: No such file or directory"});
    EXPECT_EQ(errors(), std::vector<std::string>{}) << "checking reports nothing at start-up";
}

TEST_F(MessageBlocks, GmdnamGivesTheNameOfTheDescriptorFile) {
    write("krvdmpst.MDF", "# Announcer\r\nNAME = KRV Announcer Module  \r\ndescription=Sends a notice now and then\r\n");
    const char *name = gmdnam("KRVDMPST.mdf");
    EXPECT_STREQ(name, "KRV Announcer Module");
    EXPECT_EQ(errors(), std::vector<std::string>{});

    std::vector<std::string> errs;
    auto d = bbs::parse_descriptor_file(dir_ + "/krvdmpst.MDF", errs);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->description, "Sends a notice now and then");
    EXPECT_STREQ(name, "KRV Announcer Module") << "the text stays after further calls";
}

TEST_F(MessageBlocks, MenuNoKeepsAModuleOffTheHostsMenu) {
    write("KRVCLOCK.MDF", "NAME=Clock\nMENU=No\n");
    write("KRVFBK.MDF", "NAME=Feedback\n");
    write("KRVFV.MDF", "NAME=File Viewer\nMENU=maybe\n");
    gmdnam("KRVCLOCK.MDF");
    gmdnam("KRVFBK.MDF");
    EXPECT_FALSE(bbs::offered_on_menu("Clock"));
    EXPECT_TRUE(bbs::offered_on_menu("Feedback"));
    std::vector<std::string> errs;
    EXPECT_FALSE(bbs::parse_descriptor_file(dir_ + "/KRVFV.MDF", errs).has_value());
    EXPECT_EQ(errs, std::vector<std::string>{"KRVFV.MDF:2: MENU is 'maybe', not yes or no"});
    bbs::forget_descriptors();
}

TEST_F(MessageBlocks, GmdnamFallsBackToTheStemAndReportsTheFault) {
    write("KRVFV.MDF", "DESCRIPTION=File viewer\nNAM=File Viewer\n");
    write("KRVCLOCK.MDF", "NAME=\nNAME=Clock\n");
    EXPECT_STREQ(gmdnam("KRVFV.MDF"), "KRVFV");
    EXPECT_STREQ(gmdnam("krvclock.mdf"), "krvclock");
    EXPECT_STREQ(gmdnam("KRVGHOST.MDF"), "KRVGHOST");
    EXPECT_EQ(errors(), (std::vector<std::string>{
                            "KRVFV.MDF:2: unknown key 'NAM' (known: NAME, DESCRIPTION, MENU)",
                            "KRVFV.MDF: no NAME= line",
                            "KRVCLOCK.MDF:1: NAME is empty",
                            "KRVCLOCK.MDF:2: NAME is set twice (first on line 1)",
                            "KRVGHOST.MDF: cannot read " + dir_ + "/KRVGHOST.MDF: No such file or directory",
                        }));
}

}  // namespace
