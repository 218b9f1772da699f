// The Demo Clean: every day, the accounts that never got the configured key,
// are not protected and are old enough are tagged for deletion (bit 0x0008
// of account_flags), each with an audit entry and a line in a text report
// if the operator wants them. Nothing is deleted here: the operator's purge
// removes tagged accounts.
#include "demo_clean.h"

#include <cstdio>
#include <cstring>

#include "frame.h"
#include "host.h"
#include "packed_date.h"

namespace {

int input_routine();
void daily_cleanup_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, nullptr, input_routine, dfsthn, nullptr, nullptr,
                                nullptr, daily_cleanup_routine, nullptr, shutdown_routine};
int module_number;
message_block *block;
const char *exempt_key;
int32_t minimum_age_days;
int32_t audit_tagged;
int32_t report_tagged;
const char *report_name;

constexpr unsigned MONTH_SHIFT = 5;
constexpr unsigned MONTH_BITS = 0x0F;
constexpr int PATH_TEXT_SIZE = 64;

// A date the account can be aged from: a calendar date (month 1 to 12).
// Month 0 is the host's "no date", never an age.
bool is_account_date(uint16_t date) {
    unsigned month = (date >> MONTH_SHIFT) & MONTH_BITS;
    return is_valid_date(date) != 0 && month >= 1 && month <= 12;
}

// Whether `minimum_age_days` lie from the account's date to today. A date
// after today, or one that is not a date, never counts as old: the day count
// would wrap round and make a new account look ancient. (A date numerically
// after today is at best the same day written as day 0 of the next month.)
int old_enough(uint16_t account_date, uint16_t t) {
    if (!is_account_date(account_date) || account_date > t) return 0;
    return days_between_dates(account_date, t) >= minimum_age_days ? 1 : 0;
}

void append_report_line(const char *user_id, uint16_t t) {
    FILE *report = std::fopen(DMCLN_REPORT_FILE, "at");
    if (report != nullptr) {
        std::fprintf(report, "%s ", ncdate(t));
        std::fprintf(report, "%s\n", user_id);
        std::fclose(report);
        return;
    }
    char path_text[PATH_TEXT_SIZE];
    std::memset(path_text, 0, sizeof path_text);
    shocst("KRV Demo Clean FILE OPEN ERROR", "Could not open %s for output",
           fileparts(1, report_name, path_text, sizeof path_text));
}

// No dialogue: a caller who picks the module is back at the menu at once.
int input_routine() { return 0; }

void shutdown_routine() { clsmsg(block); }

// Every day, every account, in user-ID order; an account tagged before is
// tagged, logged and reported again.
void daily_cleanup_routine() {
    uint16_t t = today();
    account_record account;
    char user_id[sizeof account.user_id + 1];
    dfaSetBlk(accbb);
    for (int ok = dfaAcqLock(&account, nullptr, 0, DFA_GET_FIRST, 0); ok != 0;
         ok = dfaAcqLock(&account, &account, 0, DFA_GET_NEXT, 0)) {
        if (uhskey(&account, exempt_key) != 0) continue;
        if ((account.account_flags & ACCOUNT_PROTECTED) != 0) continue;
        if (old_enough(account.account_date, t) == 0) continue;
        account.account_flags = static_cast<uint16_t>(account.account_flags | ACCOUNT_TAGGED_FOR_DELETION);
        dfaUpdate(&account);
        std::memcpy(user_id, account.user_id, sizeof account.user_id);
        user_id[sizeof account.user_id] = '\0';
        if (audit_tagged != 0) shocst("KRV Demo Clean Kill Tagged", "User-ID: %s", user_id);
        if (report_tagged != 0) append_report_line(user_id, t);
    }
    dfaRstBlk();
}

}  // namespace

BBS_EXPORT void init__krvdmcln() {
    set_module_name(descriptor, gmdnam("KRVDMCLN.MDF"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvdmcln.mcv");
    exempt_key = stgopt(DMCLN_EXEMPT_KEY);
    minimum_age_days = numopt(DMCLN_MIN_AGE_DAYS, DMCLN_FEWEST_DAYS, DMCLN_MOST_DAYS);
    audit_tagged = ynopt(DMCLN_AUDIT);
    report_tagged = ynopt(DMCLN_REPORT);
    report_name = stgopt(DMCLN_REPORT_NAME);
}
