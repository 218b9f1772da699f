// Feedback: a key holder writes one message, with a topic, in the host's
// editor; it goes by mail to the user-ID the operator named, with a return
// receipt if the writer wants one.
#include "feedback.h"

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
const char *feedback_recipient;
const char *feedback_key;

constexpr const char *RECEIPT_QUESTION = "\nDo you want a return receipt when the message is read? (Y/N) ";

feedback_area *area() { return reinterpret_cast<feedback_area *>(vdaptr); }

int32_t &substate() { return usrptr->module_substate; }

// The editor hands the caller back here whatever its outcome; only a saved
// text is followed by the receipt question.
int editor_done(int16_t code) {
    usrptr->current_module = module_number;
    if (code == EDITOR_SAVED) {
        setmbk(block);
        prf("%s", RECEIPT_QUESTION);
        outprf(usrnum);
        rstmbk();
        return 1;
    }
    return 0;
}

void menu_choice() {
    bgncnc();
    int c = cncchr();
    if (c == '?') {
        prfmsg(FEEDBACK_INTRO);
        prfmsg(FEEDBACK_MENU);
        outprf(usrnum);
    } else if (c == 'F') {
        substate() = FEEDBACK_WRITING;
    } else if (c == 'X') {
        substate() = FEEDBACK_ENTERING;
    } else {
        prfmsg(FEEDBACK_MENU);
        outprf(usrnum);
    }
    cncall();
    endcnc();
}

// 1 yes, 0 no, -1 neither (the question stays open).
int16_t receipt_answer() {
    bgncnc();
    int c = cncyesno();
    int16_t result;
    if (c == 'N') {
        substate() = FEEDBACK_ENTERING;
        result = 0;
    } else if (c == 'Y') {
        substate() = FEEDBACK_ENTERING;
        result = 1;
    } else {
        prfmsg(FEEDBACK_YES_NO);
        outprf(usrnum);
        result = -1;
    }
    cncall();
    endcnc();
    return result;
}

// The line has been read to its end by now, so the editor starts once.
void start_editor() {
    feedback_area *a = area();
    do {
        cncchr();
        bgnedt(FEEDBACK_TEXT_SIZE, a->feedback_text, FEEDBACK_TOPIC_SIZE, a->feedback_topic, editor_done, 12);
    } while (endcnc() == 0);
    substate() = FEEDBACK_RECEIPT;
}

// Hands the message to the mail library; true when it took it.
bool send_feedback(bool receipt) {
    mail_header header;
    std::memset(&header, 0, sizeof header);
    stlcpy(header.from_name, usaptr->user_id, sizeof header.from_name);
    stlcpy(header.to_name, feedback_recipient, sizeof header.to_name);
    stlcpy(header.subject, area()->feedback_topic, sizeof header.subject);
    header.mail_flags = receipt ? MAIL_RETURN_RECEIPT : 0;
    // The text must fit the host's scratch buffer with room to spare.
    char *text = area()->feedback_text;
    text[FEEDBACK_TEXT_SIZE - 1] = '\0';
    int keep = outbsz > FEEDBACK_OUTPUT_RESERVE ? outbsz - FEEDBACK_OUTPUT_RESERVE : 0;
    if (static_cast<int>(std::strlen(text)) > keep) text[keep] = '\0';
    std::strcpy(vdatmp, text);
    return simpsnd(&header, vdatmp, "") != 0;
}

int input_routine() {
    if (haskey(feedback_key) == 0) {
        show_message(block, FEEDBACK_NO_ACCESS, usaptr->class_name);
        return 0;
    }
    if (margc == 1 && sameas(margv[0], "X") != 0) return 0;  // leave, in any state
    setmbk(block);
    bgncnc();
    switch (substate()) {
    case FEEDBACK_ENTERING:
        prfmsg(FEEDBACK_INTRO);
        prfmsg(FEEDBACK_MENU);
        outprf(usrnum);
        substate() = FEEDBACK_AT_MENU;
        rstmbk();
        return 1;
    case FEEDBACK_AT_MENU:
        menu_choice();
        if (substate() != FEEDBACK_WRITING) {
            rstmbk();
            return substate() == FEEDBACK_ENTERING ? 0 : 1;
        }
        [[fallthrough]];
    case FEEDBACK_WRITING:
        start_editor();
        rstmbk();
        return 1;
    case FEEDBACK_RECEIPT: {
        int16_t r = receipt_answer();
        if (substate() == FEEDBACK_RECEIPT) {
            rstmbk();
            return 1;
        }
        if (!send_feedback(r != 0)) {
            // Nothing is lost: the text stays, and the next answer tries again.
            substate() = FEEDBACK_RECEIPT;
            shocst("KRV Feedback NOT SENT", "User-ID: %s, To: %s", usaptr->user_id, feedback_recipient);
            prfmsg(FEEDBACK_NOT_SENT);
            outprf(usrnum);
            rstmbk();
            return 1;
        }
        break;
    }
    default:
        break;
    }
    prfmsg(FEEDBACK_SENT, usaptr->user_id);
    outprf(usrnum);
    rstmbk();
    return 0;
}

void shutdown_routine() { clsmsg(block); }

}  // namespace

BBS_EXPORT void init__krvfbk() {
    set_module_name(descriptor, gmdnam("KRVFBK.MDF"));
    module_number = register_module(&descriptor);
    dclvda(sizeof(feedback_area));
    block = opnmsg("KRVFBK.MCV");
    feedback_recipient = stgopt(FEEDBACK_RECIPIENT);
    feedback_key = stgopt(FEEDBACK_KEY);
}
