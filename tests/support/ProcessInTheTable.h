#pragma once

#include "core/windows/Win32Api.h"

namespace OrvaneClient::Testing {

// This process as the TCP table names the owner of a connection it accepted: whom a client
// takes a loopback server of this test process for, emulated, under Wine and on Windows.
DWORD ProcessInTheTable();

}  // namespace OrvaneClient::Testing
