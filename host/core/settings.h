// The host's settings as the core uses them, read from a BBS directory.
#ifndef BBS_SETTINGS_H
#define BBS_SETTINGS_H

#include <string>
#include <vector>

#include "core.h"

namespace bbs {

// Reads WGSERV.CFG and CLASSES.CFG of `directory`. False, with every fault
// found (file and line), when the host must not serve with them.
bool load_settings(const std::string &directory, HostSettings &settings, std::vector<std::string> &errors);

}  // namespace bbs

#endif
