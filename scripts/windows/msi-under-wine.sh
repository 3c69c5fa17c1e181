#!/usr/bin/env bash
# The installer under Wine, after the Windows run (scripts/windows/run-under-wine.sh): builds an
# older version of the programs beside build/windows, post-processes and signs both MSIs, checks
# the signatures, then in a fresh headless prefix: installs the older version silently and checks
# what it registered and the folders it made, sets an administrator's LibraryRoots, lets
# orvane-client.exe start the stopped service on demand, upgrades to build/windows' version while
# the service runs with a client connected (version in the start line, LibraryRoots, logs, start
# on demand), repairs it and checks again, has a squatter on 127.0.0.1:9977 refused for
# auth-info, has the older version refused over the newer one, and uninstalls. Each step ends
# with a PASS (or FAIL) line and its time.
# It binds 127.0.0.1:9977: run it after the other runs, never beside them.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${ORVANE_WINDOWS_BUILD:-$root/build/windows}
# The version the upgrade starts from: lower than any the project ships.
olderVersion=0.0.9.400
olderBuild=$build-$olderVersion

. scripts/windows/wine-prefix.sh
newWinePrefix orvane-msi
out=$(mktemp -d /tmp/orvane-msi-out.XXXXXX)
service='Orvane Client Service'
serviceKey="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service"
installDir="$WINEPREFIX/drive_c/Program Files/Qovex/Orvane Client"
# orvane-client's exit code when the listener is not the service (ClientExitCode.h).
notTheService=8

# A step: its checks print PASS or FAIL lines, and its end one line with its time.
section() { echo; echo "== $*"; stepStart=$(date +%s.%N); stepFailures=$failures; }
took() {
    local verdict=PASS
    [ "$failures" -eq "$stepFailures" ] || verdict=FAIL
    awk -v s="$stepStart" -v e="$(date +%s.%N)" -v w="$1" -v v="$verdict" \
        'BEGIN { printf "%s: step %s (%.1f s)\n", v, w, e - s }'
}

squatter=""
cleanup() {
    [ -n "$squatter" ] && kill "$squatter" 2>/dev/null
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$out"
}
trap cleanup EXIT
trap '[[ $- == *e* ]] && echo "FAIL: stopped at line $LINENO: $BASH_COMMAND" >&2' ERR

bash scripts/install-deps.sh wixl msitools osslsigncode openssl

section "Build version $olderVersion beside $build"
# The same sources and dependencies as build/windows (its cache names them), another version.
cacheValue() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefixPath=$(cacheValue CMAKE_PREFIX_PATH)
ORVANE_WINDOWS_PREFIX=$prefixPath nice -n 10 cmake -S . -B "$olderBuild" \
    -DCMAKE_TOOLCHAIN_FILE="$(cacheValue CMAKE_TOOLCHAIN_FILE)" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH="$prefixPath" \
    -DProtobuf_PROTOC_EXECUTABLE=/usr/bin/protoc -DORVANE_BUILD_TESTS=OFF \
    -DORVANE_VERSION=$olderVersion >/dev/null
ORVANE_WINDOWS_PREFIX=$prefixPath nice -n 10 cmake --build "$olderBuild" -j 2 \
    --target OrvaneService orvane-client OrvaneSetupActions >/dev/null
pass "OrvaneService.exe, orvane-client.exe and the custom action built as $olderVersion"
took "older version built"

section "Build, post-process and sign both MSIs"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
mkdir "$out/older"
bash packaging/windows/build-msi.sh --build "$olderBuild" --out "$out/older/OrvaneClient.msi"
bash packaging/windows/build-msi.sh --build "$build" --out "$out/OrvaneClient.msi"
msi=$out/OrvaneClient.msi
olderMsi=$out/older/OrvaneClient.msi
for file in "$olderMsi" "$msi"; do
    echo "MSI ${file#"$out/"}: $(stat -c %s "$file") bytes, $(msiinfo export "$file" Property |
        tr -d '\r' | sed -n 's/^ProductVersion\t//p')"
