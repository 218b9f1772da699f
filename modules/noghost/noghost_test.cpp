// NoGhost on the test driver: a caller whose user-ID a ghost holds on a line
// of the range is let through to the password; a wrong password leaves the
// ghost, the right one clears it with the audit entry and the mail. The
// account is loaded as the host loads it (screen, terminal, class, keys), and
// refused as the host refuses (deadbeat, suspended, unknown).
#include <gtest/gtest.h>

#include <cstring>

#include "datafile.h"
#include "driver.h"
#include "noghost.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

BbsOptions noghost_bbs(const std::string &first = "0", const std::string &last = "FF") {
    BbsOptions o;
    o.plugins = {"KRVGHOST"};
    o.options["krvghost.mcv"] = {{NG_FIRST_CHANNEL, first},
                                 {NG_LAST_CHANNEL, last},
                                 {NG_SEND_MAIL, "yes"},
                                 {NG_MAIL_FROM, "\"The Sysop\""},
                                 {NG_MAIL_SUBJECT, "\"Ghost cleared\""},
                                 {NG_MAIL_TEXT, "\"Your old call ended.\""},
                                 {NG_AUDIT, "yes"}};
    return o;
}

mail_header expected_header(const char *from, const char *to, const char *subject) {
    mail_header h;
    std::memset(&h, 0, sizeof h);
    stlcpy(h.from_name, from, sizeof h.from_name);
    stlcpy(h.to_name, to, sizeof h.to_name);
    stlcpy(h.subject, subject, sizeof h.subject);
    return h;
}

class NoGhost : public ::testing::Test {
protected:
    explicit NoGhost(BbsOptions o = noghost_bbs()) : bbs(std::move(o)) {
        bbs.add_user("Mary Ann", "marypw", "USER");
    }
    // A caller on a new line types `user_id`; what the line shows.
    std::string type_user_id(int &line, const std::string &user_id) {
        line = bbs.connect();
        bbs.take_output(line);
        bbs.type(line, user_id);
        return bbs.take_output(line);
    }
    Bbs bbs;
};

// NoGhost lets a second line through to the password while the first still
// waits at its own password prompt; when the first gives it too, the line
// already signed on is cleared as a ghost: never two at once.
TEST_F(NoGhost, TwoLinesAtThePasswordPromptNeverBothSignOn) {
    int first = -1, second = -1;
    type_user_id(first, "Mary Ann");
    type_user_id(second, "Mary Ann");
    bbs.type(second, "marypw");
    ASSERT_TRUE(bbs.line(second).signed_on);
    bbs.type(first, "marypw");  // the line already on is the ghost now, and goes
    EXPECT_TRUE(bbs.line(first).signed_on);
    EXPECT_FALSE(bbs.line(second).signed_on);
    EXPECT_EQ(details(bbs, "KRV NoGhost: USER NOGHOSTED").size(), 1u);
}

TEST_F(NoGhost, AUserIdNobodyHoldsIsTheHostsToAccept) {
    int n = bbs.log_on("Mary Ann", "marypw");
    EXPECT_NE(bbs.take_output(n).find("Welcome, Mary Ann!"), std::string::npos);
    EXPECT_EQ(bbs.line(n).status_text, "");  // NoGhost did not act
    EXPECT_TRUE(details(bbs, "KRV NoGhost: USER NOGHOSTED").empty());
    EXPECT_TRUE(bbs.sent_mail.empty());
    EXPECT_EQ(check_chain(false), (std::vector<std::string>{"KRVGHOST", "host"}));
    EXPECT_EQ(check_chain(true), (std::vector<std::string>{"KRVGHOST", "host"}));
}

