// The Clock: one global command with which a key holder sets the BBS's time
// of day. The host applies the new time: to the BBS's own clock, or to the
// machine's clock when the operator chose the "system" CLOCK_MODE and the
// host holds the privilege (without it, the host's audit entry says so).
// Each change is written to the audit trail with who made it.
#include "clock.h"

#include <cstring>

#include "frame.h"
#include "host.h"

namespace {

int logon_routine();
int input_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, logon_routine, input_routine, dfsthn, nullptr, nullptr,
                                nullptr, nullptr, nullptr, shutdown_routine};
int module_number;
message_block *block;
const char *clock_key;
const char *clock_command;

constexpr const char *VERSION = "1.1";
constexpr uint16_t NOT_A_TIME = 0xFFFF;

// Key holders are reminded of the command when they log on.
int logon_routine() {
    if (haskey(clock_key) != 0) show_message(block, CLOCK_LOGON_NOTICE, VERSION, clock_command);
    return 0;
}

// No dialogue: a caller who picks the Clock is back at the menu at once.
int input_routine() { return 0; }

void shutdown_routine() { clsmsg(block); }

// The command word and one time of day ("H:MM", "HH:MM" or "HH:MM:SS").
int clock_command_routine() {
    if (margc <= 0) return 0;
    if (sameas(margv[0], clock_command) == 0) return 0;
    if (haskey(clock_key) == 0) {
        show_message(block, CLOCK_NO_ACCESS);
        return 1;
    }
    if (margc != 2) {
        show_message(block, CLOCK_USAGE, clock_command);
        return 1;
    }
    const char *typed = margv[1];
    if (std::strlen(typed) > CLOCK_TIME_TEXT_MAX) {
        show_message(block, CLOCK_BAD_TIME, typed);
        return 1;
    }
    uint16_t t = dctime(typed);
    if (t == NOT_A_TIME) {
        show_message(block, CLOCK_BAD_TIME, typed);
        return 1;
    }
    // The packed time keeps seconds in two-second steps: its seconds field
    // counts pairs of seconds.
    int hours = (t >> 11) & 0x1F;
    int minutes = (t >> 5) & 0x3F;
    int seconds = (t & 0x1F) * 2;
    // Whether the host could apply it is its own to report: it writes an
    // audit entry when the machine's clock refuses.
    set_time_of_day(hours, minutes, seconds, 0);
    show_message(block, CLOCK_TIME_SET, typed);
    shocst("USER CHANGED BBS TIME", "User: %s, Time: %s", usaptr->user_id, typed);
    return 1;
}

}  // namespace

BBS_EXPORT void init__krvclock() {
    set_module_name(descriptor, gmdnam("KRVCLOCK.MDF"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvclock.mcv");
    clock_key = stgopt(CLOCK_KEY);
    clock_command = stgopt(CLOCK_COMMAND);
    globalcmd(clock_command_routine);
}
