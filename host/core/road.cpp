// The caller's road: log-on, the new-user form, the menu, modules, mail,
// the line editor, idle callers and hanging up.
#include <algorithm>
#include <cstring>

#include "datafile.h"
#include "descriptor.h"
#include "state.h"

namespace bbs {
namespace {

const char *kLogonPlaceholder = "(Logging on)";
const char *kFreePlaceholder = "(Free)";

void say(int n, const std::string &text) { deliver(n, text); }

void prompt_user_id(int n) { say(n, "\nUser-ID (or NEW to sign up): "); }

// Back to the log-on placeholder after a refused user-ID or password: a check
// may have loaded the account into the line (or, refusing, cleared it). The
// caller's screen and terminal settings stay with the line.
void restore_placeholder(Line &line) {
    account_record placeholder{};
    std::strcpy(placeholder.user_id, kLogonPlaceholder);
    placeholder.terminal_flags = line.account.terminal_flags;
    placeholder.screen_width = line.account.screen_width ? line.account.screen_width : 80;
    placeholder.screen_length = line.account.screen_length ? line.account.screen_length : 24;
    line.account = placeholder;
    line.keys.clear();
    line.session.current_class_record = nullptr;
}

// While a caller's log-on step runs (his password check, connect hooks and
// log-on routines), the disconnections asked for wait until it is over. A
// check that ends another line (a ghost of the same caller) thus has that
// line hung up after the caller is signed on: the ghost's hang-up routines
// never see a caller half-way through his log-on.
struct HoldDrops {
    HoldDrops() { ++core().call_depth; }
    ~HoldDrops() {
        --core().call_depth;
        finish_drops();
    }
    HoldDrops(const HoldDrops &) = delete;
    HoldDrops &operator=(const HoldDrops &) = delete;
};

void prompt_password(int n) {
    core().terminal->set_echo(n, false);
    say(n, "Password: ");
}

std::string trimmed(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    return std::string(text.substr(b, e - b));
}

// Modules a caller can enter from the menu: every plug-in with an input
// routine whose descriptor file does not keep it off the menu, numbered in
// load order.
std::vector<int> menu_modules() {
    std::vector<int> out;
    Core &c = core();
    for (size_t i = 1; i < c.modules.size(); ++i)
        if (c.modules[i]->input_routine != nullptr && offered_on_menu(c.modules[i]->name))
            out.push_back(static_cast<int>(i));
    return out;
}

void set_input(std::string_view text) {
    size_t n = std::min(text.size(), static_cast<size_t>(INPUT_SIZE - 1));
    std::memcpy(input, text.data(), n);
    input[n] = '\0';
    parsin();
}

void fail_try(int n, const std::string &why) {
    Line &line = *line_at(n);
    if (++line.failed_tries >= 3) {
        write_audit("LOG-ON FAILED", "Three failed tries on channel " + std::to_string(channel[n]) + ": " + why);
        say(n, "\nToo many failed tries. Goodbye.\n");
        line.drop_requested = true;
        finish_drops();
        return;
    }
    line.road = Road::AskUserId;
    prompt_user_id(n);
}

// Whether the user-ID is signed on at a line other than n, and not on its
// way off (a ghost that a log-on guard disconnects once the log-on is over).
bool signed_on_elsewhere(int n, const char *user_id) {
    Core &c = core();
    for (size_t i = 0; i < c.lines.size(); ++i) {
        const Line &other = *c.lines[i];
        if (static_cast<int>(i) != n && other.signed_on && !other.drop_requested && other.road != Road::Leaving &&
            sameas(other.account.user_id, user_id))
            return true;
    }
    return false;
}

void sign_on(int n) {
    Core &c = core();
    Line &line = *line_at(n);
    core().terminal->set_echo(n, true);
    line.session.current_class_record = fndcls(line.account.class_name);
    apply_window(line);
    for (auto hook : c.connect_hooks) {
        plugin_call(n, [&] { hook(); });
        if (line.drop_requested || line.road == Road::Free) return;
    }
    line.signed_on = true;
    line.session.session_class = SESSION_SIGNED_ON;
    line.session.logon_date = today();
    line.session.logon_time = now();
    line.account.last_call_date = today();
    line.account.total_calls++;
    line.road = Road::Menu;
    say(n, "\nWelcome, " + std::string(line.account.user_id) + "!\n");
    for (size_t i = 1; i < c.modules.size(); ++i) {
        if (auto routine = c.modules[i]->logon_routine) plugin_call(n, [&] { routine(); });
        if (line.road == Road::Free || line.drop_requested) return;
    }
    int unread = 0;
    for (const Mail &m : mail_for(line.account.user_id)) unread += m.read ? 0 : 1;
    if (unread > 0) say(n, "You have " + std::to_string(unread) + " unread mail(s). Type M to read.\n");
    show_menu(n);
}

// The host's own user-ID check: the last in the chkuid chain.
int host_chkuid(const char *user_id) {
    account_record account;
    if (!load_account(user_id, account) || (account.account_flags & ACCOUNT_TAGGED_FOR_DELETION) != 0)
        return UID_UNKNOWN;
    if (onbbs(account.user_id, 1)) return UID_ON_LINE;
    Line &line = *line_at(usrnum);
    account_record placeholder = line.account;
    line.account = account;
    load_class_keys(line, account.class_name);
    bool spared = (hdlsmp != nullptr && hdlsmp()) || haskey(sampky) || (account.account_flags & ACCOUNT_NO_DEADBEAT);
    if (!spared) {
        line.account = placeholder;
        return UID_DEADBEAT;
    }
    if (account.account_flags & ACCOUNT_SUSPENDED) {
        line.account = placeholder;
        return UID_SUSPENDED;
    }
    line.session.logon_counter = 0;
    return UID_ACCEPTED;
}

// The host's own password check: the last in the chkpsw chain.
int host_chkpsw(const char *password) {
    return check_password(usaptr->user_id, password ? password : "") ? 1 : 0;
}

// The host's own answer to "is this caller spared the deadbeat refusal?":
// it has no ground of its own. The checks themselves look at the key that
// SAMPLE_KEY names and at the account's NO_DEADBEAT flag.
int host_hdlsmp() { return 0; }

void host_bgnedt(int text_size, char *text, int topic_size, char *topic, editor_done_t done, int) {
    Line *line = line_at(usrnum);
    if (line == nullptr || text == nullptr || text_size <= 0) return;
    line->editor = EditorJob{text_size, text, topic_size, topic, done, {}};
    line->road = topic != nullptr && topic_size > 0 ? Road::EditorTopic : Road::EditorText;
    if (line->road == Road::EditorTopic)
        prf("\nTopic: ");
    else
        prf("\nEnter your text. A line with /S alone saves it, /A abandons it.\n");
    outprf(usrnum);
}

void editor_finish(int n, bool saved) {
    Line &line = *line_at(n);
    EditorJob job = line.editor;
    line.editor = EditorJob{};
    if (saved)
        stlcpy(job.text, job.body.c_str(), job.text_size);
    else
        job.text[0] = '\0';  // nothing of an abandoned text is kept
    line.road = Road::InModule;
    if (job.done != nullptr) plugin_call(n, [&] { job.done(saved ? EDITOR_SAVED : EDITOR_ABORTED); });
    if (line.road == Road::InModule && line.session.current_module <= 0) {
        line.road = Road::Menu;
        show_menu(n);
    }
}

void editor_input(int n, std::string_view text) {
    Line &line = *line_at(n);
    EditorJob &job = line.editor;
    if (line.road == Road::EditorTopic) {
        stlcpy(job.topic, std::string(text).c_str(), job.topic_size);
        line.road = Road::EditorText;
        say(n, "Enter your text. A line with /S alone saves it, /A abandons it.\n");
        return;
    }
    std::string word = trimmed(text);
    if (sameas(word.c_str(), "/S")) return editor_finish(n, true);
    if (sameas(word.c_str(), "/A")) return editor_finish(n, false);
    size_t room = static_cast<size_t>(job.text_size - 1);
    if (job.body.size() + text.size() + 1 > room) {
        say(n, "(The text is full: /S saves it, /A abandons it.)\n");
        return;
    }
    job.body.append(text);
    job.body.push_back('\n');
}

// Hands `text` to the input routine of the module the caller is in; a
// routine that lets him go (or a module that has none) sends him back to the
// menu, unless the routine moved him elsewhere (the editor) or hung up.
void module_input(int n, std::string_view text) {
    Core &c = core();
    Line &line = *line_at(n);
    int number = line.session.current_module;
    input_routine_t routine =
        number > 0 && number < static_cast<int>(c.modules.size()) ? c.modules[number]->input_routine : nullptr;
    set_input(text);
    int stay = routine != nullptr ? plugin_call(n, [&] { return routine(); }) : 0;
    if (line.road == Road::InModule && !stay && !line.drop_requested) {
        line.session.current_module = 0;
        line.road = Road::Menu;
        show_menu(n);
    }
}

void enter_module(int n, int number) {
    Line &line = *line_at(n);
    line.session.current_module = number;
    line.session.module_substate = 0;
    line.road = Road::InModule;
    module_input(n, "");
}

bool global_command(int n, std::string_view text) {
    set_input(text);
    if (margc == 0) return false;
    for (auto routine : core().global_commands) {
        set_input(text);
        if (plugin_call(n, [&] { return routine(); })) return true;
        if (line_at(n)->road == Road::Free) return true;
    }
    set_input(text);
    return false;
}

// A global command may move its caller by setting current_module (AFK parks
// an away caller in its own module and later puts him back where he was).
// The caller's road follows: into that module's input routine, or back to
// the menu when he is in no module.
void follow_current_module(int n) {
    Line &line = *line_at(n);
    if (line.drop_requested || (line.road != Road::Menu && line.road != Road::InModule)) return;
    int number = line.session.current_module;
    bool in_module = number > 0 && number < static_cast<int>(core().modules.size());
    if (line.road == Road::Menu && in_module) {
        line.road = Road::InModule;
    } else if (line.road == Road::InModule && !in_module) {
        line.session.current_module = 0;
        line.road = Road::Menu;
        show_menu(n);
    }
}

void who_is_on(int n) {
    std::string out = "\nChannel  User-ID                        Where\n";
    Core &c = core();
    for (size_t i = 0; i < c.lines.size(); ++i) {
        Line &l = *c.lines[i];
        if (l.road == Road::Free) continue;
        char row[128];
        std::string where = l.signed_on ? (l.session.current_module > 0 &&
                                                   l.session.current_module < static_cast<int>(c.modules.size())
                                               ? c.modules[l.session.current_module]->name
                                               : "Main menu")
                                        : (l.status_text.empty() ? "Logging on" : l.status_text);
        std::snprintf(row, sizeof row, "  %02X     %-30s %.60s\n", channel[i] & 0xFF, l.account.user_id, where.c_str());
        out += row;
    }
    say(n, out);
}

void mail_menu(int n) {
    Line &line = *line_at(n);
    std::vector<Mail> box = mail_for(line.account.user_id);
    std::string out = "\nYour mail:\n";
    if (box.empty()) out += "  (none)\n";
    for (size_t i = 0; i < box.size(); ++i) {
        char row[400];
        std::snprintf(row, sizeof row, "  %2zu %c %-20.20s %-40.40s %s\n", i + 1, box[i].read ? ' ' : '*',
                      box[i].from.c_str(), box[i].subject.c_str(), box[i].date.c_str());
        out += row;
    }
    out += "Read which (number), D number to delete, Q to go back: ";
    say(n, out);
    line.road = Road::MailMenu;
}

void mail_input(int n, std::string_view text) {
    CallTransaction unit;  // reading a mail and its receipt are kept together
    Line &line = *line_at(n);
    std::string t = trimmed(text);
    std::vector<Mail> box = mail_for(line.account.user_id);
    if (t.empty() || sameas(t.c_str(), "Q")) {
        line.road = Road::Menu;
        show_menu(n);
        return;
    }
    bool remove = false;
    if (t[0] == 'D' || t[0] == 'd') {
        remove = true;
        t = trimmed(std::string_view(t).substr(1));
    }
    char *end = nullptr;
    long k = std::strtol(t.c_str(), &end, 10);
    if (end == t.c_str() || *end != '\0' || k < 1 || k > static_cast<long>(box.size())) {
        say(n, "No such mail.\n");
        mail_menu(n);
        return;
    }
    const Mail &m = box[k - 1];
    if (remove) {
        say(n, delete_mail(m.id, line.account.user_id) ? "Deleted.\n" : "Could not delete it.\n");
    } else {
        say(n, "\nFrom:    " + m.from + "\nTo:      " + m.to + "\nSubject: " + m.subject + "\nSent:    " + m.date +
                   " " + m.time + (m.flags & MAIL_RETURN_RECEIPT ? "  (receipt requested)" : "") + "\n\n" + m.body +
                   (m.body.empty() || m.body.back() != '\n' ? "\n" : ""));
        mark_mail_read(m);
    }
    mail_menu(n);
}

void menu_input(int n, std::string_view text) {
    Line &line = *line_at(n);
    std::string t = trimmed(text);
    if (t.empty() || t == "?") return show_menu(n);
    std::vector<int> mods = menu_modules();
    char *end = nullptr;
    long k = std::strtol(t.c_str(), &end, 10);
    if (end != t.c_str() && *end == '\0') {
        if (k >= 1 && k <= static_cast<long>(mods.size())) return enter_module(n, mods[k - 1]);
        say(n, "There is no choice " + t + ".\n");
        return show_menu(n);
    }
    if (sameas(t.c_str(), "M")) return mail_menu(n);
    if (sameas(t.c_str(), "W")) {
        who_is_on(n);
        return show_menu(n);
    }
    if (sameas(t.c_str(), "G") || sameas(t.c_str(), "BYE") || sameas(t.c_str(), "OFF")) {
        say(n, "\nGoodbye, " + std::string(line.account.user_id) + ". Call again!\n");
        line.drop_requested = true;
        finish_drops();
        return;
    }
    for (int number : mods)
        if (sameto(t.c_str(), core().modules[number]->name)) return enter_module(n, number);
    say(n, "There is no choice " + t + ".\n");
    show_menu(n);
}

void logon_input(int n, std::string_view text) {
    Core &c = core();
    Line &line = *line_at(n);
    std::string t = trimmed(text);
    switch (line.road) {
    case Road::AskUserId: {
        if (t.empty()) return prompt_user_id(n);
        if (sameas(t.c_str(), "NEW")) {
            line.session.session_class = SESSION_NEW_USER;
            line.road = Road::NewUserId;
            say(n, "\nWelcome! Choose a user-ID (letters, digits and blanks, at most 29, starting with a letter "
                   "or digit): ");
            return;
        }
        if (t.size() >= UIDSIZ) return fail_try(n, "a user-ID too long");
        set_input(t);
        int result = plugin_call(n, [&] { return chkuid(t.c_str()); });
        if (line.road == Road::Free || line.drop_requested) return;
        if (result != UID_ACCEPTED) restore_placeholder(line);
        switch (result) {
        case UID_ACCEPTED:
            line.road = Road::AskPassword;
            return prompt_password(n);
        case UID_ON_LINE:
            say(n, "That user-ID is already on-line.\n");
            return fail_try(n, t + " already on-line");
        case UID_DEADBEAT:
        case UID_SUSPENDED:
            say(n, result == UID_DEADBEAT ? "This account may not call now. Goodbye.\n"
                                          : "This account is suspended. Goodbye.\n");
            write_audit(result == UID_DEADBEAT ? "LOG-ON REFUSED" : "SUSPENDED USER", "User-ID: " + t);
            line.drop_requested = true;
            finish_drops();
            return;
        default:
            say(n, "There is no user with that ID. Type NEW to sign up.\n");
            return fail_try(n, "unknown user-ID " + t);
        }
    }
    case Road::AskPassword: {
        c.terminal->set_echo(n, true);
        say(n, "\n");
        std::string password(text);
        HoldDrops held;
        int ok = plugin_call(n, [&] { return chkpsw(password.c_str()); });
        if (line.road == Road::Free || line.drop_requested) return;
        if (ok && signed_on_elsewhere(n, line.account.user_id)) {
            // He signed on at another line while this one was at the
            // password prompt: one account is never on two lines at once.
            std::string who = line.account.user_id;
            say(n, "That user-ID is already on-line.\n");
            restore_placeholder(line);
            return fail_try(n, who + " already on-line");
        }
        if (ok) return sign_on(n);
        say(n, "Wrong password.\n");
        std::string who = line.account.user_id;
        restore_placeholder(line);
        return fail_try(n, "wrong password for " + who);
    }
    case Road::NewUserId: {
        account_record existing;
        if (t.empty() || t.size() >= UIDSIZ || !isuidc(static_cast<unsigned char>(t[0])) ||
            std::any_of(t.begin(), t.end(), [](char ch) { return !isuidc(static_cast<unsigned char>(ch)) && ch != ' '; })) {
            say(n, "That is not a user-ID. Choose another: ");
            return;
        }
        if (sameas(t.c_str(), "NEW") || load_account(t.c_str(), existing)) {
            say(n, "That user-ID is taken. Choose another: ");
            return;
        }
        line.pending_user_id = t;
        line.road = Road::NewPassword;
        say(n, "Choose a password (at least 4 characters): ");
        c.terminal->set_echo(n, false);
        return;
    }
    case Road::NewPassword:
        say(n, "\n");
        if (text.size() < 4 || text.size() > 64) {
            say(n, "A password has 4 to 64 characters. Choose a password: ");
            return;
        }
        line.pending_password = std::string(text);
        line.road = Road::NewPasswordAgain;
        say(n, "Type it again: ");
        return;
    case Road::NewPasswordAgain: {
        say(n, "\n");
        c.terminal->set_echo(n, true);
        if (line.pending_password != text) {
            line.road = Road::NewPassword;
            say(n, "The two did not match. Choose a password: ");
            c.terminal->set_echo(n, false);
            return;
        }
        account_record account{};
        stlcpy(account.user_id, line.pending_user_id.c_str(), sizeof account.user_id);
        stlcpy(account.class_name, c.settings.new_user_class.c_str(), sizeof account.class_name);
        account.account_date = today();
        account.screen_width = line.account.screen_width ? line.account.screen_width : 80;
        account.screen_length = line.account.screen_length ? line.account.screen_length : 24;
        if (const ClassDefinition *cls = class_definition(account.class_name)) account.credit_balance = cls->credits;
        bool made = false, taken = false;
        plugin_call(n, [&] {
            // Another caller may have taken the user-ID since it was chosen:
            // his account is never overwritten.
            account_record existing;
            taken = load_account(account.user_id, existing);
            made = !taken && save_account(account) && set_password(account.user_id, line.pending_password);
        });
        line.pending_password.clear();
        if (taken) {
            line.road = Road::NewUserId;
            say(n, "That user-ID was taken a moment ago. Choose another: ");
            return;
        }
        if (!made) {
            say(n, "Sorry, your account could not be made. Please call again later.\n");
            line.drop_requested = true;
            finish_drops();
            return;
        }
        write_audit("NEW USER", std::string("User-ID: ") + account.user_id);
        line.account = account;
        load_class_keys(line, account.class_name);
        return sign_on(n);
    }
    default:
        return;
    }
}

}  // namespace

void apply_window(Line &line) {
    if (line.window_width > 0) line.account.screen_width = static_cast<uint8_t>(std::min(line.window_width, 255));
    if (line.window_length > 0) line.account.screen_length = static_cast<uint8_t>(std::min(line.window_length, 255));
    line.wrap_width = line.account.screen_width;
}

void show_menu(int n) {
    Core &c = core();
    std::string out = "\nMain menu\n";
    std::vector<int> mods = menu_modules();
    for (size_t i = 0; i < mods.size(); ++i) {
        char row[64];
        std::snprintf(row, sizeof row, "  %2zu  %s\n", i + 1, c.modules[mods[i]]->name);
        out += row;
    }
    out += "   M  Mail\n   W  Who is on-line\n   G  Goodbye (log off)\nYour choice: ";
    deliver(n, out);
}

void hang_up_now(int n) {
    Core &c = core();
    Line *line = line_at(n);
    if (line == nullptr || line->road == Road::Free) return;
    line->drop_requested = false;
    bool was_signed_on = line->signed_on;
    line->road = Road::Leaving;
    line->poller = nullptr;
    if (was_signed_on) {
        for (size_t i = 1; i < c.modules.size(); ++i)
            if (auto routine = c.modules[i]->hangup_routine) plugin_call(n, [&] { routine(); });
        for (auto hook : c.disconnect_hooks) plugin_call(n, [&] { hook(); });
        plugin_call(n, [&] { save_account(line->account); });
    }
    if (c.terminal != nullptr) c.terminal->hang_up(n);
    line->session = session_record{};
    line->account = account_record{};
    std::strcpy(line->account.user_id, kFreePlaceholder);
    std::fill(line->vda.begin(), line->vda.end(), 0);
    line->keys.clear();
    line->signed_on = false;
    line->failed_tries = 0;
    line->editor = EditorJob{};
    line->road = Road::Free;
}

int free_line() {
    Core &c = core();
    for (size_t i = 0; i < c.lines.size(); ++i)
        if (c.lines[i]->road == Road::Free) return static_cast<int>(i);
    return -1;
}

void line_connected(int n, int32_t baud_rate) {
    Core &c = core();
    Line *line = line_at(n);
    if (line == nullptr || line->road != Road::Free) return;
    line->session = session_record{};
    line->session.session_class = SESSION_LOGGING_ON;
    line->session.baud_rate = baud_rate;
    line->account = account_record{};
    std::strcpy(line->account.user_id, kLogonPlaceholder);
    line->account.screen_width = 80;
    line->account.screen_length = 24;
    line->road = Road::AskUserId;
    line->last_input_ms = c.clock ? c.clock->monotonic_ms() : 0;
    line->connected_ms = line->last_input_ms;
    line->idle_warned = false;
    line->window_width = line->window_length = 0;
    line->status_text.clear();
    line->status_number = 0;
    deliver(n, "\nWelcome to the BBS. Channel " + std::to_string(channel[n] & 0xFF) + ".\n");
    prompt_user_id(n);
}

void line_set_screen(int n, int width, int length) {
    Line *line = line_at(n);
    if (line == nullptr || line->road == Road::Free) return;
    if (width > 0) line->window_width = width;
    if (length > 0) line->window_length = length;
    apply_window(*line);
}

void line_input(int n, std::string_view raw) {
    Core &c = core();
    Line *line = line_at(n);
    if (line == nullptr || line->road == Road::Free || line->road == Road::Leaving) return;
    // Control bytes never reach a routine, and a line is never longer than
    // the host's input buffer.
    std::string text;
    for (char ch : raw)
        if (static_cast<unsigned char>(ch) >= 32 && ch != 127) text.push_back(ch);
    size_t limit = static_cast<size_t>(std::clamp(c.settings.input_limit, 1, INPUT_SIZE - 1));
    if (text.size() > limit) text.resize(limit);
    line->last_input_ms = c.clock ? c.clock->monotonic_ms() : 0;
    line->idle_warned = false;
    select_line(n);
    switch (line->road) {
    case Road::Menu:
        if (!global_command(n, text))
            menu_input(n, text);
        else
            follow_current_module(n);
        break;
    case Road::InModule:
        if (!global_command(n, text))
            module_input(n, text);
        else
            follow_current_module(n);
        break;
    case Road::MailMenu:
        mail_input(n, text);
        break;
    case Road::EditorTopic:
    case Road::EditorText:
        editor_input(n, text);
        break;
    default:
        logon_input(n, text);
        break;
    }
    finish_drops();
}

void line_dropped(int n) {
    Line *line = line_at(n);
    if (line == nullptr || line->road == Road::Free) return;
    hang_up_now(n);
}

// session_tally is the host's count for a line: the whole seconds since
// the call began. Plug-ins compare it between lines (Free Line picks the
// caller on-line longest), so it is brought up to date before timers run.
void count_call_seconds() {
    Core &c = core();
    if (c.clock == nullptr) return;
    int64_t now_ms = c.clock->monotonic_ms();
    for (auto &line : c.lines) {
        if (line->road == Road::Free) continue;
        int64_t seconds = (now_ms - line->connected_ms) / 1000;
        line->session.session_tally = static_cast<int32_t>(std::min<int64_t>(seconds, INT32_MAX));
    }
}

void check_idle_lines() {
    Core &c = core();
    if (c.clock == nullptr) return;
    int64_t now_ms = c.clock->monotonic_ms();
    for (size_t i = 0; i < c.lines.size(); ++i) {
        Line &line = *c.lines[i];
        if (line.road == Road::Free || line.road == Road::Leaving) continue;
        int64_t idle = (now_ms - line.last_input_ms) / 1000;
        if (c.settings.idle_limit_seconds > 0 && idle >= c.settings.idle_limit_seconds) {
            deliver(static_cast<int>(i), "\nNo input for too long. Goodbye.\n");
            line.drop_requested = true;
        } else if (c.settings.idle_warn_seconds > 0 && idle >= c.settings.idle_warn_seconds && !line.idle_warned) {
            line.idle_warned = true;
            deliver(static_cast<int>(i), "\nAre you still there? You will be logged off soon.\n");
        }
    }
    finish_drops();
}

void install_host_checks() {
    chkuid = host_chkuid;
    chkpsw = host_chkpsw;
    hdlsmp = host_hdlsmp;
    bgnedt = host_bgnedt;
}

}  // namespace bbs
