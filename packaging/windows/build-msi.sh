#!/usr/bin/env bash
# Builds the signed installer of the Orvane Client service from the Windows build:
#   build-msi.sh [--build DIR] [--out FILE] [--cert CERT.pem --key KEY.pem]
#   --build the Windows build tree (default build/windows): DIR/service/OrvaneService.exe,
#           DIR/tools/orvane-client/orvane-client.exe and the installer's custom action
#           DIR/packaging/windows/OrvaneSetupActions.dll; the product version is the tree's
#   --out   the MSI to write (default build/windows/msi/OrvaneClient.msi); the signed programs
#           are left beside it in signed/
#   --cert, --key  the code-signing certificate and its key (PEM); without them a throwaway
#           self-signed one is made for this run (left beside the MSI as signing-cert.pem, so
#           that a check can verify against it)
# Steps: sign the two programs and the custom action, pack them with wixl, add with msibuild what
# wixl cannot write (the service's security descriptor, SID type, required privileges and failure
# actions, the logs folder's access list, the client key's removal, the games key kept for good,
# where the major upgrade removes the older version), sign the MSI last. Needs wixl, msitools, osslsigncode, openssl.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/windows
out=""
cert=""
key=""
while [ $# -gt 0 ]; do
    case "$1" in
        --build) build=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        --cert) cert=$2; shift 2 ;;
        --key) key=$2; shift 2 ;;
        *) echo "build-msi.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
if { [ -n "$cert" ] && [ -z "$key" ]; } || { [ -z "$cert" ] && [ -n "$key" ]; }; then
    echo "build-msi.sh: --cert and --key go together" >&2
    exit 2
fi
programs=("$build/service/OrvaneService.exe" "$build/tools/orvane-client/orvane-client.exe"
          "$build/packaging/windows/OrvaneSetupActions.dll")
for program in "${programs[@]}"; do
    [ -f "$program" ] || { echo "build-msi.sh: $program is missing" >&2; exit 1; }
done

out=$(realpath -m "${out:-$build/msi/OrvaneClient.msi}")
outDir=$(dirname "$out")
mkdir -p "$outDir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The product version is the build tree's (ORVANE_VERSION), as in the programs' version
# resources and their first log line.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null)
[ -n "$version" ] || { echo "build-msi.sh: no project version in $build/CMakeCache.txt" >&2; exit 1; }

if [ -z "$cert" ]; then
    cert=$work/signing-cert.pem
    key=$work/signing-key.pem
    openssl req -x509 -newkey rsa:3072 -sha256 -days 30 -nodes -keyout "$key" -out "$cert" \
        -subj "/CN=Orvane Client test signing (throwaway)/O=Qovex" \
        -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
        2>/dev/null
    cp "$cert" "$outDir/signing-cert.pem"
fi

sign() {
    osslsigncode sign -certs "$cert" -key "$key" -h sha256 \
        -n "Orvane Client" -i "https://orvane.invalid/" -in "$1" -out "$2" >/dev/null
}

mkdir "$work/stage"
for program in "${programs[@]}"; do
    sign "$program" "$work/stage/$(basename "$program")"
done
mkdir -p "$outDir/signed"
cp "$work/stage/"*.exe "$work/stage/"*.dll "$outDir/signed/"

(cd "$work/stage" &&
    wixl -a x64 -D "Version=$version" -D BinDir=. -o "$work/unsigned.msi" \
        "$root/packaging/windows/OrvaneClient.wxs")

