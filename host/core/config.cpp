// WGSERV.CFG and CLASSES.CFG.
//
// WGSERV.CFG holds KEY=VALUE lines (see config_lines.h for blanks, comments
// and line ends). DLL=NAME lines name the plug-ins in load order; every
// other key is one of the settings of the table below, each at most once.
// An unknown key is an error: a misspelt setting must not fall back to its
// default unnoticed.
//
// CLASSES.CFG holds one section per user class:
//
//     [DEMO]
//     DESCRIPTION=Visitors trying the board
//     KEYS=
//     AUTO_SWITCH=USER
//     FLAGS=10        # hexadecimal class_flags; 10: switch to AUTO_SWITCH when credits are posted
//     CREDITS=0       # credits a new account starts with
//
// Keys left out take the values shown above, except AUTO_SWITCH (none) and
// FLAGS (0).
#include "config.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

#include "config_lines.h"

namespace bbs {
namespace {

enum class Kind { number, class_name, key_name, address, time_of_day, clock_mode, channels };

struct Setting {
    const char *key;
    Kind kind;
    const char *default_text;
    long long minimum, maximum;       // number: the range; names: the length
    const char *help;
    const char *note;                 // why the range is what it is, shown with a range error
    int HostConfig::*number_field;
    std::string HostConfig::*text_field;
};

// The one table of host settings: name, kind, default, range and help.
const Setting kSettings[] = {
    {"ADDRESS", Kind::address, "127.0.0.1", 0, 0, "IP address on which callers are taken (IPv4 or IPv6)", nullptr,
     nullptr, &HostConfig::address},
    {"PORT", Kind::number, "2323", 1, 65535, "TCP port on which callers are taken (telnet)", nullptr,
     &HostConfig::port, nullptr},
    {"LINES", Kind::number, "16", 1, 256, "number of lines, that is of callers at once",
     "the plug-ins keep tables of 256 lines", &HostConfig::lines, nullptr},
    {"CHANNELS", Kind::channels, "", 0, 0xFF,
     "hardware channel number of each line, in hexadecimal: numbers and ranges separated by commas, such as "
     "00-0F,20-27; line n gets the n-th; when left out, line n gets n",
     nullptr, nullptr, nullptr},
    {"CLEANUP_TIME", Kind::time_of_day, "03:00", 0, 0, "time of day of the daily clean-up, HH:MM", nullptr, nullptr,
     nullptr},
    {"CLOCK_MODE", Kind::clock_mode, "offset", 0, 0,
     "how a change of the time of day is applied: offset (the BBS keeps its own offset from the machine's clock) "
     "or system (the machine's clock is set, which needs the privilege to do so)",
     nullptr, nullptr, nullptr},
    {"IDLE_WARN_SECONDS", Kind::number, "600", 0, 86400, "seconds without input before a caller is warned; 0: never",
     nullptr, &HostConfig::idle_warn_seconds, nullptr},
    {"IDLE_LIMIT_SECONDS", Kind::number, "900", 0, 86400,
     "seconds without input before a caller is logged off; 0: never", nullptr, &HostConfig::idle_limit_seconds,
     nullptr},
    {"OUTPUT_BUFFER", Kind::number, "8192", 1024, 65536, "bytes of pending output one routine call may build (outbsz)",
     nullptr, &HostConfig::output_buffer, nullptr},
    {"LINE_OUTPUT_ROOM", Kind::number, "16384", 2048, 1048576,
     "bytes of output waiting to be sent that a line holds", nullptr, &HostConfig::line_output_room, nullptr},
    {"NEW_USER_CLASS", Kind::class_name, "DEMO", 1, static_cast<long long>(kMaxClassName),
     "class a new account starts in (a class of CLASSES.CFG)", nullptr, nullptr, &HostConfig::new_user_class},
    {"SAMPLE_KEY", Kind::key_name, "", 0, 64, "key that spares a caller the deadbeat refusal; empty: none", nullptr,
     nullptr, &HostConfig::sample_key},
    {"INPUT_LIMIT", Kind::number, "255", 1, 255, "longest input line a caller may type, in characters", nullptr,
     &HostConfig::input_limit, nullptr},
    {"OUTPUT_STALL_SECONDS", Kind::number, "120", 1, 86400,
     "seconds a caller's output may wait untaken before he is disconnected (a caller who stopped reading)", nullptr,
     &HostConfig::output_stall_seconds, nullptr},
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_digit(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool all_digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), is_digit);
}

std::string hex2(int v) {
    const char *digits = "0123456789ABCDEF";
    return std::string{digits[(v >> 4) & 15], digits[v & 15]};
}

// A plain decimal number within lo..hi. The empty string when it is one,
// else the reason, naming `what` and the range.
std::string read_decimal(std::string_view value, const std::string &what, long long lo, long long hi, long long &out,
                         const char *note = nullptr) {
    std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    if (!all_digits(value)) return what + ": '" + std::string(value) + "' is not a whole number (" + range + ")";
    auto r = std::from_chars(value.data(), value.data() + value.size(), out);
    if (r.ec != std::errc() || out < lo || out > hi) {
        std::string why = what + " is " + std::string(value) + ", outside " + range;
        return note ? why + " (" + note + ")" : why;
    }
    return "";
}

// A class name: letters, digits, '_' and '-', at most kMaxClassName.
std::string check_class_name(std::string_view name, const std::string &what) {
    if (name.empty()) return what + " is empty";
    if (name.size() > kMaxClassName)
        return what + " '" + std::string(name) + "' is longer than " + std::to_string(kMaxClassName) + " characters";
    for (char c : name) {
        if (!(is_digit(c) || c == '_' || c == '-' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return what + " '" + std::string(name) + "' may hold only letters, digits, '_' and '-'";
    }
    return "";
}

// A key name: printable, no blanks or commas (KEYS lists are split on them).
bool is_key_name(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) > ' ' && c != ',' && c != 127;
    });
}

