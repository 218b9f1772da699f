#include "config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace {

using bbs::ClockMode;

std::vector<int> iota(int first, int count) {
    std::vector<int> v(static_cast<size_t>(count));
    std::iota(v.begin(), v.end(), first);
    return v;
}

TEST(HostConfig, EmptyFileGivesTheDefaults) {
    bbs::HostConfig c = bbs::parse_host_config("WGSERV.CFG", "");
    EXPECT_EQ(c.errors, std::vector<std::string>{});
    EXPECT_TRUE(c.dlls.empty());
    EXPECT_EQ(c.address, "127.0.0.1");
    EXPECT_EQ(c.port, 2323);
    EXPECT_EQ(c.lines, 16);
    EXPECT_EQ(c.channels, iota(0, 16));
    EXPECT_EQ(c.cleanup_minutes, 3 * 60);
    EXPECT_EQ(c.clock_mode, ClockMode::offset);
    EXPECT_EQ(c.idle_warn_seconds, 600);
    EXPECT_EQ(c.idle_limit_seconds, 900);
    EXPECT_EQ(c.output_buffer, 8192);
    EXPECT_EQ(c.line_output_room, 16384);
    EXPECT_EQ(c.new_user_class, "DEMO");
    EXPECT_EQ(c.sample_key, "");
    EXPECT_EQ(c.input_limit, 255);
}

TEST(HostConfig, ReadsDllLinesInOrderAndEverySetting) {
    bbs::HostConfig c = bbs::parse_host_config("WGSERV.CFG",
                                               "; written by hand\r\n"
                                               "DLL=KRVFV\r\n"
                                               "  DLL = krvcalbk  \r\n"
                                               "# a comment\r\n"
                                               "\r\n"
                                               "dll=KRVGHOST ; clears ghosts\r\n"
                                               "ADDRESS=::1\r\n"
                                               "port=4000\r\n"
                                               "LINES=24\r\n"
                                               "CHANNELS=00-0F, 20-27\r\n"
                                               "CLEANUP_TIME=4:30\r\n"
                                               "CLOCK_MODE=System\r\n"
                                               "IDLE_WARN_SECONDS=0\r\n"
                                               "IDLE_LIMIT_SECONDS=60\r\n"
                                               "OUTPUT_BUFFER=4096\r\n"
                                               "LINE_OUTPUT_ROOM=4096\r\n"
                                               "NEW_USER_CLASS=VISITOR\r\n"
                                               "SAMPLE_KEY=FREEBIE\r\n"
                                               "INPUT_LIMIT=80");
    EXPECT_EQ(c.errors, std::vector<std::string>{});
    ASSERT_EQ(c.dlls.size(), 3u);
    EXPECT_EQ(c.dlls[0].name, "KRVFV");
    EXPECT_EQ(c.dlls[1].name, "krvcalbk");
    EXPECT_EQ(c.dlls[2].name, "KRVGHOST");
    EXPECT_EQ(c.dlls[2].line, 6);
    EXPECT_EQ(c.address, "::1");
    EXPECT_EQ(c.port, 4000);
    EXPECT_EQ(c.lines, 24);
    std::vector<int> channels = iota(0x00, 16);
    for (int n : iota(0x20, 8)) channels.push_back(n);
    EXPECT_EQ(c.channels, channels);
    EXPECT_EQ(c.cleanup_minutes, 4 * 60 + 30);
    EXPECT_EQ(c.clock_mode, ClockMode::system);
    EXPECT_EQ(c.idle_warn_seconds, 0);
    EXPECT_EQ(c.idle_limit_seconds, 60);
    EXPECT_EQ(c.output_buffer, 4096);
    EXPECT_EQ(c.line_output_room, 4096);
    EXPECT_EQ(c.new_user_class, "VISITOR");
    EXPECT_EQ(c.sample_key, "FREEBIE");
    EXPECT_EQ(c.input_limit, 80);
}

TEST(HostConfig, ChannelsBeyondTheLinesAreLeftUnused) {
    bbs::HostConfig c = bbs::parse_host_config("WGSERV.CFG", "LINES=4\nCHANNELS=F0-FF\n");
    EXPECT_EQ(c.errors, std::vector<std::string>{});
    EXPECT_EQ(c.channels, (std::vector<int>{0xF0, 0xF1, 0xF2, 0xF3}));

    c = bbs::parse_host_config("WGSERV.CFG", "LINES=256\n");
    EXPECT_EQ(c.errors, std::vector<std::string>{});
    EXPECT_EQ(c.channels, iota(0, 256));
}

