// Message files and message blocks.
//
// A message file is text that the operator edits. Each entry starts at the
// beginning of a line:
//
//     # a comment: '#' outside a quoted text runs to the end of the line
//     14 CB_WAIT_NOT_OVER message = "You may call again on %s at %s.\n"
//     20 FBK_HELP message =
//         "First line\n"
//         "Second line\n"
//     2 CB_KEY text "Key whose holders need not wait" = "SYSOP"
//     5 CB_DELAY_SECONDS number 0..7200 "Seconds a caller waits" = 600
//     9 CR_BIG long 0..2000000 "Largest allotment" = 100000
//     3 CB_FIRST_CHANNEL hex 0..FF "First channel of the range" = 0
//     6 CB_AUDIT yesno "Write an audit entry for each refusal" = yes
//
// number NAME kind [range] ["help"] = value
//
// - number: 0 to 32767, each at most once in a file; NAME: letters, digits
//   and '_', not starting with a digit, each at most once in a file.
// - kind: message, text, number (32-bit), long (64-bit), hex (unsigned
//   32-bit, range and value in hexadecimal without a prefix) or yesno.
// - number, long and hex take a range MIN..MAX, the values the operator may
//   give; the plug-in's own range is checked again when it reads the option.
// - every option has one quoted line of help; a message may have one.
// - a message or text is one or more quoted texts, joined. They may go on
//   over the following lines, which are indented; a text may be empty ("").
//   Escapes: \n \t \r \a \\ \" and \xHH (two hexadecimal digits, not 00).
// - a yesno value is yes or no, case ignored.
//
// Blank lines and comment lines are ignored everywhere. A file with any
// error is refused whole, and every error found is reported with the file
// and the line, so that the operator can mend them all in one go.
//
// The host formats message texts with the plug-in's arguments, so each
// printf conversion in a message must be one the plug-ins can only pass
// plain numbers, characters and texts to (see scan_conversions); anything
// else (%n, %*d, %f, %p, ...) is refused when the file is read.
#include "msgfile.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <utility>

#include "config_lines.h"
#include "core.h"

