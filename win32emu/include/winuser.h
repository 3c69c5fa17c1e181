#pragma once

// Emulated Windows SDK: the user32 subset (system metrics).

#include <winnt.h>

// clang-format off
#define SM_SERVERR2         89

// ShowWindow commands (the show flag handed to WinMain).
#define SW_SHOWDEFAULT      10
// clang-format on

extern "C" {

// The machine's value for the metric; 0 for a metric it does not know, as Windows gives.
int WINAPI GetSystemMetrics(int nIndex);

}  // extern "C"
