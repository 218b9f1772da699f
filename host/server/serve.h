// Serving a BBS directory to callers by telnet until SIGINT or SIGTERM.
#ifndef BBS_SERVE_H
#define BBS_SERVE_H

#include <string>

namespace bbs {

int command_serve(const std::string &dir);

}  // namespace bbs

#endif