TEST_F(NoGhost, AWrongPasswordLeavesTheGhostTheRightOneClearsIt) {
    int ghost = bbs.log_on("Mary Ann", "marypw");
    int n = bbs.connect();
    bbs.line(n).session.logon_counter = 7;
    bbs.type(n, "mary ann");  // two words, any case: the user-ID as the file keeps it
    std::string out = bbs.take_output(n);
    EXPECT_NE(out.find("Password: "), std::string::npos) << out;
    EXPECT_EQ(out.find("already on-line"), std::string::npos) << out;
    EXPECT_STREQ(bbs.line(n).account.user_id, "Mary Ann");
    EXPECT_EQ(bbs.line(n).status_text, NG_STATUS_LOGGING_ON);
    EXPECT_EQ(bbs.line(n).status_number, 15);
    EXPECT_EQ(bbs.line(n).session.logon_counter, 0u);

    bbs.type(n, "wrong");
    EXPECT_NE(bbs.take_output(n).find("Wrong password"), std::string::npos);
    EXPECT_TRUE(bbs.connected(ghost));
    EXPECT_STREQ(bbs.line(n).account.user_id, "(Logging on)");
    EXPECT_TRUE(details(bbs, "KRV NoGhost: USER NOGHOSTED").empty());
    EXPECT_TRUE(bbs.sent_mail.empty());

    bbs.type(n, "Mary Ann");
    bbs.type(n, "marypw");
    EXPECT_NE(bbs.take_output(n).find("Welcome, Mary Ann!"), std::string::npos);
    EXPECT_FALSE(bbs.connected(ghost));
    EXPECT_EQ(bbs.hang_ups(ghost), 1);
    EXPECT_EQ(details(bbs, "KRV NoGhost: USER NOGHOSTED"), std::vector<std::string>{"User-ID: Mary Ann"});
    ASSERT_EQ(bbs.sent_mail.size(), 1u);
    mail_header want = expected_header("The Sysop", "Mary Ann", "Ghost cleared");
    EXPECT_EQ(std::memcmp(&bbs.sent_mail[0].header, &want, sizeof want), 0);
    EXPECT_EQ(bbs.sent_mail[0].text, "\nYour old call ended.");
    std::vector<Mail> box = bbs.mail_to("Mary Ann");
    ASSERT_EQ(box.size(), 1u);
    EXPECT_EQ(box[0].from, "The Sysop");

    // One Mary Ann on-line: the one who called last.
    bbs.type(n, "W");
    out = bbs.take_output(n);
    EXPECT_EQ(out.find("Mary Ann"), out.rfind("Mary Ann")) << out;
}

class NoGhostQuiet : public NoGhost {
protected:
    static BbsOptions options() {
        BbsOptions o = noghost_bbs();
        o.options["krvghost.mcv"][NG_SEND_MAIL] = "no";
        o.options["krvghost.mcv"][NG_AUDIT] = "no";
        return o;
    }
    NoGhostQuiet() : NoGhost(options()) {}
};

TEST_F(NoGhostQuiet, TheGhostIsClearedWithoutMailOrAuditEntryWhenNeitherIsAskedFor) {
    int ghost = bbs.log_on("Mary Ann", "marypw");
    int n = bbs.log_on("Mary Ann", "marypw");
    EXPECT_TRUE(bbs.connected(n));
    EXPECT_FALSE(bbs.connected(ghost));
    EXPECT_TRUE(details(bbs, "KRV NoGhost: USER NOGHOSTED").empty());
    EXPECT_TRUE(bbs.sent_mail.empty());
}

// Each case: a BBS of 16 lines (with the hardware channels given, or line n
// on channel n), the range of options 3 and 4, a ghost on `ghost_line`.
TEST(NoGhostRange, TheRangeIsOrderedAndEndsAtTheLastLine) {
    std::vector<int> remapped;
    for (int i = 0; i < 15; ++i) remapped.push_back(i);
    remapped.push_back(0x20);
    struct Case {
        const char *first, *last;
        std::vector<int> channels;
        int ghost_line;
        bool cleared;
    } cases[] = {
        {"00", "07", {}, 0x0A, false},
        {"07", "00", {}, 0x07, true},      // swapped: 00 to 07
        {"02", "FF", {}, 0x01, false},
        {"02", "FF", {}, 0x0F, true},      // 02 to 0F
        {"20", "FF", {}, 0x00, true},      // past the last line: every line
        {"FF", "20", {}, 0x0F, true},      // both at once
        {"00", "FF", remapped, 15, true},  // the last line is on channel 20
        {"10", "FF", remapped, 15, true},  // 10 to 20
        {"10", "FF", remapped, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.first) + ".." + c.last + " ghost on line " + std::to_string(c.ghost_line));
        BbsOptions o = noghost_bbs(c.first, c.last);
        o.lines = 16;
        o.channels = c.channels;
        Bbs bbs(o);
        bbs.add_user("Mary Ann", "marypw");
        int ghost = bbs.log_on("Mary Ann", "marypw", c.ghost_line);
        ASSERT_TRUE(bbs.connected(ghost));
        int n = bbs.connect();
        bbs.type(n, "Mary Ann");
        std::string out = bbs.take_output(n);
        EXPECT_EQ(out.find("Password: ") != std::string::npos, c.cleared) << out;
        EXPECT_EQ(out.find("That user-ID is already on-line.") != std::string::npos, !c.cleared) << out;
    }
}