TEST(HostConfig, EachFaultIsNamedWithFileLineAndRange) {
    const struct {
        const char *text;
        std::string error;
    } cases[] = {
        {"LINES=257\n", "WGSERV.CFG:1: LINES is 257, outside 1..256 (the plug-ins keep tables of 256 lines)"},
        {"LINES=0\n", "WGSERV.CFG:1: LINES is 0, outside 1..256 (the plug-ins keep tables of 256 lines)"},
        {"\nPORT=70000\n", "WGSERV.CFG:2: PORT is 70000, outside 1..65535"},
        {"PORT=-1\n", "WGSERV.CFG:1: PORT: '-1' is not a whole number (1..65535)"},
        {"PORT=\n", "WGSERV.CFG:1: PORT: '' is not a whole number (1..65535)"},
        {"OUTPUT_BUFFER=512\n", "WGSERV.CFG:1: OUTPUT_BUFFER is 512, outside 1024..65536"},
        {"INPUT_LIMIT=256\n", "WGSERV.CFG:1: INPUT_LIMIT is 256, outside 1..255"},
        {"PROT=23\n",
         "WGSERV.CFG:1: unknown setting 'PROT' (known: DLL, ADDRESS, PORT, LINES, CHANNELS, CLEANUP_TIME, "
         "CLOCK_MODE, IDLE_WARN_SECONDS, IDLE_LIMIT_SECONDS, OUTPUT_BUFFER, LINE_OUTPUT_ROOM, NEW_USER_CLASS, "
         "SAMPLE_KEY, INPUT_LIMIT, OUTPUT_STALL_SECONDS)"},
        {"PORT=23\nport=24\n", "WGSERV.CFG:2: PORT is set twice (first on line 1)"},
        {"DLL=KRVFV\nDLL=krvfv\n", "WGSERV.CFG:2: DLL=krvfv is listed twice (first on line 1)"},
        {"DLL=\n", "WGSERV.CFG:1: DLL= names no plug-in"},
        {"DLL=../evil\n", "WGSERV.CFG:1: DLL=../evil: a plug-in name holds only letters, digits, '_', '-' and '.'"},
        {"KRVFV\n", "WGSERV.CFG:1: expected KEY=VALUE, found 'KRVFV'"},
        {"[HOST]\n", "WGSERV.CFG:1: sections are not used in this file ('[HOST]')"},
        {"CHANNELS=00-0G\n",
         "WGSERV.CFG:1: CHANNELS: '00-0G' is not a hexadecimal channel number 00..FF or a range such as 20-27"},
        {"CHANNELS=100\n",
         "WGSERV.CFG:1: CHANNELS: '100' is not a hexadecimal channel number 00..FF or a range such as 20-27"},
        {"CHANNELS=00-0F,,10\n",
         "WGSERV.CFG:1: CHANNELS: '' is not a hexadecimal channel number 00..FF or a range such as 20-27"},
        {"CHANNELS=0F-00\n", "WGSERV.CFG:1: CHANNELS: the range 0F-00 runs backwards"},
        {"CHANNELS=00-0F,08\n", "WGSERV.CFG:1: CHANNELS: channel 08 is given twice"},
        {"CHANNELS=00-07\n", "WGSERV.CFG:1: CHANNELS gives 8 channel numbers for 16 lines"},
        {"CHANNELS=\n", "WGSERV.CFG:1: CHANNELS is empty"},
        {"CLEANUP_TIME=24:00\n", "WGSERV.CFG:1: CLEANUP_TIME: '24:00' is not a time of day HH:MM (00:00..23:59)"},
        {"CLEANUP_TIME=3:5\n", "WGSERV.CFG:1: CLEANUP_TIME: '3:5' is not a time of day HH:MM (00:00..23:59)"},
        {"CLOCK_MODE=real\n", "WGSERV.CFG:1: CLOCK_MODE: 'real' is neither offset nor system"},
        {"ADDRESS=localhost\n",
         "WGSERV.CFG:1: ADDRESS: 'localhost' is not an IPv4 or IPv6 address such as 127.0.0.1 or ::1"},
        {"NEW_USER_CLASS=A_VERY_LONG_CLASS\n",
         "WGSERV.CFG:1: NEW_USER_CLASS 'A_VERY_LONG_CLASS' is longer than 15 characters"},
        {"NEW_USER_CLASS=\n", "WGSERV.CFG:1: NEW_USER_CLASS is empty"},
        {"SAMPLE_KEY=TWO WORDS\n", "WGSERV.CFG:1: SAMPLE_KEY: 'TWO WORDS' is not a key name (no blanks or commas)"},
        {"IDLE_WARN_SECONDS=900\n",
         "WGSERV.CFG:1: IDLE_WARN_SECONDS (900) must be below IDLE_LIMIT_SECONDS (900)"},
        {"OUTPUT_BUFFER=32768\n",
         "WGSERV.CFG:1: LINE_OUTPUT_ROOM (16384) is below OUTPUT_BUFFER (32768): a full output buffer must fit "
         "a line's room"},
    };
    for (const auto &c : cases) {
        bbs::HostConfig cfg = bbs::parse_host_config("WGSERV.CFG", c.text);
        EXPECT_EQ(cfg.errors, std::vector<std::string>{c.error}) << c.text;
    }
}