# The service's DACL: Windows' default for a new service, with start and status rights for
# interactive users (the desktop client starts it on demand).
sddl='D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWRPLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)'
# The logs folder: owned by Administrators, written by SYSTEM and Administrators only, read by
# Users; protected, so that nothing C:\ProgramData lets users do reaches it. The service sets
# the same list at start when it finds the folder otherwise.
logsSddl='O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)'
# The privileges the service keeps (ConfigType 6); Windows removes every other one from its
# token at start. Each one and the call that needs it:
#   SeTcbPrivilege                 WTSQueryUserToken (the console user's token), and the linked
#                                  full token as a primary token (GetTokenInformation,
#                                  TokenLinkedToken) for elevated launches
#   SeAssignPrimaryTokenPrivilege  CreateProcessAsUserW with a token that is not the service's
#   SeIncreaseQuotaPrivilege       CreateProcessAsUserW (quotas of the new process)
#   SeImpersonatePrivilege         CreateEnvironmentBlock, which impersonates the user to read
#                                  their environment (hence TOKEN_IMPERSONATE on its token)
#   SeChangeNotifyPrivilege        traversing folders it has no right to list (always kept by
#                                  Windows; named so that the list says so)
# Not needed: setting the logs folder's owner to Administrators (a group SYSTEM's token may
# name as owner), its list (SYSTEM holds WRITE_DAC there, or the folder is refused), and the
# grants of fix-dir (WRITE_DAC through the folder's own list).
privileges='SeTcbPrivilege[~]SeAssignPrimaryTokenPrivilege[~]SeIncreaseQuotaPrivilege[~]SeImpersonatePrivilege[~]SeChangeNotifyPrivilege'
tab=$'\t'
cat > "$work/MsiLockPermissionsEx.idt" <<EOF
MsiLockPermissionsEx${tab}LockObject${tab}Table${tab}SDDLText${tab}Condition
s72${tab}s72${tab}s32${tab}l0${tab}S255
MsiLockPermissionsEx${tab}MsiLockPermissionsEx
ServiceDacl${tab}OrvaneClientService${tab}ServiceInstall${tab}${sddl}${tab}
LogsDacl${tab}OrvaneLogsFolder${tab}CreateFolder${tab}${logsSddl}${tab}
EOF
# ConfigType 5: SID type, 1 unrestricted. ConfigType 6: required privileges (above).
# ConfigType 4: failure actions flag, 0: only a crash (an end without SERVICE_STOPPED) counts
# as a failure, never a clean stop. Event 1: install.
cat > "$work/MsiServiceConfig.idt" <<EOF
MsiServiceConfig${tab}Name${tab}Event${tab}ConfigType${tab}Argument${tab}Component_
s72${tab}s255${tab}i2${tab}i4${tab}S0${tab}s72
MsiServiceConfig${tab}MsiServiceConfig
ServiceSidType${tab}Orvane Client Service${tab}1${tab}5${tab}1${tab}ServiceExecutable
ServiceFailureFlag${tab}Orvane Client Service${tab}1${tab}4${tab}0${tab}ServiceExecutable
ServicePrivileges${tab}Orvane Client Service${tab}1${tab}6${tab}${privileges}${tab}ServiceExecutable
EOF
# Restart 5 s after the first and second crash, nothing after the third; forget after a day.
cat > "$work/MsiServiceConfigFailureActions.idt" <<EOF
MsiServiceConfigFailureActions${tab}Name${tab}Event${tab}ResetPeriod${tab}RebootMessage${tab}Command${tab}Actions${tab}DelayActions${tab}Component_
s72${tab}s255${tab}i2${tab}I4${tab}L255${tab}L255${tab}S0${tab}S0${tab}s72
MsiServiceConfigFailureActions${tab}MsiServiceConfigFailureActions
ServiceRestart${tab}Orvane Client Service${tab}1${tab}86400${tab}${tab}${tab}1[~]1[~]0${tab}5000[~]5000[~]0${tab}ServiceExecutable
EOF

msi=$work/unsigned.msi
msibuild "$msi" -i "$work/MsiLockPermissionsEx.idt"
msibuild "$msi" -i "$work/MsiServiceConfig.idt"
msibuild "$msi" -i "$work/MsiServiceConfigFailureActions.idt"
# Windows Installer applies MsiServiceConfig rows in this action, after InstallServices.
msibuild "$msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('MsiConfigureServices', 'VersionNT >= 600', 5850)"
# '*': the key is created on install and removed, with all it holds, on uninstall.
msibuild "$msi" -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('ClientKeyWhole', 2, 'SOFTWARE\\Qovex\\OrvaneClient', '*', 'ClientKey')"
# The major upgrade removes the older version once this one's files, registry values and
# service are in place (InstallExecute runs that part of the script): the older version's
# components then have this one as a client too, so its removal takes neither the files nor the
# service, whose key holds the administrator's LibraryRoots; the service is stopped, updated and
# stays registered once. Before PublishProduct, which registers this version under the upgrade
# code: Wine's msiexec deletes the whole upgrade-code key when it removes the older version
# (Windows only the older version's entry), and a later downgrade must still find this one.
msibuild "$msi" -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('InstallExecute', 6350)"
msibuild "$msi" -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 6360 WHERE \`Action\` = 'RemoveExistingProducts'"
# Permanent (0x10) beside registry key path (0x4) and 64-bit (0x100).
msibuild "$msi" -q "UPDATE \`Component\` SET \`Attributes\` = 276 WHERE \`Component\` = 'GamesKey'"

sign "$msi" "$out"
echo "build-msi.sh: $out ($(stat -c %s "$out") bytes, version $version)"
