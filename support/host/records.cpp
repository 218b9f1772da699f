// Compiling the contract header on its own checks every record layout.
#include "host.h"
