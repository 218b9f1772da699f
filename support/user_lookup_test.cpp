#include "user_lookup.h"

#include "core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The current input line as the host leaves it after parsing.
class ParsedLine {
public:
    explicit ParsedLine(std::vector<std::string> words) : words_(std::move(words)) {
        margc = static_cast<int32_t>(words_.size());
        for (size_t i = 0; i < words_.size(); ++i) margv[i] = words_[i].data();
    }
    ~ParsedLine() { margc = 0; }

private:
    std::vector<std::string> words_;
};

// The caller's buffer, alone in a heap block of its exact size so that the
// sanitizer build stops at any write past it.
struct JoinBuffer {
    std::unique_ptr<char[]> bytes{new char[JOINED_TEXT_SIZE]};
    JoinBuffer() { memset(bytes.get(), '#', JOINED_TEXT_SIZE); }  // not cleared, as Class Change leaves it
    std::string text() const { return bytes.get(); }
};

TEST(JoinWords, RebuildsTheNameFromItsWords) {
    struct Case {
        std::vector<std::string> words;
        int first, last;
        std::string expected;
    };
    const Case cases[] = {
        {{"BUSY", "Bob"}, 1, 1, "Bob"},
        {{"BUSY", "Bob", "the", "Builder"}, 1, 3, "Bob the Builder"},
        {{"CLASS", "Sir", "Lancelot", "30"}, 1, 2, "Sir Lancelot"},  // all but the number of days
        {{"CLASS", "Sir", "Lancelot", "30"}, 2, 1, "Lancelot"},      // last below first: word first alone
        {{"AFK", "Bob"}, 1, 5, "Bob"},                               // stops at the last word there is
        {{"AFK"}, 1, 0, ""},                                         // no word 1: nothing to join
        {{"AFK", "Bob"}, -1, 1, ""},
    };
    for (const Case &c : cases) {
        ParsedLine line(c.words);
        JoinBuffer buffer;
        join_words(buffer.bytes.get(), c.first, c.last);
        EXPECT_EQ(buffer.text(), c.expected) << "words " << c.first << " to " << c.last;
    }
}

TEST(JoinWords, CutsALongJoinAtTheEndOfTheBuffer) {
    const std::string word(100, 'w');
    struct Case {
        std::vector<std::string> words;
        std::string full;
    };
    const Case cases[] = {
        {{"X", word, word, std::string(53, 'z')}, word + " " + word + " " + std::string(53, 'z')},  // 255: fits
        {{"X", word, word, std::string(54, 'z')}, word + " " + word + " " + std::string(54, 'z')},  // 256: cut
        {{"X", word, word, word}, word + " " + word + " " + word},
        {{"X", word, word, "", "a"}, word + " " + word + "  a"},
        {{"X", std::string(255, 'a'), "b"}, std::string(255, 'a') + " b"},  // the blank falls past the end
        {{"X", std::string(400, 'a')}, std::string(400, 'a')},
    };
    for (const Case &c : cases) {
        ParsedLine line(c.words);
        JoinBuffer buffer;
        join_words(buffer.bytes.get(), 1, static_cast<int>(c.words.size()) - 1);
        EXPECT_EQ(buffer.text(), c.full.substr(0, JOINED_TEXT_SIZE - 1)) << "a join of " << c.full.size();
    }
}

// ------------------------------------------------------ find_online_user

struct OnLine {
    int line;
    const char *user_id;
    int32_t session_class = SESSION_SIGNED_ON;
    uint32_t session_flags = 0;
};

// Eight lines of the host core, with the given users on them.
void put_on_line(const std::vector<OnLine> &users) {
    bbs::set_line_count(8);
    for (const OnLine &u : users) {
        usroff(u.line)->session_class = u.session_class;
        usroff(u.line)->session_flags = u.session_flags;
        strcpy(uacoff(u.line)->user_id, u.user_id);
    }
}

struct LookupCase {
    const char *what;
    std::vector<OnLine> users;
    const char *typed;
    int result;
    const char *text_after;
};

void check_lookup(const LookupCase &c) {
    put_on_line(c.users);
    char text[JOINED_TEXT_SIZE] = {};
    strcpy(text, c.typed);
    EXPECT_EQ(find_online_user(text), c.result) << c.what;
    EXPECT_STREQ(text, c.text_after) << c.what;
}

TEST(FindOnlineUser, ScanOrderDecidesBetweenWholeAndLeadingMatches) {
    const LookupCase cases[] = {
        {"second leading match reached before the whole one",
         {{2, "Bobby"}, {3, "Bobcat"}, {5, "Bob"}}, "bob", USER_AMBIGUOUS, "bob"},
        {"whole match on the lowest line", {{1, "Bob"}, {2, "Bobby"}, {3, "Bobcat"}}, "bob", USER_FOUND, "Bob"},
        {"one leading match before the whole one", {{2, "Bobby"}, {5, "Bob"}}, "bob", USER_FOUND, "Bob"},
        {"one leading match alone", {{2, "Bobby"}, {4, "Alice"}}, "bob", USER_FOUND, "Bobby"},
        {"capitals as the account stores them", {{6, "BoB tHe BuIlDeR"}}, "bob the builder", USER_FOUND,
         "BoB tHe BuIlDeR"},
        {"a user-ID of full length", {{7, "Abcdefghijklmnopqrstuvwxyz012"}}, "abc", USER_FOUND,
         "Abcdefghijklmnopqrstuvwxyz012"},
        {"nobody begins with the text", {{1, "Alice"}, {2, "Bobby"}}, "carol", USER_NOT_FOUND, "carol"},
        {"a longer text does not match a shorter ID", {{1, "Bob"}}, "bobby", USER_NOT_FOUND, "bobby"},
        {"the lines are free", {}, "bob", USER_NOT_FOUND, "bob"},
    };
    for (const LookupCase &c : cases) check_lookup(c);
}

TEST(FindOnlineUser, PassesOverHiddenLinesAndUsersNotSignedOn) {
    const LookupCase cases[] = {
        {"hidden, exact ID", {{1, "Bob", SESSION_SIGNED_ON, SESSION_HIDDEN}}, "bob", USER_NOT_FOUND, "bob"},
        {"class 3, exact ID", {{1, "Bob", 3}}, "bob", USER_NOT_FOUND, "bob"},
        {"new user", {{1, "Bob", SESSION_NEW_USER}}, "bob", USER_NOT_FOUND, "bob"},
        {"logging on", {{1, "Bob", SESSION_LOGGING_ON}}, "bob", USER_NOT_FOUND, "bob"},
        {"class 4 counts", {{1, "Bob", 4}}, "bob", USER_FOUND, "Bob"},
        {"other flag bits do not hide", {{1, "Bob", SESSION_SIGNED_ON, ~SESSION_HIDDEN}}, "bob", USER_FOUND, "Bob"},
        {"a hidden leading match makes no ambiguity",
         {{1, "Bobby", SESSION_SIGNED_ON, SESSION_HIDDEN}, {2, "Bobcat"}}, "bob", USER_FOUND, "Bobcat"},
        {"nor does one not signed on", {{1, "Bobby", 3}, {2, "Bobcat"}, {3, "Bob", 0}}, "bob", USER_FOUND, "Bobcat"},
    };
    for (const LookupCase &c : cases) check_lookup(c);
}

TEST(FindOnlineUser, NoLinesFindsNobody) {
    bbs::set_line_count(0);
    char text[JOINED_TEXT_SIZE] = "bob";
    EXPECT_EQ(find_online_user(text), USER_NOT_FOUND);
    EXPECT_STREQ(text, "bob");
}

}  // namespace
