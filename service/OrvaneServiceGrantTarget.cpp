#include "core/logfacade/LogFacade.h"
#include "core/util/WideString.h"
#include "service/GrantTargetHandle.h"
#include "service/OrvaneService.h"

#include <Poco/UTF8String.h>

namespace OrvaneClient {

std::optional<std::string> OrvaneService::prepareDirectoryGrant(const std::string& directory,
                                                                ScopedHandle& folder,
                                                                std::string& grantPath) {
    const GrantVerdict verdict = judgeDirectory(directory);
    if (verdict.refusal) {
        return verdict.refusal;
    }
    folder = OpenGrantDirectory(verdict.approvedPath);
    if (!folder.isValid()) {
        const DWORD error = GetLastError();
        LogError("GetNamedSecurityInfo for obj name %ls Error %u",
                 Utf8ToWide(verdict.approvedPath).c_str(),
                 static_cast<unsigned>(error));
        return std::nullopt;
    }
    if (std::optional<std::string> refusal = HeldObjectRefusal(folder.get())) {
        return refusal;
    }
    // A link anywhere on the way shows as another final path.
    const std::optional<std::string> finalPath = FinalPathOf(folder.get());
    if (!finalPath) {
        return std::string("the folder's final path cannot be had");
    }
    const GrantVerdict held = judgeDirectory(*finalPath);
    if (held.refusal) {
        return held.refusal;
    }
    if (Poco::UTF8::icompare(held.approvedPath, verdict.approvedPath) != 0) {
        return std::string("a folder on the path is a junction or symbolic link");
    }
    grantPath = held.approvedPath;
    return std::nullopt;
}

}  // namespace OrvaneClient
