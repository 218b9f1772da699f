// Descriptor files ("KRVFV.MDF", ...): the name under which a plug-in
// registers and a line describing it, as KEY=VALUE lines. gmdnam (host.h)
// reads them; `bbshost check` uses parse_descriptor_file.
#ifndef BBS_DESCRIPTOR_H
#define BBS_DESCRIPTOR_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bbs {

struct ModuleDescription {
    std::string name;          // NAME=: what gmdnam gives
    std::string description;   // DESCRIPTION=: one line for the operator
    bool on_menu = true;       // MENU=yes|no: whether callers pick it from the host's menu
};

// Whether the module registered under `name` is offered on the host's menu
// (a plug-in with no dialogue of its own says MENU=no in its descriptor).
bool offered_on_menu(const std::string &name);
void forget_descriptors();

// How many times plug-ins have called gmdnam: the loader tells by it whether
// a plug-in read a descriptor file of its own while it started.
int gmdnam_calls();

// A plug-in that takes its registered name from elsewhere (AFK reads it from
// an option) does not call gmdnam; the loader then reads the descriptor file
// named after its DLL= line, if there is one, for its MENU setting, which
// applies to the modules the plug-in registered (`registered_names`).
void read_descriptor_of_plugin(const std::string &dll, const std::vector<std::string> &registered_names);

// Parses a descriptor file's text. Errors are appended as "FILE:LINE: ..."
// (or "FILE: ..." for a fault of the whole file); the result is empty
// unless there was none.
std::optional<ModuleDescription> parse_descriptor_text(const std::string &file_name, std::string_view text,
                                                       std::vector<std::string> &errors);
std::optional<ModuleDescription> parse_descriptor_file(const std::string &path, std::vector<std::string> &errors);

}  // namespace bbs

#endif
