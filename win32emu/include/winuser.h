#pragma once

// Emulated Windows SDK: the user32 subset (system metrics).

#include <winnt.h>

// clang-format off
#define SM_CXSCREEN         0
#define SM_CYSCREEN         1
#define SM_CMONITORS        80
#define SM_CLEANBOOT        67
#define SM_TABLETPC         86
#define SM_MEDIACENTER      87
#define SM_STARTER          88
#define SM_SERVERR2         89
#define SM_REMOTESESSION    0x1000

// ShowWindow commands (the show flag handed to WinMain).
#define SW_HIDE             0
#define SW_SHOWNORMAL       1
#define SW_SHOWDEFAULT      10
// clang-format on

extern "C" {

// The machine's value for the metric; 0 for a metric it does not know, as Windows gives.
int WINAPI GetSystemMetrics(int nIndex);

}  // extern "C"
