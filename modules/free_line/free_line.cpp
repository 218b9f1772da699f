// Free Line: keeps lines free for callers who hold the operator's key. Every
// FL_CHECK_SECONDS it counts the busy lines of a range of hardware channels;
// when no more than FL_SPARE_LINES of them are free it warns one DEMO
// caller (signed on, without the key) and, FL_WARNING_SECONDS later,
// disconnects the caller warned last if he is still on-line.
#include "free_line.h"

#include <cstring>

#include "frame.h"
#include "host.h"

namespace {

int input_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, nullptr, input_routine, dfsthn, nullptr, nullptr,
                                nullptr, nullptr, nullptr, shutdown_routine};
int module_number;
message_block *block;
const char *exempt_key;
int32_t spare_lines;
int32_t check_seconds;
uint16_t first_channel;
uint16_t last_channel;
int32_t warning_seconds;
int32_t ring_bell;
int32_t audit_warning;
int32_t audit_bump;
int32_t busy_threshold;  // busy lines of the range from which the module acts
bool active;
char warned_user_id[32];  // the caller warned last; never cleared

constexpr char BEL = 7;
constexpr char PLACEHOLDER_START = '(';  // a line not signed on shows "(Logging on)"

// No dialogue: a caller who picks Free Line is back at the menu at once.
int input_routine() { return 0; }

void shutdown_routine() { clsmsg(block); }

bool in_range(int chan) { return channel_in_range(chan, first_channel, last_channel); }

// A user-ID field read no further than its own size.
void copy_user_id(char *destination, const char *user_id) {
    const size_t length = strnlen(user_id, UIDSIZ - 1);
    std::memcpy(destination, user_id, length);
    destination[length] = '\0';
}

// The line at othusn is in use by a caller, or by one still logging on.
bool line_is_busy() {
    if (!in_range(othusn)) return false;
    if (othusp->session_class == SESSION_FREE) return false;
    const unsigned char first = static_cast<unsigned char>(othuap->user_id[0]);
    return isuidc(first) != 0 || first == PLACEHOLDER_START;
}

// The caller at othusn may be warned: signed on (or in the new-user form)
// under a real user-ID, without the key, on a line of the range.
bool is_candidate() {
    if (othusp->session_class != SESSION_SIGNED_ON && othusp->session_class != SESSION_NEW_USER) return false;
    const unsigned char first = static_cast<unsigned char>(othuap->user_id[0]);
    if (isuidc(first) == 0 || first == PLACEHOLDER_START) return false;
    if (othkey(exempt_key) != 0) return false;
    return in_range(othusn);
}

void bump_demo_user() {
    if (onsysn(warned_user_id, 1) == 0) return;  // gone already: nothing to do
    bbsdsc(othusn);
    if (audit_bump != 0) shocst("KRV Free Line bumped DEMO user", "User-ID: %s", warned_user_id);
}

// Warns the candidate with the largest session_tally. The best starts at -1
// and only a larger tally takes its place: the lowest channel wins a tie and
// a negative tally is never taken.
void warn_demo_user() {
    int32_t best = -1;
    char kept[UIDSIZ];
    kept[0] = '\0';
    for (othusn = 0; othusn < nterms; ++othusn) {
        othusp = usroff(othusn);
        othuap = uacoff(othusn);
        if (!is_candidate()) continue;
        if (othusp->session_tally > best) {
            best = othusp->session_tally;
            copy_user_id(kept, othuap->user_id);
        }
    }
    if (best < 0) return;
    // Only a signed-on caller is found; one still in the new-user form is
    // left until he has signed on, rather than warning whatever line the
    // other-user globals last pointed at.
    if (onsysn(kept, 1) == 0) return;
    if (ring_bell != 0) prf("%c", BEL);
    prfmsg(FL_WARNING, static_cast<int>(warning_seconds));
    injoth();
    copy_user_id(warned_user_id, othuap->user_id);
    if (audit_warning != 0) shocst("KRV Free Line warned DEMO user", "User-ID: %s", warned_user_id);
    rtkick(warning_seconds, bump_demo_user);
}

void check_lines() {
    if (!active) return;
    setmbk(block);
    int32_t busy = 0;
    for (othusn = 0; othusn < nterms; ++othusn) {
        othusp = usroff(othusn);
        othuap = uacoff(othusn);
        if (line_is_busy()) ++busy;
    }
    if (busy >= busy_threshold) warn_demo_user();
    rtkick(check_seconds, check_lines);
    rstmbk();
}

}  // namespace

BBS_EXPORT void init__krvfreln() {
    set_module_name(descriptor, gmdnam("KRVFRELN.MDF"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvfreln.mcv");
    exempt_key = stgopt(FL_EXEMPT_KEY);
    spare_lines = numopt(FL_SPARE_LINES, FL_SPARE_LINES_MIN, FL_SPARE_LINES_MAX);
    check_seconds = numopt(FL_CHECK_SECONDS, FL_CHECK_SECONDS_MIN, FL_CHECK_SECONDS_MAX);
    first_channel = static_cast<uint16_t>(hexopt(FL_FIRST_CHANNEL, FL_CHANNEL_MIN, FL_CHANNEL_MAX));
    last_channel = static_cast<uint16_t>(hexopt(FL_LAST_CHANNEL, FL_CHANNEL_MIN, FL_CHANNEL_MAX));
    warning_seconds = numopt(FL_WARNING_SECONDS, FL_WARNING_SECONDS_MIN, FL_WARNING_SECONDS_MAX);
    ring_bell = ynopt(FL_BELL);
    audit_warning = ynopt(FL_AUDIT_WARNING);
    audit_bump = ynopt(FL_AUDIT_BUMP);
    order_channel_range(first_channel, last_channel);
    busy_threshold = (last_channel - first_channel + 1) - spare_lines;
    warned_user_id[0] = '\0';
    if (busy_threshold < 1) {
        active = false;
        shocst("KRV Free Line Config Error", "Your settings will not allow DEMOs to be bumped");
        return;
    }
    active = true;
    rtkick(check_seconds, check_lines);
}
