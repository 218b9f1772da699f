// The operator's commands other than serving: init, class list, purge and
// the clean-up (user …: operator_user.cpp; check: operator_check.cpp).
#include "operator.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "config_lines.h"
#include "datafile.h"
#include "operator_common.h"
#include "state.h"

namespace fs = std::filesystem;

namespace bbs {

std::string program_directory() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? "." : p.parent_path().string();
}

namespace {

std::string random_password() {
    std::random_device rd;
    const char alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 2);
    std::string password;
    for (int i = 0; i < 12; ++i) password.push_back(alphabet[pick(rd)]);
    return password;
}

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// Copies the demo BBS and the plug-ins' message and descriptor files into
// `dir`, WGSERV.CFG aside: it is written last, so that a directory without
// it is never taken for a finished BBS.
bool copy_demo(const std::string &dir, std::string &why) {
    std::error_code ec;
    for (const std::string &src : {std::string(BBS_DEMO_DIR), std::string(BBS_MODULES_DIR)}) {
        bool demo_file = src == BBS_DEMO_DIR;
        for (auto it = fs::recursive_directory_iterator(src, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            std::error_code inner;
            if (!it->is_regular_file(inner)) continue;
            std::string name = it->path().filename().string();
            std::string ext = upper(it->path().extension().string());
            if (!demo_file && ext != ".MCV" && ext != ".MDF") continue;
            if (demo_file && upper(name) == "WGSERV.CFG") continue;
            fs::path target = fs::path(dir) / (demo_file ? fs::relative(it->path(), src) : fs::path(name));
            fs::create_directories(target.parent_path(), inner);
            if (!inner) fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, inner);
            if (inner) {
                why = "cannot copy " + it->path().string() + " to " + target.string() + ": " + inner.message();
                return false;
            }
        }
        // No plug-in folder at all is no fault: the demo then has no plug-ins' files.
        if (ec && !(src == BBS_MODULES_DIR && ec == std::errc::no_such_file_or_directory)) {
            why = "cannot read " + src + ": " + ec.message();
            return false;
        }
        ec.clear();
    }
    return true;
}

}  // namespace

int command_init(const std::string &dir) {
    std::error_code ec;
    if (fs::exists(dir, ec) && !fs::is_directory(dir, ec)) return fail(dir + " exists and is not a directory");
    if (fs::is_directory(dir, ec)) {
        set_bbs_directory(dir);
        if (fs::exists(find_file_ignoring_case("WGSERV.CFG"), ec))
            return fail(dir + " already holds a BBS (WGSERV.CFG); nothing changed");
    }
    // The password first: nothing is made until it is in hand.
    bool typed = isatty(STDIN_FILENO);
    std::string password, why;
    if (typed) {
        if (!read_new_password("Sysop", password, why)) return fail(why + "; nothing made");
    } else {
        password = random_password();
    }
    fs::create_directories(dir, ec);
    if (ec) return fail("cannot make " + dir + ": " + ec.message());
    if (!copy_demo(dir, why)) return fail(why);

    HostSettings settings;
    settings.classes = load_classes(dir + "/CLASSES.CFG").classes;
    bool made = false;
    {
        HostFiles files;
        if (!files.open(dir, settings)) return kFailed;
        CallTransaction t;
        account_record a{};
        stlcpy(a.user_id, "Sysop", sizeof a.user_id);
        stlcpy(a.class_name, "SYSOP", sizeof a.class_name);
        a.account_date = today();
        a.screen_width = 80;
        a.screen_length = 24;
        a.account_flags = ACCOUNT_NO_DEADBEAT;
        if (const ClassDefinition *cls = class_definition(a.class_name)) a.credit_balance = cls->credits;
        made = save_account(a) && set_password(a.user_id, password);
        if (!made) report_data_error(data_error().empty() ? "the password could not be hashed" : data_error());
    }
    if (!made || !data_error().empty()) return fail("could not make the Sysop account in " + dir + ": " + data_error());
    fs::copy_file(std::string(BBS_DEMO_DIR) + "/WGSERV.CFG", fs::path(dir) / "WGSERV.CFG",
                  fs::copy_options::overwrite_existing, ec);
    if (ec) return fail("cannot write " + dir + "/WGSERV.CFG: " + ec.message() + " (run init again)");
    if (typed)
        std::printf("BBS made in %s\nSysop account: user-ID Sysop, with the password you typed\n", dir.c_str());
    else
        std::printf("BBS made in %s\nSysop account: user-ID Sysop, password %s (shown once: note it now)\n",
                    dir.c_str(), password.c_str());
    return 0;
}

int command_class(const std::string &dir, const std::vector<std::string> &args) {
    if (args.size() != 1 || args[0] != "list") return usage_error("class takes one word: list");
    if (!check_bbs_directory(dir)) return kFailed;
    ClassesConfig classes = load_classes(find_file_ignoring_case("CLASSES.CFG"));
    if (!classes.errors.empty()) {
        for (const std::string &e : classes.errors) std::fprintf(stderr, "%s\n", e.c_str());
        return fail("CLASSES.CFG of " + dir + " has faults (listed above)");
    }
    HostConfig host = load_host_config(find_file_ignoring_case("WGSERV.CFG"));
    std::printf("%-16s %11s %5s  %-15s %-20s %s\n", "Class", "Credits", "Flags", "Auto-switch", "Keys", "Description");
    bool switching = false;
    for (const ClassDefinition &c : classes.classes) {
        std::string keys;
        for (const std::string &k : c.keys) keys += (keys.empty() ? "" : ",") + k;
        bool for_new = same_key(c.name, host.new_user_class);
        char flags[8];
        std::snprintf(flags, sizeof flags, "%02X", c.flags);
        std::printf("%-16s %11ld %5s  %-15s %-20s %s\n", (c.name + (for_new ? "*" : "")).c_str(),
                    static_cast<long>(c.credits), flags, c.auto_switch.empty() ? "-" : c.auto_switch.c_str(),
                    keys.empty() ? "-" : keys.c_str(), c.description.c_str());
        switching = switching || (c.flags & CLASS_AUTO_SWITCH) != 0;
    }
    std::printf("%zu classes. * the class of new accounts (NEW_USER_CLASS)\n", classes.classes.size());
    if (switching) std::printf("Flags 10: switch to the auto-switch class when credits are posted\n");
    return 0;
}

int command_purge(const std::string &dir) {
    DirectoryLock lock;
    HostSettings settings;
    if (!check_bbs_directory(dir) || !lock_directory(lock, dir, "purge") || !read_settings(dir, settings, true))
        return kFailed;
    PluginHost host;
    if (!host.start(dir, settings)) return kFailed;
    clear_data_error();
    std::vector<std::string> removed;
    int count = purge_tagged_accounts(&removed);
    for (const std::string &id : removed) std::printf("removed %s\n", id.c_str());
    std::printf("%d account%s removed\n", count, count == 1 ? "" : "s");
    if (!data_error().empty()) return fail("the data files failed: " + data_error() + "; run purge again");
    return 0;
}

int command_cleanup(const std::string &dir) {
    DirectoryLock lock;
    HostSettings settings;
    if (!check_bbs_directory(dir) || !lock_directory(lock, dir, "cleanup") || !read_settings(dir, settings, true))
        return kFailed;
    PluginHost host;
    if (!host.start(dir, settings)) return kFailed;
    clear_data_error();
    run_daily_cleanup();
    if (!data_error().empty()) return fail("the data files failed during the clean-up: " + data_error());
    std::printf("daily clean-up done\n");
    return 0;
}

}  // namespace bbs