done
productCode=$(msiinfo export "$msi" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
took "MSIs built and signed"

section "Signatures"
verify() { osslsigncode verify -CAfile "$out/signing-cert.pem" -in "$1" >/dev/null 2>&1; }
for file in "$out/signed/OrvaneService.exe" "$out/signed/orvane-client.exe" \
    "$out/signed/OrvaneSetupActions.dll" "$msi"; do
    if verify "$file"; then
        pass "signature of $(basename "$file") verifies"
    else
        fail "signature of $(basename "$file") does not verify"
    fi
    # One byte changed well inside what the signature covers.
    tampered=$out/tampered-$(basename "$file")
    cp "$file" "$tampered"
    offset=$(($(stat -c %s "$file") / 3))
    byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
        dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
    if verify "$tampered"; then
        fail "a copy of $(basename "$file") with one byte changed still verifies"
    else
        pass "a copy of $(basename "$file") with one byte changed fails to verify"
    fi
done
took "signatures"

section "Fresh Wine prefix $WINEPREFIX"
bootWinePrefix
took "prefix"

reg() { "$wine" reg "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# Bounded: a client that hangs fails its check instead of the run.
client() {
    timeout 90 "$wine" 'C:\Program Files\Qovex\Orvane Client\orvane-client.exe' "$@" 2>&1 |
        tr -d '\r'
    return "${PIPESTATUS[0]}"
}
serviceProcessGone() {
    local deadline=$((SECONDS + $1))
    while pgrep -f "Orvane Client.OrvaneService\.exe" >/dev/null; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.2
    done
}

# msiexec under Wine: a bounded run with its verbose log; Wine hands Linux only the low 8 bits of
# the exit code (1603 arrives as 67).
msiexecRun() {
    local log=$1
    shift
    set +e; timeout 300 "$wine" msiexec "$@" /qn /l*v "C:\\$log"; code=$?; set -e
    tr -d '\r' <"$WINEPREFIX/drive_c/$log" >"$out/$log" 2>/dev/null || true
}
exitIs() { [ "$code" -eq $(($1 & 255)) ]; }
# LibraryRoots exactly as stored: Wine's reg export of the key, the value's line (type and every
# byte), then the strings it holds for the reader; "absent" when it is not there.
libraryRoots() {
    rm -f "$WINEPREFIX/drive_c/roots.reg"
    "$wine" reg export "$serviceKey\\Parameters" 'C:\roots.reg' /y >/dev/null 2>&1 || { echo absent; return; }
    python3 - "$WINEPREFIX/drive_c/roots.reg" <<'PYTHON'
import sys
text = open(sys.argv[1], "rb").read().decode("utf-16").replace("\\\r\n  ", "")
for line in text.splitlines():
    if line.lower().startswith('"libraryroots"='):
        data = line.split("=", 1)[1]
        shown = data
        if data.startswith("hex(7):"):
            raw = bytes(int(b, 16) for b in data[7:].split(",") if b)
            shown = "REG_MULTI_SZ " + " | ".join(raw.decode("utf-16-le").split("\0")[:-2])
        print(data + "\t" + shown)
        break
else:
    print("absent")
PYTHON
}
# The version in the service's last start line.
lastStartVersion() {
    tr -d '\r' <"$dataDir/logs/OrvaneService.log" 2>/dev/null |
        sed -n 's/.*Log started\. Application version: \([^ ]*\) (.*/\1/p' | tail -1
}
installedProducts() {
    reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s |
        sed -n 's/^ *DisplayVersion *REG_SZ *//p' | tr '\n' ' '
}
registeredOnce() {
    [ "$(reg query 'HKLM\SYSTEM\CurrentControlSet\Services' | grep -ci '\\Orvane Client Service$')" -eq 1 ]
}
sameFile() { cmp -s "$installDir/$1" "$2/$1"; }

section "Install $olderVersion silently"
cp "$olderMsi" "$WINEPREFIX/drive_c/OrvaneClient-older.msi"
cp "$msi" "$WINEPREFIX/drive_c/OrvaneClient.msi"
msiexecRun install.log /i 'C:\OrvaneClient-older.msi'
if exitIs 0; then pass "msiexec /i /qn: exit 0"; else fail "msiexec /i: exit $code"; fi
took "install"

section "What the installer registered"
entry=$(reg query "$serviceKey")
echo "$entry" | sed 's/^/    /'
check() {
    if echo "$entry" | grep -qi "$2"; then pass "$1"; else fail "$1: not in the service's entry"; fi
}
check "image path in Program Files" 'ImagePath.*C:\\Program Files\\Qovex\\Orvane Client\\OrvaneService.exe'
check "LocalSystem" 'ObjectName.*LocalSystem'
check "demand start" 'Start[[:space:]]*REG_DWORD[[:space:]]*0x3'
check "own process" 'Type[[:space:]]*REG_DWORD[[:space:]]*0x10'
check "a description" 'Description.*privileged requests of the Orvane Client'
roots=$(libraryRoots)
if [ "${roots#*$'\t'}" = 'REG_MULTI_SZ C:\Program Files (x86)\Qovex Games\' ] &&
    grep -q 'LibraryRoots: absent, set to' "$out/install.log"; then
    pass "LibraryRoots absent before: set to the games' folder (${roots#*$'\t'})"
else
    fail "LibraryRoots: ${roots#*$'\t'}"
fi
for key in 'HKLM\SOFTWARE\Qovex\OrvaneClient' 'HKLM\SOFTWARE\Qovex\Games'; do
    if reg query "$key" >/dev/null; then pass "$key created"; else fail "$key missing"; fi
done
for program in OrvaneService.exe orvane-client.exe; do
    if [ -f "$installDir/$program" ]; then pass "$program installed"; else fail "$program missing"; fi
done
# The service's folders and the logs folder's list. Wine keeps a descriptor that a program or
# the installer set in the file's extended attribute user.wine.sd: a revision byte, a zero byte,
# then its server's layout (control, owner, group, SACL and DACL lengths as 32-bit numbers, then
# those parts). Read from the host, so Wine's own answer to GetSecurityInfo is not relied on.
dataDir="$WINEPREFIX/drive_c/ProgramData/OrvaneClient"
for folder in "$dataDir" "$dataDir/logs"; do
    if [ -d "$folder" ]; then pass "${folder#"$WINEPREFIX/"} created"; else fail "${folder#"$WINEPREFIX/"} missing"; fi
done
# The logs folder's owner, protection and entries as "owner=... protected=yes|no allow:SID:mask:flags...".
logsList() {
    python3 - "$dataDir/logs" 2>&1 <<'PYTHON'
import os, struct, sys
def sid(data):
    count = data[1]
    authority = int.from_bytes(data[2:8], "big")
    subs = struct.unpack_from("<%dI" % count, data, 8)
    return "S-%d-%d" % (data[0], authority) + "".join("-%d" % s for s in subs)
try:
    raw = os.getxattr(sys.argv[1], "user.wine.sd")
except OSError as error:
    print("no descriptor stored (%s)" % error.strerror)
    sys.exit(1)
control, owner_len, group_len, sacl_len, dacl_len = struct.unpack_from("<5I", raw, 2)
at = 2 + 20
owner = sid(raw[at:at + owner_len]) if owner_len else "none"
at += owner_len + group_len + sacl_len
entries = []
if dacl_len:
    count = struct.unpack_from("<H", raw, at + 4)[0]
    ace = at + 8
    for _ in range(count):
        kind, flags, size, mask = struct.unpack_from("<BBHI", raw, ace)
        entries.append("%s:%s:0x%x:%d" % ("allow" if kind == 0 else "deny" if kind == 1 else kind,
                                          sid(raw[ace + 8:ace + size]), mask, flags))
        ace += size
print("owner=%s protected=%s %s" % (owner, "yes" if control & 0x1000 else "no", " ".join(entries)))
PYTHON
}
wantedList="owner=S-1-5-32-544 protected=yes allow:S-1-5-18:0x1f01ff:3 allow:S-1-5-32-544:0x1f01ff:3 allow:S-1-5-32-545:0x1200a9:3"
listAfterInstall=$(logsList || true)
echo "    logs after install: $listAfterInstall"
if [ "$listAfterInstall" = "$wantedList" ]; then
    pass "logs: the installer set the service's list"
else
    # Windows Installer applies MsiLockPermissionsEx; Wine's msiexec skips it (see README).
    echo "[ WINE     ] logs: the installer's list is not applied; the service sets it at start"
fi

if [ "$(serviceState)" = STOPPED ]; then
    pass "the installer did not start the service"
else
    fail "after install the service is $(serviceState)"
fi
took "registry and files"

section "An administrator's LibraryRoots"
# Two folders, one with brackets (formatted text in an installer's tables), as the README's
# reg add writes them.
reg add "$serviceKey\\Parameters" /v LibraryRoots /t REG_MULTI_SZ \
    /d 'C:\Games\0D:\Steam Library [2]' /f >/dev/null
adminRoots=$(libraryRoots)
echo "    ${adminRoots#*$'\t'}"
if [ "${adminRoots#*$'\t'}" = 'REG_MULTI_SZ C:\Games | D:\Steam Library [2]' ]; then
    pass "LibraryRoots set by reg add"
else
    fail "reg add LibraryRoots: ${adminRoots#*$'\t'}"
fi
reg add 'HKLM\SOFTWARE\Qovex\OrvaneClient' /v loggerLevel /t REG_DWORD /d 7 /f >/dev/null
took "administrator's settings"

# library-info with the service stopped: it must start it, answer, and the start line name $1.
startOnDemand() {
    if ! waitForFreePort 120; then
        fail "127.0.0.1:9977 stayed busy for 2 minutes"
        return
    fi
    set +e; answer=$(client library-info); code=$?; set -e
    echo "$answer" | sed 's/^/    /'
    # Wine's TCP table names no owner for listening sockets: the listener stays unverified here,
    # which library-info does not need.
    if [ $code -eq 0 ] && echo "$answer" | grep -q 'C:\\Program Files\\Qovex\\Orvane Client' &&
        echo "$answer" | grep -q 'started by this request'; then
        pass "started on demand and answered with the install folder"
    else
        fail "library-info with the service stopped: exit $code"
    fi
    if [ "$(lastStartVersion)" = "$1" ]; then
        pass "the start line names version $1"
    else
        fail "the last start line names version '$(lastStartVersion)', not $1"
    fi
}
stopService() {
    if [ "$(serviceState)" != STOPPED ]; then
        sc stop "$service" >/dev/null || true
        waitForState STOPPED 30 || fail "sc stop: state $(serviceState)"
    fi
    serviceProcessGone 30 || fail "the service process did not end"
}

section "orvane-client.exe library-info starts the stopped service ($olderVersion)"
startOnDemand "$olderVersion"
# At its start the service makes the logs folder its own (on Windows the installer already
# did) and writes its log there.
listAfterStart=$(logsList || true)
echo "    logs after the service's start: $listAfterStart"
if [ "$listAfterStart" = "$wantedList" ]; then
    pass "logs: owned by Administrators, written by SYSTEM and Administrators only, read by Users"
elif [[ $listAfterStart == "no descriptor stored"* ]] &&
    grep -aq 'The folder C:\\ProgramData\\OrvaneClient\\logs could be changed by others' \
        "$dataDir/logs/OrvaneService.log" 2>/dev/null; then
    # Wine 8 answers every folder with its Unix user as owner, so the service always takes
    # the folder back; its SetSecurityInfo on the folder's handle succeeds and stores nothing.
    echo "[ WINE     ] logs: the service's SetSecurityInfo succeeds and Wine stores no list"
    pass "logs: the service found the folder open to others and reset it (its warning logged)"
else
    fail "logs: the list is not the service's (wanted: $wantedList)"
fi
if [ -s "$dataDir/logs/OrvaneService.log" ]; then
    pass "the service writes its log in the checked folder"
else
    fail "no OrvaneService.log in the logs folder"
fi
took "start on demand"

# What an upgrade and a repair must leave as they found it, and what they must leave in place.
checkKept() {
    local roots
    roots=$(libraryRoots)
    if [ "${roots%%$'\t'*}" = "${adminRoots%%$'\t'*}" ]; then
        pass "LibraryRoots exactly as the administrator set it (${roots#*$'\t'})"
    else
        fail "LibraryRoots is now ${roots#*$'\t'}"
    fi
    if reg query 'HKLM\SOFTWARE\Qovex\OrvaneClient' /v loggerLevel | grep -q 'REG_DWORD *0x7'; then
        pass "the client key's loggerLevel kept"
    else
        fail "the client key's loggerLevel is gone"
    fi
    if [ "$(grep -ac 'Log started' "$dataDir/logs/OrvaneService.log" 2>/dev/null)" -ge "$1" ]; then
        pass "the logs folder and OrvaneService.log kept, with all $1 start lines"
    else
        fail "the service's log lost lines or is gone"
    fi
    if registeredOnce && reg query "$serviceKey" | grep -q 'Start[[:space:]]*REG_DWORD[[:space:]]*0x3' &&
        [ "$(serviceState)" = STOPPED ]; then
        pass "the service registered once, demand start, stopped"
    else
        fail "the service: registered $(reg query 'HKLM\SYSTEM\CurrentControlSet\Services' |
            grep -ci '\\Orvane Client Service$') times, state $(serviceState)"
    fi
    if sameFile OrvaneService.exe "$out/signed" && sameFile orvane-client.exe "$out/signed"; then
        pass "the programs are version $version's"
    else
        fail "the installed programs are not version $version's"
    fi
    if [ "$(installedProducts)" = "$version " ]; then
        pass "one product installed: $version"
    else
        fail "products installed: $(installedProducts)"
    fi
}

section "Upgrade to $version while the service runs, a client connected"
[ "$(serviceState)" = RUNNING ] || startOnDemand "$olderVersion"
exec 7<>/dev/tcp/127.0.0.1/9977
if [ "$(serviceState)" = RUNNING ]; then
    pass "the service runs, a client connected"
else
    fail "before the upgrade the service is $(serviceState)"
fi
msiexecRun upgrade.log /i 'C:\OrvaneClient.msi'
exec 7>&-
if exitIs 0; then pass "msiexec /i /qn of $version over $olderVersion: exit 0"; else fail "upgrade: exit $code"; fi
serviceProcessGone 30 || fail "the old service process is still there"
# Stopped by the installer through the service control manager, not killed: its last line.
if [ "$(grep -ac 'OrvaneService stopped' "$dataDir/logs/OrvaneService.log")" -eq 1 ]; then
    pass "the running $olderVersion was stopped in order (\"OrvaneService stopped\" logged)"
else
    fail "the running $olderVersion did not log its stop"
fi
if grep -q 'LibraryRoots: present, kept as it is' "$out/upgrade.log"; then
    pass "the custom action found LibraryRoots and left it"
else
    fail "the upgrade's log has no word of LibraryRoots being kept"
fi
checkKept 1
took "upgrade"

section "The client starts the upgraded service"
startOnDemand "$version"
took "start on demand after the upgrade"

section "Repair (msiexec /fa)"
# Wine's msiexec has no /f ("Product code treatment not implemented yet"); the same request
# by the properties /fa sets: reinstall everything, every file replaced.
msiexecRun repair.log /i 'C:\OrvaneClient.msi' REINSTALL=ALL REINSTALLMODE=a
if exitIs 0; then pass "repair, REINSTALL=ALL REINSTALLMODE=a: exit 0"; else fail "repair: exit $code"; fi
serviceProcessGone 30 || fail "the service process is still there after the repair"
checkKept 2
startOnDemand "$version"
took "repair"

section "A squatter on 127.0.0.1:9977 while the service is stopped"
stopService
waitForFreePort 30 || fail "the port stayed busy after the stop"
perl -MIO::Socket::INET -e '
    my $s = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 9977,
                                  Listen => 5) or die "listen: $!";
    print "listening\n"; $| = 1; sleep 120;' >"$WINEPREFIX/squatter.out" 2>&1 &
squatter=$!
deadline=$((SECONDS + 10))
until grep -q listening "$WINEPREFIX/squatter.out" || [ $SECONDS -ge $deadline ]; do
    sleep 0.1
done
# Refused here because Wine names no listener's owner, so the real service would be too;
# the emulated machine and Windows compare the owner with the service's process.
set +e; answer=$(client auth-info); code=$?; set -e
echo "$answer" | sed 's/^/    /'
if [ $code -eq $notTheService ] && echo "$answer" | grep -q "refused to send auth-info"; then
    pass "the squatter is refused auth-info (exit $code)"
else
    fail "auth-info to a squatter: exit $code"
fi
kill "$squatter" 2>/dev/null || true
wait "$squatter" 2>/dev/null || true
squatter=""
took "squatter"

section "Downgrade to $olderVersion refused"
rootsBefore=$(libraryRoots)
msiexecRun downgrade.log /i 'C:\OrvaneClient-older.msi'
message=$(msiinfo export "$olderMsi" LaunchCondition | tr -d '\r' |
    sed -n 's/^NOT WIX_DOWNGRADE_DETECTED\t//p')
# Wine logs no text of a launch condition under /qn; Windows shows the message (and logs it).
if exitIs 1603 && grep -q "^Property(S): WIX_DOWNGRADE_DETECTED = $productCode" "$out/downgrade.log" &&
    [ -n "$message" ]; then
    pass "refused: exit 1603, $version found, by the launch condition \"$message\""
else
    fail "the downgrade: exit $code"
fi
if [ "$(libraryRoots)" = "$rootsBefore" ] && sameFile OrvaneService.exe "$out/signed" &&
    [ "$(installedProducts)" = "$version " ] && registeredOnce; then
    pass "nothing changed: LibraryRoots, the programs, the product, the service"
else
    fail "the refused downgrade changed something"
fi
took "downgrade"

section "Uninstall silently"
# Wine's msiexec may remove the files of a service still stopping: stop it and wait first.
stopService
msiexecRun uninstall.log /x 'C:\OrvaneClient.msi'
if exitIs 0; then pass "msiexec /x /qn: exit 0"; else fail "msiexec /x: exit $code"; fi
if reg query "$serviceKey" >/dev/null; then fail "the service's key is still there"; else
    pass "the service is removed, its key (LibraryRoots with it) gone"; fi
if [ -e "$installDir/OrvaneService.exe" ] || [ -e "$installDir/orvane-client.exe" ]; then
    fail "files are left in $installDir"
else
    pass "the files are removed"
fi
if reg query 'HKLM\SOFTWARE\Qovex\OrvaneClient' >/dev/null; then fail "the client key is left"; else
    pass "the client key is removed"; fi
if reg query 'HKLM\SOFTWARE\Qovex\Games' >/dev/null; then pass "the games key is kept"; else
    fail "the games key was removed"; fi
if [ "$(grep -ac 'Log started' "$dataDir/logs/OrvaneService.log" 2>/dev/null)" -ge 3 ]; then
    pass "the logs folder and OrvaneService.log kept"
else
    fail "the logs were removed"
fi
if [ -z "$(installedProducts)" ]; then pass "no product installed"; else
    fail "still installed: $(installedProducts)"; fi
took "uninstall"

echo
if [ $failures -eq 0 ]; then
    echo "MSI under Wine: all passed"
else
    echo "MSI under Wine: $failures failed"
    exit 1
fi
