#pragma once

namespace OrvaneClient {

// Keeps this process from following junctions and symbolic links that non-administrators made
// (the redirection trust mitigation, enforced), where the system offers it: Windows 10 builds
// that know the policy. SetProcessMitigationPolicy is looked up by name, since older kernel32
// versions lack it. Logs one information line saying whether the mitigation is on. Returns true
// when it is.
bool EnableRedirectionTrustMitigation();

}  // namespace OrvaneClient