namespace bbs {
namespace {

constexpr std::string_view kKindList = "message, text, number, long, hex or yesno";

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex_digit(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hex_value(char c) { return is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

bool is_name(std::string_view s) {
    if (s.empty() || is_digit(s[0])) return false;
    for (char c : s)
        if (!(is_digit(c) || c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    return true;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) { return same_key(a, b); }

// A text fit to be quoted in an error: control bytes are shown as \xHH.
std::string printable(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 32 || c == 127) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool is_ranged(EntryKind kind) {
    return kind == EntryKind::number || kind == EntryKind::long_number || kind == EntryKind::hex;
}
bool is_textual(EntryKind kind) { return kind == EntryKind::message || kind == EntryKind::text; }

// What the value of each ranged kind must fit: the result type of the
// operation that reads it.
void kind_limits(EntryKind kind, long long &lo, long long &hi) {
    switch (kind) {
    case EntryKind::number: lo = INT_MIN; hi = INT_MAX; break;
    case EntryKind::long_number: lo = LONG_MIN; hi = LONG_MAX; break;
    case EntryKind::hex: lo = 0; hi = UINT_MAX; break;
    default: lo = hi = 0; break;
    }
}

std::string format_value(long long v, bool hex) {
    char buf[32];
    if (hex)
        snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    else
        snprintf(buf, sizeof buf, "%lld", v);
    return buf;
}

std::string format_range(long long lo, long long hi, bool hex) {
    return format_value(lo, hex) + ".." + format_value(hi, hex);
}

// Reads a number of the kind's notation. The empty string when it is one,
// otherwise the reason it is not.
std::string parse_number(std::string_view w, EntryKind kind, long long &v) {
    long long lo, hi;
    kind_limits(kind, lo, hi);
    const char *kind_word = entry_kind_word(kind);
    if (kind == EntryKind::hex) {
        bool ok = !w.empty();
        for (char c : w) ok = ok && is_hex_digit(c);
        if (!ok) return "'" + printable(w) + "' is not a hexadecimal number";
        unsigned long long u = 0;
        auto r = std::from_chars(w.data(), w.data() + w.size(), u, 16);
        if (r.ec != std::errc() || u > static_cast<unsigned long long>(hi))
            return "'" + std::string(w) + "' is too large for a hex option (at most " + format_value(hi, true) + ")";
        v = static_cast<long long>(u);
        return "";
    }
    std::string_view digits = w;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
    bool ok = !digits.empty();
    for (char c : digits) ok = ok && is_digit(c);
    if (!ok) return "'" + printable(w) + "' is not a decimal number";
    std::string text(w[0] == '+' ? w.substr(1) : w);
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || v < lo || v > hi)
        return "'" + text + "' does not fit a " + kind_word + " option (" + format_range(lo, hi, false) + ")";
    return "";
}

// A cursor over one line of the file.
struct Cursor {
    std::string_view s;
    int line = 0;
    size_t pos = 0;

    void skip_blanks() {
        while (pos < s.size() && is_blank(s[pos])) ++pos;
    }
    // At the end of the line or of what precedes a comment.
    bool at_end() const { return pos >= s.size() || s[pos] == '#'; }
    char peek() const { return pos < s.size() ? s[pos] : '\0'; }
    // A run of characters up to a blank, '=', '"' or '#'.
    std::string_view word() {
        size_t start = pos;
        while (pos < s.size() && !is_blank(s[pos]) && s[pos] != '=' && s[pos] != '"' && s[pos] != '#') ++pos;
        return s.substr(start, pos - start);
    }
    // What stands at the cursor, for an error ("'xyz'", "a quoted text").
    std::string describe_next() {
        if (pos >= s.size()) return "the end of the line";
        if (s[pos] == '"') return "a quoted text";
        size_t save = pos;
        std::string_view w = word();
        pos = save;
        return "'" + printable(w.empty() ? s.substr(pos, 1) : w) + "'";
    }
};

// Decodes the quoted text at the cursor (which stands on its opening quote)
// and appends it to `out`. The empty string on success, else the reason.
std::string read_quoted(Cursor &c, std::string &out) {
    ++c.pos;  // the opening quote
    while (c.pos < c.s.size()) {
        char ch = c.s[c.pos++];
        if (ch == '"') return "";
        if (ch == '\0') return "a NUL byte inside a quoted text";
        if (ch != '\\') {
            out += ch;
            continue;
        }
        if (c.pos >= c.s.size()) break;
        char e = c.s[c.pos++];
        switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'a': out += '\a'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            if (c.pos + 2 > c.s.size() || !is_hex_digit(c.s[c.pos]) || !is_hex_digit(c.s[c.pos + 1]))
                return "\\x must be followed by two hexadecimal digits";
            int v = hex_value(c.s[c.pos]) * 16 + hex_value(c.s[c.pos + 1]);
            c.pos += 2;
            if (v == 0) return "\\x00 is not allowed: it would end the text";
            out += static_cast<char>(v);
            break;
        }
        default:
            return "bad escape '\\" + printable(std::string_view(&e, 1)) +
                   "' (known: \\n \\t \\r \\a \\\\ \\\" \\xHH)";
        }
    }
    return "unterminated quoted text (a text that goes on to the next line needs a closing quote "
           "here and a new opening quote there)";
}

struct SourceLine {
    int number;
    std::string_view text;
};

// An entry: its first line and its indented continuation lines.
struct Group {
    SourceLine head;
    std::vector<SourceLine> more;
};

class Parser {
public:
    Parser(const std::string &file, std::vector<std::string> &errors) : file_(file), errors_(errors) {}

    std::optional<MessageFile> parse(std::string_view text) {
        const size_t before = errors_.size();
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
        std::vector<Group> groups;
        for_each_line(text, [&](int number, std::string_view line) {
            size_t first = 0;
            while (first < line.size() && is_blank(line[first])) ++first;
            if (first == line.size() || line[first] == '#') return;
            if (first == 0) {
                groups.push_back(Group{{number, line}, {}});
            } else if (groups.empty()) {
                error(number, "indented line before the first entry (entries start at the beginning of a line)");
            } else {
                groups.back().more.push_back({number, line});
            }
        });
        for (const Group &g : groups) parse_entry(g);
        if (errors_.size() != before) return std::nullopt;
        return std::move(result_);
    }

private:
    void error(int line, const std::string &what) {
        errors_.push_back(file_ + ":" + std::to_string(line) + ": " + what);
    }

    static std::string label(EntryKind kind, int number, const std::string &name) {
        return std::string(kind == EntryKind::message ? "message " : "option ") + std::to_string(number) + " (" +
               name + ")";
    }

    void parse_entry(const Group &g) {
        Cursor c{g.head.text, g.head.number};
        MessageEntry e;
        e.line = g.head.number;

        std::string_view w = c.word();
        bool digits = !w.empty();
        for (char ch : w) digits = digits && is_digit(ch);
        if (!digits) {
            c.pos = 0;
            std::string what = "expected an entry number, found " + c.describe_next();
            if (c.peek() == '"') what += "; a text that goes on from the line before must be indented";
            return error(c.line, what);
        }
        auto r = std::from_chars(w.data(), w.data() + w.size(), e.number);
        if (r.ec != std::errc() || e.number > kMaxEntryNumber)
            return error(c.line, "entry number " + std::string(w) + " is outside 0.." + std::to_string(kMaxEntryNumber));

        c.skip_blanks();
        w = c.word();
        if (w.empty()) return error(c.line, "expected a name after number " + std::to_string(e.number) + ", found " + c.describe_next());
        if (!is_name(w))
            return error(c.line, "'" + printable(w) + "' is not a name (letters, digits and '_', not starting with a digit)");
        e.name = w;

        c.skip_blanks();
        w = c.word();
        if (w.empty()) return error(c.line, "missing kind after " + e.name + " (" + std::string(kKindList) + ")");
        static const EntryKind kinds[] = {EntryKind::message, EntryKind::text, EntryKind::number,
                                          EntryKind::long_number, EntryKind::hex, EntryKind::yesno};
        bool known = false;
        for (EntryKind k : kinds) {
            if (equal_ignoring_case(w, entry_kind_word(k))) {
                e.kind = k;
                known = true;
            }
        }
        if (!known) return error(c.line, "unknown kind '" + printable(w) + "' (" + std::string(kKindList) + ")");
        const std::string what = label(e.kind, e.number, e.name);
        const bool hex = e.kind == EntryKind::hex;

        c.skip_blanks();
        if (is_ranged(e.kind)) {
            std::string example = hex ? "0..FF" : "0..100";
            if (c.at_end() || c.peek() == '"' || c.peek() == '=')
                return error(c.line, "missing range for " + what + ": write MIN..MAX after the kind, e.g. " + example);
            w = c.word();
            size_t dots = w.find("..");
            if (dots == std::string_view::npos)
                return error(c.line, "bad range '" + printable(w) + "' for " + what + ": write MIN..MAX, e.g. " + example);
            std::string why = parse_number(w.substr(0, dots), e.kind, e.minimum);
            if (why.empty()) why = parse_number(w.substr(dots + 2), e.kind, e.maximum);
            if (!why.empty()) return error(c.line, "bad range '" + printable(w) + "' for " + what + ": " + why);
            if (e.minimum > e.maximum)
                return error(c.line, "range " + format_range(e.minimum, e.maximum, hex) + " of " + what + " is empty");
            c.skip_blanks();
        } else if (!c.at_end() && c.peek() != '"' && c.peek() != '=') {
            size_t save = c.pos;
            w = c.word();
            if (w.find("..") != std::string_view::npos)
                return error(c.line, what + " is a " + entry_kind_word(e.kind) + " and takes no range");
            c.pos = save;
            return error(c.line, "unexpected " + c.describe_next() + " after the kind of " + what);
        }

        if (c.peek() == '"') {
            std::string why = read_quoted(c, e.help);
            if (!why.empty()) return error(c.line, why);
            if (e.help.empty() && e.kind != EntryKind::message) return error(c.line, "empty help for " + what);
            c.skip_blanks();
        } else if (e.kind != EntryKind::message) {
            return error(c.line, "missing help for " + what + ": one quoted line saying what it does, before '='");
        }

        if (c.peek() != '=') return error(c.line, "missing '=' before the value of " + what + ", found " + c.describe_next());
        ++c.pos;
        c.skip_blanks();

        if (is_textual(e.kind)) {
            if (!parse_text_value(c, g, e, what)) return;
        } else {
            if (!parse_scalar_value(c, g, e, what)) return;
        }

        if (auto [it, fresh] = result_.entries.try_emplace(e.number); !fresh) {
            return error(e.line, "number " + std::to_string(e.number) + " appears twice (first on line " +
                                     std::to_string(it->second.line) + ")");
        }
        if (auto [it, fresh] = names_.try_emplace(e.name, e.line); !fresh) {
            result_.entries.erase(e.number);
            return error(e.line, "name " + e.name + " appears twice (first on line " + std::to_string(it->second) + ")");
        }
        result_.entries[e.number] = std::move(e);
    }

    // The quoted texts after '=' and on the continuation lines, joined.
    bool parse_text_value(Cursor &c, const Group &g, MessageEntry &e, const std::string &what) {
        // Where each piece starts in the joined text, and its line, so that a
        // bad conversion is reported on the line where it stands.
        std::vector<std::pair<size_t, int>> pieces;
        bool any = false;
        auto read_line = [&](Cursor &lc) {
            for (;;) {
                lc.skip_blanks();
                if (lc.at_end()) return true;
                if (lc.peek() != '"') {
                    error(lc.line, "expected a quoted text in " + what + ", found " + lc.describe_next());
                    return false;
                }
                pieces.emplace_back(e.text.size(), lc.line);
                std::string why = read_quoted(lc, e.text);
                if (!why.empty()) {
                    error(lc.line, why);
                    return false;
                }
                any = true;
            }
        };
        if (!read_line(c)) return false;
        for (const SourceLine &more : g.more) {
            Cursor mc{more.text, more.number};
            if (!read_line(mc)) return false;
        }
        if (!any) {
            error(c.line, "missing text after '=' for " + what + " (write \"\" for an empty text)");
            return false;
        }
        if (e.kind == EntryKind::message) {
            std::vector<Conversion> conversions;
            std::string why;
            size_t offset = 0;
            if (!scan_conversions(e.text, conversions, why, offset)) {
                int line = pieces.front().second;
                for (const auto &[start, piece_line] : pieces)
                    if (start <= offset) line = piece_line;
                error(line, what + ": " + why);
                return false;
            }
        }
        return true;
    }

    bool parse_scalar_value(Cursor &c, const Group &g, MessageEntry &e, const std::string &what) {
        const bool hex = e.kind == EntryKind::hex;
        std::string_view w = c.word();
        if (w.empty()) {
            error(c.line, "missing value after '=' for " + what + ", found " + c.describe_next());
            return false;
        }
        if (e.kind == EntryKind::yesno) {
            if (equal_ignoring_case(w, "yes")) {
                e.value = 1;
            } else if (equal_ignoring_case(w, "no")) {
                e.value = 0;
            } else {
                error(c.line, what + " is yes or no, not '" + printable(w) + "'");
                return false;
            }
        } else {
            std::string why = parse_number(w, e.kind, e.value);
            if (!why.empty()) {
                error(c.line, what + ": " + why);
                return false;
            }
            if (e.value < e.minimum || e.value > e.maximum) {
                error(c.line, what + " is " + format_value(e.value, hex) + ", outside its range " +
                                  format_range(e.minimum, e.maximum, hex));
                return false;
            }
        }
        c.skip_blanks();
        if (!c.at_end()) {
            error(c.line, "unexpected " + c.describe_next() + " after the value of " + what);
            return false;
        }
        if (!g.more.empty()) {
            error(g.more.front().number, "unexpected indented line: " + what + " is a " + entry_kind_word(e.kind) +
                                             ", and only a text goes on over several lines");
            return false;
        }
        return true;
    }

    const std::string &file_;
    std::vector<std::string> &errors_;
    MessageFile result_;
    std::map<std::string, int> names_;
};

}  // namespace

const char *entry_kind_word(EntryKind kind) {
    switch (kind) {
    case EntryKind::message: return "message";
    case EntryKind::text: return "text";
    case EntryKind::number: return "number";
    case EntryKind::long_number: return "long";
    case EntryKind::hex: return "hex";
    case EntryKind::yesno: return "yesno";
    }
    return "?";
}

const MessageEntry *MessageFile::find(int number) const {
    auto it = entries.find(number);
    return it == entries.end() ? nullptr : &it->second;
}

std::optional<MessageFile> parse_message_text(const std::string &file_name, std::string_view text,
                                              std::vector<std::string> &errors) {
    std::optional<MessageFile> file = Parser(file_name, errors).parse(text);
    if (file) file->name = file_name;
    return file;
}

std::optional<MessageFile> parse_message_file(const std::string &path, std::vector<std::string> &errors) {
    std::string text, why;
    if (!read_whole_file(path, text, why)) {
        errors.push_back(cannot_read(path, why));
        return std::nullopt;
    }
    return parse_message_text(base_name(path), text, errors);
}

std::vector<std::string> check_message_file(const std::string &path) {
    std::vector<std::string> errors;
    parse_message_file(path, errors);
    return errors;
}

bool scan_conversions(std::string_view t, std::vector<Conversion> &out, std::string &why, size_t &offset) {
    static constexpr std::string_view kAllowed =
        "; allowed are %d %i %u %x %X %c %s, l before d i u x X, and %% for a percent sign";
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] != '%') continue;
        const size_t start = i++;
        if (i < t.size() && t[i] == '%') continue;
        std::string flags;
        while (i < t.size() && std::string_view("-+ 0#").find(t[i]) != std::string_view::npos) flags += t[i++];
        size_t width_digits = 0, precision_digits = 0;
        while (i < t.size() && is_digit(t[i])) ++i, ++width_digits;
        bool precision = false;
        if (i < t.size() && t[i] == '.') {
            precision = true;
            ++i;
            while (i < t.size() && is_digit(t[i])) ++i, ++precision_digits;
        }
        bool is_long = i < t.size() && t[i] == 'l';
        if (is_long) ++i;
        offset = start;
        if (i >= t.size()) {
            why = "'" + printable(t.substr(start)) + "' at the end of the text is not a conversion" +
                  std::string(kAllowed);
            return false;
        }
        const char conversion = t[i];
        const std::string written(t.substr(start, i - start + 1));
        const std::string quoted = "'" + printable(written) + "'";
        if (std::string_view("diuxXcs").find(conversion) == std::string_view::npos) {
            why = quoted + " is not an allowed conversion" + std::string(kAllowed);
            return false;
        }
        if (width_digits > 3 || precision_digits > 3) {
            why = quoted + ": width and precision are at most 999";
            return false;
        }
        if (is_long && (conversion == 'c' || conversion == 's')) {
            why = quoted + ": l goes only before d i u x X";
            return false;
        }
        if (precision && conversion == 'c') {
            why = quoted + ": a precision does not go with c";
            return false;
        }
        // The flags C defines for each conversion; others are undefined.
        std::string_view defined = conversion == 'd' || conversion == 'i' ? "-+ 0"
                                   : conversion == 'u'                    ? "-0"
                                   : conversion == 'x' || conversion == 'X' ? "-0#"
                                                                            : "-";
        for (char f : flags) {
            if (defined.find(f) == std::string_view::npos) {
                why = quoted + ": flag '" + f + "' does not go with " + conversion;
                return false;
            }
        }
        out.push_back({start, written});
    }
    return true;
}

