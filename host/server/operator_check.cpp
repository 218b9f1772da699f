// bbshost check: every file the operator edits, read the way start-up reads
// it, without opening a data file or starting a plug-in.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "config.h"
#include "config_lines.h"
#include "descriptor.h"
#include "msgfile.h"
#include "operator.h"
#include "operator_common.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace bbs {

namespace {

bool has_extension(const std::string &name, const char *ext) {
    size_t n = std::strlen(ext);
    return name.size() > n && strcasecmp(name.c_str() + name.size() - n, ext) == 0;
}

// Faults in the order of the files, and within a file in the order of its
// lines ("FILE:LINE: ..."; a fault of a whole file comes first).
void sort_faults(std::vector<std::string> &faults) {
    std::map<std::string, size_t> rank;
    std::vector<std::pair<std::pair<size_t, long>, std::string>> keyed;
    for (const std::string &f : faults) {
        size_t colon = f.find(':');
        std::string file = f.substr(0, colon);
        long line = 0;
        if (colon != std::string::npos) line = std::strtol(f.c_str() + colon + 1, nullptr, 10);
        size_t r = rank.try_emplace(file, rank.size()).first->second;
        keyed.push_back({{r, line}, f});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (size_t i = 0; i < faults.size(); ++i) faults[i] = keyed[i].second;
}

std::string count(size_t n, const std::string &one, const std::string &more) {
    return std::to_string(n) + " " + (n == 1 ? one : more);
}

}  // namespace

int command_check(const std::string &dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) return fail(dir + ": no such directory");
    std::vector<std::string> faults;

    // WGSERV.CFG, CLASSES.CFG and what one says of the other.
    HostSettings settings;
    load_settings(dir, settings, faults);
    HostConfig host = load_host_config(find_file_ignoring_case("WGSERV.CFG"));
    std::string programs = program_directory();
    for (const DllLine &d : host.dlls)
        if (find_plugin(programs, d.name).empty())
            faults.push_back("WGSERV.CFG:" + std::to_string(d.line) + ": DLL=" + d.name + ": there is no " + d.name +
                             ".so in " + programs + " (the host would skip it)");

    std::vector<std::string> messages, descriptors;
    for (const auto &entry : fs::directory_iterator(dir, ec)) {
        std::error_code inner;
        if (!entry.is_regular_file(inner)) continue;
        std::string name = entry.path().filename().string();
        if (has_extension(name, ".MCV")) messages.push_back(entry.path().string());
        if (has_extension(name, ".MDF")) descriptors.push_back(entry.path().string());
    }
    if (ec) faults.push_back(dir + ": cannot list the directory: " + ec.message());
    std::sort(messages.begin(), messages.end());
    std::sort(descriptors.begin(), descriptors.end());
    for (const std::string &path : messages)
        for (const std::string &e : check_message_file(path)) faults.push_back(e);
    for (const std::string &path : descriptors) parse_descriptor_file(path, faults);

    sort_faults(faults);
    for (const std::string &f : faults) std::printf("%s\n", f.c_str());
    std::printf("checked WGSERV.CFG (%s), CLASSES.CFG (%s), %s, %s\n",
                count(host.dlls.size(), "plug-in", "plug-ins").c_str(),
                count(settings.classes.size(), "class", "classes").c_str(),
                count(messages.size(), "message file", "message files").c_str(),
                count(descriptors.size(), "descriptor file", "descriptor files").c_str());
    if (faults.empty()) {
        std::printf("no faults found\n");
        return 0;
    }
    std::printf("%s found\n", count(faults.size(), "fault", "faults").c_str());
    return kFailed;
}

}  // namespace bbs
