#pragma once

#include "machine/KernelObject.h"
#include "machine/RegistryModel.h"

#include <string>

namespace Win32Emu {

// An open registry key: the key, the rights it was opened with and its path as the caller named
// it ("HKEY_LOCAL_MACHINE\SOFTWARE\..."), the argument fault injection matches against.
class RegistryKeyObject : public KernelObject {
public:
    const char* typeName() const override { return "Key"; }
    RegistryKeyObject(RegistryKeyPtr key, Hive hive, REGSAM access, std::string path)
        : key(std::move(key)), hive(hive), access(access), path(std::move(path)) {}

    const RegistryKeyPtr key;
    const Hive hive;
    const REGSAM access;
    const std::string path;
};

}  // namespace Win32Emu
