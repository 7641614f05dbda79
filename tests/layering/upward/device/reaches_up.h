#include "fs/boot_probe.h"  // a device file that reaches up
