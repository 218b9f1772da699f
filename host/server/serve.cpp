#include "serve.h"

namespace bbs {

int command_serve(const std::string &) { return 2; }

}  // namespace bbs
