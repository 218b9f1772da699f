// Reading the host's small KEY=VALUE files (WGSERV.CFG, CLASSES.CFG, the
// plug-ins' descriptor files): one reader, so that every file the operator
// edits follows the same rules for blanks, comments and line ends.
#ifndef BBS_CONFIG_LINES_H
#define BBS_CONFIG_LINES_H

#include <string>
#include <string_view>
#include <vector>

namespace bbs {

// Reads a whole file into `text`. False, with the reason in `why`, when the
// file cannot be read.
bool read_whole_file(const std::string &path, std::string &text, std::string &why);

// The error for a file that cannot be read: "KRVFV.MCV: cannot read
// /bbs/KRVFV.MCV: No such file or directory".
std::string cannot_read(const std::string &path, const std::string &why);

// The last component of a path ("KRVFV.MCV" for "/bbs/KRVFV.MCV"); errors
// name files by it, as the operator knows them.
std::string base_name(const std::string &path);

// Splits `text` into lines, LF or CR LF, without their line ends; calls
// `each(number, line)` with 1-based line numbers. Every file the operator
// edits is read through this, so line ends mean the same everywhere.
template <class Each>
void for_each_line(std::string_view text, Each each) {
    int number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        each(++number, line);
    }
}

// One meaningful line of a KEY=VALUE file.
struct ConfigLine {
    enum Type { setting, section, malformed };
    int number = 0;     // 1-based line number
    Type type = malformed;
    std::string key;    // setting: the key as written; section: the name between [ ]
    std::string value;  // setting: the value; malformed: the line as written
};

// Splits `text` into its meaningful lines. Line ends may be LF or CR LF.
// A '#' or ';' that starts a line or follows a blank begins a comment that
// runs to the end of the line; blanks around keys, values and section names
// are dropped; lines left empty are skipped.
std::vector<ConfigLine> read_config_lines(std::string_view text);

// Key comparison for these files: case is ignored.
bool same_key(std::string_view a, std::string_view b);

}  // namespace bbs

#endif
