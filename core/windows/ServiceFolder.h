#pragma once

// A folder of the service's own (its logs), held by handle from the check on, so that what is
// written there later by name lands in the folder that was checked.

#include "core/windows/ScopedHandle.h"

#include <string>

namespace OrvaneClient {

class ServiceFolder {
public:
    // Opens `path` (a Windows path, UTF-8) and its parent folder without following links,
    // creating either when missing (the folder with the list below, the parent with what it
    // inherits), and makes the folder the service's own:
    // - a link, something that is not a folder, or a final path other than the one named is
    //   refused;
    // - an owner other than SYSTEM, Administrators or TrustedInstaller, or an entry that lets
    //   anyone else write, append, delete, change the list or take ownership (CREATOR OWNER
    //   aside), makes it reset on the handle: owner Administrators, a protected list of SYSTEM
    //   and Administrators (full control) and Users (read); takenBackFrom() then says why;
    // - a junction, symbolic link or file with more than one hard link inside is refused: the
    //   log file channel opens its files by name and would write through it.
    // Both handles stay open, shared with readers and writers but not with deletion, so that
    // neither folder can be renamed or removed while this object lives. On refusal the object is
    // empty and refusal() says why (naming the call and error code where one failed).
    static ServiceFolder Secure(const std::string& path);

    bool isSafe() const { return folder.isValid(); }
    const std::string& refusal() const { return why; }
    // Who could change the folder before it was reset ("its owner S-1-5-21-..."), or empty when
    // it was the service's own already. Logs nothing: the caller tells once its log file is open.
    const std::string& takenBackFrom() const { return takenFrom; }

private:
    ScopedHandle parent;
    ScopedHandle folder;
    std::string why;
    std::string takenFrom;
};

}  // namespace OrvaneClient
