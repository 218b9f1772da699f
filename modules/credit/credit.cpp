// The Credit: once a month, on the configured day, the users of up to five
// classes get their class's allotment of credits, a balance above what the
// account retains being cut first from the second allotment on. Each user
// given an allotment has a record in krvcred.dat, removed with the account.
// The module also answers a pseudo-key, held by a user with at least one
// credit.
//
// Balances and totals are held at the limits of a signed 32-bit count: a
// sum that would pass them stops there instead of wrapping round.
#include "credit.h"

#include <cstring>

#include "frame.h"
#include "host.h"

namespace {

int input_routine();
void daily_cleanup_routine();
void delete_account_routine(const char *user_id);
void shutdown_routine();

module_descriptor descriptor = {"", {}, nullptr, input_routine, dfsthn, nullptr, nullptr,
                                nullptr, daily_cleanup_routine, delete_account_routine, shutdown_routine};
int module_number;
message_block *block;
dfa_file *credit_file;
const char *pseudo_key_name;
const char *allotment_classes[CRED_CLASSES];
int32_t allotments[CRED_CLASSES];
int32_t allotment_day;
uint16_t last_cleanup_date;

constexpr int NO_CLASS_SLOT = CRED_CLASSES;
constexpr uint16_t DAY_BITS = 0x1F;

int32_t capped(int64_t sum) {
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

int32_t add_capped(int32_t a, int64_t b) { return capped(static_cast<int64_t>(a) + b); }

// The index of the first allotted class named `class_name`, or
// NO_CLASS_SLOT. An option left empty names no class.
int class_slot(const char *class_name) {
    for (int i = 0; i < CRED_CLASSES; ++i)
        if (allotment_classes[i][0] != '\0' && sameas(class_name, allotment_classes[i]) != 0) return i;
    return NO_CLASS_SLOT;
}

// No dialogue: a caller who picks the module is back at the menu at once.
int input_routine() { return 0; }

void shutdown_routine() {
    clsmsg(block);
    dfaClose(credit_file);
}

// Gives the allotment `a` to the account in `account` (the account file's
// current record) and writes its credit record.
void allot(account_record &account, int32_t a) {
    credit_record credit;
    dfaSetBlk(credit_file);
    if (dfaAcqLock(&credit, &account, 0, DFA_GET_EQUAL, 0) != 0) {
        if (account.credit_balance > account.retained_credits) {
            int64_t cut = static_cast<int64_t>(account.credit_balance) - account.retained_credits;
            account.credit_balance = account.retained_credits;
            account.credits_posted = add_capped(account.credits_posted, -cut);
            credit.posted_total = add_capped(credit.posted_total, -cut);
        }
        credit.posted_total = add_capped(credit.posted_total, a);
        credit.last_retained = account.retained_credits;
        credit.allotted_total = add_capped(credit.allotted_total, a);
        credit.reserved_b = 0;
        dfaUpdate(&credit);
    } else {
        // The first allotment is added without a cut.
        std::memset(&credit, 0, sizeof credit);
        stlcpy(credit.user_id, account.user_id, sizeof credit.user_id);
        credit.last_retained = account.retained_credits;
        credit.posted_total = add_capped(account.credits_posted, a);
        credit.reserved_b = 0;
        credit.allotted_total = a;
        dfaInsert(&credit);
    }
    dfaRstBlk();
    account.credits_posted = add_capped(account.credits_posted, a);
    account.credit_balance = add_capped(account.credit_balance, a);
    dfaUpdate(&account);
}

// Once a month, on the allotment day, unless the host's last clean-up
// (when the module started) was already today's.
void daily_cleanup_routine() {
    uint16_t t = today();
    if (t == last_cleanup_date || static_cast<int32_t>(t & DAY_BITS) != allotment_day) return;
    account_record account;
    char class_name[sizeof account.class_name + 1];
    dfaSetBlk(accbb);
    for (int ok = dfaStepLock(&account, DFA_STEP_FIRST, 0); ok != 0; ok = dfaStepLock(&account, DFA_STEP_NEXT, 0)) {
        std::memcpy(class_name, account.class_name, sizeof account.class_name);
        class_name[sizeof account.class_name] = '\0';
        int i = class_slot(class_name);
        if (i == NO_CLASS_SLOT) continue;
        allot(account, allotments[i]);
    }
    dfaRstBlk();
}

void delete_account_routine(const char *user_id) {
    dfaSetBlk(credit_file);
    if (dfaAcqLock(nullptr, user_id, 0, DFA_GET_EQUAL, 0) != 0) dfaDelete();
    dfaRstBlk();
}

// Held by the user on channel `chan` when the host's credit test for one
// credit succeeds for him.
int credit_key_handler(int chan, const char *key_name) {
    if (sameas(key_name, pseudo_key_name) == 0) return 0;
    int kept = usrnum;
    curusr(chan);
    int held = tstcrd(1);
    curusr(kept);
    return held;
}

}  // namespace

BBS_EXPORT void init__krvcred() {
    set_module_name(descriptor, gmdnam("KRVCRED.MDF"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvcred.mcv");
    credit_file = dfaOpen("krvcred.dat", sizeof(credit_record), nullptr);
    pseudo_key_name = stgopt(CRED_PSEUDO_KEY);
    for (int i = 0; i < CRED_CLASSES; ++i) {
        allotment_classes[i] = stgopt(CRED_CLASS_1 + i);
        allotments[i] = static_cast<int32_t>(lngopt(CRED_ALLOTMENT_1 + i, 0, CRED_MAX_ALLOTMENT));
    }
    allotment_day = numopt(CRED_ALLOTMENT_DAY, CRED_FIRST_DAY, CRED_LAST_DAY);
    register_pseudok(pseudo_key_name, credit_key_handler);
    last_cleanup_date = sv2.cleanup_date;
}
