#pragma once

// Emulated Windows SDK: aclapi.h. Nothing of it is emulated yet; the calls arrive with the code
// that makes them.

#include <windows.h>
