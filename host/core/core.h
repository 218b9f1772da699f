// Facilities the parts of the host core share with each other, and the
// core's face to its front ends (the telnet server, the test driver).
// Nothing here is seen by plug-ins; their whole view of the host is host.h.
#ifndef BBS_CORE_H
#define BBS_CORE_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "host.h"

namespace bbs {

// ------------------------------------------------------------ directory

// The BBS directory the host serves; every file a plug-in names is looked up
// in it. Set once before the plug-ins are loaded.
const std::string &bbs_directory();
void set_bbs_directory(const std::string &dir);

// The path of a file in the BBS directory whose name equals `name` with case
// ignored; the exact name joined to the directory when no such file exists
// yet (so that a new file is made under the name the plug-in gave).
std::string find_file_ignoring_case(const std::string &name);

// Faults found while the plug-ins start (a message file that does not
// parse, an option outside its range, ...). The loader refuses to go on
// serving when any were reported; each text names the file and the line.
void report_startup_error(const std::string &text);
const std::vector<std::string> &startup_errors();
void clear_startup_errors();

// ---------------------------------------------------------------- ports

// Where the core's output goes: a real connection or a line in memory.
struct TerminalPort {
    virtual ~TerminalPort() = default;
    virtual void send(int line, std::string_view bytes) = 0;  // LF as written; the port sends CR LF
    virtual void hang_up(int line) = 0;                       // drop the connection once its output is sent
    virtual int free_room(int line) = 0;                      // bytes the line's output queue can still take
    virtual void set_echo(int line, bool on) = 0;             // off while a password is typed
};

// The time of day and a monotonic count for timers. Setting the time of day
// moves the BBS's clock, never the monotonic count.
struct ClockPort {
    virtual ~ClockPort() = default;
    virtual int64_t monotonic_ms() = 0;
    // Local civil time as seconds since 1970-01-01 00:00 (no time zone).
    virtual int64_t local_seconds() = 0;
    // Sets the machine's clock; only used in the "system" clock mode.
    virtual bool set_system_time(int64_t local_seconds, std::string &error) = 0;
};

// ------------------------------------------------------------- settings

struct HostSettings {
    std::vector<std::string> dlls;  // plug-ins in load order
    std::string address = "127.0.0.1";
    int port = 2323;
    int lines = 16;
    std::vector<int> channels;      // hardware channel number of each line; empty: line n is n
    int cleanup_minutes = 3 * 60;   // time of day of the daily clean-up
    bool clock_system = false;      // set the machine's clock instead of keeping an offset
    int idle_warn_seconds = 600;
    int idle_limit_seconds = 900;
    int output_buffer = 8192;       // outbsz
    int line_output_room = 16384;
    std::string new_user_class = "DEMO";
    std::string sample_key;
    int input_limit = 255;
    int output_stall_seconds = 120; // output untaken this long: the caller is disconnected
    std::vector<ClassDefinition> classes;
    // A daily clean-up missed while the host was down runs at start-up. The
    // operator's commands that start the plug-ins for other work (purge,
    // deleting an account) turn this off: the clean-up is left to serving.
    bool run_missed_cleanup = true;
};

// --------------------------------------------------------- the core API

struct AuditEntry {
    std::string date, time, summary, detail;
};

struct LoadedModule {
    std::string dll;     // name on the DLL= line
    std::string status;  // "loaded", or why it was skipped
};

// Starts the host on a BBS directory: opens the data files, loads and
// initialises the plug-ins, runs a clean-up missed while the host was down.
// False (with the reasons) when it must not serve.
bool start_host(const std::string &directory, const HostSettings &settings,
                const std::string &plugin_directory, TerminalPort *terminal, ClockPort *clock,
                std::vector<std::string> &errors);
// Callers told, hang-up and shutdown routines, files closed.
void stop_host(const std::string &farewell);
// The files of a BBS directory without its plug-ins, for the operator's
// commands on accounts: the data store, the account file, the host's tables,
// the classes of `settings`, and the BBS's clock (the offset the host keeps
// included) for dates and audit entries. What serving keeps in memory (the
// system variables, the clock offset) is never written back, so this is safe
// while another process serves the directory. False, with the reason, when
// the files cannot be opened. close_host_files() closes them.
bool open_host_files(const std::string &directory, const HostSettings &settings, ClockPort *clock,
                     std::string &error);
void close_host_files();
// The file NAME.so in `folder`, the case of NAME ignored; empty when none.
std::string find_plugin(const std::string &folder, const std::string &name);
bool host_running();
const std::vector<LoadedModule> &loaded_modules();
// The chkuid/chkpsw chains as installed, first called first.
std::vector<std::string> check_chain(bool password);

// Events from a front end.
int free_line();  // a free line for a new connection, or -1
void line_connected(int line, int32_t baud_rate);
void line_input(int line, std::string_view text);  // one line of input, without its line end
void line_dropped(int line);                       // the connection is gone
void line_set_screen(int line, int width, int length);
void host_tick();             // due timers, idle callers, the daily clean-up
bool run_polling_round();     // one call of every polling routine; false when none
bool polling_pending();
int64_t next_timer_ms();      // monotonic time of the next timer, or -1

// Operator work.
void run_daily_cleanup();
// Removes every account tagged for deletion (each plug-in's account-deletion
// routine runs for it); the count, and the user-IDs in `removed` if given.
int purge_tagged_accounts(std::vector<std::string> *removed = nullptr);
void set_audit_listener(std::function<void(const AuditEntry &)> listener);
// Each mail a plug-in hands to simpsnd, as it built it: the header's bytes
// and the text. Called before the mail is stored, whatever becomes of it.
void set_mail_listener(std::function<void(const mail_header &, const std::string &text)> listener);

// Inside the core.
void set_line_count(int n);   // makes n free lines (also used by tests of plug-in helpers)
void write_audit(const std::string &summary, const std::string &detail);
void deliver(int line, std::string_view bytes);
int64_t local_seconds();      // the BBS's time of day, offset included

}  // namespace bbs

#endif