// "00-0F,20-27": each piece a hexadecimal number or range within 0..FF.
std::string read_channels(std::string_view value, std::vector<int> &out) {
    if (value.empty()) return "CHANNELS is empty";
    std::vector<bool> seen(256, false);
    while (true) {
        size_t comma = value.find(',');
        std::string_view piece = value.substr(0, comma);
        while (!piece.empty() && (piece.front() == ' ' || piece.front() == '\t')) piece.remove_prefix(1);
        while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) piece.remove_suffix(1);
        size_t dash = piece.find('-');
        std::string_view first = piece.substr(0, dash);
        std::string_view last = dash == std::string_view::npos ? first : piece.substr(dash + 1);
        int lo = -1, hi = -1;
        for (auto [text, number] : {std::pair{first, &lo}, std::pair{last, &hi}}) {
            if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), is_hex_digit))
                return "CHANNELS: '" + std::string(piece) +
                       "' is not a hexadecimal channel number 00..FF or a range such as 20-27";
            std::from_chars(text.data(), text.data() + text.size(), *number, 16);
        }
        if (lo > hi) return "CHANNELS: the range " + std::string(piece) + " runs backwards";
        for (int c = lo; c <= hi; ++c) {
            if (seen[static_cast<size_t>(c)]) return "CHANNELS: channel " + hex2(c) + " is given twice";
            seen[static_cast<size_t>(c)] = true;
            out.push_back(c);
        }
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return "";
}

std::string allowed_text(const Setting &s) {
    switch (s.kind) {
    case Kind::number: return std::to_string(s.minimum) + ".." + std::to_string(s.maximum);
    case Kind::class_name: return "a class name of 1 to " + std::to_string(s.maximum) + " characters";
    case Kind::key_name: return "a key name (no blanks or commas), or empty";
    case Kind::address: return "an IPv4 or IPv6 address";
    case Kind::time_of_day: return "00:00..23:59";
    case Kind::clock_mode: return "offset or system";
    case Kind::channels: return "hexadecimal 00..FF, at least LINES of them";
    }
    return "";
}

