// The operator's commands of bbshost, other than serving. Each returns the
// process's exit status and writes what it did to stdout, faults to stderr.
#ifndef BBS_OPERATOR_H
#define BBS_OPERATOR_H

#include <string>
#include <vector>

namespace bbs {

// The folder that holds bbshost and the plug-ins (NAME.so).
std::string program_directory();

// A ready BBS directory from the demo, with a sysop account. The password is
// asked for on a terminal (twice); otherwise one is made and printed once.
int command_init(const std::string &dir);

// user add | list | show | set | delete, class list, purge, cleanup, check.
// `args` are the words after the command's name.
int command_user(const std::string &dir, const std::vector<std::string> &args);
int command_class(const std::string &dir, const std::vector<std::string> &args);
int command_purge(const std::string &dir);
int command_cleanup(const std::string &dir);
int command_check(const std::string &dir);

}  // namespace bbs

#endif