std::string test_mode_text(int number, std::string_view real_text) {
    std::vector<Conversion> conversions;
    std::string why;
    size_t offset = 0;
    scan_conversions(real_text, conversions, why, offset);  // texts that reach here were checked when parsed
    std::string out = "<" + std::to_string(number);
    for (const Conversion &c : conversions) out += "|" + c.written;
    return out + ">";
}

}  // namespace bbs

// ------------------------------------------------------------- message blocks

// A block is never freed: a plug-in may keep its handle, and NoGhost keeps
// texts that stgopt gave it after it has closed its block, so both must
// stay valid for the life of the process. A closed block gives nothing.
struct message_block {
    std::string name;                                // the file, as errors name it
    std::shared_ptr<const bbs::MessageFile> file;    // null when it did not load
    bool closed = false;
    std::map<int, std::string> option_texts;         // what stgopt handed out, by number
};

namespace {

using bbs::EntryKind;
using bbs::MessageEntry;
using bbs::report_startup_error;

bool g_test_mode = false;
std::vector<std::unique_ptr<message_block>> g_blocks;
message_block *g_current = nullptr;
std::vector<message_block *> g_saved;

// A routine that calls setmbk without rstmbk, again and again, must not make
// the stack grow without end; the oldest saved selections go first.
constexpr size_t kMaxSaved = 256;

// Files already parsed, by path and mode, with the text they were parsed
// from: a second opnmsg of an unchanged file shares the parse.
struct CachedFile {
    std::string text;
    std::shared_ptr<const bbs::MessageFile> file;
};
std::map<std::pair<std::string, bool>, CachedFile> g_cache;

std::shared_ptr<const bbs::MessageFile> load(const std::string &path, const std::string &name, std::string text) {
    auto key = std::make_pair(path, g_test_mode);
    if (auto it = g_cache.find(key); it != g_cache.end() && it->second.text == text) return it->second.file;

    std::vector<std::string> errors;
    std::optional<bbs::MessageFile> parsed = bbs::parse_message_text(name, text, errors);
    for (const std::string &e : errors) report_startup_error(e);
    if (!parsed) return nullptr;
    if (g_test_mode) {
        for (auto &[number, entry] : parsed->entries)
            if (entry.kind == EntryKind::message) entry.text = bbs::test_mode_text(number, entry.text);
    }
    auto file = std::make_shared<const bbs::MessageFile>(std::move(*parsed));
    g_cache[key] = CachedFile{std::move(text), file};
    return file;
}

std::string kind_description(EntryKind kind) {
    switch (kind) {
    case EntryKind::message: return "a message";
    case EntryKind::text: return "a text";
    case EntryKind::number: return "a number";
    case EntryKind::long_number: return "a long";
    case EntryKind::hex: return "a hex";
    case EntryKind::yesno: return "a yesno";
    }
    return "?";
}

// The entry of option `number` of the selected block, when it is of the
// kind that `operation` reads. Faults are start-up errors; a block that did
// not load has had its fault reported already and gives nothing quietly.
const MessageEntry *find_option(int number, EntryKind kind, const char *operation) {
    const std::string n = std::to_string(number);
    if (g_current == nullptr) {
        report_startup_error(std::string(operation) + "(" + n + ") called while no message file is selected");
        return nullptr;
    }
    if (g_current->closed) {
        report_startup_error(g_current->name + ": " + operation + "(" + n + ") called after the file was closed");
        return nullptr;
    }
    if (!g_current->file) return nullptr;
    const MessageEntry *e = g_current->file->find(number);
    if (e == nullptr) {
        report_startup_error(g_current->name + ": no option " + n + " (the module reads it with " + operation + ", " +
                             kind_description(kind) + " option)");
        return nullptr;
    }
    if (e->kind != kind) {
        report_startup_error(g_current->name + ":" + std::to_string(e->line) + ": entry " + n + " (" + e->name +
                             ") is " + kind_description(e->kind) + ", but the module reads it with " + operation +
                             ", " + kind_description(kind) + " option");
        return nullptr;
    }
    return e;
}

// A number option in the range the module gives. A value outside it is the
// operator's to mend, so it is reported; the module still gets a value in
// its range, to run on until the host refuses to serve.
long long ranged_option(int number, long long minimum, long long maximum, EntryKind kind, const char *operation) {
    const bool hex = kind == EntryKind::hex;
    if (minimum > maximum) {
        report_startup_error((g_current ? g_current->name + ": " : std::string()) + operation + "(" +
                             std::to_string(number) + ") called with the empty range " +
                             bbs::format_range(minimum, maximum, hex));
        return minimum;
    }
    const MessageEntry *e = find_option(number, kind, operation);
    if (e == nullptr) return minimum;
    if (e->value < minimum || e->value > maximum) {
        report_startup_error(g_current->name + ":" + std::to_string(e->line) + ": option " + std::to_string(number) +
                             " (" + e->name + ") is " + bbs::format_value(e->value, hex) + ", outside " +
                             bbs::format_range(minimum, maximum, hex));
        return e->value < minimum ? minimum : maximum;
    }
    return e->value;
}

}  // namespace

