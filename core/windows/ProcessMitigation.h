#pragma once

namespace OrvaneClient {

// Keeps this process from following junctions and symbolic links that non-administrators made
// (the redirection trust mitigation, enforced), where the system offers it: Windows 10 builds
// that know the policy. SetProcessMitigationPolicy is looked up by name, since older kernel32
// versions lack it. Logs nothing, so that it can run before logging exists: the outcome is kept
// for LogRedirectionTrustMitigation. Returns true when the mitigation is on.
bool EnableRedirectionTrustMitigation();

// Logs, at information level, whether the last EnableRedirectionTrustMitigation turned the
// mitigation on: "Redirection trust mitigation is on", "... is off: not offered by this system"
// or "... is off, error code %d". Logs nothing when it was never tried.
void LogRedirectionTrustMitigation();

}  // namespace OrvaneClient
