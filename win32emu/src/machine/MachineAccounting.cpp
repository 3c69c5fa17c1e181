// What the process holds open: handles, LocalAlloc blocks, environment blocks and tokens, for
// tests that check an operation released everything it obtained.

#include "Win32Emu/Machine.h"
#include "machine/IdentityObjects.h"
#include "machine/MachineModel.h"
#include "machine/MachineState.h"

namespace Win32Emu {

size_t Machine::openHandleCount() const {
    return state->model.handles.size();
}

size_t Machine::localAllocCount() const {
    return state->model.localAllocationCount();
}

size_t Machine::environmentBlockCount() const {
    return state->model.environmentBlockCount();
}

std::vector<OpenObject> Machine::openHandles() const {
    std::vector<OpenObject> result;
    for (const auto& entry : state->model.handles.entries()) {
        result.push_back(OpenObject{reinterpret_cast<std::uintptr_t>(entry.first),
                                    entry.second.object->typeName(),
                                    entry.second.createdBy});
    }
    return result;
}

std::vector<OpenObject> Machine::openLocalAllocs() const {
    std::vector<OpenObject> result;
    for (const auto& block : state->model.localAllocations()) {
        result.push_back(
            OpenObject{reinterpret_cast<std::uintptr_t>(block.first), "LocalAlloc", block.second});
    }
    return result;
}

std::optional<TokenInfo> Machine::tokenInfo(HANDLE handle) const {
    const std::optional<HandleEntry> entry = state->model.handles.entry(handle);
    const auto token = entry ? std::dynamic_pointer_cast<TokenObject>(entry->object) : nullptr;
    if (!token) {
        return std::nullopt;
    }
    TokenInfo info;
    info.tokenId = token->id;
    info.userSid = token->userSid;
    info.sessionId = token->sessionId;
    info.type = token->type;
    info.impersonationLevel = token->impersonationLevel;
    info.elevation = token->elevation;
    info.access = entry->access;
    info.createdBy = entry->createdBy;
    return info;
}

}  // namespace Win32Emu
