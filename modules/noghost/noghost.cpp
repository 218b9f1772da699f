// NoGhost: a caller whose user-ID the BBS still holds on another line (a
// ghost: a call whose connection died without the BBS noticing) may log on
// again. The user-ID check lets him through to the password when the ghost
// sits on a line of the channel range; once his password is accepted the
// ghost is disconnected, written to the audit trail, and he can be sent a
// mail saying so. A caller who does not know the password leaves the other
// session alone.
#include "noghost.h"

#include <cstring>

#include "frame.h"
#include "host.h"

namespace {

int input_routine();

module_descriptor descriptor = {"", {}, nullptr, input_routine, dfsthn, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr};
int16_t module_number;
chkuid_t previous_chkuid;
chkpsw_t previous_chkpsw;
uint16_t first_channel;
uint16_t last_channel;
int32_t send_mail;
int32_t audit_ghosts;
const char *mail_from;
const char *mail_subject;
char ghost_mail_text[NG_MAIL_TEXT_MAX + 2];

// terminal_flags bit: the account keeps its own terminal settings rather
// than those of the line it calls on.
constexpr uint8_t KEEP_OWN_TERMINAL = 0x02;
constexpr int STATUS_REFUSED = 9;
constexpr int STATUS_LOGGING_ON = 15;
constexpr uint8_t DEFAULT_SCREEN_LENGTH = 24;

// No dialogue: a caller who picks NoGhost is back at the menu at once.
int input_routine() { return 0; }

// Reads the account keyed `key` into the line's account record, with its
// class and keys. The account file stays selected.
int read_account(const char *key) {
    dfaSetBlk(accbb);
    if (dfaAcqLock(usaptr, key, 0, DFA_GET_EQUAL, 0) == 0) return 0;
    if ((usaptr->account_flags & ACCOUNT_TAGGED_FOR_DELETION) != 0) return 0;
    // The stored class name need not end within its field.
    char class_name[sizeof usaptr->class_name + 1];
    stlcpy(class_name, usaptr->class_name, sizeof class_name);
    usrptr->current_class_record = fndcls(class_name);
    if (usrptr->current_class_record == nullptr) {
        delacct(usaptr);
        return 0;
    }
    loadkeys(class_name);
    return 1;
}

// The caller's terminal, as the line knew it before the account was read,
// replaces the account's setting unless the account keeps its own.
void keep_terminal_flags(uint8_t kept) {
    if ((usaptr->terminal_flags & KEEP_OWN_TERMINAL) != 0) return;
    accacct(usaptr, -1);
    usaptr->terminal_flags = kept;
    accacct(usaptr, 1);
}

// Loads the account named by the input line into the current line, as the
// host does when it accepts a user-ID. On failure the line's account record
// is cleared but for its terminal flags.
int load_account() {
    rstrin();
    makhdl(input);
    const uint8_t kept = usaptr->terminal_flags;
    if (read_account(input) == 0) {
        std::memset(usaptr, 0, sizeof(account_record));
        usaptr->terminal_flags = kept;
        return 0;
    }
    btutsw(usrnum, usaptr->screen_width);
    if (usaptr->screen_length == 0) usaptr->screen_length = DEFAULT_SCREEN_LENGTH;
    keep_terminal_flags(kept);
    stansi();
    rstrxf();
    return 1;
}

bool ghost_in_range(int chan) {
    const uint16_t number = static_cast<uint16_t>(line_channel_table[chan]);
    return number >= first_channel && number <= last_channel;
}

// Chained: the check installed before this one answers first. Only its
// "already on-line" answer for a ghost in the range is taken over, by doing
// the host's acceptance here.
int ghost_uid_check(const char *user_id) {
    const int16_t result = static_cast<int16_t>(previous_chkuid(user_id));
    if (result != UID_ON_LINE) return result;
    if (onbbs(user_id, 1) == 0) return result;
    if (!ghost_in_range(uisusn)) return UID_ON_LINE;
    stlcpy(input, user_id, INPUT_SIZE);
    parsin();
    if (load_account() == 0) return UID_UNKNOWN;
    const bool spared = (hdlsmp != nullptr && hdlsmp() != 0) || haskey(sampky) != 0 ||
                        (usaptr->account_flags & ACCOUNT_NO_DEADBEAT) != 0;
    if (!spared) {
        shochl(NG_STATUS_DEADBEAT, STATUS_REFUSED, baudat(usrptr->baud_rate, 0));
        return UID_DEADBEAT;
    }
    if ((usaptr->account_flags & ACCOUNT_SUSPENDED) != 0) {
        shochl(NG_STATUS_SUSPENDED, STATUS_REFUSED, baudat(usrptr->baud_rate, 0));
        return UID_SUSPENDED;
    }
    shochl(NG_STATUS_LOGGING_ON, STATUS_LOGGING_ON, baudat(usrptr->baud_rate, 0));
    usrptr->logon_counter = 0;
    return UID_ACCEPTED;
}

void send_ghost_mail() {
    mail_header header;
    std::memset(&header, 0, sizeof header);
    stlcpy(header.from_name, mail_from, sizeof header.from_name);
    stlcpy(header.to_name, usaptr->user_id, sizeof header.to_name);
    stlcpy(header.subject, mail_subject, sizeof header.subject);
    simpsnd(&header, ghost_mail_text, nullptr);
}

// The ghost is the line othusn points at.
void clear_ghost() {
    bbsdsc(othusn);
    if (audit_ghosts != 0) shocst("KRV NoGhost: USER NOGHOSTED", "User-ID: %s", usaptr->user_id);
    if (send_mail != 0) send_ghost_mail();
}

// Chained like the user-ID check. A ghost is looked for after every accepted
// password, whatever the user-ID check said.
int ghost_password_check(const char *password) {
    if (previous_chkpsw(password) == 0) return 0;
    if (onsysn(usaptr->user_id, 1) != 0) clear_ghost();
    return 1;
}

// The highest hardware channel number of the BBS's lines: with the host's
// own numbering (line n is channel n) it is nterms - 1.
uint16_t highest_channel() {
    uint16_t highest = 0;
    for (int n = 0; n < nterms && n < MAX_LINES; ++n) {
        const uint16_t number = static_cast<uint16_t>(line_channel_table[n]);
        if (number > highest) highest = number;
    }
    return highest;
}

// A range that reaches past the BBS's lines ends at its last one, so that
// FF means every line whatever channel numbers the lines have; a range that
// then starts past its end covers every line.
void fit_range_to_lines() {
    order_channel_range(first_channel, last_channel);
    const uint16_t highest = highest_channel();
    if (last_channel > highest) {
        last_channel = highest;
        if (first_channel > last_channel) first_channel = 0;
    }
}

}  // namespace

BBS_EXPORT void init__krvghost() {
    set_module_name(descriptor, gmdnam("KRVGHOST.MDF"));
    module_number = static_cast<int16_t>(register_module(&descriptor));
    message_block *block = opnmsg("krvghost.mcv");
    first_channel = static_cast<uint16_t>(hexopt(NG_FIRST_CHANNEL, 0, 255));
    last_channel = static_cast<uint16_t>(hexopt(NG_LAST_CHANNEL, 0, 255));
    send_mail = ynopt(NG_SEND_MAIL);
    audit_ghosts = ynopt(NG_AUDIT);
    mail_from = stgopt(NG_MAIL_FROM);
    mail_subject = stgopt(NG_MAIL_SUBJECT);
    std::memset(ghost_mail_text, 0, sizeof ghost_mail_text);
    ghost_mail_text[0] = '\n';
    std::strncat(ghost_mail_text, stgopt(NG_MAIL_TEXT), NG_MAIL_TEXT_MAX);
    fit_range_to_lines();
    previous_chkuid = chkuid;
    chkuid = ghost_uid_check;
    previous_chkpsw = chkpsw;
    chkpsw = ghost_password_check;
    // Nothing is shown after start-up: the message file is not kept open.
    clsmsg(block);
}
