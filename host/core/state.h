// The core's own state: lines, registered routines, timers. Shared by the
// files of the core; never seen by plug-ins or front ends.
#ifndef BBS_STATE_H
#define BBS_STATE_H

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core.h"

namespace bbs {

// Where a caller stands on his road through the host.
enum class Road {
    Free,          // no connection
    AskUserId,     // "(Logging on)": the user-ID prompt
    AskPassword,
    NewUserId,     // the new-user form
    NewPassword,
    NewPasswordAgain,
    Menu,          // signed on, at the host's menu
    InModule,      // signed on, inside a plug-in
    MailMenu,
    EditorTopic,   // the line editor, asked by a plug-in
    EditorText,
    Leaving,       // being disconnected; takes no more input
};

struct EditorJob {
    int text_size = 0;
    char *text = nullptr;
    int topic_size = 0;
    char *topic = nullptr;
    editor_done_t done = nullptr;
    std::string body;
};

struct Line {
    session_record session{};
    account_record account{};
    std::vector<char> vda;
    Road road = Road::Free;
    std::set<std::string> keys;     // upper case
    std::string pending_user_id;    // the new-user form
    std::string pending_password;
    int failed_tries = 0;
    bool signed_on = false;         // connect hooks and log-on routines have run
    bool drop_requested = false;    // bbsdsc/byenow: hang up at the end of the current call
    int64_t last_input_ms = 0;
    int64_t connected_ms = 0;       // when the call began; session_tally counts seconds from it
    bool idle_warned = false;
    void (*poller)() = nullptr;
    int wrap_width = 0;
    int window_width = 0;           // the caller's terminal window, when it told us (0: not told)
    int window_length = 0;
    // What shochl last said of the line, whole (a status text may be longer
    // than any field of the session record). The who list shows it while the
    // caller logs on; it stays after a hang-up until the line's next call.
    std::string status_text;
    int status_number = 0;
    EditorJob editor;
};

struct Timer {
    int64_t due_ms;
    uint64_t sequence;
    void (*routine)();
};

struct PseudoKey {
    std::string name;
    int (*routine)(int, const char *);
};

struct Core {
    HostSettings settings;
    TerminalPort *terminal = nullptr;
    ClockPort *clock = nullptr;
    std::vector<std::unique_ptr<Line>> lines;
    int vda_size = 0;
    std::vector<char> vdatmp_buffer;
    std::vector<module_descriptor *> modules;          // by module number; 0 is the host's menu
    std::vector<void (*)()> connect_hooks, disconnect_hooks;
    std::vector<int (*)()> global_commands;
    std::vector<Timer> timers;
    uint64_t timer_sequence = 0;
    std::vector<PseudoKey> pseudo_keys;
    std::vector<LoadedModule> loaded;
    std::vector<void *> handles;                       // dlopen handles
    std::function<void(const AuditEntry &)> audit_listener;
    std::function<void(const mail_header &, const std::string &)> mail_listener;
    int64_t clock_offset = 0;                          // seconds added to the clock port's time
    bool running = false;
    int call_depth = 0;
};

Core &core();
Line *line_at(int n);  // null outside 0..nterms-1

// Points the current-line globals at line n (a scratch record when n is -1).
void select_line(int n);

// Calls a plug-in routine as one unit of work: one data-file transaction,
// and disconnections asked for during it carried out after it.
template <class F>
auto plugin_call(int line, F &&f) -> decltype(f());
void begin_plugin_call(int line);
void end_plugin_call();
void finish_drops();     // hang up lines whose disconnection was asked for
// Stores the system variables (sv2) in the current transaction when a
// routine changed them since they were last stored (host.cpp).
void store_changed_system_variables();

// The caller's road (road.cpp).
void show_menu(int line);
void hang_up_now(int line);
// The window the caller's terminal reported wins over the size stored in his
// account; the line's wrap width follows the account's width.
void apply_window(Line &line);

// Accounts (accounts.cpp).
bool load_account(const char *user_id, account_record &out);
bool save_account(const account_record &account);
void load_class_keys(Line &line, const char *class_name);
const ClassDefinition *class_definition(const char *name);
bool set_password(const char *user_id, const std::string &password);
bool check_password(const char *user_id, const std::string &password);
void init_classes();
void init_accounts();

bool give_key(const char *user_id, const std::string &key, bool give);
std::set<std::string> own_keys(const char *user_id);  // given to the user besides his class's, upper case
bool remove_account(const account_record &account, const char *why);

// Dates (text.cpp).
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);
void civil_from_days(int64_t days, int &year, int &month, int &day);
int64_t seconds_from_packed(uint16_t date, uint16_t time);
uint16_t packed_date_after(uint16_t date, int days);

// Mail (mail.cpp).
struct Mail {
    int64_t id = 0;
    std::string from, to, subject, body, date, time;
    uint32_t flags = 0;
    bool read = false;
};
void init_mail();
std::vector<Mail> mail_for(const char *user_id);
bool mark_mail_read(const Mail &mail);   // sends the receipt a sender asked for
bool delete_mail(int64_t id, const char *user_id);
bool store_mail(const std::string &from, const std::string &to, const std::string &subject,
                const std::string &body, uint32_t flags);

template <class F>
auto plugin_call(int line, F &&f) -> decltype(f()) {
    begin_plugin_call(line);
    if constexpr (std::is_void_v<decltype(f())>) {
        f();
        end_plugin_call();
    } else {
        auto result = f();
        end_plugin_call();
        return result;
    }
}

}  // namespace bbs

#endif
