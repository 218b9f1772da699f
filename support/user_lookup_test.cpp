#include "user_lookup.h"

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

}  // namespace
