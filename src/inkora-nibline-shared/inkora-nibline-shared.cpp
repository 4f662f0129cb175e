// libinkora-nibline.so has no code of its own: every function comes from the
// device library's static pieces, linked whole. This file only gives the
// target a source and checks, at build time, that the installed umbrella
// header compiles on its own as C++.
#include "inkora-nibline.h"
#include "inkora-nibline-linux.h"
#include "inkora-nibline-simulated.h"