namespace bbs {

void set_message_test_mode(bool on) { g_test_mode = on; }
bool message_test_mode() { return g_test_mode; }

const char *current_message_text(int number) {
    if (g_current == nullptr || g_current->closed || !g_current->file) return nullptr;
    const MessageEntry *e = g_current->file->find(number);
    return e != nullptr && e->kind == EntryKind::message ? e->text.c_str() : nullptr;
}

std::string current_block_name() { return g_current ? g_current->name : std::string(); }

size_t message_selection_depth() { return g_saved.size(); }

void reset_message_blocks() {
    for (auto &block : g_blocks) block->closed = true;
    g_current = nullptr;
    g_saved.clear();
    g_cache.clear();
}

}  // namespace bbs

struct message_block *opnmsg(const char *file_name) {
    auto block = std::make_unique<message_block>();
    std::string requested = file_name ? file_name : "";
    if (requested.empty()) {
        block->name = "(no name)";
        report_startup_error("opnmsg called without a file name");
    } else {
        std::string path = bbs::find_file_ignoring_case(requested);
        std::string text, why;
        if (!bbs::read_whole_file(path, text, why)) {
            block->name = requested;
            report_startup_error(bbs::cannot_read(path, why));
        } else {
            block->name = bbs::base_name(path);
            block->file = load(path, block->name, std::move(text));
        }
    }
    g_current = block.get();
    g_blocks.push_back(std::move(block));
    return g_current;
}