// Puts `value` into the setting's field. The empty string when it did,
// else what is wrong with it.
std::string store(HostConfig &cfg, const Setting &s, std::string_view value) {
    const std::string key = s.key;
    long long n = 0;
    switch (s.kind) {
    case Kind::number: {
        std::string why = read_decimal(value, key, s.minimum, s.maximum, n, s.note);
        if (why.empty()) cfg.*s.number_field = static_cast<int>(n);
        return why;
    }
    case Kind::class_name: {
        std::string why = check_class_name(value, key);
        if (why.empty()) cfg.*s.text_field = value;
        return why;
    }
    case Kind::key_name:
        if (!value.empty() && !is_key_name(value))
            return key + ": '" + std::string(value) + "' is not a key name (no blanks or commas)";
        if (value.size() > static_cast<size_t>(s.maximum))
            return key + " is longer than " + std::to_string(s.maximum) + " characters";
        cfg.*s.text_field = value;
        return "";
    case Kind::address: {
        unsigned char buffer[16];
        std::string text(value);
        if (inet_pton(AF_INET, text.c_str(), buffer) != 1 && inet_pton(AF_INET6, text.c_str(), buffer) != 1)
            return key + ": '" + text + "' is not an IPv4 or IPv6 address such as 127.0.0.1 or ::1";
        cfg.*s.text_field = text;
        return "";
    }
    case Kind::time_of_day: {
        size_t colon = value.find(':');
        long long hour = 0, minute = 0;
        std::string_view h = value.substr(0, colon);
        std::string_view m = colon == std::string_view::npos ? std::string_view() : value.substr(colon + 1);
        if (h.empty() || h.size() > 2 || m.size() != 2 || !all_digits(h) || !all_digits(m) ||
            !read_decimal(h, key, 0, 23, hour).empty() || !read_decimal(m, key, 0, 59, minute).empty())
            return key + ": '" + std::string(value) + "' is not a time of day HH:MM (00:00..23:59)";
        cfg.cleanup_minutes = static_cast<int>(hour * 60 + minute);
        return "";
    }
    case Kind::clock_mode:
        if (same_key(value, "offset")) {
            cfg.clock_mode = ClockMode::offset;
        } else if (same_key(value, "system")) {
            cfg.clock_mode = ClockMode::system;
        } else {
            return key + ": '" + std::string(value) + "' is neither offset nor system";
        }
        return "";
    case Kind::channels: {
        std::vector<int> channels;
        std::string why = read_channels(value, channels);
        if (why.empty()) cfg.channels = std::move(channels);
        return why;
    }
    }
    return key + ": unknown kind";
}

std::string known_keys() {
    std::string out = "DLL";
    for (const Setting &s : kSettings) out += std::string(", ") + s.key;
    return out;
}

}  // namespace

std::vector<SettingInfo> host_settings() {
    std::vector<SettingInfo> out;
    for (const Setting &s : kSettings) out.push_back({s.key, s.default_text, allowed_text(s), s.help});
    return out;
}

