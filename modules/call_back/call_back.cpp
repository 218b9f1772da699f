// Call Back: a caller who has hung up waits a set time before his user-ID
// may log on again. The latest hang-up of each user-ID is kept in
// krvcalbk.dat; a log-on (at the password check, and again when the line
// connects) that comes before the wait is over is shown when the caller may
// call back, and the call ends. Key holders, lines outside the channel range,
// times outside the window and quiet hours (too few callers) are let through.
#include "call_back.h"

#include <cstring>

#include "frame.h"
#include "host.h"
#include "packed_date.h"

namespace {

int input_routine();
void hangup_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, nullptr, input_routine, dfsthn, nullptr, nullptr,
                                hangup_routine, nullptr, nullptr, shutdown_routine};
int module_number;
message_block *block;
dfa_file *hangup_file;
chkpsw_t previous_chkpsw;

const char *exempt_key;
int32_t delay_seconds;
int32_t use_time_window;
int32_t use_min_users;
int32_t min_users;
unsigned first_channel;
unsigned last_channel;
uint16_t window_start;
uint16_t window_end;
int32_t audit_refusals;

// ncdate and nctime texts are copied into buffers of this size at once.
constexpr int TEXT_SIZE = 12;
constexpr uint16_t NOT_A_TIME = 0xFFFF;

// No dialogue: a caller who picks Call Back is back at the menu at once.
int input_routine() { return 0; }

bool can_begin_user_id(const char *user_id) { return isuidc(static_cast<unsigned char>(user_id[0])) != 0; }

// Today's date and the time now, read so that they belong to the same day:
// a date read just before midnight with a time read just after it would
// put the moment a whole day late.
void date_and_time_now(uint16_t &date, uint16_t &time) {
    date = today();
    time = now();
    if (today() != date) {
        date = today();
        time = now();
    }
}

// The end of the wait after a hang-up at `time` on `date`: a sum that passes
// midnight wraps to a smaller time, and the wait then ends on the next day.
void end_of_wait(uint16_t date, uint16_t time, uint16_t &end_date, uint16_t &end_time) {
    end_time = add_seconds_to_time(delay_seconds, time);
    end_date = end_time < time ? add_days_to_date(1, date) : date;
}

// Busy lines of the range: every line in it that is past its first log-on
// state and shows a user-ID or a placeholder in parentheses, the line of the
// caller who is logging on included.
int count_users_in_range() {
    int count = 0;
    for (int n = 0; n < nterms; ++n) {
        othusn = n;
        othusp = usroff(n);
        othuap = uacoff(n);
        if (!channel_in_range(n, first_channel, last_channel)) continue;
        if (othusp->session_class <= 1) continue;
        const int first = static_cast<unsigned char>(othuap->user_id[0]);
        if (isuidc(first) != 0 || first == '(') ++count;
    }
    return count;
}

// 1 when the hang-up kept for the current caller no longer keeps him out.
int wait_is_over(uint16_t hangup_date, uint16_t hangup_time) {
    if (haskey(exempt_key) != 0) return 1;
    if (!channel_in_range(usrnum, first_channel, last_channel)) return 1;
    uint16_t end_date;
    uint16_t end_time;
    end_of_wait(hangup_date, hangup_time, end_date, end_time);
    uint16_t date;
    uint16_t time;
    date_and_time_now(date, time);
    if (end_date < date) return 1;
    if (use_time_window != 0) {
        if (window_end >= window_start) {
            if (time < window_start || time > window_end) return 1;
        } else if (time < window_start && time > window_end) {
            return 1;  // the window runs over midnight and now lies outside it
        }
    } else if (use_min_users != 0) {
        if (count_users_in_range() < min_users) return 1;
    }
    if (end_date > date) return 0;
    if (time < end_time) return 0;
    return 1;
}

void send_to_own_channel() {
    const int32_t kept = usrnum;
    othusn = usrnum;
    injoth();
    usrnum = kept;
}