TEST(HostConfig, ReportsEveryFaultOfTheFile) {
    bbs::HostConfig c = bbs::parse_host_config("WGSERV.CFG", "LINES=300\nDLL=KRVFV\nPORT=x\nDLL=KRVAFK\n");
    EXPECT_EQ(c.errors, (std::vector<std::string>{
                            "WGSERV.CFG:1: LINES is 300, outside 1..256 (the plug-ins keep tables of 256 lines)",
                            "WGSERV.CFG:3: PORT: 'x' is not a whole number (1..65535)",
                        }));
    EXPECT_EQ(c.lines, 16) << "a refused value leaves the default";
    EXPECT_EQ(c.dlls.size(), 2u);
}

TEST(HostConfig, MissingFileIsAnError) {
    bbs::HostConfig c = bbs::load_host_config("/nonexistent-dir/WGSERV.CFG");
    EXPECT_EQ(c.errors,
              std::vector<std::string>{"WGSERV.CFG: cannot read /nonexistent-dir/WGSERV.CFG: No such file or directory"});
}

TEST(HostConfig, SettingsTableDescribesEachSetting) {
    std::vector<bbs::SettingInfo> settings = bbs::host_settings();
    ASSERT_FALSE(settings.empty());
    auto lines = std::find_if(settings.begin(), settings.end(),
                              [](const bbs::SettingInfo &s) { return std::string(s.key) == "LINES"; });
    ASSERT_NE(lines, settings.end());
    EXPECT_STREQ(lines->default_text, "16");
    EXPECT_EQ(lines->allowed, "1..256");
    for (const bbs::SettingInfo &s : settings) {
        EXPECT_GT(std::string(s.help).size(), 10u) << s.key;
        // Every default, written into a file, reads back without fault.
        std::string line = std::string(s.key) + "=" + s.default_text + "\n";
        if (*s.default_text == '\0' && std::string(s.key) != "SAMPLE_KEY") continue;
        EXPECT_EQ(bbs::parse_host_config("WGSERV.CFG", line).errors, std::vector<std::string>{}) << line;
    }
}

const char kClasses[] =
    "# classes of the board\n"
    "[DEMO]\n"
    "DESCRIPTION=Visitors trying the board\n"
    "KEYS=\n"
    "AUTO_SWITCH=USER\n"
    "FLAGS=10        # switch to AUTO_SWITCH when credits are posted\n"
    "CREDITS=0\n"
    "\n"
    "[USER]\n"
    "description = Members\n"
    "KEYS=NORMAL, CHAT  FILES,,\n"
    "CREDITS=500\n"
    "[SYSOP]\n"
    "KEYS=SYSOP\n"
    "FLAGS=ef\n";