HostConfig parse_host_config(const std::string &file_name, std::string_view text) {
    HostConfig cfg;
    for (const Setting &s : kSettings) {
        if (s.kind == Kind::channels) continue;  // its default follows LINES, below
        std::string why = store(cfg, s, s.default_text);
        if (!why.empty()) cfg.errors.push_back(file_name + ": default of " + why);  // a fault of the table itself
    }
    auto error = [&](int line, const std::string &what) {
        cfg.errors.push_back(file_name + ":" + std::to_string(line) + ": " + what);
    };

    std::map<std::string, int> set_on;    // setting key -> line that set it
    std::map<std::string, int> dll_on;    // DLL name, upper case -> its line
    for (const ConfigLine &l : read_config_lines(text)) {
        if (l.type == ConfigLine::section) {
            error(l.number, "sections are not used in this file ('[" + l.key + "]')");
            continue;
        }
        if (l.type == ConfigLine::malformed) {
            error(l.number, "expected KEY=VALUE, found '" + l.value + "'");
            continue;
        }
        if (same_key(l.key, "DLL")) {
            std::string upper = l.value;
            for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            bool plain = !l.value.empty() && l.value[0] != '.' &&
                         std::all_of(l.value.begin(), l.value.end(), [](char c) {
                             return is_digit(c) || c == '_' || c == '-' || c == '.' || (c >= 'a' && c <= 'z') ||
                                    (c >= 'A' && c <= 'Z');
                         });
            if (l.value.empty()) {
                error(l.number, "DLL= names no plug-in");
            } else if (!plain) {
                error(l.number, "DLL=" + l.value + ": a plug-in name holds only letters, digits, '_', '-' and '.'");
            } else if (auto [it, fresh] = dll_on.try_emplace(upper, l.number); !fresh) {
                error(l.number, "DLL=" + l.value + " is listed twice (first on line " + std::to_string(it->second) + ")");
            } else {
                cfg.dlls.push_back({l.value, l.number});
            }
            continue;
        }
        const Setting *setting = nullptr;
        for (const Setting &s : kSettings)
            if (same_key(l.key, s.key)) setting = &s;
        if (setting == nullptr) {
            error(l.number, "unknown setting '" + l.key + "' (known: " + known_keys() + ")");
            continue;
        }
        if (auto [it, fresh] = set_on.try_emplace(setting->key, l.number); !fresh) {
            error(l.number, std::string(setting->key) + " is set twice (first on line " + std::to_string(it->second) + ")");
            continue;
        }
        std::string why = store(cfg, *setting, l.value);
        if (!why.empty()) error(l.number, why);
    }

    // What one setting says about another.
    if (auto it = set_on.find("CHANNELS"); it == set_on.end()) {
        for (int n = 0; n < cfg.lines; ++n) cfg.channels.push_back(n);
    } else if (!cfg.channels.empty()) {
        if (cfg.channels.size() < static_cast<size_t>(cfg.lines)) {
            error(it->second, "CHANNELS gives " + std::to_string(cfg.channels.size()) + " channel numbers for " +
                                  std::to_string(cfg.lines) + " lines");
        } else {
            cfg.channels.resize(static_cast<size_t>(cfg.lines));
        }
    }
    if (cfg.idle_warn_seconds != 0 && cfg.idle_limit_seconds != 0 &&
        cfg.idle_warn_seconds >= cfg.idle_limit_seconds) {
        int line = set_on.count("IDLE_WARN_SECONDS") ? set_on["IDLE_WARN_SECONDS"] : set_on["IDLE_LIMIT_SECONDS"];
        error(line, "IDLE_WARN_SECONDS (" + std::to_string(cfg.idle_warn_seconds) +
                        ") must be below IDLE_LIMIT_SECONDS (" + std::to_string(cfg.idle_limit_seconds) + ")");
    }
    if (cfg.line_output_room < cfg.output_buffer) {
        int line = set_on.count("LINE_OUTPUT_ROOM") ? set_on["LINE_OUTPUT_ROOM"] : set_on["OUTPUT_BUFFER"];
        error(line, "LINE_OUTPUT_ROOM (" + std::to_string(cfg.line_output_room) +
                        ") is below OUTPUT_BUFFER (" + std::to_string(cfg.output_buffer) +
                        "): a full output buffer must fit a line's room");
    }
    return cfg;
}

HostConfig load_host_config(const std::string &path) {
    std::string text, why;
    if (!read_whole_file(path, text, why)) {
        HostConfig cfg = parse_host_config(base_name(path), "");
        cfg.errors.push_back(cannot_read(path, why));
        return cfg;
    }
    return parse_host_config(base_name(path), text);
}

// ------------------------------------------------------------- CLASSES.CFG

