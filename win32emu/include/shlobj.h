#pragma once

// Emulated Windows SDK: the shell folder query.

#include <windows.h>

// clang-format off
#define CSIDL_COMMON_APPDATA            0x0023
#define CSIDL_WINDOWS                   0x0024
#define CSIDL_PROGRAM_FILES             0x0026
#define CSIDL_PROFILE                   0x0028
#define CSIDL_PROGRAM_FILESX86          0x002a
#define CSIDL_PROFILES                  0x003e
#define CSIDL_FLAG_CREATE               0x8000
#define CSIDL_FLAG_MASK                 0xFF00

#define SHGFP_TYPE_CURRENT              0
#define SHGFP_TYPE_DEFAULT              1
// clang-format on

extern "C" {

// S_OK with the folder in pszPath (MAX_PATH wide characters); E_FAIL for a folder the machine
// lacks; E_INVALIDARG for an unknown CSIDL, a bad flag or a null path.
HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);

}  // extern "C"