void setmbk(struct message_block *block) {
    if (g_saved.size() >= kMaxSaved) g_saved.erase(g_saved.begin());
    g_saved.push_back(g_current);
    g_current = block;
}

void rstmbk(void) {
    if (g_saved.empty()) return;
    g_current = g_saved.back();
    g_saved.pop_back();
}

void clsmsg(struct message_block *block) {
    if (block != nullptr) block->closed = true;
}

char *stgopt(int number) {
    static char nothing[1];
    nothing[0] = '\0';
    const MessageEntry *e = find_option(number, EntryKind::text, "stgopt");
    if (e == nullptr) return nothing;
    auto it = g_current->option_texts.try_emplace(number, e->text).first;
    return it->second.data();
}

int numopt(int number, int minimum, int maximum) {
    return static_cast<int>(ranged_option(number, minimum, maximum, EntryKind::number, "numopt"));
}

long lngopt(int number, long minimum, long maximum) {
    return static_cast<long>(ranged_option(number, minimum, maximum, EntryKind::long_number, "lngopt"));
}

unsigned hexopt(int number, unsigned minimum, unsigned maximum) {
    return static_cast<unsigned>(ranged_option(number, minimum, maximum, EntryKind::hex, "hexopt"));
}

int16_t ynopt(int number) {
    const MessageEntry *e = find_option(number, EntryKind::yesno, "ynopt");
    return e != nullptr && e->value != 0 ? 1 : 0;
}
