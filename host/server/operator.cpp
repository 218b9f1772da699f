// The operator's commands other than serving.
#include "operator.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "core.h"
#include "datafile.h"
#include "state.h"
#include "system_clock.h"

namespace fs = std::filesystem;

namespace bbs {

std::string program_directory() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? "." : p.parent_path().string();
}

int command_init(const std::string &dir) {
    std::error_code ec;
    if (fs::exists(dir + "/WGSERV.CFG")) {
        std::fprintf(stderr, "bbshost: %s already holds a BBS (WGSERV.CFG); nothing changed\n", dir.c_str());
        return 1;
    }
    fs::create_directories(dir, ec);
    for (const std::string &src : {std::string(BBS_DEMO_DIR), std::string(BBS_MODULES_DIR)}) {
        for (auto it = fs::recursive_directory_iterator(src, ec); it != fs::recursive_directory_iterator(); ++it) {
            if (!it->is_regular_file()) continue;
            std::string name = it->path().filename().string();
            std::string ext = it->path().extension().string();
            for (char &c : ext) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            bool demo_file = src == BBS_DEMO_DIR;
            if (!demo_file && ext != ".MCV" && ext != ".MDF") continue;
            fs::path target = fs::path(dir) / (demo_file ? fs::relative(it->path(), src) : fs::path(name));
            fs::create_directories(target.parent_path(), ec);
            fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
            if (ec) {
                std::fprintf(stderr, "bbshost: cannot copy %s: %s\n", it->path().c_str(), ec.message().c_str());
                return 1;
            }
        }
    }
    // A sysop account with a password made for this BBS alone.
    std::random_device rd;
    const char alphabet[] = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    std::string password;
    for (int i = 0; i < 12; ++i) password.push_back(alphabet[rd() % (sizeof alphabet - 1)]);
    set_bbs_directory(dir);
    if (!open_data_store(dir)) {
        std::fprintf(stderr, "bbshost: cannot open the data files in %s: %s\n", dir.c_str(), data_error().c_str());
        return 1;
    }
    bool ok;
    {
        CallTransaction t;
        accbb = dfaOpen("ACCBB.DAT", sizeof(account_record), nullptr);
        init_accounts();
        account_record a{};
        stlcpy(a.user_id, "Sysop", sizeof a.user_id);
        stlcpy(a.class_name, "SYSOP", sizeof a.class_name);
        a.account_date = static_cast<uint16_t>(0);
        a.screen_width = 80;
        a.screen_length = 24;
        a.account_flags = ACCOUNT_NO_DEADBEAT;
        ok = save_account(a) && set_password("Sysop", password);
    }
    close_data_store();
    if (!ok) {
        std::fprintf(stderr, "bbshost: could not make the sysop account: %s\n", data_error().c_str());
        return 1;
    }
    std::printf("BBS made in %s\nSysop account: user-ID Sysop, password %s (shown once: note it now)\n", dir.c_str(),
                password.c_str());
    return 0;
}

int command_user(const std::string &, const std::vector<std::string> &) { return 2; }
int command_class(const std::string &, const std::vector<std::string> &) { return 2; }
int command_purge(const std::string &) { return 2; }
int command_cleanup(const std::string &) { return 2; }
int command_check(const std::string &) { return 2; }

}  // namespace bbs
