#pragma once

// The one header through which system code reaches Win32. On Windows the SDK answers these
// includes; elsewhere the emulated Windows does, with headers of the same names.

// clang-format off
#include <windows.h>
#include <winsvc.h>
#include <wtsapi32.h>
#include <userenv.h>
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <shlobj.h>
#include <winsock2.h>
#include <iphlpapi.h>
#include <winternl.h>
// clang-format on
