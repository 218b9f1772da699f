// Feedback on the test driver: the menu, the editor, the receipt question,
// and the mail that reaches the addressee, byte for byte.
#include <gtest/gtest.h>

#include <cstring>

#include "driver.h"
#include "feedback.h"
#include "msgfile.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

const std::string kQuestion = "\nDo you want a return receipt when the message is read? (Y/N) ";

BbsOptions feedback_bbs(const std::string &recipient = "\"Sysop\"", int output_buffer = 8192) {
    BbsOptions o;
    o.plugins = {"KRVFBK"};
    o.options["KRVFBK.MCV"] = {{2, "\"USER\""}, {4, recipient}};
    o.output_buffer = output_buffer;
    return o;
}

// The header Feedback must build: zero but for the four fields it fills.
mail_header expected_header(const char *from, const char *to, const char *subject, uint32_t flags) {
    mail_header h;
    std::memset(&h, 0, sizeof h);
    std::strcpy(h.from_name, from);
    std::strcpy(h.to_name, to);
    std::strcpy(h.subject, subject);
    h.mail_flags = flags;
    return h;
}

void expect_same_bytes(const mail_header &got, const mail_header &want) {
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0)
        << "from '" << got.from_name << "' to '" << got.to_name << "' subject '" << got.subject << "' flags "
        << got.mail_flags;
}

class Feedback : public ::testing::Test {
protected:
    explicit Feedback(BbsOptions options = feedback_bbs()) : bbs(std::move(options)) {
        bbs.add_user("Sysop", "secret0", "SYSOP");
        bbs.add_user("Member", "secret1", "USER");
        bbs.add_user("Guest", "secret2", "DEMO");
        module_number = findmod("Feedback");
    }
    // Signs the user on and takes him into Feedback (the menu's only module).
    int enter(const std::string &user_id, const std::string &password, std::string *shown = nullptr) {
        int n = bbs.log_on(user_id, password);
        bbs.take_output(n);
        bbs.type(n, "1");
        std::string out = bbs.take_output(n);
        if (shown) *shown = out;
        return n;
    }
    std::string say(int n, const std::string &text) {
        bbs.type(n, text);
        return bbs.take_output(n);
    }
    // From the menu, through the editor, to the receipt question.
    std::string write(int n, const std::string &topic, const std::vector<std::string> &lines,
                      const std::string &end = "/s") {
        say(n, "f");
        say(n, topic);
        for (const std::string &l : lines) say(n, l);
        return say(n, end);
    }
    bool at_menu(int n) { return bbs.line(n).session.current_module == 0; }
    int32_t substate(int n) { return bbs.line(n).session.module_substate; }
    Bbs bbs;
    int module_number = -1;
};

TEST_F(Feedback, RegistersWithItsSlotsAndTurnsAwayCallersWithoutTheKey) {
    ASSERT_GT(module_number, 0);
    EXPECT_EQ(module[module_number]->logon_routine, nullptr);
    EXPECT_EQ(module[module_number]->status_routine, dfsthn);
    EXPECT_EQ(module[module_number]->hangup_routine, nullptr);
    EXPECT_NE(module[module_number]->shutdown_routine, nullptr);

    std::string shown;
    int guest = enter("Guest", "secret2", &shown);
    EXPECT_EQ(shown.rfind("<7|DEMO>", 0), 0u) << shown;  // the caller's class, then the main menu
    EXPECT_NE(shown.find("Main menu"), std::string::npos);
    EXPECT_TRUE(at_menu(guest));
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Feedback, TheMenuAnswersEachChoice) {
    std::string shown;
    int n = enter("Member", "secret1", &shown);
    EXPECT_EQ(shown, "<6><9>");
    EXPECT_EQ(substate(n), FEEDBACK_AT_MENU);
    struct Case {
        const char *typed, *shown;
    } cases[] = {{"?", "<6><9>"}, {"q", "<9>"}, {"", "<9>"}, {"help me", "<9>"}, {"  ?  ", "<6><9>"}};
    for (const Case &c : cases) {
        EXPECT_EQ(say(n, c.typed), c.shown) << "'" << c.typed << "'";
        EXPECT_EQ(substate(n), FEEDBACK_AT_MENU);
    }
    say(n, "x now");  // X as the menu choice, with more words after it
    EXPECT_TRUE(at_menu(n));
    n = enter("Sysop", "secret0");  // the SYSOP key holds every key
    say(n, "X");
    EXPECT_TRUE(at_menu(n));
    EXPECT_TRUE(bbs.sent_mail.empty());
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Feedback, AWrittenMessageReachesTheAddresseeWithOrWithoutAReceipt) {
    struct Case {
        const char *answer;
        uint32_t flags;
    } cases[] = {{"y", MAIL_RETURN_RECEIPT}, {"No", 0}};
    for (const Case &c : cases) {
        bbs.sent_mail.clear();
        int n = enter("Member", "secret1");
        std::string asked = write(n, "Broken link", {"The link on page two", "goes nowhere."});
        EXPECT_EQ(asked, kQuestion);
        EXPECT_EQ(bbs.line(n).session.current_module, module_number);
        EXPECT_EQ(say(n, "maybe"), "<10>");  // asked again without the question itself
        EXPECT_TRUE(bbs.sent_mail.empty());
        std::string sent = say(n, c.answer);
        EXPECT_EQ(sent.rfind("<8|Member>", 0), 0u) << sent;
        EXPECT_TRUE(at_menu(n));
        ASSERT_EQ(bbs.sent_mail.size(), 1u) << c.answer;
        expect_same_bytes(bbs.sent_mail[0].header, expected_header("Member", "Sysop", "Broken link", c.flags));
        EXPECT_EQ(bbs.sent_mail[0].text, "The link on page two\ngoes nowhere.\n");
        bbs.hang_up(n);
    }
    std::vector<Mail> box = bbs.mail_to("Sysop");
    ASSERT_EQ(box.size(), 2u);
    EXPECT_EQ(box[0].from, "Member");
    EXPECT_EQ(box[0].subject, "Broken link");
    EXPECT_EQ(box[0].flags, MAIL_RETURN_RECEIPT);
    EXPECT_EQ(box[1].flags, 0u);
    EXPECT_EQ(message_selection_depth(), 0u);
}

