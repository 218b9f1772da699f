// The common frame steps of the plug-ins.
#include "frame.h"

void set_module_name(module_descriptor &descriptor, const char *name) {
    stzcpy(descriptor.name, name, static_cast<int>(sizeof descriptor.name));
}

bool channel_in_range(int chan, unsigned first, unsigned last) {
    if (chan < 0 || chan >= MAX_LINES) return false;
    const int64_t number = line_channel_table[chan];
    return number >= first && number <= last;
}

bool is_command(const char *command_word) { return margc > 0 && sameas(margv[0], command_word) != 0; }