ClassesConfig parse_classes(const std::string &file_name, std::string_view text) {
    ClassesConfig out;
    auto error = [&](int line, const std::string &what) {
        out.errors.push_back(file_name + ":" + std::to_string(line) + ": " + what);
    };
    static const char *const keys[] = {"DESCRIPTION", "KEYS", "AUTO_SWITCH", "FLAGS", "CREDITS"};
    // Lines of each key in the current class, to refuse a key set twice and
    // to name the line in the checks made once the whole file is read.
    std::vector<std::map<std::string, int>> key_lines;
    bool in_bad_section = false;

    for (const ConfigLine &l : read_config_lines(text)) {
        if (l.type == ConfigLine::malformed) {
            error(l.number, "expected [CLASS] or KEY=VALUE, found '" + l.value + "'");
            continue;
        }
        if (l.type == ConfigLine::section) {
            in_bad_section = true;
            if (std::string why = check_class_name(l.key, "class name"); !why.empty()) {
                error(l.number, why);
                continue;
            }
            auto same = std::find_if(out.classes.begin(), out.classes.end(),
                                     [&](const ClassDefinition &c) { return same_key(c.name, l.key); });
            if (same != out.classes.end()) {
                error(l.number, "class " + l.key + " is defined twice (first on line " + std::to_string(same->line) + ")");
                continue;
            }
            in_bad_section = false;
            ClassDefinition c;
            c.name = l.key;
            c.line = l.number;
            out.classes.push_back(std::move(c));
            key_lines.emplace_back();
            continue;
        }
        if (in_bad_section) continue;  // its header was refused already
        if (out.classes.empty()) {
            error(l.number, l.key + "= stands before the first [CLASS] line");
            continue;
        }
        ClassDefinition &c = out.classes.back();
        const char *key = nullptr;
        for (const char *k : keys)
            if (same_key(l.key, k)) key = k;
        if (key == nullptr) {
            error(l.number, "unknown key '" + l.key + "' (known: DESCRIPTION, KEYS, AUTO_SWITCH, FLAGS, CREDITS)");
            continue;
        }
        if (auto [it, fresh] = key_lines.back().try_emplace(key, l.number); !fresh) {
            error(l.number, std::string(key) + " is set twice in class " + c.name + " (first on line " +
                                std::to_string(it->second) + ")");
            continue;
        }
        const std::string k = key;
        if (k == "DESCRIPTION") {
            if (l.value.size() > 39) {
                error(l.number, "DESCRIPTION is longer than 39 characters");
            } else {
                c.description = l.value;
            }
        } else if (k == "KEYS") {
            std::string word;
            for (size_t i = 0; i <= l.value.size(); ++i) {
                char ch = i < l.value.size() ? l.value[i] : ',';
                if (ch == ',' || ch == ' ' || ch == '\t') {
                    if (!word.empty()) c.keys.push_back(word);
                    word.clear();
                } else {
                    word += ch;
                }
            }
            auto bad = std::find_if(c.keys.begin(), c.keys.end(), [](const std::string &w) { return !is_key_name(w); });
            if (bad != c.keys.end()) error(l.number, "KEYS: '" + *bad + "' is not a key name");
        } else if (k == "AUTO_SWITCH") {
            if (l.value.empty()) {
                c.auto_switch.clear();
            } else if (std::string why = check_class_name(l.value, "AUTO_SWITCH"); !why.empty()) {
                error(l.number, why);
            } else {
                c.auto_switch = l.value;
            }
        } else if (k == "FLAGS") {
            long long v = 0;
            if (l.value.empty() || l.value.size() > 2 || !std::all_of(l.value.begin(), l.value.end(), is_hex_digit)) {
                error(l.number, "FLAGS: '" + l.value + "' is not a hexadecimal byte 00..FF");
            } else {
                std::from_chars(l.value.data(), l.value.data() + l.value.size(), v, 16);
                c.flags = static_cast<uint8_t>(v);
            }
        } else {  // CREDITS
            long long v = 0;
            if (std::string why = read_decimal(l.value, "CREDITS", 0, INT32_MAX, v); !why.empty()) {
                error(l.number, why);
            } else {
                c.credits = static_cast<int32_t>(v);
            }
        }
    }

    for (size_t i = 0; i < out.classes.size(); ++i) {
        const ClassDefinition &c = out.classes[i];
        std::map<std::string, int> &lines = key_lines[i];
        if (!c.auto_switch.empty()) {
            bool exists = std::any_of(out.classes.begin(), out.classes.end(),
                                      [&](const ClassDefinition &o) { return same_key(o.name, c.auto_switch); });
            if (!exists) error(lines["AUTO_SWITCH"], "AUTO_SWITCH names " + c.auto_switch + ", which is not a class of this file");
        }
        if ((c.flags & 0x10) != 0 && c.auto_switch.empty() && lines.count("FLAGS")) {
            error(lines["FLAGS"], "FLAGS of class " + c.name + " has bit 10 (switch when credits are posted) but no AUTO_SWITCH class");
        }
    }
    if (out.classes.empty() && out.errors.empty()) out.errors.push_back(file_name + ": defines no class");
    return out;
}

ClassesConfig load_classes(const std::string &path) {
    std::string text, why;
    if (!read_whole_file(path, text, why)) {
        ClassesConfig out;
        out.errors.push_back(cannot_read(path, why));
        return out;
    }
    return parse_classes(base_name(path), text);
}

}  // namespace bbs
