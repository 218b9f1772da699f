// The BBS directory and the start-up fault list.
#include <dirent.h>
#include <string.h>
#include <strings.h>

#include "core.h"

namespace bbs {
namespace {
std::string g_directory = ".";
std::vector<std::string> g_startup_errors;
}  // namespace

const std::string &bbs_directory() { return g_directory; }
void set_bbs_directory(const std::string &dir) { g_directory = dir.empty() ? "." : dir; }

std::string find_file_ignoring_case(const std::string &name) {
    std::string exact = g_directory + "/" + name;
    if (name.find('/') != std::string::npos) return exact;  // only plain names are matched
    DIR *d = opendir(g_directory.c_str());
    if (d == nullptr) return exact;
    std::string found;
    while (dirent *e = readdir(d)) {
        if (strcmp(e->d_name, name.c_str()) == 0) { found = e->d_name; break; }
        if (found.empty() && strcasecmp(e->d_name, name.c_str()) == 0) found = e->d_name;
    }
    closedir(d);
    return found.empty() ? exact : g_directory + "/" + found;
}

void report_startup_error(const std::string &text) { g_startup_errors.push_back(text); }
const std::vector<std::string> &startup_errors() { return g_startup_errors; }
void clear_startup_errors() { g_startup_errors.clear(); }

}  // namespace bbs
