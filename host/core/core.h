// Facilities the parts of the host core share with each other. Nothing here
// is seen by plug-ins; their whole view of the host is host.h.
#ifndef BBS_CORE_H
#define BBS_CORE_H

#include <string>
#include <vector>

#include "host.h"

namespace bbs {

// The BBS directory the host serves; every file a plug-in names is looked up
// in it. Set once before the plug-ins are loaded.
const std::string &bbs_directory();
void set_bbs_directory(const std::string &dir);

// The path of a file in the BBS directory whose name equals `name` with case
// ignored; the exact name joined to the directory when no such file exists
// yet (so that a new file is made under the name the plug-in gave).
std::string find_file_ignoring_case(const std::string &name);

// Faults found while the plug-ins start (a message file that does not
// parse, an option outside its range, ...). The loader refuses to go on
// serving when any were reported; each text names the file and the line.
void report_startup_error(const std::string &text);
const std::vector<std::string> &startup_errors();
void clear_startup_errors();

}  // namespace bbs

#endif
