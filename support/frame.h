// Steps that every plug-in takes in the same way: naming its descriptor,
// ordering its channel range, recognising its global command, and showing
// one message to the current user.
#ifndef BBS_FRAME_H
#define BBS_FRAME_H

#include <utility>

#include "host.h"

// Copies the registered name into the descriptor with stzcpy, limited to the
// 25 bytes of the name field: a longer name keeps its first 24 characters.
void set_module_name(module_descriptor &descriptor, const char *name);

// Channel ranges come from two options that the operator may give in either
// order; the lower one goes first.
template <typename Number>
void order_channel_range(Number &first, Number &last) {
    if (first > last) std::swap(first, last);
}

// Whether the hardware channel number of line `chan` lies from `first` to
// `last`, both ends included. A line number outside the host's table is in
// no range.
bool channel_in_range(int chan, unsigned first, unsigned last);

// Whether the current input line is the global command `command_word`: it
// has a word, and the first word equals `command_word` as the host compares
// words. A routine that gets false returns 0 and leaves the line alone.
bool is_command(const char *command_word);

// Shows message `number` of `block`, with its arguments, to the current
// user, and selects again the block that was selected before.
template <typename... Args>
void show_message(message_block *block, int number, Args... args) {
    setmbk(block);
    prfmsg(number, args...);
    outprf(usrnum);
    rstmbk();
}

#endif
