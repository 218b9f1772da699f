// AFK: a caller marks himself away from his keyboard and back with one
// global command, and asks whether another caller on-line is at or away from
// his. While he is away the module may, by option, set his busy bit (the bit
// the Busy Notifier waits on) and park him in this module: where he was is
// saved, each line he types is answered with a reminder of the command, and
// on his return he is put back. A parked caller's module may be handed a
// configured line as he leaves it and another as he comes back.
#include "afk.h"

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

// Per line, by channel number. A line's state is reset when a caller logs
// on there; what a caller who hung up left behind is never read.
uint8_t away_state[MAX_LINES];         // 0 at the keyboard, 1 away: indexes presence_words
uint8_t busy_set_by_afk[MAX_LINES];    // 1 while this module holds the line's busy bit
int32_t saved_module[MAX_LINES];       // where a parked caller was
int32_t saved_substate[MAX_LINES];
int32_t saved_session_class[MAX_LINES];

const char *const presence_words[2] = {"at", "away from"};

int module_number;
message_block *block;
const char *command_word;
const char *afk_key;
int32_t feed_input;
const char *feed_module_name;
const char *away_input;
const char *back_input;
int32_t park_user;
int32_t set_busy;

constexpr const char *VERSION = "1.4";
constexpr int32_t PARKED = 1;  // module_substate of a parked caller

int logon_routine() {
    if (haskey(afk_key) != 0) show_message(block, AFK_LOGON_NOTICE, VERSION, command_word);
    away_state[usrnum] = 0;
    busy_set_by_afk[usrnum] = 0;
    return 0;
}

// The lines of a parked caller come here; only the command brings him back.
// A caller who is not away came in some other way (the host's menu offers
// AFK when its descriptor file does not keep it off): he is sent back at
// once rather than held where nothing but the command would free him.
int input_routine() {
    if (away_state[usrnum] == 0) return 0;
    show_message(block, AFK_PARKED, command_word);
    return 1;
}

void shutdown_routine() { clsmsg(block); }

// Hands `line` to the input routine of module `number` as if the caller had
// typed it there; what that routine shows is its own affair. A routine that
// lets the caller go has finished with him, as it would for a line he typed:
// he is in no module then (the host's menu), and is neither parked in that
// module nor put back into it.
void hand_line(int number, const char *line) {
    module_descriptor *other = module[number];
    if (other == nullptr || other->input_routine == nullptr) return;
    stlcpy(input, line, INPUT_SIZE);
    parsin();
    if (other->input_routine() == 0) usrptr->current_module = 0;
}

void park() {
    const int feed_module = findmod(feed_module_name);
    if (feed_input != 0 && feed_module > 0 && usrptr->current_module == feed_module) hand_line(feed_module, away_input);
    saved_module[usrnum] = usrptr->current_module;
    saved_substate[usrnum] = usrptr->module_substate;
    saved_session_class[usrnum] = usrptr->session_class;
    usrptr->current_module = module_number;
    usrptr->module_substate = PARKED;
}

void unpark() {
    const int feed_module = findmod(feed_module_name);
    usrptr->current_module = saved_module[usrnum];
    usrptr->module_substate = saved_substate[usrnum];
    usrptr->session_class = saved_session_class[usrnum];
    if (feed_input != 0 && feed_module > 0 && usrptr->current_module == feed_module) hand_line(feed_module, back_input);
}

// The caller goes away or comes back. The message goes out first; a line
// handed on goes to the caller's module while he is still in it on the way
// out, and after he is back in it on the way back.
void toggle() {
    uint8_t &state = away_state[usrnum];
    state = state == 0 ? 1 : 0;
    show_message(block, AFK_NOW, presence_words[state]);
    if (set_busy != 0) {
        if (state == 1 && (usrptr->session_flags & SESSION_BUSY) == 0) {
            usrptr->session_flags |= SESSION_BUSY;
            busy_set_by_afk[usrnum] = 1;
        } else if (state == 0 && busy_set_by_afk[usrnum] == 1) {
            usrptr->session_flags &= ~SESSION_BUSY;
            busy_set_by_afk[usrnum] = 0;
        }
    }
    if (park_user == 0) return;
    if (state == 1)
        park();
    else
        unpark();
}

// Whether the caller named in words 1 to margc - 1 is at his keyboard.
void query() {
    char text[JOINED_TEXT_SIZE];
    std::memset(text, 0, sizeof text);
    join_words(text, 1, margc - 1);
    switch (find_online_user(text)) {
    case USER_NOT_FOUND:
        show_message(block, AFK_NO_SUCH_USER, text);
        break;
    case USER_AMBIGUOUS:
        show_message(block, AFK_AMBIGUOUS, text, command_word);
        break;
    default:
        onsys(text);
        show_message(block, AFK_USER_STATE, othuap->user_id, presence_words[away_state[othusn]]);
        break;
    }
}

int afk_command() {
    if (!is_command(command_word)) return 0;
    if (haskey(afk_key) == 0) {
        show_message(block, AFK_NO_KEY);
    } else if (margc == 2 && sameas(margv[1], "?")) {
        show_message(block, AFK_HELP, command_word, command_word, presence_words[away_state[usrnum]]);
    } else if (margc == 1) {
        toggle();
    } else {
        query();
    }
    return 1;
}

}  // namespace

BBS_EXPORT void init__krvafk() {
    block = opnmsg("krvafk.mcv");
    set_module_name(descriptor, stgopt(AFK_MODULE_NAME));
    module_number = register_module(&descriptor);
    globalcmd(afk_command);
    command_word = stgopt(AFK_COMMAND);
    afk_key = stgopt(AFK_KEY);
    feed_input = ynopt(AFK_FEED_INPUT);
    feed_module_name = stgopt(AFK_FEED_MODULE);
    away_input = stgopt(AFK_AWAY_INPUT);
    back_input = stgopt(AFK_BACK_INPUT);
    park_user = ynopt(AFK_PARK_USER);
    set_busy = ynopt(AFK_SET_BUSY);
}
