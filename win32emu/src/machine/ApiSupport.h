#pragma once

// Helpers shared by the emulated calls.

#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace Win32Emu {

std::string ToUtf8(const std::wstring& text);
// Null gives the empty string.
std::string ToUtf8(LPCWSTR text);
std::wstring ToWide(const std::string& utf8);

// Fault injection at the entry of a call that reports through the last error: true (with the
// last error set) when the call must fail. `objectType` is the type of the object whose handle
// the call is given ("Token"), empty for none.
bool InjectedFailure(const char* call,
                     const std::string& argument = std::string(),
                     const std::string& objectType = std::string());
// For calls that return their error code (the registry calls): the code to fail with, if any.
std::optional<DWORD> InjectedError(const char* call,
                                   const std::string& argument = std::string(),
                                   const std::string& objectType = std::string());

// An argument the emulation does not model is refused, never ignored: when `unmodelled`, sets
// ERROR_CALL_NOT_IMPLEMENTED as the last error and returns true.
bool RefuseUnmodelled(bool unmodelled);
// The same for the calls that return their error code (the registry calls): the code to return,
// if the argument is not modelled.
std::optional<LONG> UnmodelledCode(bool unmodelled);

// A LocalAlloc block (LMEM_FIXED, zero-filled) handed out by `call`, counted until LocalFree;
// null when memory runs out.
void* AllocateLocal(size_t bytes, const char* call);

// A REG_SZ value's data: the UTF-8 text as wide characters with the terminating zero.
// The kind of object an open handle stands for ("File"), empty for no open handle.
std::string HandleTypeName(HANDLE handle);
std::vector<BYTE> WideStringData(const std::string& utf8);
// Wide character data back to UTF-8, up to the first zero character or the end.
std::string Utf8FromWideData(const std::vector<BYTE>& data);

// Windows compares names of modules, keys and values without regard to case.
bool EqualNames(const std::string& left, const std::string& right);

}  // namespace Win32Emu
