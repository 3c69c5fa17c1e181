#pragma once

// The security descriptor of an installed service, as the SCM checks a caller's OpenServiceW
// against it: the DACL part of its SDDL text, allow and deny entries of service rights for SIDs
// or their SDDL aliases, in order.

#include <optional>
#include <string>
#include <vector>
#include <windows.h>
#include <winsvc.h>

namespace OrvaneSc {

class ServiceSecurity {
public:
    // What the installer sets for the service: Windows' default for a new service, with start
    // and status rights for interactive users, so that the desktop client may start it.
    static constexpr const char* kInstalledSddl =
        "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
        "(A;;CCLCSWRPLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";

    // Empty for text outside the modelled subset: "D:" and entries "(A;;rights;;;sid)" or
    // "(D;;rights;;;sid)", rights as two-letter service codes or 0x hex, no flags.
    static std::optional<ServiceSecurity> fromSddl(const std::string& sddl);

    // Whether a token of these SIDs is granted all of `access`: entries in order, a deny entry
    // naming a right still wanted refuses, allow entries add rights until all are granted.
    bool grants(const std::vector<std::string>& callerSids, DWORD access) const;

private:
    struct Entry {
        bool allow = true;
        DWORD rights = 0;
        std::string sid;  // upper case
    };
    std::vector<Entry> entries;
};

}  // namespace OrvaneSc
