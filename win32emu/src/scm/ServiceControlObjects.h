#pragma once

// The objects behind the handles of the controlling side of the SCM (OpenSCManagerW,
// OpenServiceW). They live in the handle table so that leak checks count them, and only
// CloseServiceHandle closes them.

#include "machine/KernelObject.h"

#include <string>

namespace Win32Emu {

class ScManagerObject : public KernelObject {
public:
    explicit ScManagerObject(std::string socketPath) : socketPath(std::move(socketPath)) {}
    const char* typeName() const override { return "ScManager"; }
    const std::string socketPath;
};

class ServiceObject : public KernelObject {
public:
    ServiceObject(std::string socketPath, std::string serviceName)
        : socketPath(std::move(socketPath)), serviceName(std::move(serviceName)) {}
    const char* typeName() const override { return "Service"; }
    const std::string socketPath;
    const std::string serviceName;
};

}  // namespace Win32Emu
