#pragma once

// Emulated Windows SDK: wtsapi32.h. Nothing of it is emulated yet; the calls arrive with the code
// that makes them.

#include <windows.h>
