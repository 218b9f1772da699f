// Descriptor files and gmdnam.
//
//     # File Viewer
//     NAME=File Viewer
//     DESCRIPTION=Page through text files on the server
//     MENU=yes
//
// NAME is required and not empty; DESCRIPTION is optional; MENU (yes or
// no, default yes) says whether callers pick the module from the menu. Keys are
// matched with case ignored; other keys are refused, so that a misspelt
// NAME is not taken for a missing one. Comments and blanks as in
// WGSERV.CFG (config_lines.h). The plug-in copies at most 24 characters of
// the name into its descriptor.
#include "descriptor.h"

#include <deque>
#include <filesystem>
#include <set>

#include "config_lines.h"
#include "core.h"

namespace bbs {

std::optional<ModuleDescription> parse_descriptor_text(const std::string &file_name, std::string_view text,
                                                       std::vector<std::string> &errors) {
    const size_t before = errors.size();
    auto error = [&](int line, const std::string &what) {
        errors.push_back(file_name + ":" + std::to_string(line) + ": " + what);
    };
    ModuleDescription out;
    int name_line = 0, description_line = 0, menu_line = 0;
    for (const ConfigLine &l : read_config_lines(text)) {
        if (l.type == ConfigLine::section) {
            error(l.number, "sections are not used in a descriptor file");
        } else if (l.type == ConfigLine::malformed) {
            error(l.number, "expected KEY=VALUE, found '" + l.value + "'");
        } else if (same_key(l.key, "NAME") || same_key(l.key, "DESCRIPTION")) {
            bool is_name = same_key(l.key, "NAME");
            int &seen = is_name ? name_line : description_line;
            if (seen != 0) {
                error(l.number, (is_name ? "NAME" : "DESCRIPTION") + std::string(" is set twice (first on line ") +
                                    std::to_string(seen) + ")");
                continue;
            }
            seen = l.number;
            if (is_name && l.value.empty()) error(l.number, "NAME is empty");
            (is_name ? out.name : out.description) = l.value;
        } else if (same_key(l.key, "MENU")) {
            if (menu_line != 0) {
                error(l.number, "MENU is set twice (first on line " + std::to_string(menu_line) + ")");
                continue;
            }
            menu_line = l.number;
            if (same_key(l.value, "yes") || same_key(l.value, "no"))
                out.on_menu = same_key(l.value, "yes");
            else
                error(l.number, "MENU is '" + l.value + "', not yes or no");
        } else {
            error(l.number, "unknown key '" + l.key + "' (known: NAME, DESCRIPTION, MENU)");
        }
    }
    if (name_line == 0) errors.push_back(file_name + ": no NAME= line");
    if (errors.size() != before) return std::nullopt;
    return out;
}

std::optional<ModuleDescription> parse_descriptor_file(const std::string &path, std::vector<std::string> &errors) {
    std::string text, why;
    if (!read_whole_file(path, text, why)) {
        errors.push_back(cannot_read(path, why));
        return std::nullopt;
    }
    return parse_descriptor_text(base_name(path), text, errors);
}

namespace {
std::set<std::string> &names_off_menu() {
    static std::set<std::string> names;
    return names;
}
}  // namespace

bool offered_on_menu(const std::string &name) {
    // The plug-in may have cut the name short when it copied it.
    for (const std::string &off : names_off_menu())
        if (!name.empty() && off.compare(0, name.size(), name) == 0) return false;
    return true;
}

void forget_descriptors() { names_off_menu().clear(); }

namespace {
int g_gmdnam_calls = 0;
}

int gmdnam_calls() { return g_gmdnam_calls; }

void read_descriptor_of_plugin(const std::string &dll, const std::vector<std::string> &registered_names) {
    std::string path = find_file_ignoring_case(dll + ".MDF");
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return;
    std::vector<std::string> errors;
    std::optional<ModuleDescription> found = parse_descriptor_file(path, errors);
    for (const std::string &e : errors) report_startup_error(e);
    if (found && !found->on_menu)
        for (const std::string &name : registered_names) names_off_menu().insert(name);
}

}  // namespace bbs

// A name the plug-in may keep: gmdnam's texts live as long as the process.
const char *gmdnam(const char *descriptor_file) {
    static std::deque<std::string> names;
    ++bbs::g_gmdnam_calls;
    std::string requested = descriptor_file ? descriptor_file : "";
    if (requested.empty()) {
        bbs::report_startup_error("gmdnam called without a file name");
        return names.emplace_back().c_str();
    }
    std::vector<std::string> errors;
    std::optional<bbs::ModuleDescription> found =
        bbs::parse_descriptor_file(bbs::find_file_ignoring_case(requested), errors);
    for (const std::string &e : errors) bbs::report_startup_error(e);
    if (found) {
        if (!found->on_menu) bbs::names_off_menu().insert(found->name);
        return names.emplace_back(found->name).c_str();
    }
    // The file's stem, so that the plug-in still registers under a name the
    // operator recognises while the fault above stops the start.
    std::string stem = bbs::base_name(requested);
    if (size_t dot = stem.find_last_of('.'); dot != std::string::npos && dot > 0) stem.erase(dot);
    return names.emplace_back(stem).c_str();
}
