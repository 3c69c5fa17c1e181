#pragma once

// Emulated Windows SDK: userenv.h. Nothing of it is emulated yet; the calls arrive with the code
// that makes them.

#include <windows.h>
