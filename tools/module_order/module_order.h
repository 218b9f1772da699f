// KRVTOP: moves the DLL= line of one module to the top or the bottom of the
// module list in the host's WGSERV.CFG, keeping the previous file as
// WGSERV.CBK.
//
// The tool stands alone: it shares no code with the host or the plug-ins.
#ifndef KRVTOP_MODULE_ORDER_H
#define KRVTOP_MODULE_ORDER_H

#include <ostream>
#include <string>

namespace krvtop {

// Runs the tool on the files of `directory` as if started there with the
// command line argv[0..argc-1]; argv[1], the module name, is upper-cased in
// place. Every console text goes to `out`. Returns the exit status.
int run(int argc, char *argv[], const std::string &directory, std::ostream &out);

}  // namespace krvtop

#endif
