// Command-line entry of KRVTOP: works in the current directory.
#include <iostream>

#include "module_order.h"

int main(int argc, char *argv[]) {
    int status = krvtop::run(argc, argv, ".", std::cout);
    std::cout.flush();
    return status;
}
