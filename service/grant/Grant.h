#pragma once

// fix-dir's grant: an inheritable entry for a user's SID added to a folder's or a key's access
// list and written into everything below it, each object on its own handle. A folder is granted
// only once the rules (GrantRules.h) have approved it by its name and again by the final path of
// the handle that holds it; the walk (GrantWalk.h) judges every child on its own handle.

#include "core/windows/ScopedHandle.h"
#include "core/windows/Win32Api.h"
#include "service/grant/GrantRules.h"

#include <optional>
#include <string>

namespace OrvaneClient {

// The grants of one request. The machine's locations (MachineLocations.h) are read at the first
// folder judged and serve every later judgment of the same request; the next request makes a
// new Grant, so an administrator's change applies to it. One thread at a time; holds no handle
// between calls.
class Grant {
public:
    // The checks before a folder grant: the rules on `directory` (UTF-8) as sent, then the folder
    // opened once into `folder` (its list read and written, shared with readers and writers but
    // not with deletion) and the rules again on its final path, which goes to `grantPath`. A
    // refusal reason, or none; none with `folder` empty when the folder could not be opened
    // (logged at error level as the read of its access list failing).
    std::optional<std::string> prepareDirectory(const std::string& directory,
                                                ScopedHandle& folder,
                                                std::string& grantPath);

    // Adds the entry to the object's access list (its DACL alone) and writes what every object
    // below inherits from it, each on its own handle (GrantWalk.h), the object's own list last.
    // The object is a folder held by `object`, or (`object` null) the key `grantName`
    // ("HKEY_LOCAL_MACHINE\...") in the view `objectType` names, opened here as itself.
    // `objectName` is how the log lines name it, `grantName` how refusals do. A Win32 error
    // code, 0 for success; ERROR_BAD_INHERITANCE_ACL from the write counts as success (already
    // in place). Logs each failure at error level, a refusal at warning level.
    DWORD setObjectPermissions(const std::wstring& objectName,
                               const std::string& grantName,
                               HANDLE object,
                               SE_OBJECT_TYPE objectType,
                               PSID sid,
                               TRUSTEE_FORM trusteeForm,
                               DWORD accessPermissions,
                               ACCESS_MODE accessMode,
                               DWORD inheritance);

    // "DOMAIN/name" of the SID, or "?" after an error line.
    static std::string getSidAccountName(PSID sid);

private:
    // The rules applied to `directory` with this machine's locations.
    GrantVerdict judgeDirectory(const std::string& directory);

    bool locationsRead = false;
    std::optional<ProtectedLocations> locations;
    // Why `locations` is empty once read.
    std::string locationsFailure;
};

}  // namespace OrvaneClient