TEST(Classes, ReadsClassesInFileOrder) {
    bbs::ClassesConfig c = bbs::parse_classes("CLASSES.CFG", kClasses);
    EXPECT_EQ(c.errors, std::vector<std::string>{});
    ASSERT_EQ(c.classes.size(), 3u);
    const bbs::ClassDefinition &demo = c.classes[0];
    EXPECT_EQ(demo.name, "DEMO");
    EXPECT_EQ(demo.line, 2);
    EXPECT_EQ(demo.description, "Visitors trying the board");
    EXPECT_TRUE(demo.keys.empty());
    EXPECT_EQ(demo.auto_switch, "USER");
    EXPECT_EQ(demo.flags, 0x10);
    EXPECT_EQ(demo.credits, 0);
    const bbs::ClassDefinition &user = c.classes[1];
    EXPECT_EQ(user.name, "USER");
    EXPECT_EQ(user.description, "Members");
    EXPECT_EQ(user.keys, (std::vector<std::string>{"NORMAL", "CHAT", "FILES"}));
    EXPECT_EQ(user.auto_switch, "");
    EXPECT_EQ(user.flags, 0);
    EXPECT_EQ(user.credits, 500);
    EXPECT_EQ(c.classes[2].name, "SYSOP");
    EXPECT_EQ(c.classes[2].keys, std::vector<std::string>{"SYSOP"});
    EXPECT_EQ(c.classes[2].flags, 0xEF);
}

TEST(Classes, EachFaultIsNamedWithFileAndLine) {
    const struct {
        const char *text;
        std::vector<std::string> errors;
    } cases[] = {
        {"KEYS=A\n[DEMO]\n", {"CLASSES.CFG:1: KEYS= stands before the first [CLASS] line"}},
        {"[DEMO]\n[demo]\n", {"CLASSES.CFG:2: class demo is defined twice (first on line 1)"}},
        {"[A_CLASS_NAME_TOO_LONG]\n",
         {"CLASSES.CFG:1: class name 'A_CLASS_NAME_TOO_LONG' is longer than 15 characters"}},
        {"[TWO WORDS]\nKEYS=X\n",
         {"CLASSES.CFG:1: class name 'TWO WORDS' may hold only letters, digits, '_' and '-'"}},
        {"[]\n", {"CLASSES.CFG:1: class name is empty"}},
        {"[DEMO]\nCOLOR=red\n",
         {"CLASSES.CFG:2: unknown key 'COLOR' (known: DESCRIPTION, KEYS, AUTO_SWITCH, FLAGS, CREDITS)"}},
        {"[DEMO]\nCREDITS=1\nCREDITS=2\n", {"CLASSES.CFG:3: CREDITS is set twice in class DEMO (first on line 2)"}},
        {"[DEMO]\nCREDITS=-5\n", {"CLASSES.CFG:2: CREDITS: '-5' is not a whole number (0..2147483647)"}},
        {"[DEMO]\nCREDITS=3000000000\n", {"CLASSES.CFG:2: CREDITS is 3000000000, outside 0..2147483647"}},
        {"[DEMO]\nFLAGS=100\n", {"CLASSES.CFG:2: FLAGS: '100' is not a hexadecimal byte 00..FF"}},
        {"[DEMO]\nFLAGS=10\n",
         {"CLASSES.CFG:2: FLAGS of class DEMO has bit 10 (switch when credits are posted) but no AUTO_SWITCH class"}},
        {"[DEMO]\nAUTO_SWITCH=USER\n",
         {"CLASSES.CFG:2: AUTO_SWITCH names USER, which is not a class of this file"}},
        {"[DEMO]\nDESCRIPTION=0123456789012345678901234567890123456789\n",
         {"CLASSES.CFG:2: DESCRIPTION is longer than 39 characters"}},
        {"[DEMO]\njust words\n", {"CLASSES.CFG:2: expected [CLASS] or KEY=VALUE, found 'just words'"}},
        {"# nothing\n", {"CLASSES.CFG: defines no class"}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(bbs::parse_classes("CLASSES.CFG", c.text).errors, c.errors) << c.text;
    }
}

TEST(Classes, AutoSwitchMatchesAClassDefinedLaterWithCaseIgnored) {
    bbs::ClassesConfig c = bbs::parse_classes("CLASSES.CFG", "[DEMO]\nAUTO_SWITCH=user\nFLAGS=10\n[USER]\n");
    EXPECT_EQ(c.errors, std::vector<std::string>{});
    EXPECT_EQ(c.classes[0].auto_switch, "user");
}

}  // namespace
