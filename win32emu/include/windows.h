#pragma once

// Emulated Windows SDK: the subset of <windows.h> that the system uses, implemented by win32emu
// over the emulated machine (win32emu/SUPPORTED.md). No generic-name (A/W) macros and no TCHAR:
// code names the -A or -W function it calls.

// clang-format off
#include <winnt.h>
#include <winerror.h>
#include <winbase.h>
#include <processthreadsapi.h>
#include <securitybaseapi.h>
#include <winreg.h>
#include <winuser.h>
#include <winsvc.h>
// clang-format on
