#include "frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

int logon_marker() { return 7; }

TEST(ModuleName, IsCutToTheTwentyFourCharactersTheFieldHolds) {
    struct Case {
        std::string name;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"Call Back", "Call Back"},
        {std::string(24, 'n'), std::string(24, 'n')},
        {std::string(25, 'n'), std::string(24, 'n')},
        {"A module name far longer than the field", "A module name far longer"},
    };
    for (const Case &c : cases) {
        module_descriptor descriptor{};
        descriptor.logon_routine = logon_marker;
        set_module_name(descriptor, c.name.c_str());
        EXPECT_EQ(std::string(descriptor.name), c.expected);
        EXPECT_EQ(std::string(descriptor.alignment_bytes, 3), std::string(3, '\0')) << "written past the name";
        EXPECT_EQ(descriptor.logon_routine, logon_marker);
    }
}

TEST(ChannelRange, IsPutInOrderWhateverOrderTheOptionsGiveIt) {
    struct Case {
        unsigned first, last, low, high;
    };
    const Case cases[] = {{0x20, 0x08, 0x08, 0x20}, {1, 4, 1, 4}, {5, 5, 5, 5}, {255, 0, 0, 255}};
    for (const Case &c : cases) {
        unsigned first = c.first, last = c.last;
        order_channel_range(first, last);
        EXPECT_EQ(first, c.low);
        EXPECT_EQ(last, c.high);
        uint16_t narrow_first = static_cast<uint16_t>(c.first), narrow_last = static_cast<uint16_t>(c.last);
        order_channel_range(narrow_first, narrow_last);
        EXPECT_EQ(narrow_first, c.low);
        EXPECT_EQ(narrow_last, c.high);
    }
}

TEST(ChannelRange, HoldsBothEndsAndGoesByTheHardwareNumber) {
    // Lines 0 to 3 sit on hardware channels 0x10, 0x08, 0x20, 0x21.
    const int32_t hardware[] = {0x10, 0x08, 0x20, 0x21};
    for (int line = 0; line < 4; ++line) line_channel_table[line] = hardware[line];
    EXPECT_TRUE(channel_in_range(0, 0x08, 0x20));
    EXPECT_TRUE(channel_in_range(1, 0x08, 0x20));
    EXPECT_TRUE(channel_in_range(2, 0x08, 0x20));
    EXPECT_FALSE(channel_in_range(3, 0x08, 0x20));
    EXPECT_FALSE(channel_in_range(1, 0x09, 0x20));
    EXPECT_TRUE(channel_in_range(3, 0x21, 0x21));
    EXPECT_FALSE(channel_in_range(-1, 0, 255));
    EXPECT_FALSE(channel_in_range(MAX_LINES, 0, 255));
}

TEST(GlobalCommand, IsRecognisedByItsFirstWordOnly) {
    char command[] = "busy", other[] = "busyness", name[] = "Bob";
    struct Case {
        int32_t count;
        char *first;
        bool expected;
    };
    const Case cases[] = {
        {1, command, true},
        {2, command, true},
        {2, other, false},
        {0, command, false},  // an empty line, whatever margv still holds
    };
    for (const Case &c : cases) {
        margv[0] = c.first;
        margv[1] = name;
        margc = c.count;
        EXPECT_EQ(is_command("BUSY"), c.expected) << c.count << " words, first " << c.first;
    }
    margc = 0;
    margv[0] = margv[1] = nullptr;
}

}  // namespace