// 1 when the current caller's wait lasts: he has been told when he may call
// back and his call is ending. A record whose wait is over is removed.
int refuse_if_waiting() {
    hangup_record record;
    dfaSetBlk(hangup_file);
    if (dfaAcqLock(&record, usaptr->user_id, 0, DFA_GET_EQUAL, 0) == 0) {
        dfaRstBlk();
        return 0;
    }
    if (wait_is_over(record.hangup_date, record.hangup_time) != 0) {
        dfaDelete();
        dfaRstBlk();
        return 0;
    }
    uint16_t date;
    uint16_t time;
    date_and_time_now(date, time);
    uint16_t end_date;
    uint16_t end_time;
    end_of_wait(record.hangup_date, record.hangup_time, end_date, end_time);
    char end_date_text[TEXT_SIZE];
    char end_time_text[TEXT_SIZE];
    char date_text[TEXT_SIZE];
    char time_text[TEXT_SIZE];
    stlcpy(end_date_text, ncdate(end_date), TEXT_SIZE);
    stlcpy(end_time_text, nctime(end_time), TEXT_SIZE);
    stlcpy(date_text, ncdate(date), TEXT_SIZE);
    stlcpy(time_text, nctime(time), TEXT_SIZE);
    if (audit_refusals != 0) shocst("KRV Call Back delayed Log-on", "User-ID: %s", usaptr->user_id);
    setmbk(block);
    prfmsg(CB_WAIT_UNTIL, end_date_text, end_time_text);
    if ((usrptr->session_flags & SESSION_INJECT_ON_REFUSAL) != 0) {
        prfmsg(CB_GOODBYE, date_text, time_text);
        send_to_own_channel();
        bbsdsc(usrnum);
    } else {
        byenow(CB_GOODBYE, date_text, time_text);
    }
    rstmbk();
    dfaRstBlk();
    return 1;
}

// Keeps the latest hang-up of the current caller's user-ID, one record each.
void record_hangup() {
    if (!can_begin_user_id(usaptr->user_id)) return;
    hangup_record record;
    std::memset(&record, 0, sizeof record);
    stlcpy(record.user_id, usaptr->user_id, sizeof record.user_id);
    date_and_time_now(record.hangup_date, record.hangup_time);
    hangup_record old;
    dfaSetBlk(hangup_file);
    if (dfaAcqLock(&old, record.user_id, 0, DFA_GET_EQUAL, 0) != 0) dfaDelete();
    dfaInsert(&record);
    dfaRstBlk();
}

// The account flag 0x8000 (a sign bit) spares the caller the record made
// here; the disconnect hook still makes one.
void hangup_routine() {
    if (static_cast<int16_t>(usaptr->account_flags) >= 0) record_hangup();
}

void disconnect_hook() { record_hangup(); }

void connect_hook() {
    if (refuse_if_waiting() == 1) bbsdsc(usrnum);
}

// Chained: the check installed before this one decides on the password; the
// wait is looked at only for a password it accepted.
int password_check(const char *password) {
    if (previous_chkpsw(password) == 0) return 0;
    if (!can_begin_user_id(usaptr->user_id)) return 0;
    return refuse_if_waiting() == 1 ? 0 : 1;
}

void shutdown_routine() {
    clsmsg(block);
    dfaClose(hangup_file);
}

// Options 10 and 11 are times of day. One that is not (dctime refuses it)
// would move the window silently; the window is left unused instead, and the
// operator is told.
void read_time_window() {
    const char *start_text = stgopt(CB_WINDOW_START);
    const char *end_text = stgopt(CB_WINDOW_END);
    window_start = dctime(start_text);
    window_end = dctime(end_text);
    if (window_start != NOT_A_TIME && window_end != NOT_A_TIME) return;
    const bool start_bad = window_start == NOT_A_TIME;
    shocst("KRV Call Back time window not used", "Option %d is '%s', not a time of day (HH:MM)",
           start_bad ? CB_WINDOW_START : CB_WINDOW_END, start_bad ? start_text : end_text);
    use_time_window = 0;
}

}  // namespace

BBS_EXPORT void init__krvcalbk() {
    set_module_name(descriptor, gmdnam("KRVCALBK.MDF"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvcalbk.mcv");
    hangup_file = dfaOpen("krvcalbk.dat", sizeof(hangup_record), nullptr);
    hook_connect(connect_hook);
    hook_disconnect(disconnect_hook);
    exempt_key = stgopt(CB_EXEMPT_KEY);
    use_time_window = ynopt(CB_USE_TIME_WINDOW);
    audit_refusals = ynopt(CB_AUDIT);
    if (use_time_window != 0) read_time_window();
    delay_seconds = numopt(CB_DELAY_SECONDS, 0, CB_MAX_DELAY_SECONDS);
    use_min_users = ynopt(CB_USE_MIN_USERS);
    min_users = numopt(CB_MIN_USERS, 0, 255);
    first_channel = hexopt(CB_FIRST_CHANNEL, 0, 255);
    last_channel = hexopt(CB_LAST_CHANNEL, 0, 255);
    order_channel_range(first_channel, last_channel);
    previous_chkpsw = chkpsw;
    chkpsw = password_check;
}