TEST_F(Feedback, XAloneLeavesWhileTheQuestionIsOpenAndSendsNothing) {
    int n = enter("Member", "secret1");
    write(n, "Topic", {"text"});
    say(n, "x");
    EXPECT_TRUE(at_menu(n));
    EXPECT_TRUE(bbs.sent_mail.empty());
    EXPECT_TRUE(bbs.mail_to("Sysop").empty());
}

TEST_F(Feedback, AnAbandonedTextAsksNothingAndTheNextLineIsTheAnswer) {
    int n = enter("Member", "secret1");
    std::string after = write(n, "Second thoughts", {"never mind"}, "/a");
    EXPECT_EQ(after.find("receipt"), std::string::npos) << after;
    EXPECT_EQ(bbs.line(n).session.current_module, module_number);
    EXPECT_EQ(substate(n), FEEDBACK_RECEIPT);
    EXPECT_EQ(say(n, "?"), "<10>");
    say(n, "n");
    ASSERT_EQ(bbs.sent_mail.size(), 1u);
    expect_same_bytes(bbs.sent_mail[0].header, expected_header("Member", "Sysop", "Second thoughts", 0));
    EXPECT_EQ(bbs.sent_mail[0].text, "");  // the editor kept nothing of the abandoned text
}

class SmallOutputBuffer : public Feedback {
protected:
    SmallOutputBuffer() : Feedback(feedback_bbs("\"Sysop\"", 1024)) {}
};

// Lines of at most 100 characters, the line ends included, that add up to
// `length` characters.
std::vector<std::string> text_of_length(int length) {
    std::vector<std::string> lines;
    for (int left = length; left > 0; left -= 100) lines.push_back(std::string(std::min(left, 100) - 1, 'a'));
    return lines;
}

TEST_F(SmallOutputBuffer, ATextTooLongForTheOutputBufferIsCut) {
    const int keep = 1024 - 385;
    struct Case {
        int written, sent;
    } cases[] = {{keep, keep}, {keep + 1, keep}, {1920, keep}};
    for (const Case &c : cases) {
        bbs.sent_mail.clear();
        int n = enter("Member", "secret1");
        write(n, "Long", text_of_length(c.written));
        say(n, "y");
        ASSERT_EQ(bbs.sent_mail.size(), 1u);
        std::string expected;
        for (const std::string &l : text_of_length(c.written)) expected += l + "\n";
        ASSERT_EQ(expected.size(), static_cast<size_t>(c.written));
        EXPECT_EQ(bbs.sent_mail[0].text, expected.substr(0, c.sent)) << c.written;
        bbs.hang_up(n);
    }
}

TEST_F(Feedback, AFullEditorTextIsSentWhole) {
    int n = enter("Member", "secret1");
    write(n, "Long", text_of_length(FEEDBACK_TEXT_SIZE - 1));
    say(n, "n");
    ASSERT_EQ(bbs.sent_mail.size(), 1u);
    EXPECT_EQ(bbs.sent_mail[0].text.size(), static_cast<size_t>(FEEDBACK_TEXT_SIZE - 1));
}

class NoAddressee : public Feedback {
protected:
    NoAddressee() : Feedback(feedback_bbs("\"\"")) {}
};

TEST_F(NoAddressee, AMessageTheMailStoreRefusesIsKeptAndNotCalledSent) {
    int n = enter("Member", "secret1");
    write(n, "Lost?", {"keep me"});
    EXPECT_EQ(say(n, "y"), "<11>");
    EXPECT_EQ(substate(n), FEEDBACK_RECEIPT);
    ASSERT_FALSE(bbs.audit.empty());
    EXPECT_EQ(bbs.audit.back().summary, "KRV Feedback NOT SENT");
    EXPECT_EQ(bbs.audit.back().detail, "User-ID: Member, To: ");
    EXPECT_EQ(say(n, "n"), "<11>");  // each answer tries again, with the same text
    ASSERT_EQ(bbs.sent_mail.size(), 2u);
    EXPECT_EQ(bbs.sent_mail[1].text, "keep me\n");
    say(n, "x");
    EXPECT_TRUE(at_menu(n));
    EXPECT_EQ(message_selection_depth(), 0u);
}

}  // namespace
