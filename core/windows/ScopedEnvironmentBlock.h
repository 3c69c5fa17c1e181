#pragma once

#include "core/util/ScopedResource.h"
#include "core/windows/LastErrorGuard.h"
#include "core/windows/Win32Api.h"

namespace OrvaneClient {

struct EnvironmentBlockTraits {
    using Value = LPVOID;
    using ErrorGuard = LastErrorGuard;
    static Value Empty() { return nullptr; }
    static bool IsValid(Value block) { return block != nullptr; }
    static bool Close(Value block) { return DestroyEnvironmentBlock(block) != FALSE; }
};

// Owns an environment block from CreateEnvironmentBlock and destroys it with
// DestroyEnvironmentBlock. close() reports a failed destroy with its last error.
using ScopedEnvironmentBlock = ScopedResource<EnvironmentBlockTraits>;

}  // namespace OrvaneClient