TEST_F(NoGhost, TheAccountIsLoadedWithTheLinesScreenAndTerminal) {
    int ghost = bbs.log_on("Mary Ann", "marypw");
    struct Case {
        uint8_t stored_flags;
        int window_width, window_length;  // what the caller's terminal reported (0: nothing)
        uint8_t want_flags;
        int want_width, want_length;
    } cases[] = {
        {0x05, 0, 0, 0x01, 100, 24},   // the line's terminal; no length stored: 24
        {0x06, 0, 0, 0x06, 100, 24},   // 0x02: the account keeps its own terminal
        {0x05, 132, 50, 0x01, 132, 50},  // the window the terminal reported wins
    };
    for (const Case &c : cases) {
        account_record a;
        ASSERT_TRUE(bbs.read_account("Mary Ann", a));
        a.screen_width = 100;
        a.screen_length = 0;
        a.terminal_flags = c.stored_flags;
        bbs.write_account(a);
        int n = bbs.connect();
        bbs.line(n).account.terminal_flags = 0x01;  // as the line knew the caller's terminal
        if (c.window_width > 0) line_set_screen(n, c.window_width, c.window_length);
        bbs.type(n, "Mary Ann");
        const account_record &loaded = bbs.line(n).account;
        EXPECT_EQ(loaded.terminal_flags, c.want_flags);
        EXPECT_EQ(loaded.screen_width, c.want_width);
        EXPECT_EQ(loaded.screen_length, c.want_length);
        EXPECT_EQ(bbs.line(n).wrap_width, c.want_width);
        bbs.hang_up(n);
    }
    EXPECT_TRUE(bbs.connected(ghost));
}

TEST_F(NoGhost, AnAccountWhoseClassIsGoneIsTaggedForDeletionAndUnknown) {
    bbs.add_user("Old Timer", "oldpw", "VANISHED");
    int ghost = bbs.log_on("Old Timer", "oldpw");
    ASSERT_TRUE(bbs.connected(ghost));
    int n = -1;
    std::string out = type_user_id(n, "Old Timer");
    EXPECT_NE(out.find("There is no user with that ID"), std::string::npos) << out;
    EXPECT_STREQ(bbs.line(n).account.user_id, "(Logging on)");
    EXPECT_EQ(details(bbs, "ACCOUNT TAGGED FOR DELETION"),
              std::vector<std::string>{
                  "User-ID: Old Timer (class VANISHED; handed over by a plug-in, bbshost purge removes it)"});
    // Nothing is lost yet: the account waits for the operator, tagged, and
    // the ghost's hang-up does not undo the tag.
    EXPECT_TRUE(bbs.connected(ghost));
    bbs.hang_up(ghost);
    account_record a;
    ASSERT_TRUE(bbs.read_account("Old Timer", a));
    EXPECT_NE(a.account_flags & ACCOUNT_TAGGED_FOR_DELETION, 0);
    out = type_user_id(n, "Old Timer");
    EXPECT_NE(out.find("There is no user with that ID"), std::string::npos) << out;
    std::vector<std::string> removed;
    EXPECT_EQ(purge_tagged_accounts(&removed), 1);
    EXPECT_EQ(removed, std::vector<std::string>{"Old Timer"});
}

class NoGhostWithSampleKey : public NoGhost {
protected:
    static BbsOptions options() {
        BbsOptions o = noghost_bbs();
        o.sample_key = "PAID";
        return o;
    }
    NoGhostWithSampleKey() : NoGhost(options()) {}
};

TEST_F(NoGhostWithSampleKey, TheDeadbeatAnswerComesBeforeTheSuspendedOne) {
    account_record a;
    ASSERT_TRUE(bbs.read_account("Mary Ann", a));
    a.account_flags = ACCOUNT_NO_DEADBEAT;
    bbs.write_account(a);
    int ghost = bbs.log_on("Mary Ann", "marypw");
    ASSERT_TRUE(bbs.connected(ghost));
    struct Case {
        uint16_t flags;
        bool paid;
        const char *answer;
        const char *status;
        int status_number;
        bool stays;
    } cases[] = {
        {ACCOUNT_SUSPENDED, false, "This account may not call now.", NG_STATUS_DEADBEAT, 9, false},
        {ACCOUNT_SUSPENDED | ACCOUNT_NO_DEADBEAT, false, "This account is suspended.", NG_STATUS_SUSPENDED, 9, false},
        {ACCOUNT_SUSPENDED, true, "This account is suspended.", NG_STATUS_SUSPENDED, 9, false},
        {0, true, "Password: ", NG_STATUS_LOGGING_ON, 15, true},
        {ACCOUNT_NO_DEADBEAT, false, "Password: ", NG_STATUS_LOGGING_ON, 15, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.answer);
        a.account_flags = c.flags;
        bbs.write_account(a);
        {
            CallTransaction t;
            give_key("Mary Ann", "PAID", c.paid);
        }
        int n = -1;
        std::string out = type_user_id(n, "Mary Ann");
        EXPECT_NE(out.find(c.answer), std::string::npos) << out;
        EXPECT_EQ(bbs.connected(n), c.stays);
        EXPECT_EQ(bbs.line(n).status_text, c.status);  // kept after the hang-up, until the next call
        EXPECT_EQ(bbs.line(n).status_number, c.status_number);
        if (bbs.connected(n)) bbs.hang_up(n);
    }
    EXPECT_TRUE(bbs.connected(ghost));
}

}  // namespace
