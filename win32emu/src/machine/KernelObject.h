#pragma once

// The objects behind emulated handles. A handle refers to its object through a shared pointer, so
// a thread blocked in a wait keeps the object alive even if another thread closes the handle.

#include <windows.h>

namespace Win32Emu {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // The kind of object, as fault injection and leak reports name it ("Event", "Token"...).
    virtual const char* typeName() const = 0;
};

// An object that WaitForSingleObject accepts. wait() blocks without any machine-wide lock held
// and returns WAIT_OBJECT_0, WAIT_ABANDONED or WAIT_TIMEOUT.
class WaitableObject : public KernelObject {
public:
    virtual DWORD wait(DWORD milliseconds) = 0;
};

}  // namespace Win32Emu
