// Starting and stopping the host, the daily clean-up, the operator's purge.
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "datafile.h"
#include "descriptor.h"
#include "msgfile.h"
#include "state.h"

namespace bbs {

void reset_registrations();
void register_menu();
void run_due_timers();
void count_call_seconds();
void check_idle_lines();
void install_host_checks();
void init_classes();

namespace {
std::vector<std::string> g_uid_chain, g_psw_chain;  // installers, first installed first
std::string g_sample_key;
// The working directory the host found, given back when it stops.
std::string g_previous_directory;
// The system variables as they were last stored, so that a call that
// changed them can store them before its transaction ends.
system_variables g_stored_sv2;
bool g_sv2_loaded = false;  // sv2 holds the directory's own: start_host read it
// The day a clean-up failed (its work rolled back): not tried again that
// day while serving; the files still say it is due.
uint16_t g_cleanup_failed_on = 0;

std::string lower(std::string s) {
    for (char &ch : s) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    return s;
}

void save_system_variables() {
    if (store_blob("sv2", &sv2, sizeof sv2)) std::memcpy(&g_stored_sv2, &sv2, sizeof sv2);
}

// While serving, the host's working directory is the BBS directory: a
// plug-in that names a file of its own (a report) finds it there. False
// with the reason when the directory cannot be entered.
bool enter_bbs_directory(const std::string &directory, std::string &absolute, std::string &why) {
    std::error_code ec;
    absolute = std::filesystem::absolute(directory, ec).lexically_normal().string();
    if (ec) {
        why = "cannot find the BBS directory " + directory + ": " + ec.message();
        return false;
    }
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    if (g_previous_directory.empty()) {
        char *cwd = getcwd(nullptr, 0);
        g_previous_directory = cwd != nullptr ? cwd : "";
        free(cwd);
    }
    if (chdir(absolute.c_str()) != 0) {
        why = "cannot enter the BBS directory " + directory + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void leave_bbs_directory() {
    if (!g_previous_directory.empty() && chdir(g_previous_directory.c_str()) != 0) {
        // The directory we came from is gone; staying where we are is harmless.
    }
    g_previous_directory.clear();
}

bool cleanup_due() {
    uint16_t t = today();
    if (sv2.cleanup_date == t || g_cleanup_failed_on == t) return false;
    int minutes = (now() >> 11) * 60 + ((now() >> 5) & 63);
    // Yesterday's clean-up never ran (or today's time has come).
    return minutes >= core().settings.cleanup_minutes || sv2.cleanup_date < packed_date_after(t, -1);
}

// Accounts whose timed class has run out go back to the class they had.
void end_timed_classes() {
    if (accbb == nullptr) return;
    std::vector<account_record> expired;
    account_record a;
    dfaSetBlk(accbb);
    for (int ok = dfaStepLock(&a, DFA_STEP_FIRST, 0); ok; ok = dfaStepLock(&a, DFA_STEP_NEXT, 0))
        if (a.class_until != 0 && a.class_until <= today() && a.previous_class_name[0] != '\0') expired.push_back(a);
    dfaRstBlk();
    for (account_record &acc : expired) {
        char back[sizeof acc.previous_class_name + 1];
        stlcpy(back, acc.previous_class_name, sizeof back);
        if (fndcls(back) == nullptr) continue;
        stlcpy(acc.class_name, back, sizeof acc.class_name);
        acc.previous_class_name[0] = '\0';
        acc.class_until = 0;
        save_account(acc);
        write_audit("CLASS SWITCH ENDED", std::string("User-ID: ") + acc.user_id + " back to " + back);
    }
}
}  // namespace

std::string find_plugin(const std::string &folder, const std::string &name) {
    std::string wanted = name + ".so";
    DIR *d = opendir(folder.c_str());
    if (d == nullptr) return "";
    std::string found;
    while (dirent *e = readdir(d))
        if (strcasecmp(e->d_name, wanted.c_str()) == 0) {
            found = folder + "/" + e->d_name;
            break;
        }
    closedir(d);
    return found;
}

bool start_host(const std::string &directory, const HostSettings &settings, const std::string &plugin_directory,
                TerminalPort *terminal, ClockPort *clock, std::vector<std::string> &errors) {
    Core &c = core();
    errors.clear();
    if (settings.lines < 1 || settings.lines > MAX_LINES) {
        errors.push_back("LINES=" + std::to_string(settings.lines) + " is refused: the host serves 1 to " +
                         std::to_string(MAX_LINES) + " lines (the plug-ins keep one table entry per line)");
        return false;
    }
    clear_startup_errors();
    clear_data_error();  // a failure of an earlier run is not this start's
    reset_message_blocks();
    forget_descriptors();
    std::string absolute, why;
    if (!enter_bbs_directory(directory, absolute, why)) {
        errors.push_back(why);
        leave_bbs_directory();
        return false;
    }
    set_bbs_directory(absolute);
    c.settings = settings;
    c.terminal = terminal;
    c.clock = clock;
    c.clock_offset = 0;
    c.loaded.clear();
    g_cleanup_failed_on = 0;
    g_uid_chain.clear();
    g_psw_chain.clear();
    outbsz = settings.output_buffer;
    c.vdatmp_buffer.assign(outbsz, 0);
    reset_registrations();
    set_line_count(settings.lines);
    if (!open_data_store(absolute)) {
        errors.push_back("cannot open the data files in " + directory + ": " + data_error());
        leave_bbs_directory();
        return false;
    }
    {
        CallTransaction t;
        accbb = dfaOpen("ACCBB.DAT", sizeof(account_record), nullptr);
        init_accounts();
        init_mail();
        std::memset(&sv2, 0, sizeof sv2);
        // A new BBS has missed no clean-up: its first is at the next
        // clean-up time.
        if (!load_blob("sv2", &sv2, sizeof sv2)) {
            int minutes = (now() >> 11) * 60 + ((now() >> 5) & 63);
            sv2.cleanup_date = minutes >= settings.cleanup_minutes ? today() : packed_date_after(today(), -1);
            save_system_variables();
        }
        std::memcpy(&g_stored_sv2, &sv2, sizeof sv2);
        g_sv2_loaded = true;
        load_blob("clock_offset", &c.clock_offset, sizeof c.clock_offset);
    }
    init_classes();
    g_sample_key = settings.sample_key;
    sampky = g_sample_key.data();
    install_host_checks();
    register_menu();

    for (const std::string &dll : settings.dlls) {
        std::string path = find_plugin(plugin_directory, dll);
        if (path.empty()) {
            c.loaded.push_back({dll, "not found in " + plugin_directory + ", skipped"});
            continue;
        }
        void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char *why = dlerror();
            c.loaded.push_back({dll, std::string("could not be loaded (") + (why ? why : "?") + "), skipped"});
            continue;
        }
        std::string symbol = "init__" + lower(dll);
        auto init = reinterpret_cast<void (*)()>(dlsym(handle, symbol.c_str()));
        if (init == nullptr) {
            c.loaded.push_back({dll, "has no " + symbol + ", skipped"});
            dlclose(handle);
            continue;
        }
        c.handles.push_back(handle);
        chkuid_t uid_before = chkuid;
        chkpsw_t psw_before = chkpsw;
        const int gmdnam_before = gmdnam_calls();
        const size_t modules_before = c.modules.size();
        plugin_call(-1, [&] { init(); });
        if (gmdnam_calls() == gmdnam_before) {
            std::vector<std::string> registered;
            for (size_t i = modules_before; i < c.modules.size(); ++i) registered.push_back(c.modules[i]->name);
            read_descriptor_of_plugin(dll, registered);
        }
        if (chkuid != uid_before) g_uid_chain.push_back(dll);
        if (chkpsw != psw_before) g_psw_chain.push_back(dll);
        c.loaded.push_back({dll, "loaded"});
    }
    for (const std::string &e : startup_errors()) errors.push_back(e);
    if (!data_error().empty()) errors.push_back("data files: " + data_error());
    if (!errors.empty()) {
        stop_host("");
        return false;
    }
    c.running = true;
    if (settings.run_missed_cleanup && cleanup_due()) run_daily_cleanup();
    return true;
}

bool open_host_files(const std::string &directory, const HostSettings &settings, ClockPort *clock,
                     std::string &error) {
    Core &c = core();
    clear_startup_errors();
    clear_data_error();
    set_bbs_directory(directory);
    c.settings = settings;
    c.terminal = nullptr;
    c.clock = clock;
    c.clock_offset = 0;
    if (!open_data_store(directory)) {
        error = "cannot open the data files in " + directory + ": " + data_error();
        return false;
    }
    {
        CallTransaction t;
        accbb = dfaOpen("ACCBB.DAT", sizeof(account_record), nullptr);
        init_accounts();
        init_mail();
        load_blob("clock_offset", &c.clock_offset, sizeof c.clock_offset);
    }
    init_classes();
    std::string why = !startup_errors().empty() ? startup_errors().front() : data_error();
    if (accbb == nullptr && why.empty()) why = "cannot open ACCBB.DAT";
    if (!why.empty()) {
        error = "the data files in " + directory + ": " + why;
        close_host_files();
        return false;
    }
    return true;
}

void close_host_files() {
    close_data_store();
    accbb = nullptr;
    core().clock = nullptr;
}

void stop_host(const std::string &farewell) {
    Core &c = core();
    for (size_t i = 0; i < c.lines.size(); ++i) {
        if (c.lines[i]->road == Road::Free) continue;
        if (!farewell.empty()) deliver(static_cast<int>(i), farewell);
        hang_up_now(static_cast<int>(i));
    }
    if (c.running)
        for (size_t i = 1; i < c.modules.size(); ++i)
            if (auto routine = c.modules[i]->shutdown_routine) plugin_call(-1, [&] { routine(); });
    if (data_store_open()) {
        CallTransaction t;
        if (g_sv2_loaded) save_system_variables();
        store_blob("clock_offset", &c.clock_offset, sizeof c.clock_offset);
    }
    g_sv2_loaded = false;
    reset_registrations();
    for (void *h : c.handles) dlclose(h);
    c.handles.clear();
    reset_message_blocks();
    close_data_store();
    accbb = nullptr;
    chkuid = nullptr;
    chkpsw = nullptr;
    c.running = false;
    leave_bbs_directory();
}

void store_changed_system_variables() {
    if (!g_sv2_loaded || !data_store_open() || std::memcmp(&g_stored_sv2, &sv2, sizeof sv2) == 0) return;
    save_system_variables();
}

bool host_running() { return core().running; }
const std::vector<LoadedModule> &loaded_modules() { return core().loaded; }

std::vector<std::string> check_chain(bool password) {
    std::vector<std::string> chain = password ? g_psw_chain : g_uid_chain;
    std::reverse(chain.begin(), chain.end());  // the last installed is called first
    chain.push_back("host");
    return chain;
}

void set_audit_listener(std::function<void(const AuditEntry &)> listener) { core().audit_listener = std::move(listener); }
void set_mail_listener(std::function<void(const mail_header &, const std::string &)> listener) {
    core().mail_listener = std::move(listener);
}

void host_tick() {
    if (!core().running) return;
    count_call_seconds();
    run_due_timers();
    check_idle_lines();
    if (cleanup_due()) run_daily_cleanup();
}

// The whole clean-up is one unit of work: every plug-in's routine and the
// date that says it ran commit together or not at all. A host killed half
// way through finds the clean-up still due when it starts again, and runs
// it whole; no plug-in's work (a monthly allotment) is ever done twice.
void run_daily_cleanup() {
    Core &c = core();
    write_audit("DAILY CLEAN-UP", "Callers logged off for the daily clean-up");
    for (size_t i = 0; i < c.lines.size(); ++i) {
        if (c.lines[i]->road == Road::Free) continue;
        deliver(static_cast<int>(i), "\nThe BBS is closing for its daily clean-up. Please call again in a few minutes.\n");
        hang_up_now(static_cast<int>(i));
    }
    clear_data_error();
    uint16_t before = sv2.cleanup_date;
    {
        CallTransaction t;
        for (size_t i = 1; i < c.modules.size(); ++i)
            if (auto routine = c.modules[i]->daily_cleanup_routine) plugin_call(-1, [&] { routine(); });
        end_timed_classes();
        sv2.cleanup_date = today();
        save_system_variables();
    }
    if (!data_error().empty()) {
        // Not tried again and again while serving; the files still say it
        // is due, and the next start runs it.
        sv2.cleanup_date = before;
        std::memcpy(&g_stored_sv2, &sv2, sizeof sv2);
        g_cleanup_failed_on = today();
        write_audit("DAILY CLEAN-UP FAILED", "Nothing of it was kept; it runs again at the next start: " + data_error());
    }
}

int purge_tagged_accounts(std::vector<std::string> *removed_ids) {
    std::vector<account_record> tagged;
    if (accbb == nullptr) return 0;
    {
        CallTransaction t;
        account_record a;
        dfaSetBlk(accbb);
        for (int ok = dfaStepLock(&a, DFA_STEP_FIRST, 0); ok; ok = dfaStepLock(&a, DFA_STEP_NEXT, 0))
            if (a.account_flags & ACCOUNT_TAGGED_FOR_DELETION) tagged.push_back(a);
        dfaRstBlk();
    }
    int removed = 0;
    for (const account_record &a : tagged) {
        CallTransaction t;
        if (remove_account(a, "tagged for deletion, purged by the operator")) {
            ++removed;
            if (removed_ids != nullptr) removed_ids->push_back(a.user_id);
        }
    }
    return removed;
}

}  // namespace bbs
