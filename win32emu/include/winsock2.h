#pragma once

// Emulated Windows SDK: winsock2.h, only the address family constants the system passes to the
// IP helper calls. The host's socket header supplies them: AF_INET is 2 on both.

#include <sys/socket.h>
