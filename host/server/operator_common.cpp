#include "operator_common.h"

#include <signal.h>
#include <sqlite3.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "datafile.h"
#include "operator.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace bbs {

namespace {

// The operator's commands may wait for a lock longer than the server does:
// nobody is waiting at a caller's line for them.
constexpr int kOperatorBusyMs = 10000;

// The terminal's settings while a password is typed, for a signal that
// interrupts it: echo must not stay off.
termios g_saved_terminal;
volatile sig_atomic_t g_terminal_quiet = 0;

void restore_terminal_and_die(int signal_number) {
    if (g_terminal_quiet) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    ::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// One line of stdin without its line end; false at the end of input.
bool read_line(std::string &out) {
    out.clear();
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') out.push_back(static_cast<char>(c));
    if (c == EOF && out.empty()) return false;
    if (!out.empty() && out.back() == '\r') out.pop_back();
    return true;
}

// A line typed with echo off, after `prompt` on stderr.
bool read_hidden_line(const std::string &prompt, std::string &out) {
    termios quiet;
    if (tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return false;
    quiet = g_saved_terminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    struct sigaction action = {}, old_int = {}, old_term = {};
    action.sa_handler = restore_terminal_and_die;
    sigaction(SIGINT, &action, &old_int);
    sigaction(SIGTERM, &action, &old_term);
    g_terminal_quiet = 1;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    bool ok = read_line(out);
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    g_terminal_quiet = 0;
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    return ok;
}

void echo_audit(const AuditEntry &e) {
    std::printf("audit: %s %s %s: %s\n", e.date.c_str(), e.time.c_str(), e.summary.c_str(), e.detail.c_str());
    std::fflush(stdout);
}

}  // namespace

int fail(const std::string &text) {
    std::fprintf(stderr, "bbshost: %s\n", text.c_str());
    return kFailed;
}

int usage_error(const std::string &text) {
    std::fprintf(stderr, "bbshost: %s (bbshost --help shows the commands)\n", text.c_str());
    return kUsage;
}

bool check_bbs_directory(const std::string &dir) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        fail(dir + ": no such directory");
        return false;
    }
    set_bbs_directory(dir);
    if (!fs::is_regular_file(find_file_ignoring_case("WGSERV.CFG"), ec)) {
        fail(dir + " is not a BBS directory: it holds no WGSERV.CFG (bbshost init DIR makes one)");
        return false;
    }
    return true;
}

bool read_settings(const std::string &dir, HostSettings &settings, bool required) {
    std::vector<std::string> errors;
    if (load_settings(dir, settings, errors) || !required) return true;
    for (const std::string &e : errors) std::fprintf(stderr, "%s\n", e.c_str());
    fail("the configuration of " + dir + " has faults (listed above); mend them first");
    return false;
}

bool lock_directory(DirectoryLock &lock, const std::string &dir, const std::string &task) {
    if (lock.acquire(dir, task)) return true;
    fail(lock.error());
    return false;
}

std::string password_fault(const std::string &password) {
    if (password.size() < 4 || password.size() > 64) return "a password has 4 to 64 characters";
    for (char c : password)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            return "the password holds a control character, which a caller cannot type";
    return "";
}

bool read_new_password(const std::string &user_id, std::string &password, std::string &why) {
    if (!isatty(STDIN_FILENO)) {
        if (!read_line(password)) {
            why = "no password for " + user_id + " on stdin (give it as the first line)";
            return false;
        }
        why = password_fault(password);
        return why.empty();
    }
    for (int tries = 0; tries < 3; ++tries) {
        std::string again;
        if (!read_hidden_line("Password for " + user_id + " (4 to 64 characters): ", password)) {
            why = "no password typed";
            return false;
        }
        why = password_fault(password);
        if (!why.empty()) {
            std::fprintf(stderr, "%s\n", why.c_str());
            continue;
        }
        if (!read_hidden_line("Type it again: ", again)) {
            why = "no password typed";
            return false;
        }
        if (again == password) return true;
        why = "the two did not match";
        std::fprintf(stderr, "%s\n", why.c_str());
    }
    password.clear();
    return false;
}

std::string iso_date(uint16_t packed, const char *none) {
    if (packed == 0) return none;
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", 1980 + (packed >> 9), (packed >> 5) & 15, packed & 31);
    return text;
}

HostFiles::~HostFiles() {
    if (open_) close_host_files();
}

bool HostFiles::open(const std::string &dir, const HostSettings &settings) {
    std::string why;
    if (!open_host_files(dir, settings, &clock_, why)) {
        fail(why);
        return false;
    }
    sqlite3_busy_timeout(host_db(), kOperatorBusyMs);
    open_ = true;
    return true;
}

PluginHost::~PluginHost() {
    if (!started_) return;
    stop_host("");
    set_audit_listener(nullptr);
}

bool PluginHost::start(const std::string &dir, HostSettings settings) {
    settings.run_missed_cleanup = false;
    set_audit_listener(echo_audit);
    std::vector<std::string> errors;
    if (!start_host(dir, settings, program_directory(), &terminal_, &clock_, errors)) {
        set_audit_listener(nullptr);
        for (const std::string &e : errors) std::fprintf(stderr, "%s\n", e.c_str());
        fail("the plug-ins of " + dir + " could not be started (see above); nothing was changed");
        return false;
    }
    started_ = true;
    sqlite3_busy_timeout(host_db(), kOperatorBusyMs);
    for (const LoadedModule &m : loaded_modules())
        if (m.status != "loaded")
            std::fprintf(stderr, "bbshost: warning: DLL=%s %s: its routines do not run\n", m.dll.c_str(),
                         m.status.c_str());
    return true;
}

}  // namespace bbs
