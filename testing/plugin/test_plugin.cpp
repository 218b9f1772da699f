// A small plug-in that exercises the frame: init order, a re-arming timer,
// polling under limited output room, a global command, a chained password
// check, the log-on, hang-up and shutdown routines. Its dialogue echoes what
// it is given, so it also stands in for a module that another hands lines to. Built twice, as KRVTSTA
// and KRVTSTB, from this one source.
#include <cstdlib>

#include "host.h"

namespace {
int input_routine();
void hangup_routine();
void shutdown_routine();
int logon_routine();
void cleanup_routine();
void delete_routine(const char *user_id);

module_descriptor descriptor = {"", {}, logon_routine, input_routine, dfsthn, nullptr, nullptr,
                                hangup_routine, cleanup_routine, delete_routine, shutdown_routine};
message_block *block;
const char *command_word;
const char *notice_key;
int tick_seconds;
int tick_limit;
int ticks;
chkpsw_t previous_chkpsw;
chkuid_t previous_chkuid;
const char *refused_user;
int chunks_left[MAX_LINES];
int chunks_sent[MAX_LINES];
int module_number;

// The plug-in's part of a line's volatile data area: an editor's text.
struct edit_area {
    char topic[40];
    char text[200];
};

int editor_done(int16_t code) {
    edit_area *area = reinterpret_cast<edit_area *>(vdaptr);
    usrptr->current_module = module_number;
    prf("[edited %d: %s / %s]", code, area->topic, area->text);
    outprf(usrnum);
    return 1;
}

// The pseudo-key TESTCREDIT: held by a caller with at least one credit.
int credit_key(int chan, const char *) {
    int kept = usrnum;
    curusr(chan);
    int r = tstcrd(1);
    curusr(kept);
    return r;
}

void tick() {
    ++ticks;
    shocst("TEST TICK", "%s %d", PLUGIN_NAME, ticks);
    if (ticks < tick_limit) rtkick(tick_seconds, tick);
}

int password_check(const char *password) {
    shocst("TEST CHKPSW", "%s", PLUGIN_NAME);
    return previous_chkpsw(password);
}

int user_id_check(const char *user_id) {
    shocst("TEST CHKUID", "%s %s", PLUGIN_NAME, user_id);
    return previous_chkuid(user_id);
}

// The connect hook turns one user-ID away, as a guard plug-in would.
void connect_hook() {
    shocst("TEST CONNECT", "%s %s", PLUGIN_NAME, usaptr->user_id);
    if (refused_user[0] != '\0' && sameas(usaptr->user_id, refused_user)) bbsdsc(usrnum);
}

void disconnect_hook() { shocst("TEST DISCONNECT", "%s %s", PLUGIN_NAME, usaptr->user_id); }

void poller() {
    if (btuoba(usrnum) < 100) return;  // no room: try again on a later call
    ++chunks_sent[usrnum];
    prf("chunk %d\n", chunks_sent[usrnum]);
    outprf(usrnum);
    if (--chunks_left[usrnum] <= 0) stop_polling(usrnum);
}

int command_routine() {
    if (margc == 0 || !sameas(margv[0], command_word)) return 0;
    if (margc >= 3 && sameas(margv[1], "POLL")) {
        chunks_left[usrnum] = std::atoi(margv[2]);
        chunks_sent[usrnum] = 0;
        begin_polling(usrnum, poller);
        return 1;
    }
    if (margc >= 4 && sameas(margv[1], "MAIL")) {
        // TESTA MAIL <to> <subject>: a mail with a return receipt asked for.
        mail_header header{};
        stzcpy(header.from_name, usaptr->user_id, sizeof header.from_name);
        stzcpy(header.to_name, margv[2], sizeof header.to_name);
        stzcpy(header.subject, margv[3], sizeof header.subject);
        header.mail_flags = MAIL_RETURN_RECEIPT;
        simpsnd(&header, "A test mail.\n", nullptr);
        prf("[mail sent]\n");
        outprf(usrnum);
        return 1;
    }
    setmbk(block);
    if (margc == 2 && sameas(margv[1], "BYE")) {
        byenow(10, static_cast<int>(margc));
        rstmbk();
        return 1;
    }
    prfmsg(10, static_cast<int>(margc));
    outprf(usrnum);
    rstmbk();
    return 1;
}

int logon_routine() {
    shocst("TEST LOGON", "%s %s", PLUGIN_NAME, usaptr->user_id);
    if (haskey(notice_key)) {
        setmbk(block);
        prfmsg(13, PLUGIN_NAME);
        outprf(usrnum);
        rstmbk();
    }
    return 0;
}

int input_routine() {
    setmbk(block);
    int stay = 1;
    if (usrptr->module_substate == 0) {
        prfmsg(11);
        usrptr->module_substate = 1;
    } else if (margc > 0 && sameas(margv[0], "QUIT")) {
        stay = 0;
    } else if (margc > 0 && sameas(margv[0], "WORDS")) {
        prfmsg(14, static_cast<int>(margc), margv[margc - 1]);  // how the line was parsed
    } else if (margc > 0 && sameas(margv[0], "EDIT")) {
        edit_area *area = reinterpret_cast<edit_area *>(vdaptr);
        bgnedt(sizeof area->text, area->text, sizeof area->topic, area->topic, editor_done, 12);
    } else {
        prfmsg(12, input);
    }
    outprf(usrnum);
    rstmbk();
    return stay;
}

void hangup_routine() { shocst("TEST HANGUP", "%s %s", PLUGIN_NAME, usaptr->user_id); }

void cleanup_routine() { shocst("TEST CLEANUP", "%s %s", PLUGIN_NAME, ncdate(sv2.cleanup_date)); }

void delete_routine(const char *user_id) { shocst("TEST DELETE", "%s %s", PLUGIN_NAME, user_id); }

void shutdown_routine() {
    shocst("TEST SHUTDOWN", "%s", PLUGIN_NAME);
    clsmsg(block);
}
}  // namespace

BBS_EXPORT void PLUGIN_INIT() {
    shocst("TEST INIT", "%s", PLUGIN_NAME);
    stzcpy(descriptor.name, gmdnam(PLUGIN_NAME ".MDF"), sizeof descriptor.name);
    module_number = register_module(&descriptor);
    dclvda(sizeof(edit_area));
    block = opnmsg(PLUGIN_LOWER ".mcv");
    command_word = stgopt(1);
    tick_seconds = numopt(2, 1, 60);
    tick_limit = numopt(3, 0, 100);
    notice_key = stgopt(4);
    refused_user = stgopt(5);
    ticks = 0;
    globalcmd(command_routine);
    register_pseudok("TESTCREDIT", credit_key);
    previous_chkpsw = chkpsw;
    chkpsw = password_check;
    previous_chkuid = chkuid;
    chkuid = user_id_check;
    hook_connect(connect_hook);
    hook_disconnect(disconnect_hook);
    if (tick_limit > 0) rtkick(tick_seconds, tick);
}
