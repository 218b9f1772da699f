// bbshost: the operator's command line of the BBS host.
//
//   bbshost init DIR      make a ready BBS directory from the demo
//   bbshost load [DIR]    load the BBS directory, start its plug-ins, report
//                         what was loaded, and stop again
//   bbshost --help
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <random>

#include "core.h"
#include "datafile.h"
#include "settings.h"
#include "state.h"

namespace fs = std::filesystem;

namespace {

// The machine's clock, local time.
class SystemClock : public bbs::ClockPort {
public:
    int64_t monotonic_ms() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    int64_t local_seconds() override {
        time_t t = time(nullptr);
        struct tm local;
        localtime_r(&t, &local);
        return static_cast<int64_t>(t) + local.tm_gmtoff;
    }
    // Only in the "system" clock mode, and only with the privilege to do it.
    bool set_system_time(int64_t local, std::string &error) override {
        time_t t = time(nullptr);
        struct tm now_local;
        localtime_r(&t, &now_local);
        struct timespec ts = {static_cast<time_t>(local - now_local.tm_gmtoff), 0};
        if (clock_settime(CLOCK_REALTIME, &ts) == 0) return true;
        error = std::strerror(errno);
        return false;
    }
};

// No callers: output goes nowhere.
class NoTerminal : public bbs::TerminalPort {
public:
    void send(int, std::string_view) override {}
    void hang_up(int) override {}
    int free_room(int) override { return 1 << 20; }
    void set_echo(int, bool) override {}
};

std::string self_dir() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? "." : p.parent_path().string();
}

int usage(int status) {
    std::printf(
        "usage: bbshost COMMAND [ARGS]\n"
        "  init DIR     make a ready BBS directory DIR from the demo, with a sysop account\n"
        "  load [DIR]   start the BBS in DIR (default: .), report the plug-ins loaded and\n"
        "               the check chains, and stop again\n"
        "  --help       this text\n");
    return status;
}

int init(const std::string &dir) {
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
    bbs::set_bbs_directory(dir);
    if (!bbs::open_data_store(dir)) {
        std::fprintf(stderr, "bbshost: cannot open the data files in %s: %s\n", dir.c_str(), bbs::data_error().c_str());
        return 1;
    }
    bool ok;
    {
        bbs::CallTransaction t;
        accbb = dfaOpen("ACCBB.DAT", sizeof(account_record), nullptr);
        bbs::init_accounts();
        account_record a{};
        stlcpy(a.user_id, "Sysop", sizeof a.user_id);
        stlcpy(a.class_name, "SYSOP", sizeof a.class_name);
        a.account_date = static_cast<uint16_t>(0);
        a.screen_width = 80;
        a.screen_length = 24;
        a.account_flags = ACCOUNT_NO_DEADBEAT;
        ok = bbs::save_account(a) && bbs::set_password("Sysop", password);
    }
    bbs::close_data_store();
    if (!ok) {
        std::fprintf(stderr, "bbshost: could not make the sysop account: %s\n", bbs::data_error().c_str());
        return 1;
    }
    std::printf("BBS made in %s\nSysop account: user-ID Sysop, password %s (shown once: note it now)\n", dir.c_str(),
                password.c_str());
    return 0;
}

int load(const std::string &dir) {
    bbs::HostSettings settings;
    std::vector<std::string> errors;
    if (!bbs::load_settings(dir, settings, errors)) {
        for (const std::string &e : errors) std::fprintf(stderr, "bbshost: %s\n", e.c_str());
        return 1;
    }
    SystemClock clock;
    NoTerminal terminal;
    bbs::set_audit_listener([](const bbs::AuditEntry &e) {
        std::printf("audit %s %s  %s\n                    %s\n", e.date.c_str(), e.time.c_str(), e.summary.c_str(),
                    e.detail.c_str());
    });
    std::printf("BBS directory: %s\n", fs::absolute(dir).c_str());
    bool started = bbs::start_host(dir, settings, self_dir(), &terminal, &clock, errors);
    for (const bbs::LoadedModule &m : bbs::loaded_modules()) std::printf("module %-10s %s\n", m.dll.c_str(), m.status.c_str());
    if (!started) {
        for (const std::string &e : errors) std::fprintf(stderr, "bbshost: %s\n", e.c_str());
        return 1;
    }
    for (bool password : {false, true}) {
        std::string chain;
        for (const std::string &c : bbs::check_chain(password)) chain += (chain.empty() ? "" : " -> ") + c;
        std::printf("%s check chain: %s\n", password ? "password" : "user-ID", chain.c_str());
    }
    std::printf("lines: %d, address %s:%d\n", settings.lines, settings.address.c_str(), settings.port);
    bbs::stop_host("");
    std::printf("start-up done; the BBS has stopped again (the telnet server comes with a later release)\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage(2);
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") return usage(0);
    if (command == "init" && argc == 3) return init(argv[2]);
    if (command == "load" && argc <= 3) return load(argc == 3 ? argv[2] : ".");
    std::fprintf(stderr, "bbshost: unknown command or wrong arguments: %s\n", command.c_str());
    return usage(2);
}
