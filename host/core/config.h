// The host's configuration: WGSERV.CFG (the plug-ins to load and the host's
// settings) and CLASSES.CFG (the BBS's user classes). Formats:
// docs/configuration.md and the heads of config.cpp.
#ifndef BBS_CONFIG_H
#define BBS_CONFIG_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bbs {

enum class ClockMode { offset, system };

// A plug-in named by a DLL= line.
struct DllLine {
    std::string name;   // as written ("KRVFV")
    int line = 0;
};

// WGSERV.CFG read. Every field holds its value from the file, or its
// default when the file does not set it. The defaults, ranges and help are
// in one table (host_settings()).
struct HostConfig {
    std::vector<DllLine> dlls;              // in load order
    std::string address;                    // ADDRESS: IP address to listen on
    int port = 0;                           // PORT
    int lines = 0;                          // LINES: 1 to 256
    std::vector<int> channels;              // CHANNELS: hardware channel of each line, exactly `lines` of them
    int cleanup_minutes = 0;                // CLEANUP_TIME: minutes after midnight
    ClockMode clock_mode = ClockMode::offset;  // CLOCK_MODE
    int idle_warn_seconds = 0;              // IDLE_WARN_SECONDS: 0 = never
    int idle_limit_seconds = 0;             // IDLE_LIMIT_SECONDS: 0 = never
    int output_buffer = 0;                  // OUTPUT_BUFFER: outbsz
    int line_output_room = 0;               // LINE_OUTPUT_ROOM
    std::string new_user_class;             // NEW_USER_CLASS
    std::string sample_key;                 // SAMPLE_KEY: empty = none
    int input_limit = 0;                    // INPUT_LIMIT
    int output_stall_seconds = 0;           // OUTPUT_STALL_SECONDS

    std::vector<std::string> errors;        // "WGSERV.CFG:LINE: ..."; the host serves only when empty
};

// Reads the file at `path`; a file that cannot be read gives the defaults
// and one error.
HostConfig load_host_config(const std::string &path);
// The same from text; errors name `file_name`.
HostConfig parse_host_config(const std::string &file_name, std::string_view text);

// A setting as the operator sees it, for help and templates.
struct SettingInfo {
    const char *key;
    const char *default_text;   // as written in the file ("" for none)
    std::string allowed;        // "1..65535", "offset or system", ...
    const char *help;
};
std::vector<SettingInfo> host_settings();

// The longest class name: it must fit the account's previous_class_name
// field (16 bytes with the NUL) as well as class_name.
constexpr size_t kMaxClassName = 15;

// One class of CLASSES.CFG.
struct ClassDefinition {
    std::string name;                 // [NAME]
    std::string description;          // DESCRIPTION: at most 39 characters
    std::vector<std::string> keys;    // KEYS: the keys its members hold
    std::string auto_switch;          // AUTO_SWITCH: a class of the file, or empty
    uint8_t flags = 0;                // FLAGS: class_flags (hexadecimal in the file)
    int32_t credits = 0;              // CREDITS: credits a new account starts with
    int line = 0;                     // line of its [NAME]
};

struct ClassesConfig {
    std::vector<ClassDefinition> classes;   // in file order
    std::vector<std::string> errors;
};

ClassesConfig load_classes(const std::string &path);
ClassesConfig parse_classes(const std::string &file_name, std::string_view text);

}  // namespace bbs

#endif
