// The Class Change: one global command with which a key holder moves
// another user's account into the configured class for 1 to 90 days. The
// account is found in the account file, so its owner need not be on-line.
// With each switch the configured credits can be posted to the account, and
// the automatic switch its class asks for when credits are posted is made
// first. Every switch goes to the audit trail.
#include "class_change.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "frame.h"
#include "host.h"
#include "user_lookup.h"

namespace {

int logon_routine();
int input_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, logon_routine, input_routine, dfsthn, nullptr, nullptr,
                                nullptr, nullptr, nullptr, shutdown_routine};
int module_number;
message_block *block;
const char *cls_key;
const char *cls_exempt_key;
const char *cls_command;
char *cls_target_class;  // upper-cased in place each time it is shown
int32_t cls_credits;

constexpr const char *VERSION = "1.3";
// The number of days is one or two characters.
constexpr size_t DAYS_WORD_MAX = 2;

// CLASS as the messages show it: the option's own text, upper-cased in
// place, so that later look-ups and switches use the upper-case text too.
const char *shown_class() {
    for (char *p = cls_target_class; *p != '\0'; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return cls_target_class;
}

// a + b, held at the limits of a signed 32-bit count.
int32_t add_capped(int32_t a, int32_t b) {
    int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}

void post_credits(account_record &account) {
    account.credit_balance = add_capped(account.credit_balance, cls_credits);
    account.credits_posted = add_capped(account.credits_posted, cls_credits);
}

// Reads the account with the user-ID `user_id` from the account file into
// `account`; true when there is one.
bool read_account(account_record &account, const char *user_id) {
    dfaSetBlk(accbb);
    int found = dfaAcqLock(&account, user_id, 0, DFA_GET_EQUAL, 0);
    dfaRstBlk();
    return found != 0;
}

// A text field of a record, NUL-terminated whatever the record holds.
template <size_t N>
void field_text(char (&out)[N + 1], const char (&field)[N]) {
    std::memcpy(out, field, N);
    out[N] = '\0';
}

int logon_routine() {
    if (haskey(cls_key) != 0) show_message(block, CLS_LOGON_NOTICE, VERSION, cls_command);
    return 0;
}

// No dialogue: nobody is ever placed in this module.
int input_routine() { return 0; }

void shutdown_routine() { clsmsg(block); }

// When credits are posted to an account whose class asks for it (flag
// 0x10), the account first moves to that class's automatic-switch class.
void switch_automatically(account_record &account) {
    char class_name[sizeof account.class_name + 1];
    char previous[sizeof account.previous_class_name + 1];
    field_text(class_name, account.class_name);
    field_text(previous, account.previous_class_name);
    clsptr = fndcls(class_name);
    if (clsptr == nullptr || (clsptr->class_flags & CLASS_AUTO_SWITCH) == 0) return;
    char auto_class[sizeof clsptr->auto_switch_class + 1];
    field_text(auto_class, clsptr->auto_switch_class);
    swtcls(&account, sameas(class_name, previous) != 0 ? 1 : 0, auto_class, 1, 0);
}

// CLS_COMMAND, the user-ID in one or more words, the number of days.
int class_change_command() {
    if (!is_command(cls_command)) return 0;
    if (haskey(cls_key) == 0) {
        show_message(block, CLS_NO_KEY);
        return 1;
    }
    if (margc < 3) {
        const char *cls = shown_class();
        show_message(block, CLS_USAGE, cls, CLS_FEWEST_DAYS, CLS_MOST_DAYS, static_cast<int>(cls_credits),
                     cls_command, cls);
        return 1;
    }
    if (fndcls(cls_target_class) == nullptr) {
        show_message(block, CLS_NO_CLASS, shown_class());
        return 1;
    }
    char user_id[JOINED_TEXT_SIZE];
    join_words(user_id, 1, margc - 2);
    account_record account;
    if (!read_account(account, user_id)) {
        show_message(block, CLS_NO_SUCH_USER, user_id);
        return 1;
    }
    // Read as atol reads it: a sign and the leading digits, the rest ignored.
    const char *days_word = margv[margc - 1];
    long days = std::strlen(days_word) <= DAYS_WORD_MAX ? std::atol(days_word) : 0;
    if (days < CLS_FEWEST_DAYS || days > CLS_MOST_DAYS) {
        show_message(block, CLS_BAD_DAYS, shown_class(), CLS_FEWEST_DAYS, CLS_MOST_DAYS);
        return 1;
    }
    char target[sizeof account.user_id + 1];
    field_text(target, account.user_id);
    if (uhskey(&account, cls_exempt_key) != 0) {
        show_message(block, CLS_EXEMPT, target);
        return 1;
    }
    if (cls_credits != 0) {
        // Read again just before the update; should it fail, the switch
        // still goes on with what the first read gave.
        dfaSetBlk(accbb);
        if (dfaAcqLock(&account, user_id, 0, DFA_GET_EQUAL, 0) != 0) {
            post_credits(account);
            dfaUpdate(&account);
        }
        dfaRstBlk();
        if (onsysn(user_id, 1) != 0) post_credits(*othuap);
        if (account.credit_balance > 0) switch_automatically(account);
        sv2.total_credits_posted = add_capped(sv2.total_credits_posted, cls_credits);
    }
    swtcls(&account, 1, cls_target_class, 2, static_cast<int>(days));
    field_text(target, account.user_id);
    const char *cls = shown_class();
    show_message(block, CLS_SWITCHED, target, cls, static_cast<int>(days), static_cast<int>(cls_credits));
    char by[sizeof usaptr->user_id + 1];
    field_text(by, usaptr->user_id);
    shocst(spr("CLASS SWITCH : %s", cls), "%s by %s", target, by);
    return 1;
}

}  // namespace

BBS_EXPORT void init__krvclscg() {
    set_module_name(descriptor, gmdnam("KRVCLSCG.MDF"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvclscg.mcv");
    globalcmd(class_change_command);
    cls_key = stgopt(CLS_KEY);
    cls_exempt_key = stgopt(CLS_EXEMPT_KEY);
    cls_command = stgopt(CLS_COMMAND);
    cls_target_class = stgopt(CLS_TARGET_CLASS);
    cls_credits = numopt(CLS_CREDITS, 0, CLS_MAX_CREDITS);
}
