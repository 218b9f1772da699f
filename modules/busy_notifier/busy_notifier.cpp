// The Busy Notifier: a caller who finds another caller busy asks to be told
// when that caller is free. One global command records, shows or cancels the
// request (one per line); a timer looks at every pending request each
// BSY_CHECK_SECONDS and, once the watched caller's busy bit has cleared or he
// has left, sends the notice to the caller who asked and drops the request.
#include "busy_notifier.h"

#include <cstring>

#include "frame.h"
#include "host.h"
#include "user_lookup.h"

namespace {

int logon_routine();
int input_routine();
void hangup_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, logon_routine, input_routine, dfsthn, nullptr, nullptr,
                                hangup_routine, nullptr, nullptr, shutdown_routine};

// One line's request. An entry is free when target_id is empty.
struct notify_request {
    char target_id[30];     // the caller waited for
    char requester_id[30];  // the caller who asked
};
static_assert(sizeof(notify_request) == 60, "a request is 60 bytes");

notify_request notify_table[MAX_LINES];  // by the requester's channel
int module_number;
message_block *block;
const char *status_word;
const char *command_word;
const char *notify_key;
int32_t beep;
int32_t check_seconds;

constexpr const char *VERSION = "2.3";
constexpr const char *NOBODY = "<Nobody>";

bool is_free(const notify_request &entry) { return sameas(entry.target_id, "") != 0; }

void clear_entry(notify_request &entry) { std::memset(&entry, 0, sizeof entry); }

// A user-ID field read no further than its own size.
void copy_user_id(char *destination, const char *user_id) {
    const size_t length = strnlen(user_id, UIDSIZ - 1);
    std::memcpy(destination, user_id, length);
    destination[length] = '\0';
}

int logon_routine() {
    if (haskey(notify_key) != 0) show_message(block, BSY_LOGON_NOTICE, VERSION, command_word, status_word);
    clear_entry(notify_table[usrnum]);
    return 0;
}

// No dialogue: a caller who picks the Busy Notifier is back at the menu at once.
int input_routine() { return 0; }

void hangup_routine() { clear_entry(notify_table[usrnum]); }

void shutdown_routine() { clsmsg(block); }

// A request for the name in words 1 to margc - 1: recorded when that caller
// is busy, answered at once when he is not.
void request(notify_request &entry) {
    char text[JOINED_TEXT_SIZE];
    std::memset(text, 0, sizeof text);
    join_words(text, 1, margc - 1);
    switch (find_online_user(text)) {
    case USER_NOT_FOUND:
        prfmsg(BSY_NO_SUCH_USER, text);
        break;
    case USER_AMBIGUOUS:
        prfmsg(BSY_AMBIGUOUS, text, command_word);
        break;
    default:
        onsys(text);
        if ((othusp->session_flags & SESSION_BUSY) == 0) {
            prfmsg(BSY_TARGET_FREE, othuap->user_id);
        } else {
            copy_user_id(entry.target_id, othuap->user_id);
            copy_user_id(entry.requester_id, usaptr->user_id);
            prfmsg(BSY_WILL_NOTIFY, entry.target_id);
        }
        break;
    }
}

int notify_command() {
    notify_request &entry = notify_table[usrnum];
    // The status word after the command word is always the status query,
    // even when a user-ID begins with it.
    if (margc == 2 && sameas(margv[0], command_word) && sameas(margv[1], status_word)) {
        setmbk(block);
        if (haskey(notify_key) == 0) {
            prfmsg(BSY_NO_KEY, usaptr->class_name);
        } else {
            prfmsg(BSY_STATUS_HEAD, command_word, command_word, status_word);
            prfmsg(BSY_STATUS_TARGET, command_word, is_free(entry) ? NOBODY : entry.target_id);
        }
        outprf(usrnum);
        rstmbk();
        return 1;
    }
    if (!is_command(command_word)) return 0;
    setmbk(block);
    if (haskey(notify_key) == 0) {
        prfmsg(BSY_NO_KEY, usaptr->class_name);
    } else if (margc == 1) {
        if (!is_free(entry)) {
            prfmsg(BSY_CANCELLED, entry.target_id);  // formatted now: the entry may go
            clear_entry(entry);
        } else {
            prfmsg(BSY_NOTHING_PENDING);
        }
    } else {
        request(entry);
    }
    outprf(usrnum);
    rstmbk();
    return 1;
}

// Answers each pending request whose watched caller has left or is no
// longer busy; the notice reaches the caller who asked if he is still
// on-line. The next check is armed when this one is done.
void notify_check() {
    setmbk(block);
    for (notify_request &entry : notify_table) {
        if (is_free(entry)) continue;
        int notice = BSY_TARGET_GONE;
        if (onsys(entry.target_id) != 0) {
            if ((othusp->session_flags & SESSION_BUSY) != 0) continue;  // still busy: keep waiting
            notice = BSY_TARGET_FREE;
        }
        if (onsysn(entry.requester_id, 1) != 0) {
            if (beep != 0) gprintf("\a");
            prfmsg(notice, entry.target_id);
            injoth();
        }
        clear_entry(entry);
    }
    rtkick(check_seconds, notify_check);
    rstmbk();
}

}  // namespace

BBS_EXPORT void init__krvbsynt() {
    set_module_name(descriptor, gmdnam("KRVBSYNT.MDF"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvbsynt.mcv");
    globalcmd(notify_command);
    status_word = stgopt(BSY_STATUS_WORD);
    command_word = stgopt(BSY_COMMAND);
    notify_key = stgopt(BSY_KEY);
    beep = ynopt(BSY_BEEP);
    check_seconds = numopt(BSY_CHECK_SECONDS, BSY_CHECK_SECONDS_MIN, BSY_CHECK_SECONDS_MAX);
    for (notify_request &entry : notify_table) clear_entry(entry);
    rtkick(check_seconds, notify_check);
}
